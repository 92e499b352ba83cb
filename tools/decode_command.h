// quarnel-decode: decodes the symbols of image files and prints them as text, JSON or raw bytes.
#ifndef QUARNEL_TOOLS_DECODE_COMMAND_H_
#define QUARNEL_TOOLS_DECODE_COMMAND_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tools/escape_message.h"

// Exit statuses of the command.
enum DecodeCommandStatus {
  DECODE_COMMAND_ALL_READ = 0,    // every file gave at least one symbol
  DECODE_COMMAND_SOME_EMPTY = 1,  // some file gave none
  DECODE_COMMAND_FAILED = 2,      // usage error or an unreadable file
};

// Loads an image file as 8-bit grey. On failure returns an empty Mat and sets *error to a short reason.
cv::Mat loadGreyImage(const std::string& path, std::string* error);

// Loads an image from bytes in memory (any format the image codecs know) as 8-bit grey.
cv::Mat decodeGreyImage(const std::vector<std::uint8_t>& bytes, std::string* error);

// Runs the command on argv-style arguments (without the program name).
int runDecodeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

#endif  // QUARNEL_TOOLS_DECODE_COMMAND_H_
