// The text layer on messages straight from the input: the meaning the encodation keeps, the character
// set conversion, GS1 splitting, the ECI protocol's escapes and the JSON strings.
//
// Input: mode (1 byte); mode 0: data codewords of a symbol; mode 1: message bytes read as GS1 data and as
// a file name; mode 2: message bytes under designators, one (designator, offset) pair per 4 leading
// bytes, the count given by the second byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/aim.h"
#include "text/charset.h"
#include "decoder/ecc200/ecc200_message.h"
#include "tests/fuzz/fuzz_input.h"
#include "text/gs1.h"
#include "text/json_string.h"
#include "text/utf8.h"

namespace {

// Converted text is valid UTF-8, the unconverted bytes are in order, inside the message and in the
// text, and the line and JSON forms of it are valid UTF-8 too.
void checkText(const std::vector<std::uint8_t>& bytes, const std::vector<Ecc200EciMark>& ecis) {
  const MessageText text = messageText(bytes, ecis);
  fuzzCheck(isValidUtf8(text.utf8));
  std::size_t lastOffset = 0;
  for (std::size_t i = 0; i < text.unconverted.size(); ++i) {
    const UnconvertedByte& byte = text.unconverted[i];
    fuzzCheck(byte.byteOffset < bytes.size() && bytes[byte.byteOffset] == byte.value);
    fuzzCheck(i == 0 || byte.byteOffset > lastOffset);
    fuzzCheck(byte.textOffset <= text.utf8.size());
    lastOffset = byte.byteOffset;
  }
  fuzzCheck(text.unconverted.size() <= bytes.size());
  const std::string line = escapedLine(text);
  fuzzCheck(isValidUtf8(line));
  for (char character : line) fuzzCheck(static_cast<std::uint8_t>(character) >= 0x20 && character != 0x7F);
  fuzzCheck(isValidUtf8(jsonString(text.utf8)));
}

void fuzzCodewords(const std::vector<std::uint8_t>& codewords) {
  Ecc200Message message;
  std::vector<std::uint8_t> plain;
  const bool decoded = decodeEcc200CodewordsWithMeaning(codewords.data(), codewords.size(), &message);
  fuzzCheck(decoded == decodeEcc200Codewords(codewords.data(), codewords.size(), &plain));
  if (!decoded) return;
  fuzzCheck(plain == message.bytes);
  for (const Ecc200EciMark& mark : message.meaning.ecis) {
    fuzzCheck(mark.designator >= 0 && mark.designator <= 999999 && mark.byteOffset <= message.bytes.size());
  }
  checkText(message.bytes, message.meaning.ecis);
  const std::string identifier = aimSymbologyIdentifier(message.meaning);
  fuzzCheck(identifier.size() == 3 && identifier[2] >= '1' && identifier[2] <= '6');
  fuzzCheck(eciProtocolBytes(message).size() >= message.bytes.size());
}

void fuzzBytes(const std::vector<std::uint8_t>& bytes) {
  std::vector<Gs1Element> elements;
  if (parseGs1Elements(bytes, &elements)) fuzzCheck(isValidUtf8(gs1HumanReadable(elements)));
  const std::string name(bytes.begin(), bytes.end());
  const std::string literal = jsonFileName(name);
  fuzzCheck(isValidUtf8(literal));
  checkText(bytes, {});
}

void fuzzDesignators(FuzzInput& input) {
  const int count = input.takeByte() % 8;
  std::vector<Ecc200EciMark> ecis;
  std::size_t offset = 0;
  for (int i = 0; i < count; ++i) {
    const int designator = input.takeU16() % 200;
    offset += input.takeU16() % 16;
    ecis.push_back({designator, offset});
  }
  checkText(input.takeRest(), ecis);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t mode = input.takeByte() % 3;
  if (mode == 0) {
    fuzzCodewords(input.takeRest());
  } else if (mode == 1) {
    fuzzBytes(input.takeRest());
  } else {
    fuzzDesignators(input);
  }
  return 0;
}
