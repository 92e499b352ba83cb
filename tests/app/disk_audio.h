// Test-only: what SDL's disk audio driver wrote (SDL_AUDIODRIVER=disk, SDL_DISKAUDIOFILE=path), as the
// sound layer asks for it: signed 16-bit little-endian samples, one channel.
#ifndef QUARNEL_TESTS_APP_DISK_AUDIO_H_
#define QUARNEL_TESTS_APP_DISK_AUDIO_H_

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<std::int16_t> readDiskAudioSamples(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t n = 0; n < samples.size(); ++n) {
    samples[n] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * n]) |
                                           (static_cast<unsigned char>(bytes[2 * n + 1]) << 8));
  }
  return samples;
}

#endif  // QUARNEL_TESTS_APP_DISK_AUDIO_H_
