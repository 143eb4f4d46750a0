#include "ToolPages.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tamsel {

namespace {

QPushButton* Button(QWidget* page, const char* caption, std::function<void()>* handler) {
  auto* b = new QPushButton(QString::fromUtf8(caption), page);
  b->setMinimumHeight(34);
  QObject::connect(b, &QPushButton::clicked, page, [handler] {
    if (*handler) (*handler)();
  });
  return b;
}

QLabel* Note(QWidget* page, const char* text) {
  auto* l = new QLabel(QString::fromUtf8(text), page);
  l->setWordWrap(true);
  return l;
}

}  // namespace

ToolPages::ToolPages(Controls& c, QWidget* parent) : QTabWidget(parent), m_c(c) {
  // 自动对齐
  TabSheet21 = new QWidget(this);
  AutoAdj.Make(TabSheet21, 4, &c.TrackBarAutoAdj, LabelAutoAdj, nullptr);
  ButtonAutoAdjBegin = Button(TabSheet21, "瞬间对齐", &onAutoAdj);
  ButtonAutoAdjBegin->setToolTip(QString::fromUtf8("请慎用！备份留好了吗？"));
  {
    auto* v = new QVBoxLayout(TabSheet21);
    v->addWidget(Note(TabSheet21,
                      "实验功能：把每条字幕的入点移到附近最强的语音起点，再修正重叠和最短时长。"
                      "适用于谈话类节目和预处理。"));
    v->addWidget(AutoAdj.label);
    v->addWidget(AutoAdj.bar);
    v->addWidget(ButtonAutoAdjBegin, 0, Qt::AlignLeft);
    v->addStretch();
  }
  addTab(TabSheet21, QString::fromUtf8("自动对齐"));

  // 转换帧率
  TabSheet22 = new QWidget(this);
  EditConvert = new QLineEdit(TabSheet22);
  EditConvert->setMaximumWidth(140);
  connect(EditConvert, &QLineEdit::textChanged, this, [this](const QString& t) {
    m_c.EditConvert = t.toStdString();
    if (onConvertTextChanged) onConvertTextChanged();
  });
  ButtonConvert = Button(TabSheet22, "转 换", &onConvert);
  {
    auto* v = new QVBoxLayout(TabSheet22);
    v->addWidget(Note(TabSheet22, "把所有字幕的入点和出点乘以转换倍率（大于0.717、小于1.414）。"
                                  "只能在进入编辑之前使用。"));
    auto* h = new QHBoxLayout;
    h->addWidget(new QLabel(QString::fromUtf8("转换倍率："), TabSheet22));
    h->addWidget(EditConvert);
    h->addWidget(ButtonConvert);
    h->addStretch();
    v->addLayout(h);
    v->addStretch();
  }
  addTab(TabSheet22, QString::fromUtf8("转换帧率"));

  // 导入导出、转换格式
  TabSheet23 = new QWidget(this);
  ButtonSaveAs = Button(TabSheet23, "转为ASS格式", &onSaveAs);
  ButtonSaveAsTxt = Button(TabSheet23, "导出TXT文本", &onSaveAsTxt);
  ButtonReLoadTxt = Button(TabSheet23, "重装修订TXT", &onReLoadTxt);
  {
    auto* v = new QVBoxLayout(TabSheet23);
    v->addWidget(Note(TabSheet23, "字幕在SRT和ASS格式之间转换；把文字导出为TXT文本，"
                                  "在别处翻译或修改之后再装回来，时间轴保持不变。"));
    for (auto* b : {ButtonSaveAs, ButtonSaveAsTxt, ButtonReLoadTxt}) v->addWidget(b);
    v->addStretch();
  }
  addTab(TabSheet23, QString::fromUtf8("导入导出、转换格式"));
  connect(this, &QTabWidget::currentChanged, this, [this](int) {
    if (onPageShown) onPageShown();
  });
}

void ToolPages::ShowValues() {
  AutoAdj.Show();
  {
    const QSignalBlocker block(EditConvert);
    if (EditConvert->text().toStdString() != m_c.EditConvert) {
      EditConvert->setText(QString::fromStdString(m_c.EditConvert));
    }
  }
  ButtonAutoAdjBegin->setEnabled(m_usable && m_c.ButtonAutoAdjBegin);
  ButtonConvert->setEnabled(m_usable && m_c.ButtonConvert);
  ButtonSaveAs->setEnabled(m_usable && m_c.ButtonSaveAs);
  ButtonSaveAs->setText(QString::fromStdString(m_c.ButtonSaveAsCaption));
  ButtonSaveAsTxt->setEnabled(m_usable && m_c.ButtonSaveAsTxt);
  ButtonReLoadTxt->setEnabled(m_usable && m_c.ButtonReLoadTxt);
}

void ToolPages::SetUsable(bool usable) {
  m_usable = usable;
  ShowValues();
}

}  // namespace tamsel
