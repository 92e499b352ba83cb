#include "decoder/append.h"

#include <cstring>
#include <vector>

#include "decoder/ecc200/ecc200_message.h"
#include "decoder/stage_timing.h"

// A message is typed as it stands or not at all: one that would be cut short, or whose NUL byte would
// end the string early, is never put in the text field.
bool fitsTextField(const std::vector<std::uint8_t>& message) {
  return message.size() < static_cast<size_t>(DECODE_TEXT_SIZE) &&
         std::memchr(message.data(), 0, message.size()) == nullptr;
}

int appendSymbol(SymbolDecoder* ctx, const std::uint8_t* matrix, int columns, int rows) {
  QUARNEL_STAGE_TIMER(STAGE_DATA_DECODING);
  Ecc200Message decoded;
  if (!decodeEcc200Message(matrix, columns, rows, Ecc200ReadLimits{}, &decoded)) return APPEND_UNREADABLE;
  const std::vector<std::uint8_t>& message = decoded.bytes;
  DecodeResult& slot = ctx->results[ctx->resultCount];
  if (ctx->fullMessages != nullptr) {
    DecodedSymbol symbol;
    std::memcpy(symbol.corners, slot.corners, sizeof(symbol.corners));
    symbol.message = message;
    symbol.meaning = decoded.meaning;
    ctx->fullMessages->push_back(std::move(symbol));
  }
  if (!fitsTextField(message)) return APPEND_DOES_NOT_FIT;
  if (!message.empty()) std::memcpy(slot.text, message.data(), message.size());
  slot.text[message.size()] = '\0';
  ++ctx->resultCount;
  return APPEND_DONE;
}
