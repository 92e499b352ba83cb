// Test-only: the emulated camera's driver: its two nodes, their open descriptors, the device's format,
// frame interval and buffer queue, the frame clock and the unplug schedule. All state sits behind one
// lock; every function here may be called from any thread. Errors are answered as negative errno values.
#ifndef QUARNEL_TESTS_FAKECAM_FAKE_DRIVER_H_
#define QUARNEL_TESTS_FAKECAM_FAKE_DRIVER_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/fakecam/fake_camera.h"

constexpr int FAKECAM_NODE_COUNT = 2;  // capture node, metadata node

// The node a path names (0 capture, 1 metadata) or -1; the path must be /dev/video<N> exactly.
int fakeNodeForPath(const char* path);
// The node's name in /dev ("video0"), or empty.
std::string fakeNodeName(int node);
// Whether the node is in /dev now (not while unplugged).
bool fakeNodePresent(int node);
// The device number the node reports through stat.
dev_t fakeNodeDevice(int node);

// Descriptors: fd is a placeholder descriptor of the caller's; the driver answers for it until closed.
void fakeAttachHandle(int fd, int node, bool nonBlocking);
bool fakeIsHandle(int fd);
int fakeHandleNode(int fd);  // -1 when fd is not one of the camera's
void fakeDetachHandle(int fd);
// True when any descriptor or mapping of the camera is live: callers skip their lookups otherwise.
bool fakeHasHandles();
bool fakeHasMappings();

int fakeIoctl(int fd, unsigned long request, void* argument);

// poll: the events of fd among requested, and how long until they may change (for the caller's wait).
short fakePollEvents(int fd, short requested, std::chrono::milliseconds& untilChange);

// mmap of a buffer of the queue; MAP_FAILED with error set when refused.
void* fakeMapBuffer(int fd, void* address, std::size_t length, int protection, int flags, off_t offset, int& error);
// Forgets a mapping made by fakeMapBuffer; the caller unmaps it.
void fakeForgetMapping(void* address, std::size_t length);

int fakeReconfigure();
void fakeReadStats(FakecamStats& stats);

#endif  // QUARNEL_TESTS_FAKECAM_FAKE_DRIVER_H_
