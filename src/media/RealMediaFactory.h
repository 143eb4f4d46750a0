#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "MpvVideoWidget.h"
#include "MediaModule.h"
#include "ReadyGo.h"
#include "SdlSoundOutput.h"

namespace tamsel {

/// The devices of an editing session in the window: the video drawn by mpv in a widget of the
/// window, the sound played through SDL from the WAV mapped where it lies.
class RealMediaFactory : public MediaFactory {
 public:
  /// What the devices have to tell the window after ReadyGo has returned.
  using Notices = MediaNotices;

  /// Players become children of `videoParent` (the window's area for the video). The window
  /// releases the players it took before it deletes `videoParent`.
  RealMediaFactory(QWidget* videoParent, Notices notices,
                   MpvVideoWidget::Renderer renderer = MpvVideoWidget::Renderer::Automatic);

  /// An MpvVideoWidget opening `videoPath`, shown, filling its parent until the window lays it
  /// out. Throws MediaError when mpv cannot start.
  std::unique_ptr<VideoPlayer> CreateVideoPlayer(const std::string& videoPath) override;
  /// An SdlSoundOutput over the sample data of the WAV mapped from the file. Without a device
  /// (or when the file can no longer be mapped) the cursor runs on the steady clock, silently,
  /// and Notices::sound tells why once.
  std::unique_ptr<SoundOutput> CreateSoundOutput(const std::string& wavPath,
                                                 TReadWaveFile& wave) override;

  /// The player made last while it lives, or null.
  MpvVideoWidget* Video() const { return m_video.data(); }
  /// The sound output made last (owned by whoever took it), or null.
  SdlSoundOutput* Sound() const { return m_sound; }

 private:
  QPointer<QWidget> m_parent;
  Notices m_notices;
  MpvVideoWidget::Renderer m_renderer;
  QPointer<MpvVideoWidget> m_video;
  SdlSoundOutput* m_sound = nullptr;
};

}  // namespace tamsel
