// AIM symbology identifiers for Data Matrix: "]d" and a modifier that says how the data is to be read.
#include "text/aim.h"

#include <cstdio>

std::string aimSymbologyIdentifier(const Ecc200Meaning& meaning) {
  int modifier = 1;
  if (meaning.fnc1 == Ecc200Fnc1::FirstPosition) modifier = 2;
  if (meaning.fnc1 == Ecc200Fnc1::SecondPosition) modifier = 3;
  if (!meaning.ecis.empty()) modifier += 3;
  return "]d" + std::to_string(modifier);
}

std::vector<std::uint8_t> eciProtocolBytes(const Ecc200Message& message) {
  const std::vector<Ecc200EciMark>& ecis = message.meaning.ecis;
  if (ecis.empty()) return message.bytes;
  std::vector<std::uint8_t> sent;
  std::size_t next = 0;
  for (std::size_t i = 0; i <= message.bytes.size(); ++i) {
    for (; next < ecis.size() && ecis[next].byteOffset <= i; ++next) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%06d", ecis[next].designator);
      sent.insert(sent.end(), escape, escape + 7);
    }
    if (i == message.bytes.size()) break;
    sent.push_back(message.bytes[i]);
    if (message.bytes[i] == '\\') sent.push_back('\\');
  }
  return sent;
}
