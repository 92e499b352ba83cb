// The counted start and stop of a capture backend, shared by the manager's constructor, destructor and
// listing: the first user starts the backend, the last one to leave stops it.
#ifndef QUARNEL_CAPTURE_BACKEND_USE_H_
#define QUARNEL_CAPTURE_BACKEND_USE_H_

#include "capture/capture_backend.h"

void comAcquire(CaptureBackend& backend);
void comRelease(CaptureBackend& backend);

// One use of the backend for as long as the guard lives: acquired when it is made, released once when it
// goes, whichever way the scope is left.
class BackendUse {
 public:
  explicit BackendUse(CaptureBackend& backend) : backend_(backend) { comAcquire(backend_); }
  ~BackendUse() { comRelease(backend_); }
  BackendUse(const BackendUse&) = delete;
  BackendUse& operator=(const BackendUse&) = delete;

 private:
  CaptureBackend& backend_;
};

#endif  // QUARNEL_CAPTURE_BACKEND_USE_H_
