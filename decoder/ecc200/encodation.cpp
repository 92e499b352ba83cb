// Encodation schemes: data codewords to message bytes.
//
// What makes a stream illegal (the symbol is then unreadable, never partly decoded):
//  ASCII    codeword 0 and the unused values 242-255; 254 outside C40/Text/X12; an upper shift (235)
//           not followed by an ASCII data codeword (1-128) or at the end of the data; structured append
//           (233) or reader programming (234) anywhere but the first codeword; a 05/06 macro (236, 237)
//           anywhere but the first codeword of the message (after a structured append header, if
//           any); an ECI designator that is cut short, uses 0 or 255, or exceeds 999999; after the first
//           pad (129), any codeword that is not the randomised pad of its position.
//  C40/Text a codeword pair above 64000 (three values of 0-39 reach at most 64000); a shifted value the
//           shift set does not define (Shift 1 above 31, Shift 2 values 28, 29 and 31-39, Shift 3 above
//           31); an upper shift followed by FNC1 or another upper shift; a Shift 2, Shift 3 or upper
//           shift still waiting when the data ends. A Shift 1 left at the end is the standard's
//           filler for a pair's unused third value and is ignored; so is any shift left waiting when
//           the encoder closes the segment (an unlatch, or a last codeword in ASCII), as some encoders
//           begin a shifted character there and then write it in ASCII after the unlatch.
//  X12      a codeword pair above 64000.
//  EDIFACT  no value is illegal; a group is 3 codewords, and fewer than 3 left at a group boundary are
//           ASCII (the unlatch may be left out there).
//  Base256  a length field or a field length that runs past the end of the data.
#include <cstddef>
#include <utility>

#include "decoder/ecc200/ecc200.h"
#include "decoder/ecc200/ecc200_message.h"

namespace {

constexpr std::uint8_t CW_PAD = 129;
constexpr std::uint8_t CW_LATCH_C40 = 230;
constexpr std::uint8_t CW_LATCH_BASE256 = 231;
constexpr std::uint8_t CW_FNC1 = 232;
constexpr std::uint8_t CW_STRUCTURED_APPEND = 233;
constexpr std::uint8_t CW_READER_PROGRAMMING = 234;
constexpr std::uint8_t CW_UPPER_SHIFT = 235;
constexpr std::uint8_t CW_MACRO_05 = 236;
constexpr std::uint8_t CW_MACRO_06 = 237;
constexpr std::uint8_t CW_LATCH_X12 = 238;
constexpr std::uint8_t CW_LATCH_TEXT = 239;
constexpr std::uint8_t CW_LATCH_EDIFACT = 240;
constexpr std::uint8_t CW_ECI = 241;
constexpr std::uint8_t CW_UNLATCH = 254;  // C40, Text and X12 back to ASCII

constexpr std::uint8_t BYTE_GROUP_SEPARATOR = 29;
constexpr std::uint8_t BYTE_RECORD_SEPARATOR = 30;
constexpr std::uint8_t BYTE_END_OF_TRANSMISSION = 4;
constexpr int ECI_MAX = 999999;
constexpr int EDIFACT_UNLATCH = 31;

struct Stream {
  const std::uint8_t* data;
  std::size_t count;
  std::size_t pos;
  std::size_t messageStart;  // first codeword after any structured append header
  std::vector<std::uint8_t>* out;
  bool macro;  // a 05/06 macro header was written; its trailer closes the message
  Ecc200Meaning* meaning;  // null when the caller wants the bytes alone
  Ecc200Padding padding;
};

std::size_t remaining(const Stream& stream) { return stream.count - stream.pos; }

void put(Stream& stream, int byte) { stream.out->push_back(static_cast<std::uint8_t>(byte)); }

// Pads after the first are scrambled by the 253-state algorithm of their 1-based position.
std::uint8_t randomisedPad(std::size_t position) {
  const int value = CW_PAD + static_cast<int>((149 * position) % 253) + 1;
  return static_cast<std::uint8_t>(value <= 254 ? value : value - 254);
}

// Base256 codewords are scrambled by the 255-state algorithm of their 1-based position.
int unrandomise255(std::uint8_t codeword, std::size_t position) {
  const int pseudoRandom = static_cast<int>((149 * position) % 255) + 1;
  const int value = codeword - pseudoRandom;
  return value >= 0 ? value : value + 256;
}

// The first pad ends the message; what follows must be nothing but randomised pads.
bool checkPadding(const Stream& stream) {
  if (stream.padding == Ecc200Padding::EndsAtFirstPad) return true;
  for (std::size_t i = stream.pos; i < stream.count; ++i) {
    if (stream.data[i] != randomisedPad(i + 1)) return false;
  }
  return true;
}

// Splits a C40/Text/X12 codeword pair into its three values; false for pairs no triple encodes.
bool unpackTriple(std::uint8_t first, std::uint8_t second, int* values) {
  const int packed = first * 256 + second - 1;
  if (packed < 0 || packed >= 64000) return false;
  values[0] = packed / 1600;
  values[1] = packed / 40 % 40;
  values[2] = packed % 40;
  return true;
}

enum class SegmentEnd { Continues, Closed, DataEnds };

// A C40/Text/X12 segment is closed by an unlatch (consumed) or by a single codeword left, which the
// standard leaves in ASCII without an unlatch; or it simply runs to the end of the data.
SegmentEnd tripleSegmentEnd(Stream& stream) {
  if (remaining(stream) >= 1 && stream.data[stream.pos] == CW_UNLATCH) {
    ++stream.pos;
    return SegmentEnd::Closed;
  }
  if (remaining(stream) == 1) return SegmentEnd::Closed;
  return remaining(stream) == 0 ? SegmentEnd::DataEnds : SegmentEnd::Continues;
}

// What one C40/Text value stands for in the set it is read in.
enum class ValueKind { Character, Shift, UpperShift, Fnc1, Illegal };
struct TripleValue {
  ValueKind kind;
  int code;  // the character, or for a shift the set (1-3) it shifts to
};

// The C40 and Text sets share everything but the basic letters and Shift 3.
TripleValue readC40TextValue(int set, int value, bool textSet) {
  switch (set) {
    case 0:
      if (value <= 2) return {ValueKind::Shift, value + 1};
      if (value == 3) return {ValueKind::Character, ' '};
      if (value <= 13) return {ValueKind::Character, '0' + value - 4};
      return {ValueKind::Character, (textSet ? 'a' : 'A') + value - 14};
    case 1:
      return value <= 31 ? TripleValue{ValueKind::Character, value} : TripleValue{ValueKind::Illegal, 0};
    case 2:
      if (value <= 14) return {ValueKind::Character, '!' + value};
      if (value <= 21) return {ValueKind::Character, ':' + value - 15};
      if (value <= 26) return {ValueKind::Character, '[' + value - 22};
      if (value == 27) return {ValueKind::Fnc1, 0};
      if (value == 30) return {ValueKind::UpperShift, 0};
      return {ValueKind::Illegal, 0};
    default:
      if (value > 31) return {ValueKind::Illegal, 0};
      if (!textSet) return {ValueKind::Character, 96 + value};
      if (value == 0) return {ValueKind::Character, '`'};
      if (value <= 26) return {ValueKind::Character, 'A' + value - 1};
      return {ValueKind::Character, '{' + value - 27};
  }
}

bool decodeC40Text(Stream& stream, bool textSet) {
  int shiftSet = 0;  // 0 basic, 1..3 the set the previous value shifted to
  bool upperShift = false;
  SegmentEnd end = SegmentEnd::Continues;
  while ((end = tripleSegmentEnd(stream)) == SegmentEnd::Continues) {
    int values[3];
    if (!unpackTriple(stream.data[stream.pos], stream.data[stream.pos + 1], values)) return false;
    stream.pos += 2;
    for (int value : values) {
      const TripleValue meaning = readC40TextValue(shiftSet, value, textSet);
      shiftSet = 0;
      switch (meaning.kind) {
        case ValueKind::Shift:
          shiftSet = meaning.code;
          break;
        case ValueKind::UpperShift:
          if (upperShift) return false;
          upperShift = true;
          break;
        case ValueKind::Fnc1:
          if (upperShift) return false;
          put(stream, BYTE_GROUP_SEPARATOR);
          break;
        case ValueKind::Character:
          put(stream, upperShift ? meaning.code + 128 : meaning.code);
          upperShift = false;
          break;
        case ValueKind::Illegal:
          return false;
      }
    }
  }
  const bool valueWaiting = upperShift || shiftSet > 1;
  return !valueWaiting || end == SegmentEnd::Closed;
}

bool decodeX12(Stream& stream) {
  while (tripleSegmentEnd(stream) == SegmentEnd::Continues) {
    int values[3];
    if (!unpackTriple(stream.data[stream.pos], stream.data[stream.pos + 1], values)) return false;
    stream.pos += 2;
    for (int value : values) {
      if (value == 0) {
        put(stream, '\r');
      } else if (value == 1) {
        put(stream, '*');
      } else if (value == 2) {
        put(stream, '>');
      } else if (value == 3) {
        put(stream, ' ');
      } else if (value <= 13) {
        put(stream, '0' + value - 4);
      } else {
        put(stream, 'A' + value - 14);
      }
    }
  }
  return true;
}

// Four 6-bit values in three codewords. After an unlatch the rest of its codeword is filler and ASCII
// resumes at the next codeword.
bool decodeEdifact(Stream& stream) {
  while (remaining(stream) >= 3) {
    const std::uint32_t bits = (static_cast<std::uint32_t>(stream.data[stream.pos]) << 16) |
                               (static_cast<std::uint32_t>(stream.data[stream.pos + 1]) << 8) |
                               stream.data[stream.pos + 2];
    for (int k = 0; k < 4; ++k) {
      const int value = static_cast<int>((bits >> (18 - 6 * k)) & 0x3F);
      if (value == EDIFACT_UNLATCH) {
        stream.pos += static_cast<std::size_t>((6 * (k + 1) + 7) / 8);
        return true;
      }
      // Values 0-30 stand for ASCII 64-94, values 32-63 for themselves.
      put(stream, (value & 0x20) != 0 ? value : value | 0x40);
    }
    stream.pos += 3;
  }
  return true;
}

bool decodeBase256(Stream& stream) {
  if (remaining(stream) < 1) return false;
  const int first = unrandomise255(stream.data[stream.pos], stream.pos + 1);
  ++stream.pos;
  std::size_t length = 0;
  if (first == 0) {
    length = remaining(stream);  // the field runs to the end of the data
  } else if (first < 250) {
    length = static_cast<std::size_t>(first);
  } else {
    if (remaining(stream) < 1) return false;
    const int second = unrandomise255(stream.data[stream.pos], stream.pos + 1);
    ++stream.pos;
    length = static_cast<std::size_t>(250 * (first - 249) + second);
  }
  if (length > remaining(stream)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    put(stream, unrandomise255(stream.data[stream.pos], stream.pos + 1));
    ++stream.pos;
  }
  return true;
}

// Always true, so a designator's check and its note read as one condition.
bool noteEci(Stream& stream, int designator) {
  if (stream.meaning != nullptr) stream.meaning->ecis.push_back({designator, stream.out->size()});
  return true;
}

// The designator only selects how the following bytes are to be read; they are passed on unchanged,
// and the designator is noted with the offset of the first byte it applies to.
bool readEciDesignator(Stream& stream) {
  if (remaining(stream) < 1) return false;
  const int first = stream.data[stream.pos++];
  if (first == 0 || first == 255) return false;
  if (first <= 127) return noteEci(stream, first - 1);
  const std::size_t more = first <= 191 ? 1 : 2;
  if (remaining(stream) < more) return false;
  int designator = 0;
  for (std::size_t i = 0; i < more; ++i) {
    const int next = stream.data[stream.pos++];
    if (next == 0 || next == 255) return false;
    designator = designator * 254 + next - 1;
  }
  designator += first <= 191 ? (first - 128) * 254 + 127 : (first - 192) * 64516 + 16383;
  return designator <= ECI_MAX && noteEci(stream, designator);
}

void putMacroHeader(Stream& stream, std::uint8_t macro) {
  for (int byte : {int{'['}, int{')'}, int{'>'}, int{BYTE_RECORD_SEPARATOR}, int{'0'}}) put(stream, byte);
  put(stream, macro == CW_MACRO_05 ? '5' : '6');
  put(stream, BYTE_GROUP_SEPARATOR);
  stream.macro = true;
  if (stream.meaning != nullptr) {
    stream.meaning->macro = macro == CW_MACRO_05 ? Ecc200Macro::Macro05 : Ecc200Macro::Macro06;
  }
}

// An AIM application indicator is one letter or one digit pair, in a single ASCII codeword.
bool isApplicationIndicator(std::uint8_t codeword) {
  const int value = codeword - 1;
  return (value >= 'A' && value <= 'Z') || (value >= 'a' && value <= 'z') || (codeword >= 130 && codeword <= 229);
}

// FNC1 first marks GS1 data; FNC1 right after an application indicator marks AIM-registered data.
void noteFnc1(Stream& stream, std::size_t at) {
  if (stream.meaning == nullptr || stream.meaning->fnc1 != Ecc200Fnc1::None) return;
  if (at == stream.messageStart) {
    stream.meaning->fnc1 = Ecc200Fnc1::FirstPosition;
  } else if (at == stream.messageStart + 1 && isApplicationIndicator(stream.data[stream.messageStart])) {
    stream.meaning->fnc1 = Ecc200Fnc1::SecondPosition;
  }
}

// The sequence indicator holds the position less one in its upper 4 bits and 17 less the symbol count
// in its lower 4; two file identification codewords follow.
void noteStructuredAppend(Stream& stream) {
  if (stream.meaning == nullptr) return;
  const int sequence = stream.data[stream.pos];
  stream.meaning->structuredAppend =
      Ecc200StructuredAppend{(sequence >> 4) + 1, 17 - (sequence & 0x0F), stream.data[stream.pos + 1],
                             stream.data[stream.pos + 2]};
}

bool decodeAscii(Stream& stream) {
  while (stream.pos < stream.count) {
    const std::size_t at = stream.pos;
    const std::uint8_t codeword = stream.data[stream.pos++];
    bool segmentOk = true;
    if (codeword >= 1 && codeword <= 128) {
      put(stream, codeword - 1);
    } else if (codeword == CW_PAD) {
      return checkPadding(stream);
    } else if (codeword >= 130 && codeword <= 229) {
      put(stream, '0' + (codeword - 130) / 10);
      put(stream, '0' + (codeword - 130) % 10);
    } else if (codeword == CW_LATCH_C40 || codeword == CW_LATCH_TEXT) {
      segmentOk = decodeC40Text(stream, codeword == CW_LATCH_TEXT);
    } else if (codeword == CW_LATCH_X12) {
      segmentOk = decodeX12(stream);
    } else if (codeword == CW_LATCH_EDIFACT) {
      segmentOk = decodeEdifact(stream);
    } else if (codeword == CW_LATCH_BASE256) {
      segmentOk = decodeBase256(stream);
    } else if (codeword == CW_FNC1) {
      // A leading FNC1 only flags the data as GS1; elsewhere it separates fields.
      noteFnc1(stream, at);
      if (at != stream.messageStart) put(stream, BYTE_GROUP_SEPARATOR);
    } else if (codeword == CW_UPPER_SHIFT) {
      if (remaining(stream) < 1) return false;
      const std::uint8_t next = stream.data[stream.pos++];
      if (next < 1 || next > 128) return false;
      put(stream, next - 1 + 128);
    } else if (codeword == CW_STRUCTURED_APPEND) {
      // Sequence indicator and two file identification codewords; they place this symbol among
      // others and are not part of its message.
      if (at != 0 || remaining(stream) < 3) return false;
      noteStructuredAppend(stream);
      stream.pos += 3;
      stream.messageStart = stream.pos;
    } else if (codeword == CW_READER_PROGRAMMING) {
      if (at != 0) return false;
      if (stream.meaning != nullptr) stream.meaning->readerProgramming = true;
    } else if (codeword == CW_MACRO_05 || codeword == CW_MACRO_06) {
      if (at != stream.messageStart) return false;
      putMacroHeader(stream, codeword);
    } else if (codeword == CW_ECI) {
      segmentOk = readEciDesignator(stream);
    } else {
      return false;  // 0, 242-255
    }
    if (!segmentOk) return false;
  }
  return true;
}

bool decodeStream(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>* message,
                  Ecc200Meaning* meaning, Ecc200Padding padding) {
  if (message == nullptr || (data == nullptr && count > 0)) return false;
  message->clear();
  Stream stream{data, count, 0, 0, message, false, meaning, padding};
  if (!decodeAscii(stream)) return false;
  if (stream.macro) {
    put(stream, BYTE_RECORD_SEPARATOR);
    put(stream, BYTE_END_OF_TRANSMISSION);
  }
  return true;
}

}  // namespace

bool decodeEcc200Codewords(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>* message) {
  return decodeStream(data, count, message, nullptr, Ecc200Padding::Checked);
}

bool decodeEcc200CodewordsWithMeaning(const std::uint8_t* data, std::size_t count, Ecc200Message* message,
                                      Ecc200Padding padding) {
  if (message == nullptr) return false;
  Ecc200Message decoded;
  if (!decodeStream(data, count, &decoded.bytes, &decoded.meaning, padding)) return false;
  *message = std::move(decoded);
  return true;
}
