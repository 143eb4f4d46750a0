// The module's entry point: the real factory behind the plain MediaFactory interface.

#include "MediaModule.h"

#include "RealMediaFactory.h"

#if defined(_WIN32)
#define TAMSEL_EXPORT __declspec(dllexport)
#else
#define TAMSEL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TAMSEL_EXPORT tamsel::MediaFactory* TamselCreateMediaFactory(
    QWidget* videoParent, const tamsel::MediaNotices* notices, int renderer) {
  return new tamsel::RealMediaFactory(videoParent, notices ? *notices : tamsel::MediaNotices{},
                                      static_cast<tamsel::MpvVideoWidget::Renderer>(renderer));
}
