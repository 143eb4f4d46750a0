// The floor of the start-up check: a bare Qt window showing one label, which quits once it has
// been painted for the first time.

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label(QString::fromUtf8("Tamsel时间轴"));
  label.resize(784, 599);
  struct QuitOnPaint : QObject {
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) QTimer::singleShot(0, qApp, &QCoreApplication::quit);
      return false;
    }
  } quitOnPaint;
  label.installEventFilter(&quitOnPaint);
  label.show();
  return app.exec();
}
