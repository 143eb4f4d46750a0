// A process that plays sound through SdlSoundOutput until a signal ends it: the tests send it
// SIGINT and SIGTERM to show that SDL has not taken them over. Prints "ready 1" once a device
// plays ("ready 0" when none could be opened), then waits.

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "SdlSoundOutput.h"

int main() {
  tamsel::WAVEFORMATEX format;
  format.wFormatTag = 1;
  format.nChannels = 2;
  format.nSamplesPerSec = 8000;
  format.nBlockAlign = 4;
  format.nAvgBytesPerSec = 32000;
  format.wBitsPerSample = 16;
  tamsel::SdlSoundOutput out(std::make_unique<tamsel::SoundBuffer>(format, 3600 * 32000));
  out.Play(/*looping=*/true);
  std::printf("ready %d\n", out.HasDevice() ? 1 : 0);
  std::fflush(stdout);
  // A signal caught by a handler ends pause() but not the loop; only one left at its default
  // action ends the process.
  for (;;) pause();
}
