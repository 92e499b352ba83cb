// GS1 element strings. The AI length and, for the predefined-length AIs, the element length follow from
// the first two digits alone, so data can be split without knowing every AI.
#include "text/gs1.h"

#include <utility>

namespace {

constexpr std::uint8_t BYTE_GROUP_SEPARATOR = 29;

struct AiPrefix {
  char digits[3];
  int aiLength;
  int elementLength;  // AI and data together for the predefined-length AIs; 0 when a separator ends it
};

// AI lengths by their first two digits, from the GS1 General Specifications' AI table; element lengths
// from its table of predefined lengths by the first two digits.
constexpr AiPrefix AI_PREFIXES[] = {
    {"00", 2, 20}, {"01", 2, 16}, {"02", 2, 16}, {"03", 2, 16}, {"04", 2, 18}, {"10", 2, 0},  {"11", 2, 8},
    {"12", 2, 8},  {"13", 2, 8},  {"14", 2, 8},  {"15", 2, 8},  {"16", 2, 8},  {"17", 2, 8},  {"18", 2, 8},
    {"19", 2, 8},  {"20", 2, 4},  {"21", 2, 0},  {"22", 2, 0},  {"23", 3, 0},  {"24", 3, 0},  {"25", 3, 0},
    {"30", 2, 0},  {"31", 4, 10}, {"32", 4, 10}, {"33", 4, 10}, {"34", 4, 10}, {"35", 4, 10}, {"36", 4, 10},
    {"37", 2, 0},  {"39", 4, 0},  {"40", 3, 0},  {"41", 3, 16}, {"42", 3, 0},  {"43", 4, 0},  {"70", 4, 0},
    {"71", 3, 0},  {"72", 4, 0},  {"80", 4, 0},  {"81", 4, 0},  {"82", 4, 0},  {"90", 2, 0},  {"91", 2, 0},
    {"92", 2, 0},  {"93", 2, 0},  {"94", 2, 0},  {"95", 2, 0},  {"96", 2, 0},  {"97", 2, 0},  {"98", 2, 0},
    {"99", 2, 0},
};

const AiPrefix* findPrefix(std::uint8_t first, std::uint8_t second) {
  for (const AiPrefix& prefix : AI_PREFIXES) {
    if (prefix.digits[0] == first && prefix.digits[1] == second) return &prefix;
  }
  return nullptr;
}

bool isDigit(std::uint8_t byte) { return byte >= '0' && byte <= '9'; }

// GS1 data is printable ASCII; anything else means the bytes are not what they claim to be.
bool isDataByte(std::uint8_t byte) { return byte > 0x20 && byte < 0x7F; }

}  // namespace

bool parseGs1Elements(const std::vector<std::uint8_t>& bytes, std::vector<Gs1Element>* elements) {
  if (elements == nullptr) return false;
  elements->clear();
  const std::size_t count = bytes.size();
  std::size_t pos = 0;
  bool fixedJustEnded = false;
  while (pos < count) {
    if (bytes[pos] == BYTE_GROUP_SEPARATOR && fixedJustEnded) {
      ++pos;
      fixedJustEnded = false;
      continue;
    }
    if (count - pos < 2) return false;
    const AiPrefix* prefix = findPrefix(bytes[pos], bytes[pos + 1]);
    const std::size_t aiLength = prefix != nullptr ? static_cast<std::size_t>(prefix->aiLength) : 0;
    if (prefix == nullptr || count - pos < aiLength) return false;
    Gs1Element element;
    for (std::size_t i = pos; i < pos + aiLength; ++i) {
      if (!isDigit(bytes[i])) return false;
      element.ai += static_cast<char>(bytes[i]);
    }
    pos += aiLength;
    std::size_t end = pos;
    if (prefix->elementLength > 0) {
      end = pos + static_cast<std::size_t>(prefix->elementLength) - aiLength;
      if (end > count) return false;
    } else {
      while (end < count && bytes[end] != BYTE_GROUP_SEPARATOR) ++end;
    }
    if (end == pos) return false;
    for (std::size_t i = pos; i < end; ++i) {
      if (!isDataByte(bytes[i])) return false;
      element.data += static_cast<char>(bytes[i]);
    }
    fixedJustEnded = prefix->elementLength > 0;
    // A separator ends a variable-length element; the last element may end with the data instead.
    pos = end;
    if (prefix->elementLength == 0 && pos < count) ++pos;
    elements->push_back(std::move(element));
  }
  return !elements->empty();
}

std::string gs1HumanReadable(const std::vector<Gs1Element>& elements) {
  std::string text;
  for (const Gs1Element& element : elements) text += "(" + element.ai + ")" + element.data;
  return text;
}

std::string replaceGroupSeparators(std::string_view text, std::string_view replacement) {
  std::string replaced;
  for (char character : text) {
    if (static_cast<std::uint8_t>(character) == BYTE_GROUP_SEPARATOR) {
      replaced += replacement;
    } else {
      replaced += character;
    }
  }
  return replaced;
}
