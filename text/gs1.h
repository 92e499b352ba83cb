// GS1 element strings: application identifiers and their data, from the bytes of a symbol whose first
// codeword is FNC1 (the leading FNC1 is not among the bytes; byte 29 ends a variable-length element).
#ifndef QUARNEL_TEXT_GS1_H_
#define QUARNEL_TEXT_GS1_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Gs1Element {
  std::string ai;    // 2-4 digits
  std::string data;
};

// Splits GS1 data into its elements. False when the bytes are not well-formed GS1 data (an AI outside
// the GS1 table's prefixes, a fixed-length element cut short, an empty element, a byte that is not
// printable ASCII); *elements is then unspecified. A separator after a fixed-length element is allowed.
bool parseGs1Elements(const std::vector<std::uint8_t>& bytes, std::vector<Gs1Element>* elements);

// The human-readable form: each AI in parentheses followed by its data, "(01)09501101530003(10)AB-123".
std::string gs1HumanReadable(const std::vector<Gs1Element>& elements);

// The text with every group separator (byte 29) replaced by replacement, for forms that want another
// field separator than a character no key can type.
std::string replaceGroupSeparators(std::string_view text, std::string_view replacement);

#endif  // QUARNEL_TEXT_GS1_H_
