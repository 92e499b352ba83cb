// CaptureManager on the scripted backend: listing, counted start-up, opening, failed set-up, closing.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/capture_manager.h"
#include "tests/capture/scripted_backend.h"
#include "tests/support/standard_output.h"

namespace capturetest {

using testsupport::stdoutOf;
namespace {

const std::string BANNER = "\n***** CAPTURE LIBRARY - 0.1995 - QAVIM *****\n\n";
const std::string SPY = "\nCAPTURE SPY MODE!\n\n";
const std::string LOOKING = "SETUP: Looking For Capture Devices\n";
const std::string READY_OPEN =
    "SETUP: Setting up device 0\n"
    "SETUP: Cam A\n"
    "SETUP: Capture callback set\n"
    "SETUP: Device is setup and ready to capture.\n\n";
const std::string READY_CLOSE =
    "\nSETUP: Disconnecting device 0\n"
    "SETUP: freeing Grabber Callback\n"
    "SETUP: freeing Grabber  \n"
    "SETUP: freeing Control   \n"
    "SETUP: freeing Media Type  \n"
    "SETUP: removing filter Cam A...\n"
    "SETUP: filter removed Cam A  \n"
    "SETUP: removing filter Sample Grabber...\n"
    "SETUP: filter removed Sample Grabber  \n"
    "SETUP: removing filter NullRenderer...\n"
    "SETUP: filter removed NullRenderer  \n"
    "SETUP: freeing Capture Graph \n"
    "SETUP: freeing Main Graph \n"
    "SETUP: Device 0 disconnected and freed\n\n";

ScriptedDevice describedDevice(const std::string& description, std::optional<std::string> friendlyName) {
  ScriptedDevice device;
  device.entry.moniker = description;
  device.entry.propertyBagOpens = true;
  device.entry.description = description;
  device.entry.friendlyName = std::move(friendlyName);
  return device;
}

void expectFresh(const CaptureDevice& record) {
  EXPECT_FALSE(record.setupStarted);
  EXPECT_FALSE(record.ready);
  EXPECT_EQ(record.deviceIndex, -1);
  EXPECT_EQ(record.requestedFrameTime, -1);
  EXPECT_EQ(record.requestedWidth, 0);
  EXPECT_FALSE(record.tryRequestedSize);
  EXPECT_EQ(record.graphObjects, nullptr);
  ASSERT_NE(record.callback, nullptr);
  EXPECT_FALSE(record.callback->bufferReady);
}

// A manager on a backend with the given devices, its banner already swallowed.
struct Rig {
  explicit Rig(std::vector<ScriptedDevice> devices) {
    backend.devices = std::move(devices);
    stdoutOf([&] { manager = std::make_unique<CaptureManager>(backend); });
  }
  ~Rig() {
    stdoutOf([&] { manager.reset(); });
  }
  ScriptedBackend backend;
  std::unique_ptr<CaptureManager> manager;
};

// --- Listing -------------------------------------------------------------------------------------------

TEST(DeviceListing, PrintsEachNamedDeviceAndCountsThoseWhosePropertyBagOpens) {
  ScriptedDevice closedBag = namedDevice("Hidden");
  closedBag.entry.propertyBagOpens = false;
  ScriptedDevice nameless;
  nameless.entry.propertyBagOpens = true;

  struct Case {
    const char* what;
    std::vector<ScriptedDevice> devices;
    std::string expected;
    int count;
  };
  const std::vector<Case> cases = {
      {"no device", {}, SPY + "SETUP: 0 Device(s) found\n\n", 0},
      {"one device", {namedDevice("Cam A")}, SPY + LOOKING + "SETUP: 0) Cam A \nSETUP: 1 Device(s) found\n\n", 1},
      {"three devices: friendly name wins over description, description stands in for a missing one",
       {namedDevice("Cam A"), describedDevice("Desc B", "Cam B"), describedDevice("Desc C", std::nullopt)},
       SPY + LOOKING + "SETUP: 0) Cam A \nSETUP: 1) Cam B \nSETUP: 2) Desc C \nSETUP: 3 Device(s) found\n\n",
       3},
      {"closed property bag skipped, nameless device counted but not shown",
       {closedBag, nameless, namedDevice("Cam C")},
       SPY + LOOKING + "SETUP: 1) Cam C \nSETUP: 2 Device(s) found\n\n",
       2},
      {"name cut to 253 bytes",
       {namedDevice(std::string(300, 'n'))},
       SPY + LOOKING + "SETUP: 0) " + std::string(253, 'n') + " \nSETUP: 1 Device(s) found\n\n",
       1},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.what);
    ScriptedBackend backend;
    backend.devices = row.devices;
    int count = -1;
    EXPECT_EQ(stdoutOf([&] { count = CaptureManager::listDevices(backend, false); }), row.expected);
    EXPECT_EQ(count, row.count);
    EXPECT_EQ(stdoutOf([&] { count = CaptureManager::listDevices(backend, true); }), "");
    EXPECT_EQ(count, row.count);
  }
}

TEST(DeviceListing, MissingEnumeratorListsNothingAfterTheSpyLine) {
  ScriptedBackend backend;
  backend.devices = {namedDevice("Cam A")};
  backend.enumerateFailure = CAPTURE_FAIL;
  int count = -1;
  EXPECT_EQ(stdoutOf([&] { count = CaptureManager::listDevices(backend, false); }), SPY);
  EXPECT_EQ(count, 0);
}

// --- Counted start-up ----------------------------------------------------------------------------------

TEST(BackendUse, ConstructorListingAndDestructorCountUsersAndStartTheBackendOnce) {
  ScriptedBackend backend;
  backend.devices = {namedDevice("Cam A")};
  std::unique_ptr<CaptureManager> first;
  stdoutOf([&] { first = std::make_unique<CaptureManager>(backend); });
  EXPECT_EQ(comUseCount(backend), 1);
  EXPECT_EQ(backend.starts, 1);

  stdoutOf([&] { first->listDevices(false); });
  EXPECT_EQ(backend.useCountsWhileEnumerating, std::vector<int>{2});
  EXPECT_EQ(comUseCount(backend), 1);

  std::unique_ptr<CaptureManager> second;
  stdoutOf([&] { second = std::make_unique<CaptureManager>(backend); });
  EXPECT_EQ(comUseCount(backend), 2);
  EXPECT_EQ(backend.starts, 1);

  first.reset();
  EXPECT_EQ(comUseCount(backend), 1);
  EXPECT_EQ(backend.stops, 0);
  second.reset();
  EXPECT_EQ(comUseCount(backend), 0);
  EXPECT_EQ(backend.stops, 1);

  // A listing on its own starts and stops the backend around itself.
  stdoutOf([&] { CaptureManager::listDevices(backend, true); });
  EXPECT_EQ(backend.starts, 2);
  EXPECT_EQ(backend.stops, 2);
}

TEST(BackendUse, BannerAndTheWarningForABackendStartedInAnotherMode) {
  ScriptedBackend backend;
  std::unique_ptr<CaptureManager> manager;
  EXPECT_EQ(stdoutOf([&] { manager = std::make_unique<CaptureManager>(backend); }), BANNER);
  manager.reset();

  backend.startAnswer = CAPTURE_CHANGED_MODE;
  EXPECT_EQ(stdoutOf([&] { manager = std::make_unique<CaptureManager>(backend); }),
            "SETUP - COM already setup - threaded VI might not be possible\n" + BANNER);
  EXPECT_EQ(comUseCount(backend), 1);
  manager.reset();
  EXPECT_EQ(backend.stops, 2);
}

// --- Indexes, missing devices and queries ----------------------------------------------------------------

TEST(DeviceQueries, NoDeviceAtAll) {
  Rig rig({});
  CaptureManager& capture = *rig.manager;
  bool opened = true;
  EXPECT_EQ(stdoutOf([&] { opened = capture.openDevice(0); }),
            "SETUP: device[0] not found - you have 0 devices available\n"
            "SETUP: this means that the last device you can use is device[-1] \n");
  EXPECT_FALSE(opened);
  EXPECT_EQ(capture.frameWidth(0), 0);
  EXPECT_EQ(capture.frameHeight(0), 0);
  EXPECT_FALSE(capture.hasNewFrame(0));
  std::vector<std::uint8_t> frame(16);
  EXPECT_FALSE(capture.copyFrame(0, frame.data(), false, true));
  expectFresh(capture.deviceRecord(0));
}

TEST(DeviceQueries, IndexPastTheLastDeviceIsNotFound) {
  Rig rig({namedDevice("Cam A")});
  bool opened = true;
  EXPECT_EQ(stdoutOf([&] { opened = rig.manager->openDevice(3, 640, 480); }),
            "SETUP: device[3] not found - you have 1 devices available\n"
            "SETUP: this means that the last device you can use is device[0] \n");
  EXPECT_FALSE(opened);
  EXPECT_TRUE(rig.backend.calls.empty());
}

TEST(DeviceQueries, IndexesOutsideTheSlotsAreRefusedQuietly) {
  Rig rig({namedDevice("Cam A")});
  CaptureManager& capture = *rig.manager;
  std::vector<std::uint8_t> frame(16);
  for (int device : {-1, MAX_CAPTURE_DEVICES, 1000}) {
    SCOPED_TRACE(device);
    const std::string printed = stdoutOf([&] {
      EXPECT_FALSE(capture.openDevice(device));
      EXPECT_FALSE(capture.openDevice(device, 640, 480));
      capture.setRequestedFrameRate(device, 15);
      capture.closeDevice(device);
      EXPECT_EQ(capture.frameWidth(device), 0);
      EXPECT_EQ(capture.frameHeight(device), 0);
      EXPECT_FALSE(capture.hasNewFrame(device));
      EXPECT_FALSE(capture.copyFrame(device, frame.data(), false, false));
    });
    EXPECT_EQ(printed, "");
  }
}

TEST(DeviceQueries, RequestedFrameRateBecomesAFrameTimeUntilTheDeviceRuns) {
  Rig rig({namedDevice("Cam A")});
  CaptureManager& capture = *rig.manager;
  struct Case {
    int fps;
    int frameTime;
  };
  for (const Case& row : {Case{15, 666666}, Case{30, 333333}, Case{7, 1428571}, Case{0, 1428571}, Case{-5, 1428571}}) {
    capture.setRequestedFrameRate(0, row.fps);
    EXPECT_EQ(capture.deviceRecord(0).requestedFrameTime, row.frameTime) << "fps " << row.fps;
  }
  stdoutOf([&] { ASSERT_TRUE(capture.openDevice(0)); });
  capture.setRequestedFrameRate(0, 60);
  EXPECT_EQ(capture.deviceRecord(0).requestedFrameTime, 1428571);
}

// --- Opening -------------------------------------------------------------------------------------------------

TEST(OpenDevice, ReadyDeviceRunsWithItsDefaultFormat) {
  Rig rig({namedDevice("Cam A")});
  CaptureManager& capture = *rig.manager;
  bool opened = false;
  EXPECT_EQ(stdoutOf([&] { opened = capture.openDevice(0); }), READY_OPEN);
  EXPECT_TRUE(opened);
  EXPECT_EQ(capture.frameWidth(0), 640);
  EXPECT_EQ(capture.frameHeight(0), 480);

  const CaptureDevice& record = capture.deviceRecord(0);
  EXPECT_TRUE(record.ready);
  EXPECT_EQ(record.frameBytes, 640 * 480 * 3);
  EXPECT_STREQ(record.nameNarrow, "Cam A");
  // Kept until close: the graph, its control, the grabber and the format; the filters live in the graph.
  EXPECT_TRUE(record.captureBuilder && record.graph && record.mediaControl && record.grabber);
  EXPECT_FALSE(record.sourceFilter || record.grabberFilter || record.nullRenderer || record.streamConfig);

  const ScriptedBackend& backend = rig.backend;
  EXPECT_LT(backend.callIndex("bindSource Cam A"), backend.callIndex("setCallback hook"));
  EXPECT_LT(backend.callIndex("setCallback hook"), backend.callIndex("renderStream"));
  EXPECT_LT(backend.callIndex("release StreamConfig"), backend.callIndex("acquire NullRenderer"));
  EXPECT_LT(backend.callIndex("renderStream"), backend.callIndex("disableClock"));
  EXPECT_LT(backend.callIndex("disableClock"), backend.callIndex("run"));
  EXPECT_EQ(backend.callIndex("setFormat RGB24 640x480 @333333"), -1);  // no frame time asked, nothing set
}

TEST(OpenDevice, WithoutPreviewPinTheCapturePinIsConfigured) {
  ScriptedDevice device = namedDevice("Cam A");
  device.hasPreviewPin = false;
  Rig rig({device});
  std::string printed = stdoutOf([&] { EXPECT_TRUE(rig.manager->openDevice(0)); });
  EXPECT_EQ(printed,
            "SETUP: Setting up device 0\nSETUP: Cam A\nSETUP: Couldn't find preview pin using SmartTee\n"
            "SETUP: Capture callback set\nSETUP: Device is setup and ready to capture.\n\n");
  EXPECT_NE(rig.backend.callIndex("findStreamConfig capture"), -1);

  Rig withPreview({namedDevice("Cam A")});
  stdoutOf([&] { EXPECT_TRUE(withPreview.manager->openDevice(0)); });
  EXPECT_EQ(withPreview.backend.callIndex("findStreamConfig capture"), -1);
}

TEST(OpenDevice, SecondOpenOfAReadyDeviceIsRefusedAndKeepsTheDefaultSize) {
  ScriptedDevice device = namedDevice("Cam A");
  device.defaultFormat.width = 1280;
  device.defaultFormat.height = 720;
  device.accepts = [](const VideoFormat&) { return true; };
  Rig rig({device});
  CaptureManager& capture = *rig.manager;
  stdoutOf([&] { EXPECT_TRUE(capture.openDevice(0)); });
  const size_t callsBefore = rig.backend.calls.size();
  bool opened = true;
  EXPECT_EQ(stdoutOf([&] { opened = capture.openDevice(0, 640, 480); }), "");
  EXPECT_FALSE(opened);
  EXPECT_EQ(rig.backend.calls.size(), callsBefore);
  EXPECT_EQ(capture.frameWidth(0), 1280);
  EXPECT_EQ(capture.frameHeight(0), 720);
}

TEST(OpenDevice, DeviceWithoutFriendlyNameCannotBeBound) {
  Rig rig({describedDevice("Desc only", std::nullopt)});
  bool opened = true;
  const std::string printed = stdoutOf([&] { opened = rig.manager->openDevice(0); });
  EXPECT_FALSE(opened);
  EXPECT_NE(printed.find("ERROR - Could not find specified video device\n"), std::string::npos);
  EXPECT_EQ(rig.backend.callIndex("bindSource Desc only"), -1);
}

TEST(OpenDevice, FailedGraphManagerLeavesTheRecordAndItsRequestsForTheNextTry) {
  Rig rig({namedDevice("Cam A")});
  CaptureManager& capture = *rig.manager;
  rig.backend.failures[Step::CreateBuilder] = Failure{CAPTURE_FAIL, 1};
  capture.setRequestedFrameRate(0, 15);
  bool opened = true;
  EXPECT_EQ(stdoutOf([&] { opened = capture.openDevice(0); }),
            "SETUP: Setting up device 0\nERROR - Could not create the Filter Graph Manager\n");
  EXPECT_FALSE(opened);
  const CaptureDevice& kept = capture.deviceRecord(0);
  EXPECT_TRUE(kept.setupStarted);
  EXPECT_EQ(kept.deviceIndex, 0);
  EXPECT_EQ(kept.requestedFrameTime, 666666);

  // The next open works on the same record: the frame-rate request still reaches the device.
  rig.backend.failures.clear();
  stdoutOf([&] { EXPECT_TRUE(capture.openDevice(0)); });
  EXPECT_NE(rig.backend.callIndex("setFormat RGB24 640x480 @666666"), -1);
}

TEST(OpenDevice, FailureAtEachSetUpStepPrintsItsMessageAndClosesTheDevice) {
  // Tokens of the release lines the close prints for what the failed set-up held.
  const std::map<std::string, std::string> releases = {
      {"Callback", "SETUP: freeing Grabber Callback\n"}, {"Renderer", "SETUP: freeing Renderer \n"},
      {"Source", "SETUP: freeing Capture Source \n"},    {"GrabberFilter", "SETUP: freeing Grabber Filter  \n"},
      {"Grabber", "SETUP: freeing Grabber  \n"},         {"Control", "SETUP: freeing Control   \n"},
      {"Stream", "SETUP: freeing Stream  \n"},           {"MediaType", "SETUP: freeing Media Type  \n"},
  };
  struct Case {
    Step step;
    const char* message;
    std::vector<std::string> released;   // in the order printed
    std::vector<std::string> inGraph;    // filters still in the graph at close
    bool graphHeld;
  };
  const std::vector<Case> cases = {
      {Step::FilterGraph, "ERROR - Could not add the graph builder!\n", {}, {}, false},
      {Step::SetFiltergraph, "ERROR - Could not set filtergraph\n", {}, {}, true},
      {Step::MediaControl, "ERROR - Could not create the Media Control object\n", {}, {}, true},
      {Step::BindSource, "ERROR - Could not find specified video device\n", {"Control"}, {}, true},
      {Step::StreamConfig, "ERROR: Couldn't config the stream!\n", {"Source", "Control"}, {"Cam A"}, true},
      {Step::GetFormat, "ERROR: Couldn't getFormat for pAmMediaType!\n", {"Source", "Control", "Stream"}, {"Cam A"},
       true},
      {Step::GrabberFilter, "Could not Create Sample Grabber - CoCreateInstance()\n",
       {"Source", "Control", "Stream", "MediaType"}, {"Cam A"}, true},
      {Step::AddGrabber, "Could not add Sample Grabber - AddFilter()\n",
       {"Source", "GrabberFilter", "Control", "Stream", "MediaType"}, {"Cam A"}, true},
      {Step::Grabber, "ERROR: Could not query SampleGrabber\n",
       {"Source", "GrabberFilter", "Control", "Stream", "MediaType"}, {"Cam A", "Sample Grabber"}, true},
      {Step::SetCallback, "ERROR: problem setting callback\n",
       {"Callback", "Source", "GrabberFilter", "Grabber", "Control", "Stream", "MediaType"},
       {"Cam A", "Sample Grabber"}, true},
      {Step::NullRenderer, "ERROR: Could not create filter - NullRenderer\n",
       {"Callback", "Source", "GrabberFilter", "Grabber", "Control", "MediaType"}, {"Cam A", "Sample Grabber"}, true},
      {Step::AddNullRenderer, "ERROR: Could not add filter - NullRenderer\n",
       {"Callback", "Renderer", "Source", "GrabberFilter", "Grabber", "Control", "MediaType"},
       {"Cam A", "Sample Grabber"}, true},
      {Step::RenderStream, "ERROR: Could not connect pins - RenderStream()\n",
       {"Callback", "Renderer", "Source", "GrabberFilter", "Grabber", "Control", "MediaType"},
       {"Cam A", "Sample Grabber", "NullRenderer"}, true},
      // Once connected, what the source feeds goes with it before the filter walk.
      {Step::Run, "ERROR: Could not start graph\n",
       {"Callback", "Renderer", "Source", "GrabberFilter", "Grabber", "Control", "MediaType"}, {"Cam A"}, true},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.message);
    Rig rig({namedDevice("Cam A")});
    CaptureManager& capture = *rig.manager;
    rig.backend.failures[row.step] = Failure{static_cast<CaptureResult>(0x80070005u), 1};
    capture.setRequestedFrameRate(0, 15);

    bool opened = true;
    const std::string printed = stdoutOf([&] { opened = capture.openDevice(0, 640, 480); });
    EXPECT_FALSE(opened);

    std::string close = std::string(row.message) + "\nSETUP: Disconnecting device 0\n";
    for (const std::string& token : row.released) close += releases.at(token);
    for (const std::string& name : row.inGraph) {
      close += "SETUP: removing filter " + name + "...\nSETUP: filter removed " + name + "  \n";
    }
    close += "SETUP: freeing Capture Graph \n";
    if (row.graphHeld) close += "SETUP: freeing Main Graph \n";
    close += "SETUP: Device 0 disconnected and freed\n\n";
    ASSERT_GE(printed.size(), close.size());
    EXPECT_EQ(printed.substr(printed.size() - close.size()), close);
    EXPECT_EQ(printed.rfind("SETUP: Setting up device 0\n", 0), 0u);

    expectFresh(capture.deviceRecord(0));
    EXPECT_EQ(rig.backend.liveGraph(), nullptr);
    EXPECT_EQ(capture.frameWidth(0), 0);
  }
}

TEST(OpenDevice, MissingClockControlIsReportedButTheDeviceRuns) {
  Rig rig({namedDevice("Cam A")});
  rig.backend.failures[Step::DisableClock] = Failure{};
  bool opened = false;
  const std::string printed = stdoutOf([&] { opened = rig.manager->openDevice(0); });
  EXPECT_TRUE(opened);
  EXPECT_NE(printed.find("ERROR: Could not get IID_IMediaFilter interface\n"
                         "SETUP: Device is setup and ready to capture.\n\n"),
            std::string::npos);
}

// --- Closing ---------------------------------------------------------------------------------------------------

TEST(CloseDevice, ReadyDeviceIsDismantledInOrderAndLeavesAFreshRecord) {
  Rig rig({namedDevice("Cam A")});
  CaptureManager& capture = *rig.manager;
  stdoutOf([&] { ASSERT_TRUE(capture.openDevice(0)); });
  EXPECT_EQ(stdoutOf([&] { capture.closeDevice(0); }), READY_CLOSE);

  const ScriptedBackend& backend = rig.backend;
  EXPECT_LT(backend.callIndex("setCallback unhook"), backend.callIndex("pause"));
  EXPECT_LT(backend.callIndex("pause"), backend.callIndex("stop"));
  EXPECT_LT(backend.callIndex("stop"), backend.callIndex("removeFilter 1"));
  EXPECT_LT(backend.callIndex("removeFilter 1"), backend.callIndex("release FilterGraph"));
  EXPECT_EQ(backend.liveGraph(), nullptr);

  expectFresh(capture.deviceRecord(0));
  EXPECT_EQ(capture.frameWidth(0), 0);
  EXPECT_FALSE(capture.hasNewFrame(0));
  capture.setRequestedFrameRate(0, 15);
  EXPECT_EQ(capture.deviceRecord(0).requestedFrameTime, 666666);

  // Reopening is a first open on the fresh record.
  EXPECT_EQ(stdoutOf([&] { EXPECT_TRUE(capture.openDevice(0)); }), READY_OPEN);
}

TEST(CloseDevice, NeverOpenedSlotPrintsNothing) {
  Rig rig({namedDevice("Cam A")});
  rig.manager->setRequestedFrameRate(4, 15);
  EXPECT_EQ(stdoutOf([&] { rig.manager->closeDevice(4); }), "");
  expectFresh(rig.manager->deviceRecord(4));
}

TEST(CloseDevice, AfterAFailedGraphManagerOnlyTheFirstAndLastLines) {
  Rig rig({namedDevice("Cam A")});
  rig.backend.failures[Step::CreateBuilder] = Failure{};
  stdoutOf([&] { EXPECT_FALSE(rig.manager->openDevice(0)); });
  EXPECT_EQ(stdoutOf([&] { rig.manager->closeDevice(0); }),
            "\nSETUP: Disconnecting device 0\nSETUP: Device 0 disconnected and freed\n\n");
  expectFresh(rig.manager->deviceRecord(0));
}

TEST(CloseDevice, TeardownFailuresAreReportedAndTheRestIsStillReleased) {
  struct Case {
    Step step;
    std::string from;  // the close output from the first changed line to its end
  };
  const std::string graphs =
      "SETUP: freeing Capture Graph \nSETUP: freeing Main Graph \nSETUP: Device 0 disconnected and freed\n\n";
  const std::vector<Case> cases = {
      {Step::Pause, "ERROR - Could not pause pControl\nSETUP: freeing Grabber  \n"},
      {Step::Stop, "ERROR - Could not stop pControl\nSETUP: freeing Grabber  \n"},
      {Step::EnumFilters, "SETUP: freeing Media Type  \nSETUP: pGraph->EnumFilters() failed. \n" + graphs},
      {Step::RemoveFilter,
       "SETUP: removing filter Cam A...\nSETUP: pGraph->RemoveFilter() failed. \n" + graphs},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.from);
    Rig rig({namedDevice("Cam A")});
    stdoutOf([&] { ASSERT_TRUE(rig.manager->openDevice(0)); });
    rig.backend.failures[row.step] = Failure{};
    const std::string printed = stdoutOf([&] { rig.manager->closeDevice(0); });
    EXPECT_NE(printed.find(row.from), std::string::npos) << printed;
    EXPECT_NE(printed.find(graphs), std::string::npos);
    EXPECT_EQ(rig.backend.liveGraph(), nullptr);
    expectFresh(rig.manager->deviceRecord(0));
  }
}

TEST(CloseDevice, RemovalThatSucceedsOnlyInPartEndsTheFilterWalk) {
  Rig rig({namedDevice("Cam A")});
  stdoutOf([&] { ASSERT_TRUE(rig.manager->openDevice(0)); });
  rig.backend.failures[Step::RemoveFilter] = Failure{CAPTURE_FALSE, 1};
  const std::string printed = stdoutOf([&] { rig.manager->closeDevice(0); });
  EXPECT_NE(printed.find("SETUP: filter removed Cam A  \nSETUP: freeing Capture Graph \n"), std::string::npos);
}

TEST(CloseDevice, DestructorDismantlesOpenDevicesAndReleasesTheBackend) {
  ScriptedBackend backend;
  backend.devices = {namedDevice("Cam A")};
  std::unique_ptr<CaptureManager> capture;
  stdoutOf([&] {
    capture = std::make_unique<CaptureManager>(backend);
    ASSERT_TRUE(capture->openDevice(0));
  });
  EXPECT_EQ(stdoutOf([&] { capture.reset(); }), READY_CLOSE);
  EXPECT_EQ(backend.liveGraph(), nullptr);
  EXPECT_EQ(comUseCount(backend), 0);
  EXPECT_EQ(backend.stops, 1);
}

}  // namespace
}  // namespace capturetest
