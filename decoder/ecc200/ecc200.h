// ECC 200 data decoding: from the sampled module matrix of a Data Matrix symbol to its message bytes.
//
// The stages, one file each: the symbol table (sizes, data regions, block layout), the module placement
// (which modules hold which codeword bit), the Reed-Solomon correction of the interleaved blocks, and the
// encodation schemes that turn data codewords into message bytes.
#ifndef QUARNEL_DECODER_ECC200_ECC200_H_
#define QUARNEL_DECODER_ECC200_ECC200_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/ecc200/symbol_table.h"

// The 30 sizes: 24 squares from 10 x 10, then the 6 rectangles (columns x rows) 18x8 ... 48x16.
const Ecc200Symbol& ecc200SymbolAt(int index);
// The size of columns x rows, or null when no ECC 200 symbol has that size.
const Ecc200Symbol* findEcc200Symbol(int columns, int rows);

// The 18 rectangular extension sizes (columns x rows, 48x8 ... 64x26). Only reads that ask for them
// (Ecc200ReadLimits::allowDmre) accept them; decodeEcc200 keeps to the 30 sizes.
const Ecc200Symbol& ecc200DmreSymbolAt(int index);
// The size of columns x rows among the 30 sizes and, when allowDmre is set, the extension sizes.
const Ecc200Symbol* findEcc200SymbolIn(int columns, int rows, bool allowDmre);
// Data codewords of one block; in the 144 x 144 symbol the first 8 blocks hold one more than the last 2.
int ecc200BlockDataLength(const Ecc200Symbol& symbol, int block);
int ecc200BlockEccLength(const Ecc200Symbol& symbol);

// For every codeword of the symbol (data then error correction, as interleaved), the 8 module indices
// of its bits, most significant bit first. An index addresses the module matrix described at
// decodeEcc200. The list has (data + ecc) * 8 entries; it is empty for a size not in the table.
const std::vector<int>& ecc200CodewordModules(const Ecc200Symbol& symbol);
// Reads every codeword of the symbol from a module matrix (nonzero byte = dark).
std::vector<std::uint8_t> readEcc200Codewords(const std::uint8_t* matrix, const Ecc200Symbol& symbol);

// Corrects one Reed-Solomon block in place: length codewords, the last eccLength of them the check
// codewords. Returns the number of codewords corrected, or -1 when the block holds more errors than
// floor(eccLength / 2) can mend (or the correction cannot be confirmed); the block is then unchanged.
int correctReedSolomonBlock(std::uint8_t* block, int length, int eccLength);
// Corrects the full interleaved codeword stream of a symbol (data + ecc codewords) in place. False when
// any block is beyond correction; the stream is then left partly corrected and must not be used.
// When correctionsPerBlock is given it receives the number of codewords corrected in each block.
bool correctEcc200Codewords(std::vector<std::uint8_t>* codewords, const Ecc200Symbol& symbol,
                            std::vector<int>* correctionsPerBlock = nullptr);

// Turns data codewords into message bytes by the encodation schemes (ASCII, C40, Text, X12, EDIFACT,
// Base256 and the function codewords). False for an illegal codeword or a stream that ends inside a
// value; *message is then unspecified. See encodation.cpp for what counts as illegal.
bool decodeEcc200Codewords(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>* message);

// Decodes the module matrix of an upright symbol of columns x rows (one of the 30 sizes): rows - 1 rows
// of columns - 1 modules with row stride columns - 1, the top timing row and the right timing column
// left out; row 0 lies directly below the top timing row, the last row is the bottom finder row and
// column 0 the left finder column. A nonzero byte is a dark module. Returns false for anything
// unreadable (unknown size, too many errors, illegal data), never a partly decoded message.
bool decodeEcc200(const std::uint8_t* matrix, int columns, int rows, std::vector<std::uint8_t>* message);

// What a read outside the two passes may accept. A guessed grid that is slightly off still decodes when
// Reed-Solomon mends the stray modules; spending less of each block's capacity keeps wrong guesses out.
struct Ecc200ReadLimits {
  bool allowDmre = false;           // also accept the rectangular extension sizes
  double maxCorrectionShare = 1.0;  // per block: corrections <= share * floor(eccLength / 2)
  // Accept codewords other than the randomised pads after the first pad, which some encoders write, but
  // only when Reed-Solomon corrected nothing: the codewords are then the encoder's own, and the message,
  // which the first pad ends, is exactly what it encoded.
  bool anyPaddingWhenUncorrected = false;
};

// What a successful read cost.
struct Ecc200ReadReport {
  const Ecc200Symbol* symbol = nullptr;
  int mostCorrections = 0;           // most codewords corrected in one block
  double mostCorrectionShare = 0.0;  // largest share of one block's correction capacity spent
};

// decodeEcc200 under limits; report (optional) tells what the read cost. With default limits it accepts
// exactly what decodeEcc200 accepts.
bool decodeEcc200WithLimits(const std::uint8_t* matrix, int columns, int rows, const Ecc200ReadLimits& limits,
                            std::vector<std::uint8_t>* message, Ecc200ReadReport* report = nullptr);

#endif  // QUARNEL_DECODER_ECC200_ECC200_H_
