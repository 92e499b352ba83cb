// Test-only dot marking: the renderer's own scene with round dots for dark modules.
#include "tests/support/dot_marking.h"

#include "tests/support/symbol_renderer_shapes.h"

namespace testsupport {

RenderedSymbol renderDotSymbol(const SymbolMatrix& symbol, const RenderOptions& options, double dotShare) {
  RenderedSymbol rendered;
  if (!(dotShare > 0.0)) return rendered;  // zero would draw plain squares
  RenderedScene scene = renderSymbolsShaped({PlacedSymbol{symbol, options}}, options, dotShare);
  if (scene.grey.empty()) return rendered;
  rendered.grey = scene.grey;
  rendered.corners = scene.corners.front();
  return rendered;
}

}  // namespace testsupport
