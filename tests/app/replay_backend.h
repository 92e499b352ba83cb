// Test-only capture backend with one camera that replays frames: a streaming thread of its own hands the
// frame the scene currently shows to the hooked callback, 15 times a second, while the graph runs.
#ifndef QUARNEL_TESTS_APP_REPLAY_BACKEND_H_
#define QUARNEL_TESTS_APP_REPLAY_BACKEND_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "capture/capture_backend.h"

constexpr int REPLAY_FRAME_WIDTH = 640;
constexpr int REPLAY_FRAME_HEIGHT = 480;
constexpr int REPLAY_FRAMES_PER_SECOND = 15;

// The frame to hand over next: REPLAY_FRAME_WIDTH x REPLAY_FRAME_HEIGHT packed B, G, R pixels, bottom row
// first, as a camera's samples come. Called on the streaming thread; the frame must stay valid until the
// next call.
using ReplayFrameSource = std::function<const std::vector<std::uint8_t>&()>;

std::unique_ptr<CaptureBackend> makeReplayBackend(ReplayFrameSource source);

#endif  // QUARNEL_TESTS_APP_REPLAY_BACKEND_H_
