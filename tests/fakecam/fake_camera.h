// Test-only: an emulated V4L2 camera in user space. Loaded with LD_PRELOAD (libquarnel_fakecam.so), it
// makes two video nodes appear in /dev and answers the C library calls a V4L2 program makes on them, the
// way a UVC driver does; every other path and descriptor goes to the C library unchanged.
//
//   /dev/video0   the capture node, card "Quarnel emulated camera"
//   /dev/video1   its metadata node (metadata capture only, as UVC cameras have)
//
// Calls answered for these nodes: opendir/readdir/readdir64/closedir of /dev, stat/lstat/fstat/fstatat
// (and their 64-bit and __xstat forms), open/open64/openat/openat64 (and their _2 forms), ioctl,
// mmap/mmap64/munmap, poll, read and close.
//
// The camera is set by environment variables, read when the library is first used (and again by
// fakecamReconfigure):
//
//   QUARNEL_FAKECAM_PICTURES  picture files separated by ':', shown in turn, the list starting again after
//                             the last. A picture of another size than the frame is scaled to fit, keeping
//                             its aspect, centred on mid-grey. Unset or unreadable: mid-grey frames.
//   QUARNEL_FAKECAM_REPEAT    frames each picture is shown (default 30).
//   QUARNEL_FAKECAM_FORMAT    pixel formats offered, comma-separated four-character codes; the first is the
//                             default format (default YUYV). Codes: YUYV YVYU UYVY NV12 NV21 YU12 YV12
//                             GREY MJPG JPEG BGR3 RGB3 BGR4 XR24 AR24 RGBP RGBO XR15 AR15, and Y16, which
//                             the program cannot convert. MJPG and JPEG frames carry no Huffman tables.
//   QUARNEL_FAKECAM_SIZE      default frame size WxH (default 640x480).
//   QUARNEL_FAKECAM_SIZES     frame sizes offered: WxH,WxH,... (discrete; the default size is always
//                             offered, listed first), or stepwise:MINWxMINH-MAXWxMAXH/STEPWxSTEPH. Default:
//                             the default size, then 320x240, 640x480 and 1280x720. A request for another
//                             size gets the nearest offered one, as drivers do.
//   QUARNEL_FAKECAM_FPS       default frame rate (default 30); 5, 15 and 30 are offered besides. Frames are
//                             paced in real time from STREAMON; frames due while no buffer is queued are
//                             dropped.
//   QUARNEL_FAKECAM_PADDING   bytes added to every row (bytesperline above the packed row; default 0).
//   QUARNEL_FAKECAM_UNPLUG    AFTER_FRAMES:DOWN_MS, e.g. 90:3000: after AFTER_FRAMES frames streamed since
//                             the camera appeared it is unplugged: both nodes vanish from /dev for DOWN_MS
//                             milliseconds, every descriptor opened before answers ENODEV and polls
//                             POLLERR|POLLHUP, then the nodes come back (at their default format) and the
//                             count starts again. Unset: never unplugged.
//
// Driver behaviour: QUERYCAP with device_caps; ENUM_FMT, ENUM_FRAMESIZES, ENUM_FRAMEINTERVALS; G_FMT,
// TRY_FMT and S_FMT (an unsupported format is replaced by the default one, a size by the nearest offered);
// G_PARM and S_PARM (nearest offered interval); REQBUFS (1 to 8 MMAP buffers, 0 frees), QUERYBUF, QBUF,
// DQBUF with the buffers handed back in the order they were queued, STREAMON, STREAMOFF. Format and
// buffers belong to the device: while one descriptor holds buffers, S_FMT, REQBUFS and STREAMON from any
// other answer EBUSY. read() answers EINVAL (streaming I/O only).
#ifndef QUARNEL_TESTS_FAKECAM_FAKE_CAMERA_H_
#define QUARNEL_TESTS_FAKECAM_FAKE_CAMERA_H_

#include <cstdint>

// What the camera has seen, for tests; read with fakecamStats.
struct FakecamStats {
  std::uint64_t framesDelivered = 0;  // frames handed out by DQBUF
  std::uint64_t framesDropped = 0;    // frames due while no buffer was queued
  std::uint32_t openHandles = 0;      // descriptors of the nodes still open
  std::uint32_t liveMappings = 0;     // buffer mappings not yet unmapped
  std::uint32_t buffersAllocated = 0; // buffers of the device's queue (0 once freed)
  std::uint32_t distinctBuffersDequeued = 0;  // buffer indexes handed out at least once since REQBUFS
  std::uint32_t misuses = 0;          // calls refused with EINVAL (a buffer queued twice, a bad index, ...)
  std::uint32_t busyAnswers = 0;      // calls refused with EBUSY
  std::uint32_t unplugs = 0;          // times the camera vanished
  std::uint32_t frameIntervalNumerator = 0;  // the device's frame interval, in seconds
  std::uint32_t frameIntervalDenominator = 0;
  bool streaming = false;
};

extern "C" {
// Reads the environment again and puts the camera back to its defaults. -1 while a node is open.
int fakecamReconfigure();
void fakecamStats(FakecamStats* stats);
}

#endif  // QUARNEL_TESTS_FAKECAM_FAKE_CAMERA_H_
