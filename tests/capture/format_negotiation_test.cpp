// Format negotiation: the subtype loop, the closest-size search and the default format with frame time.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/capture_manager.h"
#include "capture/format_negotiation.h"
#include "tests/capture/scripted_backend.h"
#include "tests/support/standard_output.h"

namespace capturetest {

using testsupport::stdoutOf;
namespace {

const MediaSubtype YUY2 = fourccSubtype(0x32595559);
const MediaSubtype MJPG = fourccSubtype(0x47504A4D);

// A 1280 x 720 RGB24 camera that also takes exactly the formats listed.
ScriptedDevice cameraTaking(std::vector<VideoFormat> taken) {
  ScriptedDevice device = namedDevice("Cam A");
  device.defaultFormat = VideoFormat{1280, 720, SUBTYPE_RGB24, 333333, 0};
  device.accepts = [taken](const VideoFormat& format) {
    if (format.width == 1280 && format.height == 720 && format.subtype == SUBTYPE_RGB24) return true;
    for (const VideoFormat& one : taken) {
      if (one.width == format.width && one.height == format.height && one.subtype == format.subtype) return true;
    }
    return false;
  };
  return device;
}

struct Opened {
  std::string printed;
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<std::string> calls;
};

// Opens device 0 at the requested size (none when width is 0) with an optional frame rate.
Opened openWith(const ScriptedDevice& device, int width, int height, int fps = 0) {
  ScriptedBackend backend;
  backend.devices = {device};
  std::unique_ptr<CaptureManager> capture;
  stdoutOf([&] { capture = std::make_unique<CaptureManager>(backend); });
  capture->setRequestedFrameRate(0, fps);
  Opened result;
  result.printed = stdoutOf([&] { result.ok = width > 0 ? capture->openDevice(0, width, height) : capture->openDevice(0); });
  result.width = capture->frameWidth(0);
  result.height = capture->frameHeight(0);
  result.calls = backend.calls;
  stdoutOf([&] { capture.reset(); });
  return result;
}

std::string tried(const std::vector<std::string>& names, int width, int height) {
  std::string lines;
  for (const std::string& name : names) {
    lines += "SETUP: trying format " + name + " @ " + std::to_string(width) + " by " + std::to_string(height) + "\n";
  }
  return lines;
}

const std::vector<std::string> ALL_SUBTYPES = {"RGB24", "RGB32", "RGB555", "RGB565", "YUY2", "YVYU",
                                               "YUYV",  "IYUV",  "UYVY",   "YV12",   "YVU9", "Y411",
                                               "Y41P",  "Y211",  "AYUV",   "Y800",   "Y8",   "GREY"};

TEST(SubtypeLoop, StopsAtTheFirstSubtypeTheDeviceTakes) {
  struct Case {
    MediaSubtype taken;
    std::vector<std::string> triedNames;
  };
  for (const Case& row : {Case{SUBTYPE_RGB24, {"RGB24"}}, Case{YUY2, {"RGB24", "RGB32", "RGB555", "RGB565", "YUY2"}}}) {
    SCOPED_TRACE(row.triedNames.back());
    const Opened opened = openWith(cameraTaking({VideoFormat{640, 480, row.taken, 0, 0}}), 640, 480);
    EXPECT_TRUE(opened.ok);
    EXPECT_EQ(opened.printed, "SETUP: Setting up device 0\nSETUP: Cam A\nSETUP: Default Format is set to 1280 by 720 \n" +
                                  tried(row.triedNames, 640, 480) +
                                  "SETUP: Capture callback set\nSETUP: Device is setup and ready to capture.\n\n");
    EXPECT_EQ(opened.width, 640);
    EXPECT_EQ(opened.height, 480);
  }
}

TEST(SubtypeLoop, RefusedFormatIsFollowedByTheFormatReadBefore) {
  const Opened opened = openWith(cameraTaking({VideoFormat{640, 480, YUY2, 0, 0}}), 640, 480, 15);
  const std::vector<std::string> expected = {
      "setFormat RGB24 640x480 @666666", "setFormat RGB24 1280x720 @333333",  // refused, then put back
      "setFormat RGB32 640x480 @666666", "setFormat RGB24 1280x720 @333333",
      "setFormat RGB555 640x480 @666666", "setFormat RGB24 1280x720 @333333",
      "setFormat RGB565 640x480 @666666", "setFormat RGB24 1280x720 @333333",
      "setFormat YUY2 640x480 @666666",  // taken, with the frame time
  };
  std::vector<std::string> formats;
  for (const std::string& call : opened.calls) {
    if (call.rfind("setFormat", 0) == 0) formats.push_back(call);
  }
  EXPECT_EQ(formats, expected);
}

TEST(SubtypeLoop, ClosestSupportedSizeWhenNoSubtypeTakesTheRequestedSize) {
  ScriptedDevice device = cameraTaking({VideoFormat{640, 480, YUY2, 0, 0}});
  device.caps = {StreamCaps{160, 120, 1280, 960, 160, 120, YUY2}};
  const Opened opened = openWith(device, 720, 480);
  EXPECT_TRUE(opened.ok);
  EXPECT_NE(opened.printed.find(tried(ALL_SUBTYPES, 720, 480) +
                                "SETUP: couldn't find requested size - searching for closest matching size\n"
                                "SETUP: closest supported size is YUY2 @ 640 480\n"
                                "SETUP: Capture callback set\n"),
            std::string::npos)
      << opened.printed;
  EXPECT_EQ(opened.width, 640);
  EXPECT_EQ(opened.height, 480);
}

TEST(SubtypeLoop, FallsBackToTheDefaultFormatWithTheFrameTime) {
  struct Case {
    const char* what;
    ScriptedDevice device;
    const char* closestLine;  // empty when no closest size is found
  };
  ScriptedDevice refusesClosest = cameraTaking({});
  refusesClosest.caps = {StreamCaps{320, 240, 320, 240, 1, 1, YUY2}};
  ScriptedDevice oddRecords = cameraTaking({VideoFormat{320, 240, YUY2, 0, 0}});
  oddRecords.caps = refusesClosest.caps;
  oddRecords.capsRecordBytes = 136;
  const std::vector<Case> cases = {
      {"closest size refused", refusesClosest, "SETUP: closest supported size is YUY2 @ 320 240\n"},
      {"capability records not of the expected size", oddRecords, ""},
      {"no capability at all", cameraTaking({}), ""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.what);
    const Opened opened = openWith(row.device, 640, 480, 15);
    EXPECT_TRUE(opened.ok);
    EXPECT_NE(opened.printed.find(std::string("SETUP: couldn't find requested size - searching for closest matching "
                                              "size\n") +
                                  row.closestLine + "SETUP: Capture callback set\n"),
              std::string::npos)
        << opened.printed;
    EXPECT_EQ(opened.width, 1280);
    EXPECT_EQ(opened.height, 720);
    const auto setFormat = std::find_if(opened.calls.rbegin(), opened.calls.rend(), [](const std::string& call) {
      return call.rfind("setFormat", 0) == 0;
    });
    ASSERT_NE(setFormat, opened.calls.rend());
    EXPECT_EQ(*setFormat, "setFormat RGB24 1280x720 @666666");
  }
}

TEST(SubtypeLoop, FailingFormatReadCountsAsRefusal) {
  ScriptedBackend backend;
  backend.devices = {cameraTaking({VideoFormat{640, 480, SUBTYPE_RGB24, 0, 0}})};
  backend.failures[Step::GetFormat] = Failure{CAPTURE_FAIL, 2};  // the set-up's own read still works
  stdoutOf([&] {
    CaptureManager capture(backend);
    EXPECT_TRUE(capture.openDevice(0, 640, 480));
    EXPECT_EQ(capture.frameWidth(0), 1280);
  });
  for (const std::string& call : backend.calls) EXPECT_EQ(call.find("640x480"), std::string::npos) << call;
}

TEST(DefaultFormat, WithoutSizeRequestNoFormatLineAndOnlyTheFrameTimeIsSet) {
  const Opened withRate = openWith(cameraTaking({}), 0, 0, 15);
  EXPECT_EQ(withRate.printed,
            "SETUP: Setting up device 0\nSETUP: Cam A\nSETUP: Capture callback set\n"
            "SETUP: Device is setup and ready to capture.\n\n");
  EXPECT_EQ(withRate.width, 1280);
  std::vector<std::string> formats;
  for (const std::string& call : withRate.calls) {
    if (call.rfind("setFormat", 0) == 0) formats.push_back(call);
  }
  EXPECT_EQ(formats, std::vector<std::string>{"setFormat RGB24 1280x720 @666666"});

  const Opened withoutRate = openWith(cameraTaking({}), 0, 0);
  for (const std::string& call : withoutRate.calls) EXPECT_EQ(call.rfind("setFormat", 0), std::string::npos) << call;
}

// --- Closest size -------------------------------------------------------------------------------------------

TEST(ClosestSize, SearchesTheCapabilityList) {
  struct Case {
    const char* what;
    std::vector<StreamCaps> caps;
    std::int32_t recordBytes;
    std::set<int> failing;
    int wantWidth, wantHeight;
    std::optional<SizeChoice> expected;
  };
  const StreamCaps steps160{160, 120, 1280, 960, 160, 120, YUY2};
  const std::vector<Case> cases = {
      {"equal distance within a range: the smaller size", {steps160}, 128, {}, 720, 480, SizeChoice{640, 480, YUY2}},
      {"equal total distance: the earlier capability",
       {StreamCaps{600, 480, 600, 480, 1, 1, YUY2}, StreamCaps{680, 480, 680, 480, 1, 1, SUBTYPE_RGB24}},
       128, {}, 640, 480, SizeChoice{600, 480, YUY2}},
      {"exact width alone competes by distance",
       {StreamCaps{640, 400, 640, 400, 1, 1, YUY2}, StreamCaps{630, 480, 630, 480, 1, 1, MJPG}},
       128, {}, 640, 480, SizeChoice{630, 480, MJPG}},
      {"exact match in both directions ends the search",
       {StreamCaps{632, 480, 632, 480, 1, 1, YUY2}, steps160, StreamCaps{640, 480, 640, 480, 1, 1, MJPG}},
       128, {}, 640, 480, SizeChoice{640, 480, YUY2}},
      {"records not of the expected size", {steps160}, 127, {}, 640, 480, std::nullopt},
      {"step below 1 in either direction is ignored",
       {StreamCaps{640, 480, 640, 480, 0, 1, YUY2}, StreamCaps{640, 480, 640, 480, 1, -2, YUY2},
        StreamCaps{320, 240, 320, 240, 1, 1, SUBTYPE_RGB24}},
       128, {}, 640, 480, SizeChoice{320, 240, SUBTYPE_RGB24}},
      {"unreadable capability skipped",
       {StreamCaps{640, 480, 640, 480, 1, 1, YUY2}, StreamCaps{320, 240, 320, 240, 1, 1, MJPG}},
       128, {0}, 640, 480, SizeChoice{320, 240, MJPG}},
      {"nothing usable", {StreamCaps{640, 480, 640, 480, 0, 0, YUY2}}, 128, {}, 640, 480, std::nullopt},
      {"widest range still answers at once",
       {StreamCaps{1, 1, 2147483647, 2147483647, 1, 1, YUY2}}, 128, {}, 1920, 1080, SizeChoice{1920, 1080, YUY2}},
      {"below the smallest size", {steps160}, 128, {}, 100, 50, SizeChoice{160, 120, YUY2}},
      {"above the largest size", {steps160}, 128, {}, 4000, 3000, SizeChoice{1280, 960, YUY2}},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.what);
    ScriptedBackend backend;
    ScriptedDevice device = namedDevice("Cam A");
    device.caps = row.caps;
    device.capsRecordBytes = row.recordBytes;
    device.failingCaps = row.failing;
    backend.devices = {device};
    ScriptedGraph graph(backend);
    ASSERT_EQ(graph.bindSource(device.entry), CAPTURE_OK);
    const std::optional<SizeChoice> found = findClosestFormat(graph, row.wantWidth, row.wantHeight);
    ASSERT_EQ(found.has_value(), row.expected.has_value());
    if (!found) continue;
    EXPECT_EQ(found->width, row.expected->width);
    EXPECT_EQ(found->height, row.expected->height);
    EXPECT_EQ(std::string(subtypeName(found->subtype)), subtypeName(row.expected->subtype));
    EXPECT_TRUE(found->subtype == row.expected->subtype);
  }
}

// --- Subtype names -----------------------------------------------------------------------------------------

TEST(SubtypeNames, PreferenceEntriesByNameEverythingElseOther) {
  struct Case {
    MediaSubtype subtype;
    const char* name;
  };
  const std::vector<Case> cases = {
      {rgbSubtype(0xE436EB7D), "RGB24"},  {rgbSubtype(0xE436EB7E), "RGB32"},  {rgbSubtype(0xE436EB7C), "RGB555"},
      {rgbSubtype(0xE436EB7B), "RGB565"}, {fourccSubtype('Y' | 'U' << 8 | 'Y' << 16 | '2' << 24), "YUY2"},
      {fourccSubtype('Y' | 'V' << 8 | 'Y' << 16 | 'U' << 24), "YVYU"},
      {fourccSubtype('Y' | 'U' << 8 | 'Y' << 16 | 'V' << 24), "YUYV"},
      {fourccSubtype('I' | 'Y' << 8 | 'U' << 16 | 'V' << 24), "IYUV"},
      {fourccSubtype('U' | 'Y' << 8 | 'V' << 16 | 'Y' << 24), "UYVY"},
      {fourccSubtype('Y' | 'V' << 8 | '1' << 16 | '2' << 24), "YV12"},
      {fourccSubtype('Y' | 'V' << 8 | 'U' << 16 | '9' << 24), "YVU9"},
      {fourccSubtype('Y' | '4' << 8 | '1' << 16 | '1' << 24), "Y411"},
      {fourccSubtype('Y' | '4' << 8 | '1' << 16 | 'P' << 24), "Y41P"},
      {fourccSubtype('Y' | '2' << 8 | '1' << 16 | '1' << 24), "Y211"},
      {fourccSubtype('A' | 'Y' << 8 | 'U' << 16 | 'V' << 24), "AYUV"},
      {fourccSubtype('Y' | '8' << 8 | '0' << 16 | '0' << 24), "Y800"},
      {fourccSubtype(0x38590000), "Y8"},
      {fourccSubtype('G' | 'R' << 8 | 'E' << 16 | 'Y' << 24), "GREY"},
      // 'Y8' followed by two blanks is a grey format, but not the list's Y8.
      {fourccSubtype('Y' | '8' << 8 | ' ' << 16 | ' ' << 24), "OTHER"},
      {MJPG, "OTHER"},
      {rgbSubtype(0xE436EB7F), "OTHER"},
      // The YUY2 code with another tail is another identifier.
      {MediaSubtype{0x32595559, 0, 0x0010, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x72}}, "OTHER"},
  };
  for (const Case& row : cases) EXPECT_STREQ(subtypeName(row.subtype), row.name) << std::hex << row.subtype.data1;
}

}  // namespace
}  // namespace capturetest
