// The SDL beep, played into SDL's disk audio driver and measured from the samples it wrote.
#include "app/sound_port.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/app/disk_audio.h"

namespace {

double millisecondsOf(void (*action)(const SoundPort&), const SoundPort& sound) {
  const auto start = std::chrono::steady_clock::now();
  action(sound);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void beepOnce(const SoundPort& sound) { sound.beep(750, 200); }

TEST(SdlSound, BeepIs200MillisecondsOf750HertzAndReturnsWhenItHasEnded) {
  static_assert(SOUND_SAMPLE_RATE == 48000);
  std::string pathTemplate = (std::filesystem::temp_directory_path() / "quarnel-beep-XXXXXX").string();
  const int fd = mkstemp(pathTemplate.data());
  ASSERT_GE(fd, 0);
  close(fd);
  const char* path = pathTemplate.c_str();
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path, 1);
  {
    const SoundPort sound = openSdlSound();
    EXPECT_GE(millisecondsOf(beepOnce, sound), 200.0);
  }
  const std::vector<std::int16_t> samples = readDiskAudioSamples(path);
  unlink(path);

  // The tone is the span of audible samples; the driver may pad it with silence on either side.
  std::size_t first = samples.size();
  std::size_t last = 0;
  for (std::size_t n = 0; n < samples.size(); ++n) {
    if (std::abs(samples[n]) > 64) {
      if (first == samples.size()) first = n;
      last = n;
    }
  }
  ASSERT_LT(first, samples.size()) << "no tone in " << samples.size() << " samples";
  // The sine starts and ends on a zero sample, one step outside the audible span at each end.
  const double seconds = static_cast<double>(last - first + 2) / SOUND_SAMPLE_RATE;
  EXPECT_NEAR(seconds, 0.200, 0.001);

  int upwardCrossings = 0;
  for (std::size_t n = first + 1; n <= last; ++n) {
    if (samples[n - 1] < 0 && samples[n] >= 0) ++upwardCrossings;
  }
  EXPECT_NEAR(upwardCrossings / seconds, 750.0, 7.5);
}

TEST(SdlSound, WithoutAnAudioDeviceTheBeepIsSilentButStillTakes200Milliseconds) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  const SoundPort sound = openSdlSound();
  EXPECT_GE(millisecondsOf(beepOnce, sound), 200.0);
}

}  // namespace
