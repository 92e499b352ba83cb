// Main window on SDL2 video: a fixed-size, always-on-top window painted as one preview control with a
// sunken edge, a message loop that sleeps until something happens, and the start-up error reports.
#include "app/main_window.h"

#include <SDL.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/preview.h"
#include "app/resources/quarnel.xpm"
#include "app/x11/display_loss.h"
#include "app/x11/window_focus.h"

namespace {

// Colours of the control: the face behind a picture smaller than the control and its sunken edge.
constexpr SDL_Color PREVIEW_FACE = {240, 240, 240, 255};
constexpr SDL_Color PREVIEW_EDGE_SHADOW = {160, 160, 160, 255};
constexpr SDL_Color PREVIEW_EDGE_LIGHT = {255, 255, 255, 255};
constexpr int PREVIEW_EDGE_WIDTH = 1;
// The message loop sleeps until an event comes or the worker hands a bitmap over (its wake-up event
// ends the wait at once); this only bounds the sleep should a wake-up ever be lost. Every wait that
// ends empty costs a round of X event polling, so it is kept long.
constexpr int MESSAGE_WAIT_MS = 1000;

// Everything the user-interface thread and the worker share. It is made once and never freed: the
// worker may use it until the very end of the process.
struct MainWindow {
  SDL_Window* window = nullptr;
  PreviewLayout layout;
  BitmapHandOff handOff;
  PreviewPort port;
  std::unique_ptr<PreviewBitmap> shown;  // the bitmap the control paints; user-interface thread only
};

// Reads an XPM image with one character per pixel into an ARGB surface.
SDL_Surface* surfaceFromXpm(const char* const* xpm, std::size_t lineCount) {
  int width = 0;
  int height = 0;
  int colourCount = 0;
  int charsPerPixel = 0;
  if (lineCount == 0 || std::sscanf(xpm[0], "%d %d %d %d", &width, &height, &colourCount, &charsPerPixel) != 4 ||
      charsPerPixel != 1 || width <= 0 || height <= 0 || colourCount <= 0 ||
      lineCount != 1 + static_cast<std::size_t>(colourCount) + static_cast<std::size_t>(height)) {
    return nullptr;
  }
  Uint32 palette[256] = {};
  for (int i = 0; i < colourCount; ++i) {
    const char* entry = xpm[1 + i];
    const auto key = static_cast<unsigned char>(entry[0]);
    const char* value = std::strstr(entry + 1, " c ");
    if (value == nullptr) return nullptr;
    value += 3;
    unsigned rgb = 0;
    if (std::strcmp(value, "None") == 0) {
      palette[key] = 0;
    } else if (std::sscanf(value, "#%6x", &rgb) == 1) {
      palette[key] = 0xFF000000u | rgb;
    } else {
      return nullptr;
    }
  }
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888);
  if (surface == nullptr) return nullptr;
  for (int y = 0; y < height; ++y) {
    const char* row = xpm[1 + colourCount + y];
    if (std::strlen(row) != static_cast<std::size_t>(width)) {
      SDL_FreeSurface(surface);
      return nullptr;
    }
    auto* pixels = reinterpret_cast<Uint32*>(static_cast<Uint8*>(surface->pixels) + y * surface->pitch);
    for (int x = 0; x < width; ++x) pixels[x] = palette[static_cast<unsigned char>(row[x])];
  }
  return surface;
}

Uint32 mapColour(const SDL_Surface* surface, SDL_Color colour) {
  return SDL_MapRGB(surface->format, colour.r, colour.g, colour.b);
}

// Paints the control: face, sunken edge, and the shown bitmap centred and unscaled inside the edge,
// clipped when larger.
void paintPreview(MainWindow& main) {
  SDL_Surface* surface = SDL_GetWindowSurface(main.window);
  if (surface == nullptr) return;
  const int w = surface->w;
  const int h = surface->h;
  SDL_SetClipRect(surface, nullptr);
  SDL_FillRect(surface, nullptr, mapColour(surface, PREVIEW_FACE));
  const SDL_Rect top{0, 0, w, PREVIEW_EDGE_WIDTH};
  const SDL_Rect left{0, 0, PREVIEW_EDGE_WIDTH, h};
  const SDL_Rect bottom{0, h - PREVIEW_EDGE_WIDTH, w, PREVIEW_EDGE_WIDTH};
  const SDL_Rect right{w - PREVIEW_EDGE_WIDTH, 0, PREVIEW_EDGE_WIDTH, h};
  SDL_FillRect(surface, &top, mapColour(surface, PREVIEW_EDGE_SHADOW));
  SDL_FillRect(surface, &left, mapColour(surface, PREVIEW_EDGE_SHADOW));
  SDL_FillRect(surface, &bottom, mapColour(surface, PREVIEW_EDGE_LIGHT));
  SDL_FillRect(surface, &right, mapColour(surface, PREVIEW_EDGE_LIGHT));

  const PreviewBitmap* bitmap = main.shown.get();
  SDL_Rect inner{PREVIEW_EDGE_WIDTH, PREVIEW_EDGE_WIDTH, w - 2 * PREVIEW_EDGE_WIDTH, h - 2 * PREVIEW_EDGE_WIDTH};
  if (bitmap != nullptr && inner.w > 0 && inner.h > 0) {
    const int bw = bitmap->header.biWidth;
    const int bh = bitmap->header.biHeight;
    // The bitmap's bytes are only read; SDL's wrapper wants a mutable pointer.
    SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<std::uint8_t*>(bitmap->bits.data()), bw, bh, 24,
        static_cast<int>(bitmapRowStride(bw)), SDL_PIXELFORMAT_BGR24);
    if (source != nullptr) {
      SDL_SetClipRect(surface, &inner);
      const int x0 = inner.x + (inner.w - bw) / 2;
      const int y0 = inner.y + (inner.h - bh) / 2;
      // Stored rows run bottom-up: memory row bh - 1 - y is picture row y.
      for (int y = 0; y < bh; ++y) {
        if (y0 + y < inner.y || y0 + y >= inner.y + inner.h) continue;
        SDL_Rect from{0, bh - 1 - y, bw, 1};
        SDL_Rect to{x0, y0 + y, bw, 1};
        SDL_BlitSurface(source, &from, surface, &to);
      }
      SDL_FreeSurface(source);
    }
  }
  SDL_UpdateWindowSurface(main.window);
}

// Records the window's client area and lays the preview out again.
void relayout(MainWindow& main) {
  int w = 0;
  int h = 0;
  SDL_GetWindowSize(main.window, &w, &h);
  const bool minimised = (SDL_GetWindowFlags(main.window) & SDL_WINDOW_MINIMIZED) != 0;
  noteClientArea(main.layout, w, h, minimised);
  layoutPreview(main.layout);
}

// Handles one event; false when it closes the window.
bool handleEvent(MainWindow& main, const SDL_Event& event) {
  if (event.type == SDL_QUIT) return false;
  if (event.type != SDL_WINDOWEVENT || event.window.windowID != SDL_GetWindowID(main.window)) return true;
  switch (event.window.event) {
    case SDL_WINDOWEVENT_CLOSE:
      return false;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_MINIMIZED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_HIDDEN:
      relayout(main);
      paintPreview(main);
      break;
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_EXPOSED:
      paintPreview(main);
      break;
    default:
      break;
  }
  return true;
}

// Ends the process when the display has gone: the worker stops with it wherever it is, and the kernel
// releases the camera and the log with the process's descriptors.
[[noreturn]] void endOnDisplayLoss(const char* displayName) {
  std::fprintf(stderr, "%s %s\n", DISPLAY_LOST_TEXT, displayName);
  endProcess(MAIN_EXIT_DISPLAY_LOST);
}

// Creates the window hidden, with its icon and its drawing surface; null after reporting the failure.
SDL_Window* createMainWindow() {
  SDL_Window* window =
      SDL_CreateWindow(MAIN_WINDOW_TITLE, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, MAIN_CLIENT_WIDTH,
                       MAIN_CLIENT_HEIGHT, SDL_WINDOW_HIDDEN | SDL_WINDOW_ALWAYS_ON_TOP);
  if (window == nullptr) return nullptr;
  // Making the surface may re-create the native window, so the icon is set after it.
  if (SDL_GetWindowSurface(window) == nullptr) {
    SDL_DestroyWindow(window);
    return nullptr;
  }
  if (SDL_Surface* icon = makeProgramIcon()) {
    SDL_SetWindowIcon(window, icon);
    SDL_FreeSurface(icon);
  }
  refuseKeyboardFocus(window);
  return window;
}

}  // namespace

SDL_Surface* makeProgramIcon() {
  return surfaceFromXpm(quarnel_icon_xpm, sizeof(quarnel_icon_xpm) / sizeof(quarnel_icon_xpm[0]));
}

void showStartupError(const char* text) {
  if (!showErrorBox(text)) std::fprintf(stderr, "%s\n", text);
}

bool showErrorBox(const char* text) {
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, MAIN_ERROR_TITLE, text, nullptr) == 0;
}

int runMainWindow(const WorkerStart& startWorker) {
  // Without a display SDL would fall back to an invisible off-screen driver; the window belongs on the X
  // display the keys are typed into. SDL_VIDEODRIVER in the environment still takes precedence.
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  // Interrupt and termination signals keep their default action and end the process at once, also
  // while an error box is up; SDL would otherwise turn them into a quit event the box never reads.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // The window surface is drawn in software and shown as a plain X image: a 640 x 480 picture ten times
  // a second needs no accelerated renderer, which would load the whole GL stack.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    showStartupError(MAIN_ERROR_NO_DISPLAY);
    return MAIN_EXIT_NO_WINDOW;
  }
  SDL_Window* window = createMainWindow();
  if (window == nullptr) {
    showStartupError(MAIN_ERROR_NO_WINDOW);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return MAIN_EXIT_NO_WINDOW;
  }

  // From here on the worker may run: a lost display must end the process, not Xlib's exit().
  handleDisplayLoss(endOnDisplayLoss);

  // Never freed: see MainWindow.
  auto* main = new MainWindow;
  main->window = window;
  main->port = makePreviewPort(main->layout, main->handOff);
  main->handOff.wake = [] {
    SDL_Event wake{};
    wake.type = SDL_USEREVENT;
    SDL_PushEvent(&wake);
  };
  relayout(*main);
  if (startWorker) startWorker(main->port);

  showWindowWithoutFocus(window);
  relayout(*main);
  paintPreview(*main);

  for (;;) {
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, MESSAGE_WAIT_MS)) {
      do {
        if (!handleEvent(*main, event)) {
          // The window goes with the process: the X server destroys it when the connection closes.
          // Destroying it here first waits on the server and the window manager for no gain.
          return MAIN_EXIT_CLOSED;
        }
      } while (SDL_PollEvent(&event));
    }
    // Without a camera the worker hands the same notice every cycle; painting it again shows nothing new.
    bool pictureChanged = false;
    if (takeHandedBitmap(main->handOff, main->shown, &pictureChanged) && pictureChanged) paintPreview(*main);
  }
}

void endProcess(int exitCode) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(exitCode);
}
