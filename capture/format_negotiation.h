// Choosing a device's capture format: the requested size over the preference list of subtypes, then
// the closest size the device offers, then its default format with the requested frame time.
#ifndef QUARNEL_CAPTURE_FORMAT_NEGOTIATION_H_
#define QUARNEL_CAPTURE_FORMAT_NEGOTIATION_H_

#include <cstdint>
#include <optional>

#include "capture/capture_backend.h"
#include "capture/capture_device.h"

struct SizeChoice {
  std::int32_t width = 0;
  std::int32_t height = 0;
  MediaSubtype subtype{};
};

// Asks the device for width x height in subtype (with the record's frame time, if any). On refusal
// the format read just before is put back and the answer is false.
bool trySizeAndSubtype(CaptureGraph& graph, const CaptureDevice& record, std::int32_t width,
                       std::int32_t height, const MediaSubtype& subtype);

// The capability list's size nearest to the wanted one: an exact match in both directions ends the
// search; otherwise the least sum of distances, ties to the smaller size and the earlier capability.
// None when the list's records are not the expected size or no capability is usable.
std::optional<SizeChoice> findClosestFormat(CaptureGraph& graph, std::int32_t wantWidth, std::int32_t wantHeight);

// Settles the format of a record whose mediaType holds the stream's current format and answers the
// frame size to use.
SizeChoice chooseCaptureFormat(CaptureGraph& graph, CaptureDevice& record);

#endif  // QUARNEL_CAPTURE_FORMAT_NEGOTIATION_H_
