#include "RealMediaFactory.h"

#include <utility>

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
  if (m_notices.pointerShapes) video->SetPointerShapes(m_notices.pointerShapes);
  video->Open(videoPath);
  video->show();
  m_video = video.get();
  return video;
}

std::unique_ptr<SoundOutput> RealMediaFactory::CreateSoundOutput(const std::string& wavPath,
                                                                 TReadWaveFile& wave) {
  std::string problem;
  auto buffer = SoundBuffer::MapWave(wavPath, wave, problem);
  auto sound = std::make_unique<SdlSoundOutput>(std::move(buffer));
  if (problem.empty()) problem = sound->TakeNotice();
  if (!problem.empty() && m_notices.sound) m_notices.sound(problem);
  m_sound = sound.get();
  return sound;
}

}  // namespace tamsel
