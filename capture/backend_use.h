// The counted start and stop of a capture backend, shared by the manager's constructor, destructor and
// listing: the first user starts the backend, the last one to leave stops it.
#ifndef QUARNEL_CAPTURE_BACKEND_USE_H_
#define QUARNEL_CAPTURE_BACKEND_USE_H_

#include "capture/capture_backend.h"

void comAcquire(CaptureBackend& backend);
void comRelease(CaptureBackend& backend);

#endif  // QUARNEL_CAPTURE_BACKEND_USE_H_
