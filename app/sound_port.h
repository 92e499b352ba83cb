// Sound port: the confirmation beep.
#ifndef QUARNEL_APP_SOUND_PORT_H_
#define QUARNEL_APP_SOUND_PORT_H_

#include <cstdint>
#include <functional>

struct SoundPort {
  // Plays a tone and returns when it has ended.
  std::function<void(std::uint32_t frequencyHz, std::uint32_t durationMs)> beep;
};

// The beep's samples: signed 16-bit, native byte order, one channel.
constexpr int SOUND_SAMPLE_RATE = 48000;

// Plays through SDL's audio. Without an audio device the beep still takes its duration, silently.
SoundPort openSdlSound();

#endif  // QUARNEL_APP_SOUND_PORT_H_
