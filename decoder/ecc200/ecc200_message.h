// What an ECC 200 message means beside its bytes: the function codewords the encodation carries (ECI
// designators, FNC1, structured append, reader programming, the 05/06 macros). decodeEcc200 and
// decodeEcc200Codewords give the same bytes and drop this record; the entries here keep it.
#ifndef QUARNEL_DECODER_ECC200_ECC200_MESSAGE_H_
#define QUARNEL_DECODER_ECC200_ECC200_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "decoder/ecc200/ecc200.h"

// An ECI designator and the message byte from which it applies; it holds until the next designator.
struct Ecc200EciMark {
  int designator;          // 0-999999
  std::size_t byteOffset;  // index into Ecc200Message::bytes
};

enum class Ecc200Fnc1 {
  None,
  FirstPosition,   // GS1 data: FNC1 as the first codeword of the message
  SecondPosition,  // AIM application indicator: one letter or a digit pair, then FNC1 (written as byte 29)
};

enum class Ecc200Macro { None, Macro05, Macro06 };

// Structured append header: this symbol's place in a sequence that together holds one message.
struct Ecc200StructuredAppend {
  int position;  // 1-16
  int count;     // 2-16 in a well-made sequence; the header's 4 bits allow 1-17, kept as read
  int fileId1;   // the two file identification codewords, 1-254 each; symbols of one sequence share them
  int fileId2;
};

struct Ecc200Meaning {
  std::vector<Ecc200EciMark> ecis;  // in message order
  Ecc200Fnc1 fnc1 = Ecc200Fnc1::None;
  std::optional<Ecc200StructuredAppend> structuredAppend;
  bool readerProgramming = false;
  Ecc200Macro macro = Ecc200Macro::None;
};

struct Ecc200Message {
  std::vector<std::uint8_t> bytes;  // exactly what decodeEcc200Codewords gives
  Ecc200Meaning meaning;
};

inline bool isGs1(const Ecc200Meaning& meaning) { return meaning.fnc1 == Ecc200Fnc1::FirstPosition; }

// What may follow the first pad codeword, which ends the message: only the randomised pads the standard
// prescribes (Checked), or anything (EndsAtFirstPad), for streams known to be exactly as encoded.
enum class Ecc200Padding { Checked, EndsAtFirstPad };

// decodeEcc200Codewords that also keeps the meaning. With padding Checked it accepts and refuses exactly
// the same streams.
bool decodeEcc200CodewordsWithMeaning(const std::uint8_t* data, std::size_t count, Ecc200Message* message,
                                      Ecc200Padding padding = Ecc200Padding::Checked);

// decodeEcc200WithLimits that also keeps the meaning: same symbols accepted, same bytes, same report.
bool decodeEcc200Message(const std::uint8_t* matrix, int columns, int rows, const Ecc200ReadLimits& limits,
                         Ecc200Message* message, Ecc200ReadReport* report = nullptr);

#endif  // QUARNEL_DECODER_ECC200_ECC200_MESSAGE_H_
