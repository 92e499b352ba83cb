// Character sets by ECI designator, converted with iconv. A byte iconv refuses is reported and skipped,
// so the rest of the message still converts.
#include "text/charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>

#include "text/hex_byte.h"
#include "text/utf8.h"

namespace {

constexpr int ECI_DEFAULT = 3;  // ISO 8859-1 is the default interpretation of ECC 200 data

struct EciCharset {
  int designator;
  const char* name;       // as reported to the user
  const char* iconvName;  // as glibc's iconv knows it; null: read by the project's own UTF-8 rule
  int unitSize;           // bytes per code unit: a refused unit is skipped whole
  const char* undefined;  // bytes the set leaves undefined although iconv's set defines them; may be null
};

// The ECI assignments of the AIM register for character sets.
constexpr EciCharset ECI_CHARSETS[] = {
    {0, "IBM437", "IBM437", 1, nullptr},
    {1, "ISO-8859-1", "ISO-8859-1", 1, nullptr},
    {2, "IBM437", "IBM437", 1, nullptr},
    {3, "ISO-8859-1", "ISO-8859-1", 1, nullptr},
    {4, "ISO-8859-2", "ISO-8859-2", 1, nullptr},
    {5, "ISO-8859-3", "ISO-8859-3", 1, nullptr},
    {6, "ISO-8859-4", "ISO-8859-4", 1, nullptr},
    {7, "ISO-8859-5", "ISO-8859-5", 1, nullptr},
    {8, "ISO-8859-6", "ISO-8859-6", 1, nullptr},
    {9, "ISO-8859-7", "ISO-8859-7", 1, nullptr},
    {10, "ISO-8859-8", "ISO-8859-8", 1, nullptr},
    {11, "ISO-8859-9", "ISO-8859-9", 1, nullptr},
    {12, "ISO-8859-10", "ISO-8859-10", 1, nullptr},
    {13, "ISO-8859-11", "ISO-8859-11", 1, nullptr},
    {15, "ISO-8859-13", "ISO-8859-13", 1, nullptr},
    {16, "ISO-8859-14", "ISO-8859-14", 1, nullptr},
    {17, "ISO-8859-15", "ISO-8859-15", 1, nullptr},
    {18, "ISO-8859-16", "ISO-8859-16", 1, nullptr},
    {20, "Shift_JIS", "SHIFT_JIS", 1, nullptr},
    {21, "windows-1250", "CP1250", 1, nullptr},
    {22, "windows-1251", "CP1251", 1, nullptr},
    {23, "windows-1252", "CP1252", 1, nullptr},
    {24, "windows-1256", "CP1256", 1, nullptr},
    {25, "UTF-16BE", "UTF-16BE", 2, nullptr},
    // glibc's iconv lets five-byte forms and code points above U+10FFFF through from UTF-8, so UTF-8
    // is read by the same rule every other text function here checks against.
    {26, "UTF-8", nullptr, 1, nullptr},
    {27, "US-ASCII", "ASCII", 1, nullptr},
    {28, "Big5", "BIG5", 1, nullptr},
    // GB 2312 is read through GB 18030, its superset, so that encoders that write GBK characters under
    // this designator are read too; every GB 2312 sequence means the same in both.
    {29, "GB2312", "GB18030", 1, nullptr},
    {30, "EUC-KR", "EUC-KR", 1, nullptr},
    {31, "GBK", "GBK", 1, nullptr},
    {32, "GB18030", "GB18030", 1, nullptr},
    {33, "UTF-16LE", "UTF-16LE", 2, nullptr},
    {34, "UTF-32BE", "UTF-32BE", 4, nullptr},
    {35, "UTF-32LE", "UTF-32LE", 4, nullptr},
    // ISO 646 invariant: the characters every national ASCII variant shares, read as ASCII. The twelve
    // positions the variants assign differently ('#' may be a pound sign) are no character of it.
    {170, "ISO-646-INV", "ASCII", 1, "#$@[\\]^`{|}~"},
};

const EciCharset* findCharset(int designator) {
  for (const EciCharset& charset : ECI_CHARSETS) {
    if (charset.designator == designator) return &charset;
  }
  return nullptr;
}

struct IconvCloser {
  void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

void markUnconverted(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to, MessageText* text) {
  for (std::size_t i = from; i < to; ++i) text->unconverted.push_back({i, bytes[i], text->utf8.size()});
}

// Copies the well-formed UTF-8 sequences of bytes[from, to) and reports every other byte.
void copyUtf8Run(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to, MessageText* text) {
  const std::string_view run(reinterpret_cast<const char*>(bytes.data()) + from, to - from);
  for (std::size_t at = 0; at < run.size();) {
    const std::size_t length = utf8SequenceLength(run, at);
    if (length == 0) {
      markUnconverted(bytes, from + at, from + at + 1, text);
      ++at;
    } else {
      text->utf8.append(run.substr(at, length));
      at += length;
    }
  }
}

// Converts bytes[from, to) and appends the characters to text->utf8. A refused code unit is reported
// byte by byte and conversion resumes after it; a sequence cut off by the end of the run is reported too.
void convertRun(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to, const EciCharset* charset,
                MessageText* text) {
  if (from == to) return;
  if (charset != nullptr && charset->iconvName == nullptr) {
    copyUtf8Run(bytes, from, to, text);
    return;
  }
  IconvHandle converter;
  if (charset != nullptr) {
    iconv_t opened = iconv_open("UTF-8", charset->iconvName);
    if (opened != reinterpret_cast<iconv_t>(-1)) converter.reset(opened);
  }
  if (!converter) {
    markUnconverted(bytes, from, to, text);
    return;
  }
  iconv_t handle = static_cast<iconv_t>(converter.get());
  const std::size_t unit = static_cast<std::size_t>(charset->unitSize);
  std::size_t at = from;
  char buffer[256];
  while (at < to) {
    char* input = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes.data() + at));
    std::size_t inputLeft = to - at;
    char* output = buffer;
    std::size_t outputLeft = sizeof buffer;
    const std::size_t result = iconv(handle, &input, &inputLeft, &output, &outputLeft);
    const int error = errno;
    text->utf8.append(buffer, static_cast<std::size_t>(output - buffer));
    at = to - inputLeft;
    if (result != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    iconv(handle, nullptr, nullptr, nullptr, nullptr);                             // back to the initial state
    const std::size_t skip = error == EILSEQ ? std::min(unit, to - at) : to - at;  // EINVAL: cut off
    markUnconverted(bytes, at, at + skip, text);
    at += skip;
  }
}

std::string charsetLabel(int designator) {
  const EciCharset* charset = findCharset(designator);
  return charset != nullptr ? charset->name : "ECI " + std::to_string(designator);
}

// convertRun for a set with undefined bytes: the runs between them are converted, they are reported.
void convertRunWithout(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to,
                       const EciCharset* charset, MessageText* text) {
  if (charset == nullptr || charset->undefined == nullptr) {
    convertRun(bytes, from, to, charset, text);
    return;
  }
  const std::string_view undefined(charset->undefined);
  std::size_t runStart = from;
  for (std::size_t i = from; i < to; ++i) {
    if (undefined.find(static_cast<char>(bytes[i])) == std::string_view::npos) continue;
    convertRun(bytes, runStart, i, charset, text);
    markUnconverted(bytes, i, i + 1, text);
    runStart = i + 1;
  }
  convertRun(bytes, runStart, to, charset, text);
}

void noteCharset(const std::string& name, MessageText* text) {
  if (text->charsets.empty() || text->charsets.back() != name) text->charsets.push_back(name);
}

}  // namespace

std::string eciCharsetName(int designator) {
  const EciCharset* charset = findCharset(designator);
  return charset != nullptr ? charset->name : std::string();
}

MessageText messageText(const std::vector<std::uint8_t>& bytes, const std::vector<Ecc200EciMark>& ecis) {
  MessageText text;
  std::size_t runStart = 0;
  int designator = ECI_DEFAULT;
  for (std::size_t i = 0; i <= ecis.size(); ++i) {
    const std::size_t runEnd = i < ecis.size() ? std::min(ecis[i].byteOffset, bytes.size()) : bytes.size();
    if (runEnd > runStart) {
      noteCharset(charsetLabel(designator), &text);
      convertRunWithout(bytes, runStart, runEnd, findCharset(designator), &text);
      runStart = runEnd;
    }
    if (i < ecis.size()) designator = ecis[i].designator;
  }
  if (text.charsets.empty()) noteCharset(charsetLabel(designator), &text);
  return text;
}

std::string escapedLine(const MessageText& text) {
  std::string line;
  std::size_t next = 0;  // next unconverted byte to place
  for (std::size_t i = 0; i <= text.utf8.size(); ++i) {
    while (next < text.unconverted.size() && text.unconverted[next].textOffset == i) {
      appendEscapedByte(&line, text.unconverted[next++].value);
    }
    if (i == text.utf8.size()) break;
    const unsigned char byte = static_cast<unsigned char>(text.utf8[i]);
    if (byte == '\\') {
      line += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      line += "\\u00" + hexByte(byte);
    } else if (byte == 0xC2 && i + 1 < text.utf8.size() && static_cast<unsigned char>(text.utf8[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text.utf8[i + 1]) <= 0x9F) {
      line += "\\u00" + hexByte(static_cast<unsigned char>(text.utf8[++i]));  // C1 control, U+0080-U+009F
    } else {
      line += static_cast<char>(byte);
    }
  }
  return line;
}
