#include "RealMediaFactory.h"

#include <utility>

#include "FileIo.h"
#include "MappedFile.h"
#include "SoundBuffer.h"

namespace tamsel {

RealMediaFactory::RealMediaFactory(QWidget* videoParent, Notices notices,
                                   MpvVideoWidget::Renderer renderer)
    : m_parent(videoParent), m_notices(std::move(notices)), m_renderer(renderer) {}

std::unique_ptr<VideoPlayer> RealMediaFactory::CreateVideoPlayer(const std::string& videoPath) {
  auto video = std::make_unique<MpvVideoWidget>(m_renderer, m_parent.data());
  if (m_parent) video->setGeometry(m_parent->rect());
  if (m_notices.videoFailed) {
    auto tell = m_notices.videoFailed;
    QObject::connect(video.get(), &MpvVideoWidget::LoadFailed,
                     [tell](const QString& message) { tell(message.toStdString()); });
  }
  video->Open(videoPath);
  video->show();
  m_video = video.get();
  return video;
}

std::unique_ptr<SoundOutput> RealMediaFactory::CreateSoundOutput(const std::string& wavPath,
                                                                 TReadWaveFile& wave) {
  // ReadyGo has accepted the format; the samples are mapped from where the data chunk starts,
  // no further than the file reaches.
  std::unique_ptr<SoundBuffer> buffer;
  std::string problem;
  try {
    buffer = std::make_unique<SoundBuffer>(
        wave.Format(), MappedFile(wavPath, static_cast<uint64_t>(wave.DataOffset()),
                                  static_cast<uint64_t>(HeldSoundBytes(wavPath, wave))));
  } catch (const FileError& e) {
    // The file went away or cannot be mapped since it was checked: editing goes on silently.
    problem = e.path() + "\r" + e.what() + "\r将无声播放。";
    buffer = std::make_unique<SoundBuffer>(wave.Format(), HeldSoundBytes(wavPath, wave));
    buffer->RunOnClock(nullptr);
  }
  auto sound = std::make_unique<SdlSoundOutput>(std::move(buffer));
  if (problem.empty()) problem = sound->TakeNotice();
  if (!problem.empty() && m_notices.sound) m_notices.sound(problem);
  m_sound = sound.get();
  return sound;
}

}  // namespace tamsel
