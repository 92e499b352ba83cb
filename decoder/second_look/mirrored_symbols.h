// Mirrored symbols: printed on the back of a clear label, seen through glass or film, or in a mirrored
// camera picture. The finder L of a mirror image turns the other way; the second look's orientation takes
// its vertical leg for the horizontal one, so what it samples is the true module matrix reflected about
// the diagonal from the L vertex to the timing corner, with columns and rows exchanged. The finder L and
// both timing edges map onto themselves under that reflection, so the guards measured on the sampled
// matrix hold for the true one.
#ifndef QUARNEL_DECODER_SECOND_LOOK_MIRRORED_SYMBOLS_H_
#define QUARNEL_DECODER_SECOND_LOOK_MIRRORED_SYMBOLS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/ecc200/ecc200_message.h"
#include "decoder/ecc200/symbol_table.h"
#include "decoder/second_look/pass_leftovers.h"
#include "decoder/symbol_decoder.h"

// Reflects an upright module matrix of a columns x rows symbol (rows - 1 by columns - 1, as decodeEcc200
// takes it) about its L-vertex diagonal into *mirrored, which then holds the matrix of a rows x columns
// symbol (columns - 1 by rows - 1).
void mirrorModuleMatrix(const std::uint8_t* matrix, int columns, int rows, std::uint8_t* mirrored);

// The size a mirror image of a `size` symbol shows to the sampling: columns and rows exchanged, and the
// data regions' counts with them. Only a rectangle's differs from its own.
Ecc200Symbol mirroredSize(const Ecc200Symbol& size);

// Which way round a sampled matrix read.
enum class MatrixSide { Front, Mirrored };

// Reads a sampled columns x rows matrix as it is, else as a mirror image. decode(matrix, columns, rows) is
// the read with all its guards; *side tells which way it read.
template <typename Decode>
bool readEitherSide(const std::uint8_t* matrix, int columns, int rows, Decode decode, MatrixSide* side) {
  if (decode(matrix, columns, rows)) {
    *side = MatrixSide::Front;
    return true;
  }
  if (columns < 2 || rows < 2) return false;
  std::vector<std::uint8_t> mirrored(static_cast<std::size_t>(columns - 1) * (rows - 1));
  mirrorModuleMatrix(matrix, columns, rows, mirrored.data());
  if (!decode(mirrored.data(), rows, columns)) return false;
  *side = MatrixSide::Mirrored;
  return true;
}

// readEitherSide under decodeGuarded, the second look's own guards.
bool decodeEitherSide(const std::uint8_t* matrix, int columns, int rows, Ecc200Message* message, MatrixSide* side);

// Candidates from the outlines the passes put through the finder test in vain, put through it once more
// as their mirror images and mirrored back. The test's corner estimate is not symmetric (its left and top
// anchors are the image's edges, and ties go by the order of the polygon's vertices, which a mirror image
// reverses), so the L of a mirrored symbol may fail where the same L seen from the front passes. Each
// candidate keeps the outline's own polygon.
std::vector<SymbolCandidate> findMirroredFinderCandidates(PassLeftovers* pass);

#endif  // QUARNEL_DECODER_SECOND_LOOK_MIRRORED_SYMBOLS_H_
