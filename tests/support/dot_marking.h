// Test-only: symbols as dot-peened or ink-jet marking draws them, each dark module a round dot with light
// between neighbouring dots.
#ifndef QUARNEL_TESTS_SUPPORT_DOT_MARKING_H_
#define QUARNEL_TESTS_SUPPORT_DOT_MARKING_H_

#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace testsupport {

// Draws the symbol as renderSymbol does (placement, rotation, tilt, light, blur, noise, clutter, reported
// corners), but each dark module as an anti-aliased round dot of diameter dotShare x the module size.
// dotShare must lie in (0, 1.2]; out of range, like any option out of range, gives an empty image.
RenderedSymbol renderDotSymbol(const SymbolMatrix& symbol, const RenderOptions& options, double dotShare);

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_DOT_MARKING_H_
