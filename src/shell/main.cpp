// tamsel: the window. `tamsel` waits on the start screen; `tamsel VIDEO` prepares that video at
// start as the video dialog would; `tamsel --settings FILE` reads and writes that settings file.
// `tamsel --demo` makes a short sample video with speech and its script in the user's folder
// and opens it. `--quit-when-shown` ends the program once the start screen has been painted (for measuring
// the start-up).

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QTimer>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <string>

#if !defined(_WIN32)
#include <QSocketNotifier>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "FileIo.h"
#include "DemoVideo.h"
#include "MainWindow.h"

#if !defined(_WIN32)
namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
}

/// Ctrl-C and SIGTERM (a logout, a kill) close the window as its close button does, so that
/// whatever the autosave has not yet written is written.
void CloseOnSignals(QWidget& window) {
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte;
    [[maybe_unused]] const ssize_t n = read(g_signalPipe[0], &byte, 1);
    window.close();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace
#endif

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Qt has taken the user's locale for the C library; numbers in files, settings and the
  // converter's output are read and written with a ".", whatever the user's language (libmpv
  // asks for the same).
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName("Tamsel");
  QApplication::setDesktopFileName("tamsel");

  tamsel::WindowOptions options;
  options.exeDir = tamsel::ExecutableDir();
  std::string video;
  bool quitWhenShown = false;
  bool demo = false;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    const std::string a = args[i].toStdString();
    if (a == "--settings" && i + 1 < args.size()) {
      options.settingsPath = args[++i].toStdString();
    } else if (a == "--demo") {
      demo = true;
    } else if (a == "--quit-when-shown") {
      quitWhenShown = true;
    } else if (a == "--help" || a == "-h") {
      std::printf("用法：tamsel [--settings 设置文件] [视频文件]\n"
                  "      tamsel --demo   生成一段带语音的示例视频和它的文稿（在 %s），然后打开它\n",
                  tamsel::DefaultDemoFolder().c_str());
      return 0;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "tamsel: 不认识的选项 %s\n", a.c_str());
      return 2;
    } else {
      // The caption and the messages name the files in full.
      video = QFileInfo(args[i]).absoluteFilePath().toStdString();
    }
  }

  tamsel::TForm1 window(options);
  // Quits once the window has been painted for the first time.
  struct QuitOnPaint : QObject {
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) QTimer::singleShot(0, qApp, &QCoreApplication::quit);
      return false;
    }
  } quitOnPaint;
  if (quitWhenShown) window.installEventFilter(&quitOnPaint);
#if !defined(_WIN32)
  CloseOnSignals(window);
#endif
  window.show();
  if (demo) {
    window.OpenDemo(tamsel::DefaultDemoFolder());
  } else if (!video.empty()) {
    window.OpenVideo(video);
  }
  return app.exec();
}
