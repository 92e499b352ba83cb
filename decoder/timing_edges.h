// Grid stage entry: re-aims a candidate's timing edges, orients it and hands it to sampling.
#ifndef QUARNEL_DECODER_TIMING_EDGES_H_
#define QUARNEL_DECODER_TIMING_EDGES_H_

#include "decoder/symbol_decoder.h"

// Runs the grid, sampling and data stages on candidates[index]. Returns 0 when a symbol was appended
// to the results, a non-zero status otherwise (callers ignore it: the candidate simply yields nothing).
int refineCandidate(SymbolDecoder* ctx, int index);

#endif  // QUARNEL_DECODER_TIMING_EDGES_H_
