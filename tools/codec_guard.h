// The image codecs' guard: while they run, standard error is muted (they write their own complaints
// there; the command reports failures itself) and image buffers beyond a limit are refused before they
// are allocated. Both settings belong to the whole process, so they are shared by every thread that
// runs a codec at the same moment: the first one in sets them up and the last one out puts them back.
#ifndef QUARNEL_TOOLS_CODEC_GUARD_H_
#define QUARNEL_TOOLS_CODEC_GUARD_H_

#include <functional>

#include <opencv2/core.hpp>

// Runs `decode` under the guard and returns its picture. *refused tells whether a buffer of more than
// `maxBytes` was asked for on this thread (the request failed with std::bad_alloc, which `decode` may
// have caught). `beforeBuffer`, when set, is called on this thread with the pixels of every image buffer
// within the limit that the codec asks for, before it is allocated, and may wait there. Any number of
// threads may run codecs at once.
cv::Mat runGuardedCodec(double maxBytes, const std::function<cv::Mat()>& decode,
                        const std::function<void(double pixels)>& beforeBuffer, bool* refused);

// Runs `write` at a moment when no codec runs, so what it writes to standard error is not muted. While
// a write waits, no new codec run starts, so messages are never held back for long.
void writeWhileCodecsQuiet(const std::function<void()>& write);

#endif  // QUARNEL_TOOLS_CODEC_GUARD_H_
