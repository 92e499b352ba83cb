// Test-only: dot-marked symbols, each dark module a round dot with light showing between neighbours.
#ifndef QUARNEL_TESTS_SUPPORT_DOT_MARKING_H_
#define QUARNEL_TESTS_SUPPORT_DOT_MARKING_H_

#include "tests/support/symbol_renderer.h"

namespace testsupport {

// As renderSymbol, but each dark module is a round dot of diameter dotShare x the module size.
RenderedSymbol renderDotSymbol(const SymbolMatrix& symbol, const RenderOptions& options, double dotShare);

}  // namespace testsupport

#endif  // QUARNEL_TESTS_SUPPORT_DOT_MARKING_H_
