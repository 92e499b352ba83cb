// Mirrored symbols: printed on the back of a clear label, seen through glass or film, or in a mirrored
// camera picture. The finder L of a mirror image turns the other way; the second look's orientation takes
// its vertical leg for the horizontal one, so what it samples is the true module matrix reflected about
// the diagonal from the L vertex to the timing corner, with columns and rows exchanged. The finder L and
// both timing edges map onto themselves under that reflection, so the guards measured on the sampled
// matrix hold for the true one.
#ifndef QUARNEL_DECODER_SECOND_LOOK_MIRRORED_SYMBOLS_H_
#define QUARNEL_DECODER_SECOND_LOOK_MIRRORED_SYMBOLS_H_

#include <cstdint>

#include "decoder/ecc200/ecc200_message.h"

// Reflects an upright module matrix of a columns x rows symbol (rows - 1 by columns - 1, as decodeEcc200
// takes it) about its L-vertex diagonal into *mirrored, which then holds the matrix of a rows x columns
// symbol (columns - 1 by rows - 1).
void mirrorModuleMatrix(const std::uint8_t* matrix, int columns, int rows, std::uint8_t* mirrored);

// Which way round a sampled matrix read.
enum class MatrixSide { Front, Mirrored };

// decodeGuarded on the matrix as sampled, then on its mirror image as a rows x columns symbol. True, with
// *side telling which read, only for a guarded read.
bool decodeEitherSide(const std::uint8_t* matrix, int columns, int rows, Ecc200Message* message, MatrixSide* side);

#endif  // QUARNEL_DECODER_SECOND_LOOK_MIRRORED_SYMBOLS_H_
