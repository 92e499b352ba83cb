// Test-only: the scene the replay camera films, shared by the replayed program and the test that watches
// it, so that the test knows where the symbol lies without asking the program.
#ifndef QUARNEL_TESTS_APP_REPLAY_SCENE_H_
#define QUARNEL_TESTS_APP_REPLAY_SCENE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/symbol_renderer.h"

// The camera filming the scene: 640 x 480 frames, 15 a second.
constexpr int REPLAY_FRAME_WIDTH = 640;
constexpr int REPLAY_FRAME_HEIGHT = 480;
constexpr int REPLAY_FRAMES_PER_SECOND = 15;

// Signals that switch the replayed program's camera between an empty scene and the symbol.
constexpr int REPLAY_SHOW_EMPTY_SIGNAL = 10;   // SIGUSR1
constexpr int REPLAY_SHOW_SYMBOL_SIGNAL = 12;  // SIGUSR2

// The symbol of text (made by the independent encoder) drawn into a 640 x 480 grey frame, clear of the
// label band at the top; empty when the text does not fit a symbol.
std::optional<testsupport::RenderedSymbol> renderReplaySymbol(const std::string& text);

// A frame with nothing on it: the background of the symbol frame.
cv::Mat emptyReplayFrame();

#endif  // QUARNEL_TESTS_APP_REPLAY_SCENE_H_
