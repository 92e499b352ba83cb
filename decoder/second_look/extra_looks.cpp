// The extra looks in their order, and the turn that picks one of them.
#include "decoder/second_look/extra_looks.h"

#include "decoder/second_look/dot_symbols.h"
#include "decoder/second_look/flattened_light.h"
#include "decoder/second_look/second_look.h"

const std::vector<ExtraLook>& extraLooks() {
  static const std::vector<ExtraLook> looks = {
      readInFlattenedLight,  // a hard shadow edge across a label
      readJoinedDots,        // dot-peened and ink-jet marks
  };
  return looks;
}

ScanStep runExtraLooks(const IplImage* grey, PassLeftovers* passes, int passCount, std::vector<DecodedSymbol>* symbols,
                       std::size_t maxSymbols, int turn) {
  const std::vector<ExtraLook>& looks = extraLooks();
  if (looks.empty()) return SCAN_NOTHING_READ;
  // Each look on its own copy of the reads, so that one look's failure never costs another's reads.
  auto take = [&](ExtraLook look) {
    return addReadsOf(
        [&](std::vector<DecodedSymbol>* reads) { return look(grey, passes, passCount, reads, maxSymbols); }, symbols);
  };
  if (turn >= 0) return take(looks[static_cast<std::size_t>(turn) % looks.size()]);
  ScanStep firstStep = SCAN_NOTHING_READ;
  for (const ExtraLook look : looks) {
    if (symbols->size() >= maxSymbols) break;
    const ScanStep step = take(look);
    if (firstStep == SCAN_NOTHING_READ) firstStep = step;
  }
  return firstStep;
}
