// Test-only: the renderer's scene drawing with a choice of module shape, for the marking styles that draw
// their dark modules other than as whole squares.
#ifndef QUARNEL_TESTS_SUPPORT_SYMBOL_RENDERER_SHAPES_H_
#define QUARNEL_TESTS_SUPPORT_SYMBOL_RENDERER_SHAPES_H_

#include <vector>

#include "tests/support/symbol_renderer.h"

namespace testsupport {

// Largest dot, as a share of the module across: beyond it neighbouring dots merge into plain squares.
constexpr double RENDER_MAX_DOT_SHARE = 1.2;

// renderSymbols with each dark module drawn as a round dot dotShare of the module across (0: whole
// squares, as renderSymbols draws them). A dotShare out of [0, RENDER_MAX_DOT_SHARE] fails.
RenderedScene renderSymbolsShaped(const std::vector<PlacedSymbol>& symbols, const RenderOptions& scene,
                                  double dotShare);

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_SYMBOL_RENDERER_SHAPES_H_
