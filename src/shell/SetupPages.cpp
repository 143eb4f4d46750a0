#include "SetupPages.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace tamsel {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QCheckBox* CheckBox(QWidget* page, const char* caption, const char* hint, bool* field) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), page);
  box->setToolTip(QString::fromUtf8(hint));
  QObject::connect(box, &QCheckBox::toggled, page, [field](bool on) { *field = on; });
  return box;
}

QSlider* Slider(QWidget* page, int max, const char* hint) {
  auto* bar = new QSlider(Qt::Horizontal, page);
  bar->setRange(0, max);
  bar->setPageStep(1);
  bar->setTickPosition(QSlider::TicksBelow);
  bar->setTickInterval(1);
  if (hint) bar->setToolTip(QString::fromUtf8(hint));
  return bar;
}

}  // namespace

void ValueTrackBar::Make(QWidget* page, int max, int* boundField,
                         std::function<std::string(int)> labelText, const char* hint) {
  bar = Slider(page, max, hint);
  label = new QLabel(page);
  field = boundField;
  text = std::move(labelText);
  QObject::connect(bar, &QSlider::valueChanged, page, [this](int p) {
    *field = p;
    label->setText(Q(text(p)));
  });
}

void ValueTrackBar::Show() const {
  const QSignalBlocker block(bar);
  bar->setValue(*field);
  label->setText(Q(text(*field)));
}

QButtonGroup* MakeRadioGroup(QWidget* page, const QString& title, const QStringList& items,
                             int* field, const QString& hint, QWidget** box) {
  auto* group = new QGroupBox(title, page);
  group->setToolTip(hint);
  auto* layout = new QVBoxLayout(group);
  auto* buttons = new QButtonGroup(group);
  for (int i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items[i], group);
    layout->addWidget(b);
    buttons->addButton(b, i);
  }
  QObject::connect(buttons, &QButtonGroup::idClicked, group, [field](int id) { *field = id; });
  if (box) *box = group;
  return buttons;
}

SetupPages::SetupPages(Controls& c, QWidget* parent) : QTabWidget(parent), m_c(c) {
  // 常用选项
  TabSheet11 = new QWidget(this);
  CheckBoxInductorStretch =
      CheckBox(TabSheet11, "平缓的变速区", "限制播放速度", &c.CheckBoxInductorStretch);
  CheckBoxPlayAtCenter =
      CheckBox(TabSheet11, "中央区x1播放", "或者暂停区在中间", &c.CheckBoxPlayAtCenter);
  CheckBoxShowSub = CheckBox(TabSheet11, "显示滚动字幕", "没有外挂字幕插件时使用", &c.CheckBoxShowSub);
  // Not shown on the page; the status panel toggles them while editing.
  CheckBoxSoundStyle =
      CheckBox(TabSheet11, "声音无级变调", "不变调发抖，变调难听", &c.CheckBoxSoundStyle);
  chkBoxAIenable = CheckBox(TabSheet11, "使用“磁石”", "适用于安静对话场景", &c.chkBoxAIenable);
  CheckBoxShowAI = CheckBox(TabSheet11, "显示A.I.数据", "开发期使用", &c.CheckBoxShowAI);
  for (auto* hidden : {CheckBoxSoundStyle, chkBoxAIenable, CheckBoxShowAI}) hidden->hide();
  LoopTime.Make(TabSheet11, 5, &c.TrackBarLoopTime, LabelLoopTime, nullptr);
  OutDelay.Make(TabSheet11, 5, &c.TrackBarOutDelay, LabelOutDelay, nullptr);
  OutDelay.label->setToolTip(QString::fromUtf8("字幕滞后于声音的消逝"));
  LabeledEditLayer = new QLineEdit(TabSheet11);
  LabeledEditLayer->setValidator(
      new QRegularExpressionValidator(QRegularExpression("[0-9]*"), LabeledEditLayer));
  LabeledEditLayer->setToolTip(QString::fromUtf8("0:对白字幕，1~9:特技字幕"));
  LabeledEditLayer->setMaximumWidth(60);
  connect(LabeledEditLayer, &QLineEdit::textChanged, this,
          [&c](const QString& t) { c.LabeledEditLayer = t.toStdString(); });
  {
    auto* v = new QVBoxLayout(TabSheet11);
    auto* checks = new QHBoxLayout;
    checks->addWidget(CheckBoxInductorStretch);
    checks->addWidget(CheckBoxPlayAtCenter);
    v->addLayout(checks);
    v->addWidget(CheckBoxShowSub);
    v->addWidget(LoopTime.label);
    v->addWidget(LoopTime.bar);
    v->addWidget(OutDelay.label);
    v->addWidget(OutDelay.bar);
    auto* layer = new QHBoxLayout;
    layer->addWidget(new QLabel(QString::fromUtf8("ass字幕层："), TabSheet11));
    layer->addWidget(LabeledEditLayer);
    layer->addStretch();
    v->addLayout(layer);
    v->addStretch();
  }
  addTab(TabSheet11, QString::fromUtf8("常用选项"));

  // 键盘鼠标
  TabSheet12 = new QWidget(this);
  TabSheet12->setToolTip(QString::fromUtf8("粗校尺度大三倍"));
  KeyStep.Make(TabSheet12, 9, &c.TrackBarKeyStep, LabelKeyStep, "调节时轴的作用度");
  MouseStep.Make(TabSheet12, 9, &c.TrackBarMouseStep, LabelMouseStep, "调节时轴的作用度");
  {
    auto* v = new QVBoxLayout(TabSheet12);
    v->addWidget(KeyStep.label);
    v->addWidget(KeyStep.bar);
    v->addSpacing(16);
    v->addWidget(MouseStep.label);
    v->addWidget(MouseStep.bar);
    v->addStretch();
  }
  addTab(TabSheet12, QString::fromUtf8("键盘鼠标"));

  // 约束规则
  TabSheet13 = new QWidget(this);
  QWidget* crashBox = nullptr;
  RadioGroupCrashStyle = MakeRadioGroup(
      TabSheet13, QString::fromUtf8(" 时轴冲突仲裁规则："),
      {QString::fromUtf8("撤销调整、回避冲突；"), QString::fromUtf8("当前轴优先、其它轴避让；"),
       QString::fromUtf8("其它轴优先、当前轴避让；"), QString::fromUtf8("相互适应、协同避让；")},
      &c.RadioGroupCrashStyle, "", &crashBox);
  MinTime.Make(TabSheet13, 5, &c.TrackBarMinTime, LabelMinTime, "约束最短时间轴");
  MinTime.label->setToolTip(QString::fromUtf8("约束最短时间轴"));
  {
    auto* v = new QVBoxLayout(TabSheet13);
    v->addWidget(crashBox);
    v->addWidget(MinTime.label);
    v->addWidget(MinTime.bar);
    v->addStretch();
  }
  addTab(TabSheet13, QString::fromUtf8("约束规则"));

  // 性能优化
  TabSheet14 = new QWidget(this);
  QWidget *powerBox = nullptr, *wavBox = nullptr;
  RadioGroupPower = MakeRadioGroup(
      TabSheet14, QString::fromUtf8("视频回放性能："),
      {QString::fromUtf8("神机"), QString::fromUtf8("还好"), QString::fromUtf8("伤不起")},
      &c.RadioGroupPower, QString::fromUtf8("减轻画面冻结"), &powerBox);
  connect(RadioGroupPower, &QButtonGroup::idClicked, this, [this](int) {
    if (onPowerClick) onPowerClick();
  });
  RadioGroupWavSize = MakeRadioGroup(
      TabSheet14, QString::fromUtf8("无声问题："),
      {QString::fromUtf8("解决XP无声"), QString::fromUtf8("Win7、Win8")}, &c.RadioGroupWavSize,
      QString::fromUtf8("XP下音质差点"), &wavBox);
  TrackBarAutoVolCtrlSpeed = Slider(TabSheet14, 5, "调到最左时,生成WAV文件将不调整音量");
  connect(TrackBarAutoVolCtrlSpeed, &QSlider::valueChanged, this,
          [&c](int p) { c.TrackBarAutoVolCtrlSpeed = p; });
  {
    auto* v = new QVBoxLayout(TabSheet14);
    auto* h = new QHBoxLayout;
    h->addWidget(powerBox);
    h->addWidget(wavBox);
    v->addLayout(h);
    auto* vol = new QLabel(QString::fromUtf8("视频类型和语速："), TabSheet14);
    vol->setToolTip(QString::fromUtf8("用于音量调整和字幕长度估算"));
    v->addWidget(vol);
    v->addWidget(TrackBarAutoVolCtrlSpeed);
    v->addWidget(new QLabel(QString::fromUtf8("音乐类  谈话类"), TabSheet14));
    v->addStretch();
  }
  addTab(TabSheet14, QString::fromUtf8("性能优化"));
  m_bars = {&LoopTime, &OutDelay, &KeyStep, &MouseStep, &MinTime};
}

void SetupPages::ShowValues() {
  const auto check = [](QCheckBox* box, bool on) {
    const QSignalBlocker block(box);
    box->setChecked(on);
  };
  check(CheckBoxInductorStretch, m_c.CheckBoxInductorStretch);
  check(CheckBoxPlayAtCenter, m_c.CheckBoxPlayAtCenter);
  check(CheckBoxShowSub, m_c.CheckBoxShowSub);
  check(CheckBoxSoundStyle, m_c.CheckBoxSoundStyle);
  check(chkBoxAIenable, m_c.chkBoxAIenable);
  check(CheckBoxShowAI, m_c.CheckBoxShowAI);
  for (const ValueTrackBar* t : m_bars) t->Show();
  {
    const QSignalBlocker block(TrackBarAutoVolCtrlSpeed);
    TrackBarAutoVolCtrlSpeed->setValue(m_c.TrackBarAutoVolCtrlSpeed);
  }
  for (auto [group, value] : {std::pair{RadioGroupCrashStyle, m_c.RadioGroupCrashStyle},
                              std::pair{RadioGroupPower, m_c.RadioGroupPower},
                              std::pair{RadioGroupWavSize, m_c.RadioGroupWavSize}}) {
    if (auto* b = group->button(value)) b->setChecked(true);
  }
  const QSignalBlocker block(LabeledEditLayer);
  LabeledEditLayer->setText(Q(m_c.LabeledEditLayer));
}

}  // namespace tamsel
