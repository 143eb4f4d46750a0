#include "MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QTabBar>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "Controls.h"
#include "Conversion.h"
#include "BatchRetime.h"
#include "DemoVideo.h"
#include "Dialogs.h"
#include "EditingInput.h"
#include "EditingStrip.h"
#include "FileIo.h"
#include "InputActions.h"
#include "PlaybackLoop.h"
#include "PlaybackTimer.h"
#include "PointerShapes.h"
#include "Settings.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "VideoPreparation.h"

namespace tamsel {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

/// A font family for the window's own texts: the Hei face the design names when installed,
/// else a CJK sans face of the system.
QString UiFontFamily() {
  const QStringList families = QFontDatabase::families();
  for (const char* name : {"黑体", "SimHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC"}) {
    if (families.contains(QString::fromUtf8(name))) return QString::fromUtf8(name);
  }
  return QApplication::font().family();
}

}  // namespace

/// The window's prompts: messages in message boxes, the re-import script from a file dialog.
class WindowPrompts : public UserPrompts {
 public:
  explicit WindowPrompts(std::function<void(const std::string&)> tell,
                         std::function<std::string()> chooseTxt)
      : m_tell(std::move(tell)), m_chooseTxt(std::move(chooseTxt)) {}
  void ShowMessage(const std::string& text) override { m_tell(text); }
  std::string ChooseTxtFile() override { return m_chooseTxt ? m_chooseTxt() : ""; }

 private:
  std::function<void(const std::string&)> m_tell;
  std::function<std::string()> m_chooseTxt;
};

/// A preparation running on its own thread, on a copy of the editor's state.
struct TForm1::Job {
  EditorState st;
  std::unique_ptr<WindowPrompts> prompts;
  CancelFlag cancel{false};
  std::thread thread;
  bool ready = false;
};

/// The sample video being made on its own thread.
struct TForm1::DemoJob {
  CancelFlag cancel{false};
  std::thread thread;
  std::optional<std::string> video;
  std::string error;
};

TForm1::TForm1(WindowOptions options) : m_options(std::move(options)) { FormCreate(); }

TForm1::~TForm1() {
  CancelDemo();
  CancelPreparation();
  LeaveEditing();
}

void TForm1::FormCreate() {
  setAttribute(Qt::WA_StyledBackground, true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(WINDOW_RED, WINDOW_GREEN, WINDOW_BLUE));
  setPalette(palette);
  setAutoFillBackground(true);
  QFont font(UiFontFamily());
  font.setPixelSize(14);
  setFont(font);

  m_st.Caption = PROGRAM_TITLE;
  setWindowTitle(Q(m_st.Caption));
  setWindowIcon(QIcon(":/art/tamsel.svg"));
  m_prompts = std::make_unique<WindowPrompts>(
      [this](const std::string& text) { Tell(text); },
      [this] { return ChooseFile("重装修订TXT", QtDialogFilter(TXT_DIALOG_FILTER)); });
  m_st.Prompts = m_prompts.get();
  m_st.Ini = IniFile(m_options.settingsPath.empty() ? SettingsFilePath(m_options.exeDir)
                                                    : m_options.settingsPath);
  m_st.ReadyState = 1;
  m_st.PlayRate = 1.0;
  m_st.ActiveSub = -1;
  m_st.StepFactor = 1;
  IniLoad(m_st.Ini, m_st.Ctrl);

  Image0 = new PictureButton(":/art/background.svg", "", this, PictureButton::Fit::Cover);
  Image1 = new PictureButton(":/art/logo.svg", "", this);
  Image0->setCursor(PointerShape(12));
  Image1->setCursor(PointerShape(12));
  ImageTamsel = new PictureButton("", QString::fromUtf8("帮助"), this);
  ImageTamsel->setGeometry(Image1->geometry());
  ImageTamsel->setCursor(Qt::WhatsThisCursor);
  ImageVideoNon = new PictureButton(":/art/video-non.svg", QString::fromUtf8("选择电影"), this);
  ImageVideoYes = new PictureButton(":/art/video-yes.svg", QString::fromUtf8("选择电影"), this);
  ImageNotReady = new PictureButton(":/art/not-ready.svg", QString::fromUtf8("未选择视频"), this);
  ImageNotReady->setCursor(Qt::ForbiddenCursor);
  ImageReadyGo = new PictureButton(":/art/ready-go.svg", QString::fromUtf8("已就绪"), this);
  ImageSetup = new PictureButton(":/art/setup.svg", QString::fromUtf8("设置"), this);
  ImageTools = new PictureButton(":/art/tools.svg", QString::fromUtf8("工具"), this);
  for (auto* b : {ImageVideoNon, ImageVideoYes, ImageReadyGo, ImageSetup, ImageTools}) {
    b->setCursor(Qt::PointingHandCursor);
  }
  LabelState = new QLabel(QString::fromUtf8("事务进度："), this);
  LabelState->setStyleSheet("color: white;");
  LabelState->resize(260, 18);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->resize(240, 16);
  LabelState->hide();
  ProgressBar1->hide();
  ImageVideoYes->hide();
  ImageReadyGo->hide();

  PageControlSetup = new SetupPages(m_st.Ctrl, this);
  PageControlSetup->resize(500, 360);
  PageControlSetup->hide();
  PageControlSetup->ShowValues();
  for (QButtonGroup* group : {PageControlSetup->RadioGroupPower, PageControlSetup->RadioGroupWavSize}) {
    if (!group->buttons().isEmpty()) group->buttons().first()->parentWidget()->setCursor(PointerShape(12));
  }
  PageControlTools = new ToolPages(m_st.Ctrl, this);
  PageControlTools->resize(500, 360);
  PageControlTools->hide();

  EditingFace = new EditingCanvas(m_st, this);
  EditingFace->hide();
  PaintBoxBack = new BackButton(m_st, EditingFace);
  PaintBoxBack->onClick = [this] { PaintBoxBackClick(); };
  StatusBar1 = new StatusBarWidget(m_st, EditingFace);
  m_input = std::make_unique<EditingInput>(m_st, m_media, this, EditingFace);
  StatusBar1->seekBoth = m_input->SeekBoth();
  // A key's switch of a play mode shows at once.
  m_input->onChanged = [this] { StatusBar1->Refresh(); };
  m_input->onMediaError = [this](const std::string& text) {
    if (m_st.ReadyState == 2) MediaFailed(text);  // else left already, and told
  };

  connect(Image0, &QAbstractButton::clicked, this, [this] { Image0Click(); });
  connect(Image1, &QAbstractButton::clicked, this, [this] { Image0Click(); });
  connect(ImageTamsel, &QAbstractButton::clicked, this, [this] { ImageTamselClick(); });
  connect(ImageVideoNon, &QAbstractButton::clicked, this, [this] { ImageVideoClick(); });
  connect(ImageVideoYes, &QAbstractButton::clicked, this, [this] { ImageVideoClick(); });
  connect(ImageReadyGo, &QAbstractButton::clicked, this, [this] { ImageReadyGoClick(); });
  connect(ImageSetup, &QAbstractButton::clicked, this, [this] { ImageSetupClick(); });
  connect(ImageTools, &QAbstractButton::clicked, this, [this] { ImageToolsClick(); });

  PageControlTools->onPageShown = [this] {
    if (PageControlTools->currentWidget() == PageControlTools->TabSheet23) {
      TabSheet23Show(m_st);
      PageControlTools->ShowValues();
    }
    WriteLayoutFile();
  };
  PageControlTools->onConvertTextChanged = [this] {
    EditConvertChange(m_st);
    PageControlTools->ShowValues();
  };
  PageControlTools->onAutoAdj = [this] {
    PageControlTools->ButtonAutoAdjBegin->hide();
    RunTool([this] { ButtonAutoAdjBeginClick(m_st); });
    PageControlTools->ButtonAutoAdjBegin->show();
  };
  PageControlTools->onConvert = [this] { RunTool([this] { ButtonConvertClick(m_st); }); };
  PageControlTools->onSaveAs = [this] { RunTool([this] { ButtonSaveAsClick(m_st); }); };
  PageControlTools->onSaveAsTxt = [this] { RunTool([this] { ButtonSaveAsTxtClick(m_st); }); };
  PageControlTools->onReLoadTxt = [this] { RunTool([this] { ButtonReLoadTxtClick(m_st); }); };

  m_saveTimer.setInterval(200);
  Timer4refresh.setInterval(1000);
  connect(&Timer4refresh, &QTimer::timeout, this, [this] {
    const RefreshTick tick = Timer4refreshTimer(m_st, isMinimized());
    if (tick.repaintLowerPanel && m_st.ReadyState == 2) FormBelowPaint();
    if (tick.stop) Timer4refresh.stop();
  });
  connect(&m_saveTimer, &QTimer::timeout, this, [this] { Timer4SaveFileTimer(m_st); });
  connect(PageControlSetup, &QTabWidget::currentChanged, this, [this] { WriteLayoutFile(); });

  resize(DESIGN_CLIENT.width, DESIGN_CLIENT.height);
  setMinimumSize(OuterMinimum(MIN_WINDOW_START));
  ShowState();
}

QSize TForm1::OuterMinimum(Size outer) const {
  // The window's minimum is stated for its outer size; Qt's is for the client area.
  const QRect frame = frameGeometry();
  const QRect client = geometry();
  int dw = frame.width() - client.width();
  int dh = frame.height() - client.height();
  if (!m_shown || dw <= 0 || dh <= 0) {
    dw = 16;
    dh = 41;
  }
  return QSize(std::max(0, outer.width - dw), std::max(0, outer.height - dh));
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (m_shown) return;
  m_shown = true;
  PageControlTools->setCurrentWidget(PageControlTools->TabSheet21);
  PageControlSetup->setCurrentWidget(PageControlSetup->TabSheet11);
  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
  FormResize();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TForm1::FormResize() {
  const int32_t cw = width(), ch = height();
  if (m_st.ReadyState == 2) {
    // The subtitle line's font, and with it its height, follows the client size.
    const EditingHeights heights{17, 32, 128, Strip ? Strip->LabelStrHeight(cw, ch) : 30};
    const EditingLayout l = LayOutEditing(cw, ch, m_st.Ctrl.RadioGroupPower, heights);
    EditingFace->setGeometry(0, 0, cw, ch);
    if (m_media.MediaPlayer) {
      if (auto* video = dynamic_cast<QWidget*>(m_media.MediaPlayer.get())) {
        video->setGeometry(l.video.left, l.video.top, l.video.width, std::max(1, l.video.height));
      }
    }
    PaintBoxBack->setGeometry(l.back.left, l.back.top, l.back.width, l.back.height);
    m_input->ScrollBarPlayPost->setGeometry(l.positionBar.left, l.positionBar.top,
                                            l.positionBar.width, l.positionBar.height);
    StatusBar1->setGeometry(l.statusBar.left, l.statusBar.top, l.statusBar.width, l.statusBar.height);
    StatusBar1->SetPanelWidths(l.statusPanels);
    EditingFace->SetPanelGeometry({cw, l.statusBar.top, l.panel.left, l.panel.top, l.panel.width,
                                   l.panel.height, l.back.left, l.back.top, l.back.width});
    FormBelowPaint();
    PlaceStripPanel(m_st, l.panel.left, l.panel.top, l.panel.width);
    if (Strip) Strip->LayOut(l, cw, ch);
  }
  Image0->setGeometry(0, 0, cw, ch);
  const auto size = [](QWidget* w) { return Size{w->width(), w->height()}; };
  StartScreenSizes sizes;
  sizes.logo = size(Image1);
  sizes.videoNon = size(ImageVideoNon);
  sizes.notReady = size(ImageNotReady);
  sizes.setup = size(ImageSetup);
  sizes.tools = size(ImageTools);
  sizes.pageSetup = size(PageControlSetup);
  sizes.pageTools = size(PageControlTools);
  const int32_t outerWidth = m_shown ? frameGeometry().width() : cw + 16;
  const StartScreenLayout l =
      LayOutStartScreen(cw, ch, outerWidth, sizes, size(ProgressBar1), size(LabelState));
  const auto place = [](QWidget* w, const Rect& r) { w->setGeometry(r.left, r.top, r.width, r.height); };
  place(ImageVideoNon, l.videoNon);
  place(ImageVideoYes, l.videoYes);
  place(ProgressBar1, l.progressBar);
  place(LabelState, l.labelState);
  place(ImageNotReady, l.notReady);
  place(ImageReadyGo, l.readyGo);
  place(ImageSetup, l.setup);
  place(ImageTools, l.tools);
  place(PageControlSetup, l.pageSetup);
  place(PageControlTools, l.pageTools);
  WriteLayoutFile();
  m_st.WaveRedraw = true;
  m_st.ViewMarker = -100.0;
}

void TForm1::WriteLayoutFile() const {
  // For tests that drive the real window from outside (xdotool): where each control is.
  static const char* const path = std::getenv("TAMSEL_LAYOUT_FILE");
  if (!path || !*path) return;
  std::string text;
  const auto add = [&](const char* name, const QWidget* w) {
    if (!w->isVisible()) return;
    const QPoint at = w->mapTo(this, QPoint(0, 0));
    text += std::string(name) + " " + std::to_string(at.x()) + " " + std::to_string(at.y()) +
            " " + std::to_string(w->width()) + " " + std::to_string(w->height()) + "\n";
  };
  add("Image0", Image0);
  add("Image1", Image1);
  add("ImageVideoNon", ImageVideoNon);
  add("ImageVideoYes", ImageVideoYes);
  add("ImageNotReady", ImageNotReady);
  add("ImageReadyGo", ImageReadyGo);
  add("ImageSetup", ImageSetup);
  add("ImageTools", ImageTools);
  add("PageControlSetup", PageControlSetup);
  add("PageControlTools", PageControlTools);
  add("PaintBoxBack", PaintBoxBack);
  if (auto* video = dynamic_cast<QWidget*>(m_media.MediaPlayer.get())) add("Video", video);
  if (Strip) add("Panel1", Strip->Panel1);
  add("StatusBar1", StatusBar1);
  add("ScrollBarPlayPost", m_input->ScrollBarPlayPost);
  add("CheckBoxInductorStretch", PageControlSetup->CheckBoxInductorStretch);
  add("ButtonSaveAsTxt", PageControlTools->ButtonSaveAsTxt);
  // The tabs of the pages, by their index.
  for (QTabWidget* pages : {static_cast<QTabWidget*>(PageControlSetup),
                            static_cast<QTabWidget*>(PageControlTools)}) {
    if (!pages->isVisible()) continue;
    const QTabBar* bar = pages->tabBar();
    for (int i = 0; i < bar->count(); ++i) {
      const QRect r = bar->tabRect(i).translated(bar->mapTo(this, QPoint(0, 0)));
      text += (pages == PageControlSetup ? "SetupTab" : "ToolsTab") + std::to_string(i) + " " +
              std::to_string(r.x()) + " " + std::to_string(r.y()) + " " +
              std::to_string(r.width()) + " " + std::to_string(r.height()) + "\n";
    }
  }
  try {
    WriteFileThroughTemp(path, std::string(path) + ".tmp", text);
  } catch (const FileError&) {
  }
}

void TForm1::WriteStateFile(bool now) {
  // For tests that drive the real window from outside: what the editor is doing.
  static const char* const path = std::getenv("TAMSEL_STATE_FILE");
  if (!path || !*path) return;
  const auto t = std::chrono::steady_clock::now();
  if (!now && t - m_stateWritten < std::chrono::milliseconds(100)) return;
  m_stateWritten = t;
  std::string text;
  const auto add = [&](const char* name, const std::string& value) {
    text += std::string(name) + " " + value + "\n";
  };
  add("ReadyState", std::to_string(m_st.ReadyState));
  add("PlayPos", std::to_string(m_st.PlayPos));
  add("PlayRate", std::to_string(m_st.PlayRate));
  add("ActiveSub", std::to_string(m_st.ActiveSub));
  add("SubCurr", std::to_string(m_st.SubCurr));
  add("OverWave", std::to_string(int{m_st.OverWave}));
  add("Dragging", std::to_string(int{m_st.Dragging}));
  add("MediaLength", std::to_string(m_st.MediaLength));
  add("FrameRate", std::to_string(m_st.FrameRate));
  add("Told", m_lastTold);  // on one line: the line breaks as spaces
  try {
    WriteFileThroughTemp(path, std::string(path) + ".tmp", text);
  } catch (const FileError&) {
  }
}

void TForm1::ShowState() {
  setWindowTitle(Q(m_st.Caption));
  const bool start = m_st.ReadyState != 2;
  ImageReadyGo->setVisible(start && m_st.Pictures.ImageReadyGo);
  ImageNotReady->setVisible(start && m_st.Pictures.ImageNotReady);
  ImageVideoYes->setVisible(start && m_st.Pictures.ImageVideoYes);
  ImageVideoNon->setVisible(start && m_st.Pictures.ImageVideoNon);
  PageControlTools->SetUsable(!Preparing());
  WriteLayoutFile();
}

void TForm1::Tell(const std::string& text) {
  m_lastTold = text;
  std::replace(m_lastTold.begin(), m_lastTold.end(), '\r', ' ');
  std::replace(m_lastTold.begin(), m_lastTold.end(), '\n', ' ');
  WriteStateFile(/*now=*/true);
  QString shown = Q(text);
  shown.replace('\r', '\n');
  if (m_options.showMessage) {
    m_options.showMessage(shown.toStdString());
    return;
  }
  QMessageBox::information(this, QString::fromUtf8("Tamsel"), shown);
}

std::string TForm1::ChooseFile(const std::string& title, const std::string& filter) {
  if (m_options.chooseFile) return m_options.chooseFile(title, filter);
  return QFileDialog::getOpenFileName(this, Q(title), QString(), Q(filter)).toStdString();
}

void TForm1::ClosePages() {
  if (PageControlSetup->isVisible()) {
    PageControlSetup->hide();
    try {
      IniSave(m_st.Ini, m_st.Ctrl, m_st.SubCurr);
    } catch (const FileError& e) {
      Tell(e.path() + "\r" + e.what() + "\r设置没有保存。");
    }
    // The layer box names the layer to edit; its last digit is the layer loaded.
    NormaliseLayerBox(m_st.Ctrl);
    PageControlSetup->ShowValues();
    if (ImageReadyGo->isVisible() && !Preparing()) {
      // Edits not yet on disk are written before the file is read again; when they cannot
      // be, the document stays as it is rather than be replaced by the file.
      if (m_st.SubDirty) SubtitleSave(m_st);
      if (!m_st.SubDirty) SubtitleLoad(m_st, LayerBoxValue(m_st.Ctrl));
      ShowState();
    }
  }
  if (PageControlTools->isVisible()) PageControlTools->hide();
  NormaliseLayerBox(m_st.Ctrl);
  PageControlSetup->ShowValues();
  WriteLayoutFile();
}

void TForm1::Image0Click() { ClosePages(); }

void TForm1::ImageSetupClick() {
  PageControlTools->hide();
  PageControlSetup->ShowValues();
  PageControlSetup->show();
  PageControlSetup->raise();
  WriteLayoutFile();
}

void TForm1::ImageToolsClick() {
  ClosePages();
  PageControlTools->show();
  PageControlTools->raise();
  TabSheet23Show(m_st);
  EditConvertChange(m_st);
  PageControlTools->ShowValues();
  WriteLayoutFile();
}

void TForm1::ImageVideoClick() {
  ClosePages();
  const std::string chosen = ChooseFile("选择电影", QtDialogFilter(VIDEO_DIALOG_FILTER));
  // A dialog cancelled while another video is being prepared leaves that one alone.
  if (chosen.empty() && Preparing()) return;
  OpenVideo(chosen);
}

void TForm1::ImageTamselClick() {
  // The manual lies beside the program, or in the shared data folder of an installation.
  std::string manual;
  for (const std::string& candidate :
       {m_options.exeDir + "/ReadMe.html", m_options.exeDir + "/../share/tamsel/ReadMe.html"}) {
    if (FileExists(candidate)) {
      manual = candidate;
      break;
    }
  }
  if (manual.empty()) {
    Tell(m_options.exeDir + "/ReadMe.html\r没有找到使用说明。");
    return;
  }
  const bool opened = m_options.openDocument
                          ? m_options.openDocument(manual)
                          : QDesktopServices::openUrl(QUrl::fromLocalFile(Q(manual)));
  if (!opened) Tell(manual + "\r无法打开使用说明：桌面没有能打开它的程序。");
}

void TForm1::OpenVideo(const std::string& video) {
  // Whatever the old document still has to write is written before another one is opened;
  // when it cannot be, the old one stays open (the save has told why).
  if (m_st.SubDirty && !SubtitleSave(m_st)) return;
  CancelPreparation();
  if (video.empty() || !FileExists(video)) {
    // Nothing to prepare: the start screen shows that no video is chosen.
    OpenVideoClick(m_st, video, [](const std::string&, int) {});
    ShowState();
    if (onPreparationEnded) onPreparationEnded(false);
    return;
  }
  StartPreparation(video);
}

void TForm1::StartPreparation(const std::string& video) {
  auto job = std::make_shared<Job>();
  job->st = m_st;
  QPointer<TForm1> self(this);
  job->prompts = std::make_unique<WindowPrompts>(
      [self](const std::string& text) {
        QMetaObject::invokeMethod(
            self, [self, text] { if (self) self->Tell(text); }, Qt::QueuedConnection);
      },
      nullptr);
  job->st.Prompts = job->prompts.get();
  m_job = job;
  // The start screen while it runs: a video is chosen, it is not ready yet.
  m_st.Caption = PROGRAM_TITLE;
  m_st.Pictures = StartPictures{};
  m_st.Pictures.ImageVideoNon = false;
  m_st.Pictures.ImageVideoYes = true;
  m_st.Ctrl.ButtonAutoAdjBegin = m_st.Ctrl.ButtonSaveAsTxt = false;
  ShowState();
  PreparationProgress("", 2);
  Job* raw = job.get();
  // The end is taken over only by this job while it is still the window's: a job cancelled
  // meanwhile is gone, and another may live at its address.
  std::weak_ptr<Job> weak = job;
  job->thread = std::thread([self, raw, weak, video] {
    raw->ready = OpenVideoClick(
        raw->st, video,
        [self](const std::string& label, int position) {
          QMetaObject::invokeMethod(
              self, [self, label, position] { if (self) self->PreparationProgress(label, position); },
              Qt::QueuedConnection);
        },
        &raw->cancel);
    QMetaObject::invokeMethod(
        self,
        [self, weak] {
          const std::shared_ptr<Job> ended = weak.lock();
          if (self && ended && self->m_job == ended) self->FinishPreparation(ended);
        },
        Qt::QueuedConnection);
  });
}

void TForm1::OpenDemo(const std::string& folder) {
  CancelDemo();
  auto demo = std::make_shared<DemoJob>();
  m_demo = demo;
  LabelState->setText(QString::fromUtf8("正在生成示例视频……"));
  LabelState->show();
  ProgressBar1->setRange(0, 0);  // busy, without a measure
  ProgressBar1->show();
  QPointer<TForm1> self(this);
  std::weak_ptr<DemoJob> weak = demo;
  DemoJob* raw = demo.get();
  demo->thread = std::thread([self, raw, weak, folder] {
    raw->video = MakeDemoVideo(folder, raw->error, &raw->cancel);
    QMetaObject::invokeMethod(
        self,
        [self, weak] {
          const std::shared_ptr<DemoJob> done = weak.lock();
          if (!self || !done || self->m_demo != done) return;
          done->thread.join();
          self->m_demo.reset();
          self->ProgressBar1->setRange(0, 100);
          self->LabelState->hide();
          self->ProgressBar1->hide();
          if (done->video) {
            self->OpenVideo(*done->video);
          } else if (!done->error.empty()) {
            self->Tell(done->error);
          }
        },
        Qt::QueuedConnection);
  });
}

void TForm1::CancelDemo() {
  if (!m_demo) return;
  std::shared_ptr<DemoJob> demo = std::move(m_demo);
  demo->cancel = true;
  if (demo->thread.joinable()) demo->thread.join();
  ProgressBar1->setRange(0, 100);
  LabelState->hide();
  ProgressBar1->hide();
}

void TForm1::PreparationProgress(const std::string& label, int position) {
  if (!Preparing()) return;
  LabelState->setText(Q(label));
  LabelState->setVisible(!label.empty());
  ProgressBar1->setValue(std::clamp(position, 0, 100));
  ProgressBar1->setVisible(true);
}

void TForm1::FinishPreparation(std::shared_ptr<Job> job) {
  if (job->thread.joinable()) job->thread.join();
  m_job.reset();
  LabelState->hide();
  ProgressBar1->hide();
  ProgressBar1->setValue(0);
  if (job->cancel) {
    ShowState();
    return;
  }
  // The prepared document and the video's files become the editor's; the settings stay as the
  // user may have changed them meanwhile, the tools' enabling comes from the preparation.
  Controls settings = std::move(m_st.Ctrl);
  IniFile ini = std::move(m_st.Ini);
  const Controls& made = job->st.Ctrl;
  settings.ButtonSaveAsTxt = made.ButtonSaveAsTxt;
  settings.ButtonAutoAdjBegin = made.ButtonAutoAdjBegin;
  settings.ButtonSaveAs = made.ButtonSaveAs;
  settings.ButtonReLoadTxt = made.ButtonReLoadTxt;
  settings.ButtonSaveAsCaption = made.ButtonSaveAsCaption;
  m_st = std::move(job->st);
  m_st.Ctrl = std::move(settings);
  m_st.Ini = std::move(ini);
  m_st.Prompts = m_prompts.get();
  ShowState();
  if (onPreparationEnded) onPreparationEnded(job->ready);
}

void TForm1::CancelPreparation() {
  if (!m_job) return;
  std::shared_ptr<Job> job = std::move(m_job);
  job->cancel = true;
  if (job->thread.joinable()) job->thread.join();
  LabelState->hide();
  ProgressBar1->hide();
  m_st.Pictures = StartPictures{};
  ShowState();
}

void TForm1::RunTool(const std::function<void()>& tool) {
  if (Preparing()) return;
  tool();
  TabSheet23Show(m_st);
  EditConvertChange(m_st);
  PageControlTools->ShowValues();
  ShowState();
}

void TForm1::ImageReadyGoClick() {
  if (Preparing() || m_st.ReadyState == 2) return;
  if (TellIfFilesGone()) return;
  QPointer<TForm1> self(this);
  MediaNotices notices;
  notices.sound = [self](const std::string& text) {
    // Told once editing has begun, not in the middle of entering it.
    QMetaObject::invokeMethod(
        self, [self, text] { if (self) self->Tell(text); }, Qt::QueuedConnection);
  };
  notices.videoFailed = [self](const std::string& text) {
    QMetaObject::invokeMethod(
        self,
        [self, text] {
          if (!self) return;
          self->LeaveEditing();
          self->Tell(text);
        },
        Qt::QueuedConnection);
  };
  notices.pointerShapes = PointerShape;
  std::string why;
  m_factory = m_options.mediaFactory ? m_options.mediaFactory()
                                     : LoadMediaFactory(m_options.exeDir, EditingFace, notices,
                                                        m_options.renderer, why);
  if (!m_factory) {
    Tell(why + "\r无法播放视频，请重新安装本程序。");
    return;
  }
  ReadyGoWindow window;
  window.startScreenOff = [this] {
    ClosePages();
    for (QWidget* w : std::initializer_list<QWidget*>{
             Image0, Image1, ImageTamsel, ImageVideoNon, ImageVideoYes, ImageNotReady,
             ImageReadyGo, ImageSetup, ImageTools, LabelState, ProgressBar1}) {
      w->hide();
    }
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
  };
  window.layOut = [this] {
    EditingFace->show();
    EditingFace->raise();
    m_st.ReadyState = 2;
    if (!Strip) {
      Strip = new EditingStrip(m_st, EditingFace);
      Strip->formBelowPaint = [this] { FormBelowPaint(); };
      m_input->WatchStrip(Strip->PaintWav, Strip->Panel1);
    }
    FormResize();
    Strip->Start();
    m_loop = std::make_unique<PlaybackTimer>(m_st, [this] { EditingTick(); });
    m_loop->Start();
    m_saveTimer.start();
  };
  window.editingShown = [this] {
    setMinimumSize(OuterMinimum(MIN_WINDOW_EDITING));
    setCursor(Qt::PointingHandCursor);
  };
  bool entered = false;
  try {
    entered = ReadyGo(m_st, m_media, *m_factory, window);
  } catch (const MediaError& e) {
    MediaFailed(e.what());
    return;
  }
  if (!entered) {
    LeaveEditing();
    ShowState();  // a refusal may have found the video no longer ready
    return;
  }
  m_input->Start();
  FormResize();
  m_input->NoticePointer();
}

void TForm1::EditingTick() {
  if (!m_media.MediaPlayer || !m_media.SoundBuffer) return;
  if (const std::string cut = m_media.SoundBuffer->SourceProblem(); !cut.empty()) {
    LeaveAfterTick([this, cut] { SoundFileChanged(cut); });
    return;
  }
  static const SteadyClock clock;
  PlaybackDevices dev{*m_media.MediaPlayer, *m_media.SoundBuffer, clock,
                      m_media.WaveFile ? m_media.WaveFile->Format().nSamplesPerSec : 0,
                      [this] { FormResize(); }};
  const QRect frame = frameGeometry();
  const QPoint pointer = QCursor::pos();
  WindowFacts facts;
  facts.active = isActiveWindow();
  facts.left = frame.left();
  facts.top = frame.top();
  facts.width = frame.width();
  facts.height = frame.height();
  facts.clientWidth = width();
  facts.clientHeight = height();
  facts.pointerX = pointer.x();
  facts.pointerY = pointer.y();
  facts.panel1Width = m_st.Panel1Width;
  try {
    Timer2GetMouseXYTimer(m_st, dev, facts);
  } catch (const MediaError& e) {
    LeaveAfterTick([this, why = std::string(e.what())] { MediaFailed(why); });
    return;
  }
  m_input->ShowState();
  WriteStateFile();
  WriteTickLog();
}

void TForm1::WriteTickLog() {
  // For tests of the loop's pace in the real window: one line per tick.
  static const char* const path = std::getenv("TAMSEL_TICK_LOG");
  if (!path || !*path || !m_loop || !m_media.MediaPlayer || !m_media.SoundBuffer) return;
  if (!m_tickLog) m_tickLog.reset(std::fopen(path, "a"));
  if (!m_tickLog) return;
  double video = -1;
  try {
    video = m_media.MediaPlayer->Position() * 1000;
  } catch (const MediaError&) {
  }
  std::fprintf(m_tickLog.get(), "%.1f %.1f %d %.4f %d %d %.1f %d\n", m_loop->TickStartMs(),
               m_loop->LateMs(), m_st.PlayPos, m_st.PlayRate, m_st.FrameStep,
               m_loop->Interval(), video, SoundPosition(m_st, *m_media.SoundBuffer));
  std::fflush(m_tickLog.get());
}

void TForm1::LeaveAfterTick(std::function<void()> leave) {
  // Leaving editing releases the loop's timer, which must not happen inside its own tick.
  m_loop->Stop();
  QTimer::singleShot(0, this, [this, leave = std::move(leave)] {
    if (m_st.ReadyState == 2) leave();
  });
}

void TForm1::PaintBoxBackClick() {
  LeaveEditing();
  // Editing goes on without the video's file (the player holds it open, the sound is the
  // WAV): whether it is still there is told on the start screen.
  TellIfFilesGone();
}

bool TForm1::TellIfFilesGone() {
  const std::string gone = CheckEditingFiles(m_st);
  if (gone.empty()) return false;
  ShowState();
  Tell(gone);
  return true;
}

void TForm1::MediaFailed(const std::string& why) {
  LeaveEditing();
  Tell(m_st.VideoFileName + "\r" + why);
}

void TForm1::SoundFileChanged(const std::string& why) {
  LeaveEditing();  // writes what the autosave had still to write
  const bool saved = !m_st.SubDirty;
  // The waveform was made from the whole sound: the video is to be prepared anew.
  CheckFileReady(m_st);
  ShowState();
  Tell(why + "\r" +
       (saved ? "编辑已停止，字幕的修改都已保存。"
              : "编辑已停止。字幕的修改没能保存，仍在内存中。") +
       "\r要重新提取声音，请删掉这个声音文件，再重新打开视频。");
}

void TForm1::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (!Timer4refresh.isActive()) Timer4refresh.start();  // FormPaint
}

void TForm1::FormBelowPaint() {
  tamsel::FormBelowPaint(m_st, EditingFace->PanelGeometry());
  EditingFace->update();
}

void TForm1::LeaveEditing() {
  m_input->Stop();
  if (m_loop) m_loop->Stop();
  if (Strip) Strip->Stop();
  m_saveTimer.stop();
  const bool wasEditing = m_st.ReadyState == 2 || m_media.MediaPlayer || m_media.SoundBuffer;
  // The pending autosave is written now rather than lost.
  if (m_st.ReadyState == 2 && m_st.SubDirty) SubtitleSave(m_st);
  if (m_st.ReadyState == 2) KeepSubCurr(m_st);
  m_media.MediaPlayer.reset();
  m_media.SoundBuffer.reset();
  m_loop.reset();
  if (!wasEditing) return;
  m_st.ReadyState = 1;
  EditingFace->hide();
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(WINDOW_RED, WINDOW_GREEN, WINDOW_BLUE));
  setPalette(palette);
  for (QWidget* w : std::initializer_list<QWidget*>{Image0, Image1, ImageTamsel, ImageSetup,
                                                    ImageTools}) {
    w->show();
  }
  setMinimumSize(OuterMinimum(MIN_WINDOW_BACK));
  unsetCursor();
  ShowState();
  FormResize();
  WriteStateFile(true);
}

void TForm1::closeEvent(QCloseEvent* event) {
  CancelDemo();
  CancelPreparation();
  const bool editing = m_st.ReadyState == 2;
  LeaveEditing();
  if (editing) m_st.ReadyState = 2;  // the document is closed as the editor leaves it
  CloseDocument(m_st);
  m_st.ReadyState = 1;
  event->accept();
}

}  // namespace tamsel
