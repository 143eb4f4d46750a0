#include "MainWindow.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <set>

#include "ChildProcess.h"
#include "FakePrograms.h"
#include "FileIo.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

constexpr int PREPARE_MS = 120000;

/// Makes a short video with a beeping tone.
bool MakeVideo(const std::string& path, double seconds) {
  const ProcessResult r = RunProcess(
      FindProgram("ffmpeg"),
      {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
       "testsrc=size=160x120:rate=10:duration=" + std::to_string(seconds), "-f", "lavfi", "-i",
       "sine=frequency=440:beep_factor=4:duration=" + std::to_string(seconds), "-c:v", "mpeg4",
       "-shortest", path});
  return r.exitCode == 0;
}

/// The window on the offscreen platform, with its settings in a folder of its own and the
/// dialogs and message boxes answered by the test.
struct Window {
  test::TempDir dir;
  std::vector<std::string> messages;
  std::vector<std::string> fileAnswers;  ///< the next answers of the file dialogs
  std::vector<std::string> opened;       ///< documents opened with the desktop's handler
  std::unique_ptr<TForm1> w;
  int ended = 0;
  bool lastReady = false;

  Window() {
    WindowOptions o;
    o.exeDir = dir.Path();
    o.settingsPath = dir.Path("settings.ini");
    o.showMessage = [this](const std::string& m) { messages.push_back(m); };
    o.chooseFile = [this](const std::string&, const std::string&) {
      if (fileAnswers.empty()) return std::string();
      std::string a = fileAnswers.front();
      fileAnswers.erase(fileAnswers.begin());
      return a;
    };
    o.openDocument = [this](const std::string& p) {
      opened.push_back(p);
      return true;
    };
    w = std::make_unique<TForm1>(o);
    w->onPreparationEnded = [this](bool ready) {
      ++ended;
      lastReady = ready;
    };
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  }
  ~Window() {
    if (w) w->close();
  }

  std::string Settings() const {
    return FileExists(dir.Path("settings.ini")) ? test::ReadBytes(dir.Path("settings.ini")) : "";
  }

  /// Prepares `name` (a 4-s video made here) with an SRT of one entry "One" beside it, through
  /// the video picture; then edits that entry's text to "Edited" without saving it, and takes
  /// the SRT's write permission away. True when it ended ready.
  bool PrepareWithUnsavedEdit(const std::string& name) {
    const std::string video = dir.Path(name + ".mp4");
    if (!MakeVideo(video, 4)) return false;
    test::WriteBytes(dir.Path(name + ".srt"), "1\r\n00:00:01,000 --> 00:00:02,000\r\nOne\r\n\r\n");
    fileAnswers.push_back(video);
    const int before = ended;
    w->ImageVideoClick();
    if (!QTest::qWaitFor([&] { return ended > before; }, PREPARE_MS) || !lastReady) return false;
    EditorState& st = w->State();
    if (st.Subs.size() != 1) return false;
    st.Subs[0].Dialogue = "Edited";
    st.Subs[0].Changed = true;
    st.SubDirty = true;
    std::filesystem::permissions(ToPath(dir.Path(name + ".srt")), std::filesystem::perms::owner_read);
    return true;
  }

  /// Waits until the (slow) converter is at work: the progress bar is past the probe.
  bool WaitConverting() {
    return QTest::qWaitFor([&] { return w->ProgressBar1->value() >= 3; }, 60000);
  }

  /// Prepares a new video of `seconds` through the video picture; true when it ended ready.
  bool Prepare(const std::string& name, double seconds) {
    const std::string video = dir.Path(name);
    if (!MakeVideo(video, seconds)) return false;
    fileAnswers.push_back(video);
    const int before = ended;
    w->ImageVideoClick();
    return QTest::qWaitFor([&] { return ended > before; }, PREPARE_MS) && lastReady;
  }
};

TEST(Window, StartScreenAtTheDesignSize) {
  Window t;
  EXPECT_EQ(t.w->windowTitle(), QString::fromUtf8("Tamsel时间轴 V1.0 beta9"));
  EXPECT_EQ(t.w->size(), QSize(784, 599));
  EXPECT_EQ(t.w->palette().color(QPalette::Window), QColor(40, 90, 120));
  // The buttons stand 18 px apart at this size.
  EXPECT_EQ(t.w->ImageNotReady->x() - t.w->ImageVideoNon->geometry().right() - 1, 18);
  EXPECT_EQ(t.w->ImageSetup->geometry().right() + 1 + 18 + 14, t.w->ImageVideoNon->x());
  EXPECT_TRUE(t.w->ImageVideoNon->isVisible());
  EXPECT_TRUE(t.w->ImageNotReady->isVisible());
  EXPECT_FALSE(t.w->ImageReadyGo->isVisible());
  EXPECT_FALSE(t.w->ImageVideoYes->isVisible());
  EXPECT_FALSE(t.w->PageControlSetup->isVisible());
  EXPECT_FALSE(t.w->ProgressBar1->isVisible());
  // Every picture can be clicked where it is shown: nothing lies over it.
  for (QWidget* p : std::initializer_list<QWidget*>{t.w->ImageVideoNon, t.w->ImageNotReady,
                                                    t.w->ImageSetup, t.w->ImageTools,
                                                    t.w->ImageTamsel}) {
    EXPECT_EQ(t.w->childAt(p->geometry().center()), p) << p->toolTip().toStdString();
  }
  QTest::mouseClick(t.w->ImageSetup, Qt::LeftButton);
  EXPECT_TRUE(t.w->PageControlSetup->isVisible());
  QTest::mouseClick(t.w->Image0, Qt::LeftButton, {}, QPoint(5, t.w->height() - 5));
  EXPECT_FALSE(t.w->PageControlSetup->isVisible());
  // The window never gets smaller than its design size on the start screen; wider, the
  // buttons move apart: Trunc((1200 - 640) / 8) = 70.
  t.w->resize(600, 500);
  t.w->resize(1200, 800);
  ASSERT_TRUE(QTest::qWaitFor([&] { return t.w->width() == 1200; }));
  EXPECT_EQ(t.w->ImageNotReady->x() - t.w->ImageVideoNon->geometry().right() - 1, 70);
  EXPECT_EQ(t.w->ImageVideoNon->x(), static_cast<int>((1200 - t.w->ImageVideoNon->width()) * 0.618));
}

TEST(Window, SettingsPagesRoundTripThroughTheSettingsFile) {
  Window t;
  t.w->ImageSetupClick();
  ASSERT_TRUE(t.w->PageControlSetup->isVisible());
  SetupPages& s = *t.w->PageControlSetup;
  s.KeyStep.bar->setValue(9);
  EXPECT_EQ(s.KeyStep.label->text(), QString::fromUtf8("键盘粒度：0.50 秒"));
  s.LoopTime.bar->setValue(0);
  EXPECT_EQ(s.LoopTime.label->text(), QString::fromUtf8("首尾区间:0.5秒"));
  s.RadioGroupCrashStyle->button(3)->click();
  s.CheckBoxPlayAtCenter->click();
  s.LabeledEditLayer->setText("12");
  // Nothing is saved while the pages are open.
  EXPECT_EQ(t.Settings().find("KeyStep"), std::string::npos);
  t.w->Image0Click();
  EXPECT_FALSE(s.isVisible());
  const std::string ini = t.Settings();
  for (const char* line : {"KeyStep=9", "TimeEdge=0", "CrashStyle=3", "PlayAtCenter=1", "SubCurr="}) {
    EXPECT_NE(ini.find(line), std::string::npos) << line << "\n" << ini;
  }
  for (const char* never : {"ShowAI", "SubFontName", "SubFontSize"}) {
    EXPECT_EQ(ini.find(never), std::string::npos) << never;
  }
  // The layer box keeps its last digit; a text that is no number becomes 0.
  EXPECT_EQ(s.LabeledEditLayer->text(), "2");
  t.w->ImageSetupClick();
  s.LabeledEditLayer->setText("");
  t.w->ImageToolsClick();  // closes the settings on its way
  EXPECT_FALSE(s.isVisible());
  EXPECT_TRUE(t.w->PageControlTools->isVisible());
  EXPECT_EQ(s.LabeledEditLayer->text(), "0");

  // A new window reads them back.
  t.w->close();
  t.w.reset();
  WindowOptions o;
  o.exeDir = t.dir.Path();
  o.settingsPath = t.dir.Path("settings.ini");
  TForm1 again(o);
  EXPECT_EQ(again.State().Ctrl.TrackBarKeyStep, 9);
  EXPECT_EQ(again.PageControlSetup->KeyStep.bar->value(), 9);
  EXPECT_EQ(again.PageControlSetup->KeyStep.label->text(), QString::fromUtf8("键盘粒度：0.50 秒"));
  EXPECT_TRUE(again.PageControlSetup->RadioGroupCrashStyle->button(3)->isChecked());
}

TEST(Window, PreparesAVideoAndTheToolsFollowIt) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Window t;
  // Before a video: every tool is off.
  t.w->ImageToolsClick();
  ToolPages& tools = *t.w->PageControlTools;
  for (auto* b : {tools.ButtonAutoAdjBegin, tools.ButtonConvert, tools.ButtonSaveAs,
                  tools.ButtonSaveAsTxt, tools.ButtonReLoadTxt}) {
    EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
  }
  // Progress reaches the window while it prepares.
  int progressSeen = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (t.w->ProgressBar1->isVisible()) progressSeen = std::max(progressSeen, t.w->ProgressBar1->value());
  });
  watch.start(5);
  ASSERT_TRUE(t.Prepare("电影 1.mp4", 6)) << ::testing::PrintToString(t.messages);
  EXPECT_GE(progressSeen, 2);
  EXPECT_FALSE(t.w->ProgressBar1->isVisible());
  EXPECT_FALSE(t.w->LabelState->isVisible());
  EXPECT_TRUE(t.w->ImageReadyGo->isVisible());
  EXPECT_TRUE(t.w->ImageVideoYes->isVisible());
  EXPECT_FALSE(t.w->ImageNotReady->isVisible());
  EXPECT_EQ(t.w->windowTitle().toStdString(),
            t.dir.Path("电影 1.ass") + "　—　Tamsel时间轴 V1.0 beta9");

  t.w->ImageToolsClick();
  EXPECT_TRUE(tools.ButtonAutoAdjBegin->isEnabled());
  EXPECT_TRUE(tools.ButtonSaveAsTxt->isEnabled());
  EXPECT_TRUE(tools.ButtonSaveAs->isEnabled());
  EXPECT_EQ(tools.ButtonSaveAs->text(), QString::fromUtf8("转为SRT格式"));
  // The factor enables its button only within its range.
  for (auto [text, on] : std::vector<std::pair<const char*, bool>>{
           {"0.717", false}, {"0.7171", true}, {"1.000000", false}, {"x", false}, {"1.4139", true}}) {
    tools.EditConvert->setText(text);
    EXPECT_EQ(tools.ButtonConvert->isEnabled(), on) << text;
  }
  // The text export writes the script beside the video, once.
  tools.setCurrentWidget(tools.TabSheet23);
  tools.ButtonSaveAsTxt->click();
  ASSERT_TRUE(FileExists(t.dir.Path("电影 1.txt")));
  // A second export never writes over the script, which the user may be revising.
  test::WriteBytes(t.dir.Path("电影 1.txt"), "revised");
  tools.ButtonSaveAsTxt->click();
  EXPECT_EQ(test::ReadBytes(t.dir.Path("电影 1.txt")), "revised");
}

// The video renamed away after it was prepared: the ready picture says so, naming it, rather
// than doing nothing, and the start screen shows that it is not ready.
TEST(Window, TheReadyPictureTellsAVideoThatHasGone) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Window t;
  ASSERT_TRUE(t.Prepare("v.mp4", 4)) << ::testing::PrintToString(t.messages);
  std::filesystem::rename(ToPath(t.dir.Path("v.mp4")), ToPath(t.dir.Path("elsewhere.mp4")));
  t.w->ImageReadyGoClick();
  ASSERT_EQ(t.messages.size(), 1u) << ::testing::PrintToString(t.messages);
  EXPECT_EQ(t.messages[0].rfind(t.dir.Path("v.mp4") + "\n视频文件不见了", 0), 0u) << t.messages[0];
  EXPECT_EQ(t.w->State().ReadyState, 1);
  EXPECT_FALSE(t.w->ImageReadyGo->isVisible());
  EXPECT_TRUE(t.w->ImageNotReady->isVisible());
  EXPECT_EQ(t.w->windowTitle().toStdString(), "Tamsel时间轴 V1.0 beta9");
}

TEST(Window, ClosingThePagesNeverReloadsOverEditsThatCannotBeSaved) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Window t;
  ASSERT_TRUE(t.PrepareWithUnsavedEdit("v")) << ::testing::PrintToString(t.messages);
  EditorState& st = t.w->State();
  t.messages.clear();
  t.w->ImageSetupClick();
  t.w->Image0Click();
  EXPECT_EQ(st.Subs[0].Dialogue, "Edited");  // kept, not replaced by the file
  EXPECT_TRUE(st.SubDirty);
  EXPECT_FALSE(t.messages.empty());
  // Writable again: the next close saves first, then reloads what was saved.
  std::filesystem::permissions(ToPath(t.dir.Path("v.srt")), std::filesystem::perms::owner_all);
  t.w->ImageSetupClick();
  t.w->Image0Click();
  EXPECT_FALSE(st.SubDirty);
  ASSERT_EQ(st.Subs.size(), 1u);
  EXPECT_EQ(st.Subs[0].Dialogue, "Edited");
  EXPECT_NE(test::ReadBytes(t.dir.Path("v.srt")).find("Edited"), std::string::npos);
}

/// The names in a folder.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(ToPath(folder))) {
    names.insert(FromPath(e.path().filename()));
  }
  return names;
}

TEST(Window, ClosingItWhilePreparingStopsTheConverterAndLeavesNothing) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Window t;
  const std::string video = t.dir.Path("long.mp4");
  ASSERT_TRUE(MakeVideo(video, 30));
  const std::set<std::string> before = Names(t.dir.Path());
  // The converter at the pace of playback: the conversion lasts 30 s.
  test::PathFirst slow(test::FakeProgramDir("slow-ffmpeg"), t.dir.Path("fake-pids"));
  t.w->OpenVideo(video);
  ASSERT_TRUE(t.w->Preparing());
  ASSERT_TRUE(t.WaitConverting());
  // The converter has started (it writes its process id as it starts).
  ASSERT_TRUE(QTest::qWaitFor([&] { return !test::FakePids(t.dir.Path("fake-pids")).empty(); },
                              60000));
  t.w->close();
  EXPECT_FALSE(t.w->Preparing());
  EXPECT_EQ(t.ended, 0);  // a cancel ends nothing the user must hear about
  EXPECT_TRUE(t.messages.empty()) << ::testing::PrintToString(t.messages);
  std::set<std::string> after = Names(t.dir.Path());
  after.erase("settings.ini");  // closing keeps the settings
  after.erase("fake-pids");     // the stand-ins' own record
  EXPECT_EQ(after, before);
  for (pid_t pid : test::FakePids(t.dir.Path("fake-pids"))) EXPECT_NE(kill(pid, 0), 0) << pid;
  EXPECT_EQ(test::ChildProcesses(), std::vector<pid_t>{});
}

TEST(Window, ASecondVideoChosenWhileTheFirstIsPreparedReplacesIt) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Window t;
  const std::string first = t.dir.Path("first.mp4");
  const std::string second = t.dir.Path("second.mp4");
  ASSERT_TRUE(MakeVideo(first, 30));
  ASSERT_TRUE(MakeVideo(second, 3));
  test::PathFirst slow(test::FakeProgramDir("slow-ffmpeg"), t.dir.Path("fake-pids"));
  t.w->OpenVideo(first);
  ASSERT_TRUE(t.WaitConverting());
  t.fileAnswers.push_back(second);
  t.w->ImageVideoClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return t.ended > 0; }, PREPARE_MS));
  EXPECT_EQ(t.ended, 1);
  EXPECT_TRUE(t.lastReady) << ::testing::PrintToString(t.messages);
  EXPECT_TRUE(t.messages.empty()) << ::testing::PrintToString(t.messages);
  EXPECT_EQ(t.w->State().VideoFileName, second);
  EXPECT_TRUE(t.w->ImageReadyGo->isVisible());
  // Nothing of the first is left half-made, and nothing holds its lock.
  for (const char* ext : {".wav", ".ws", ".ai", ".lock", ".ass"}) {
    EXPECT_FALSE(FileExists(t.dir.Path(std::string("first") + ext))) << ext;
  }
  for (const char* ext : {".wav", ".ws", ".ai", ".ass"}) {
    EXPECT_TRUE(FileExists(t.dir.Path(std::string("second") + ext))) << ext;
  }
  // A dialog cancelled while a video is prepared leaves it alone.
  t.w->OpenVideo(first);
  ASSERT_TRUE(t.WaitConverting()) << ::testing::PrintToString(t.messages);
  t.w->ImageVideoClick();  // no answer: cancelled
  EXPECT_TRUE(t.w->Preparing());
  t.w->close();
}

TEST(Window, AnotherVideoIsOpenedOnlyOnceTheEditsOfTheFirstAreSaved) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Window t;
  const std::string first = t.dir.Path("a.mp4");
  const std::string second = t.dir.Path("b.mp4");
  ASSERT_TRUE(t.PrepareWithUnsavedEdit("a")) << ::testing::PrintToString(t.messages);
  ASSERT_TRUE(MakeVideo(second, 4));
  EditorState& st = t.w->State();
  // The file cannot take the edits: the first video stays open with them.
  t.w->OpenVideo(second);
  EXPECT_FALSE(t.w->Preparing());
  EXPECT_EQ(st.VideoFileName, first);
  EXPECT_EQ(st.Subs[0].Dialogue, "Edited");
  EXPECT_FALSE(t.messages.empty());
  // It can again: the edits are written, then the other video is prepared.
  std::filesystem::permissions(ToPath(t.dir.Path("a.srt")), std::filesystem::perms::owner_all);
  t.w->OpenVideo(second);
  ASSERT_TRUE(QTest::qWaitFor([&] { return t.ended == 2; }, PREPARE_MS));
  EXPECT_EQ(t.w->State().VideoFileName, second);
  EXPECT_NE(test::ReadBytes(t.dir.Path("a.srt")).find("Edited"), std::string::npos);
}

TEST(Window, AFileThatIsNoVideoIsToldWithTheProbesOwnWords) {
  if (FindProgram("ffprobe").empty()) GTEST_SKIP() << "ffprobe is not installed";
  Window t;
  const std::string fake = t.dir.Path("not a video.mp4");
  test::WriteBytes(fake, std::string(5000, 'x'));
  t.fileAnswers.push_back(fake);
  t.w->ImageVideoClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return t.ended > 0; }, PREPARE_MS));
  EXPECT_FALSE(t.lastReady);
  ASSERT_EQ(t.messages.size(), 1u) << ::testing::PrintToString(t.messages);
  EXPECT_EQ(t.messages[0].rfind("视频文件无法识别，请升级解码器。\n", 0), 0u) << t.messages[0];
  EXPECT_NE(t.messages[0].find("Invalid data"), std::string::npos) << t.messages[0];
  EXPECT_TRUE(t.w->ImageVideoNon->isVisible());
  EXPECT_TRUE(t.w->ImageNotReady->isVisible());
  EXPECT_FALSE(t.w->ImageReadyGo->isVisible());
  EXPECT_FALSE(t.w->ProgressBar1->isVisible());
  EXPECT_FALSE(FileExists(t.dir.Path("not a video.wav")));
}

TEST(Window, TheHelpPictureOpensTheManualBesideTheProgram) {
  Window t;
  t.w->ImageTamselClick();
  EXPECT_TRUE(t.opened.empty());
  ASSERT_EQ(t.messages.size(), 1u);
  EXPECT_NE(t.messages[0].find("ReadMe.html"), std::string::npos);
  test::WriteBytes(t.dir.Path("ReadMe.html"), "<html></html>");
  t.w->ImageTamselClick();
  ASSERT_EQ(t.opened.size(), 1u);
  EXPECT_EQ(t.opened[0], t.dir.Path("ReadMe.html"));
}

}  // namespace
}  // namespace tamsel

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
