// The AIM symbology identifier a reader sends before the data, and the data as sent under the ECI
// protocol, from the meaning of a Data Matrix (ECC 200) message.
#ifndef QUARNEL_TEXT_AIM_H_
#define QUARNEL_TEXT_AIM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/ecc200/ecc200_message.h"

// "]d1" plain, "]d2" GS1 (FNC1 first), "]d3" AIM application indicator (FNC1 second); with ECI
// designators in the message "]d4", "]d5" and "]d6" respectively.
std::string aimSymbologyIdentifier(const Ecc200Meaning& meaning);

// The message as the ECI protocol transmits it, for the identifiers "]d4"-"]d6": each designator as a
// backslash and six digits where it applies, and each backslash of the data doubled. A message without
// designators is returned unchanged.
std::vector<std::uint8_t> eciProtocolBytes(const Ecc200Message& message);

#endif  // QUARNEL_TEXT_AIM_H_
