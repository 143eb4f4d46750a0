#pragma once

// The real devices as a module of their own, loaded when editing first begins: libmpv pulls in
// some two hundred libraries (every codec of ffmpeg), whose loading would otherwise make up
// most of the program's start.

#include <functional>
#include <memory>
#include <string>

#include "ReadyGo.h"

#include <QCursor>

class QWidget;

namespace tamsel {

/// What the devices have to tell the user after ReadyGo has returned; each may be empty.
struct MediaNotices {
  /// A message that needs no answer: no sound device (the sound goes on silently), or the WAV
  /// could not be mapped (the cursor runs silently on the clock).
  std::function<void(const std::string& message)> sound;
  /// The video cannot be played; the message names it and says why. Editing cannot go on.
  std::function<void(const std::string& message)> videoFailed;
  /// Turns the numbered pointer shapes into cursors; empty: the nearest standard cursors.
  std::function<QCursor(int shape)> pointerShapes;
};

/// Which renderer the video player uses.
enum class VideoRenderer { Automatic = 0, OpenGl = 1, Software = 2 };

/// The module's file name beside the program.
std::string MediaModuleFileName();

/// Loads the module (once; it stays loaded) from `folder` (the program's; an installation keeps
/// it in lib/tamsel/ beside the program's bin/) and makes the window's MediaFactory:
/// players become children of `videoParent`. Null when the module cannot be loaded; `error`
/// then says why.
std::unique_ptr<MediaFactory> LoadMediaFactory(const std::string& folder, QWidget* videoParent,
                                               MediaNotices notices, VideoRenderer renderer,
                                               std::string& error);

}  // namespace tamsel

/// The module's one entry point.
extern "C" tamsel::MediaFactory* TamselCreateMediaFactory(QWidget* videoParent,
                                                           const tamsel::MediaNotices* notices,
                                                           int renderer);
