// tamsel: the window. `tamsel` waits on the start screen; `tamsel VIDEO` prepares that video at
// start as the video dialog would; `tamsel --settings FILE` reads and writes that settings file.
// `--quit-when-shown` ends the program once the start screen has been painted (for measuring
// the start-up).

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <cstdio>
#include <string>

#include "FileIo.h"
#include "MainWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tamsel");
  QApplication::setDesktopFileName("tamsel");

  tamsel::WindowOptions options;
  options.exeDir = tamsel::ExecutableDir();
  std::string video;
  bool quitWhenShown = false;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    const std::string a = args[i].toStdString();
    if (a == "--settings" && i + 1 < args.size()) {
      options.settingsPath = args[++i].toStdString();
    } else if (a == "--quit-when-shown") {
      quitWhenShown = true;
    } else if (a == "--help" || a == "-h") {
      std::printf("用法：tamsel [--settings 设置文件] [视频文件]\n");
      return 0;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "tamsel: 不认识的选项 %s\n", a.c_str());
      return 2;
    } else {
      video = a;
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
  window.show();
  if (!video.empty()) window.OpenVideo(video);
  return app.exec();
}
