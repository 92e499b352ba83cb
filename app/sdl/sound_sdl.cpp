// Sound port on SDL2 audio: the beep is a sine tone queued on a device opened for the beep.
#include "app/sound_port.h"

#include <SDL.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/clock_port.h"

namespace {

struct SdlAudio {
  bool ready = false;
  std::atomic<bool> toldNoDevice{false};
  ~SdlAudio() {
    if (ready) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
};

std::vector<Sint16> makeTone(std::uint32_t frequencyHz, std::uint32_t durationMs) {
  const auto count = static_cast<std::size_t>(std::uint64_t{SOUND_SAMPLE_RATE} * durationMs / 1000);
  std::vector<Sint16> samples(count);
  constexpr double AMPLITUDE = 0.4 * 32767.0;
  constexpr double TWO_PI = 6.283185307179586;
  const double step = TWO_PI * frequencyHz / SOUND_SAMPLE_RATE;
  for (std::size_t n = 0; n < count; ++n) {
    samples[n] = static_cast<Sint16>(std::lround(AMPLITUDE * std::sin(step * static_cast<double>(n))));
  }
  return samples;
}

// Says once per run that reads are confirmed without a beep, so a silent beep is never a mystery.
void tellNoDevice(SdlAudio* audio) {
  if (audio->toldNoDevice.exchange(true)) return;
  std::fprintf(stderr, "quarnel: no audio device (%s); reads are confirmed without a beep\n", SDL_GetError());
}

// The default output device opened for the beep's format, or 0.
SDL_AudioDeviceID openBeepDevice(SDL_AudioSpec* obtained) {
  SDL_AudioSpec wanted{};
  wanted.freq = SOUND_SAMPLE_RATE;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = 1;
  wanted.samples = 512;
  // No allowed changes: SDL converts to whatever the device needs, so the samples stay as made here.
  return SDL_OpenAudioDevice(nullptr, 0, &wanted, obtained, 0);
}

// Plays the tone and waits until the device has played it; false when no device could be opened.
bool playTone(std::uint32_t frequencyHz, std::uint32_t durationMs) {
  SDL_AudioSpec obtained{};
  const SDL_AudioDeviceID device = openBeepDevice(&obtained);
  if (device == 0) return false;
  const std::vector<Sint16> tone = makeTone(frequencyHz, durationMs);
  if (SDL_QueueAudio(device, tone.data(), static_cast<Uint32>(tone.size() * sizeof(Sint16))) != 0) {
    SDL_CloseAudioDevice(device);
    return false;
  }
  SDL_PauseAudioDevice(device, 0);
  while (SDL_GetQueuedAudioSize(device) > 0) SDL_Delay(2);
  // The last buffer taken from the queue is still being played.
  SDL_Delay(static_cast<Uint32>(1000 * obtained.samples / obtained.freq) + 1);
  SDL_CloseAudioDevice(device);
  return true;
}

void beepSdl(SdlAudio* audio, std::uint32_t frequencyHz, std::uint32_t durationMs) {
  const std::uint32_t start = monotonicTickCount();
  // A device that goes away later is reported at the first beep it misses.
  if (audio->ready && !playTone(frequencyHz, durationMs)) tellNoDevice(audio);
  // Without a device, or should the device run fast, the beep still lasts its full duration.
  const std::uint32_t elapsed = monotonicTickCount() - start;
  if (elapsed < durationMs) sleepMilliseconds(durationMs - elapsed);
}

}  // namespace

SoundPort openSdlSound() {
  auto audio = std::make_shared<SdlAudio>();
  audio->ready = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  // The audio driver may start without any device behind it (ALSA on a machine without a sound card);
  // only opening the device tells, so it is tried once at start.
  SDL_AudioSpec obtained{};
  const SDL_AudioDeviceID probe = audio->ready ? openBeepDevice(&obtained) : 0;
  if (probe != 0) {
    SDL_CloseAudioDevice(probe);
  } else {
    tellNoDevice(audio.get());
  }
  return SoundPort{[audio](std::uint32_t frequencyHz, std::uint32_t durationMs) {
    beepSdl(audio.get(), frequencyHz, durationMs);
  }};
}
