// The one escaping of a symbol's text for a text line, shared by quarnel-decode's output and quarnel's
// read log.
#ifndef QUARNEL_TOOLS_ESCAPE_MESSAGE_H_
#define QUARNEL_TOOLS_ESCAPE_MESSAGE_H_

#include <cstdint>
#include <string>
#include <vector>

// Bytes outside printable ASCII, and the backslash itself, as \xHH.
std::string escapeMessage(const std::vector<std::uint8_t>& message);

#endif  // QUARNEL_TOOLS_ESCAPE_MESSAGE_H_
