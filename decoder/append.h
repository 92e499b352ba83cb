// The last stage of a candidate: data decoding of its module matrix and the append of the result.
#ifndef QUARNEL_DECODER_APPEND_H_
#define QUARNEL_DECODER_APPEND_H_

#include <cstdint>
#include <vector>

#include "decoder/symbol_decoder.h"

// Status codes of appendSymbol.
enum AppendStatus {
  APPEND_DONE = 0,
  APPEND_UNREADABLE = 1,    // the data decoder could not read the matrix
  APPEND_DOES_NOT_FIT = 2,  // decoded, but the message does not fit DecodeResult's text as a string
};

// True when the message can stand whole as DecodeResult's NUL-terminated text.
bool fitsTextField(const std::vector<std::uint8_t>& message);

// Decodes the upright module matrix (rows - 1 by columns - 1, stride columns - 1) of a symbol of
// columns x rows. A readable symbol goes to the full-message list when the call keeps one, and, when its
// message fits the text field whole, into results[resultCount], whose corners the grid stage already
// wrote; resultCount then grows by one.
int appendSymbol(SymbolDecoder* ctx, const std::uint8_t* matrix, int columns, int rows);

#endif  // QUARNEL_DECODER_APPEND_H_
