// The transport: which requests reach a back end, and the trace line of a command that timed
// out or moved less than its length on each platform.
#include "drive/transport.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "drive/catalogue.h"
#include "support/virtual_rig.h"

namespace veltran {
namespace {

// What a drive's lock and polling hold answer; by default the platform offers neither.
struct LockScript {
  std::optional<bool> lock;  // for taking it: giving it back always succeeds
  std::optional<PollingChange> hold;
  std::optional<PollingChange> release;
};

// One drive that answers the scan and then whatever result the test gives it.
class ScriptedBackend final : public ScsiBackend {
 public:
  ScriptedBackend(CommandResult next, int& sent, LockScript locks)
      : next_(next), sent_(sent), locks_(std::move(locks)) {}

  unsigned BeginScan() override { return 1; }
  std::optional<CommandResult> Probe(unsigned /*candidate*/, const CommandRequest& r) override {
    r.data[0] = kOpticalPeripheral;
    return CommandResult{kStatusGood, {}, false, 0};
  }
  void Accept(unsigned /*candidate*/) override {}
  unsigned MaxDevices() const override { return 1; }
  CommandResult Execute(u8 /*device*/, const CommandRequest& /*request*/) override {
    ++sent_;
    return next_;
  }
  std::optional<bool> SetExclusive(u8 /*device*/, bool on) override {
    return locks_.lock ? std::optional<bool>(!on || *locks_.lock) : std::nullopt;
  }
  std::optional<PollingChange> HoldPolling(u8 /*device*/, bool hold) override {
    return hold ? locks_.hold : locks_.release;
  }

 private:
  CommandResult next_;
  int& sent_;
  LockScript locks_;
};

class TransportOverScript : public ::testing::Test {
 protected:
  void Start(CommandResult next, LockScript locks = {}) {
    transport_ = std::make_unique<DriveTransport>(
        std::make_unique<ScriptedBackend>(next, sent_, std::move(locks)), trace_);
    ASSERT_EQ(transport_->ScanDrives(), 1);
    std::ofstream(tracePath_.path(), std::ios::trunc);
  }
  std::vector<std::string> TraceLines() const { return testing::ReadLines(tracePath_.path()); }

  testing::TempFile tracePath_{"veltran-transport-trace"};
  Trace trace_{tracePath_.path().string()};
  int sent_ = 0;
  std::unique_ptr<DriveTransport> transport_;
  std::array<u8, 16> cdb_{0x12, 0, 0, 0, 0x24, 0};
  std::array<u8, 64> data_{};
};

struct RequestCase {
  const char* name;
  u8 device;
  bool withCdb;
  u8 cdbLength;
  bool withData;
  u32 dataLength;
  u8 direction;
  bool sent;
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

class RequestTable : public TransportOverScript,
                     public ::testing::WithParamInterface<RequestCase> {};

// A malformed request is neither sent nor traced and fails the call; one at the limits is sent.
TEST_P(RequestTable, OnlyWellFormedRequestsReachTheBackEnd) {
  Start(CommandResult{kStatusGood, {}, false, 0});
  const RequestCase& c = GetParam();
  const CommandRequest request{c.withCdb ? cdb_.data() : nullptr, c.cdbLength,
                               c.withData ? data_.data() : nullptr, c.dataLength, c.direction};
  const CommandResult result = transport_->Execute(c.device, request);
  EXPECT_EQ(result.status, c.sent ? kStatusGood : kStatusCallFailed);
  EXPECT_FALSE(result.timedOut);
  EXPECT_FALSE(result.os.any());
  EXPECT_EQ(transport_->ExecuteCommand(c.device, request), result.status);
  EXPECT_EQ(sent_, c.sent ? 2 : 0);
  EXPECT_EQ(TraceLines().size(), c.sent ? 2u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestTable,
    ::testing::Values(RequestCase{"DeviceBeyondTheScan", 1, true, 6, true, 36, kDataIn, false},
                      RequestCase{"LastDeviceIndex", 255, true, 6, true, 36, kDataIn, false},
                      RequestCase{"NoCdb", 0, false, 6, true, 36, kDataIn, false},
                      RequestCase{"EmptyCdb", 0, true, 0, true, 36, kDataIn, false},
                      RequestCase{"CdbOfFive", 0, true, 5, true, 36, kDataIn, false},
                      RequestCase{"CdbOfSeventeen", 0, true, 17, true, 36, kDataIn, false},
                      RequestCase{"CdbOf255", 0, true, 255, true, 36, kDataIn, false},
                      RequestCase{"DataWithoutBuffer", 0, true, 6, false, 36, kDataOut, false},
                      RequestCase{"DirectionTwo", 0, true, 6, true, 36, 2, false},
                      RequestCase{"DirectionFF", 0, true, 6, true, 0, 0xFF, false},
                      RequestCase{"CdbOfSixIn", 0, true, 6, true, 36, kDataIn, true},
                      RequestCase{"CdbOfSixteenOut", 0, true, 16, true, 36, kDataOut, true},
                      // No data: no buffer needed.
                      RequestCase{"NoDataWithoutBuffer", 0, true, 12, false, 0, kDataIn, true}),
    [](const ::testing::TestParamInfo<RequestCase>& c) { return std::string(c.param.name); });

struct PollingCase {
  const char* name;
  LockScript script;
  std::vector<std::string> lines;  // of the lock and, when it was taken, the unlock
};

void PrintTo(const PollingCase& c, std::ostream* os) { *os << c.name; }

class PollingAroundTheLock : public TransportOverScript,
                             public ::testing::WithParamInterface<PollingCase> {};

// The polling is held inside the lock and only while the lock is taken; how it went never
// changes what the lock says, so a refused hold does not stop a download.
TEST_P(PollingAroundTheLock, IsTracedInsideTheLockLinesAndLeavesTheLockResult) {
  const PollingCase& c = GetParam();
  Start(CommandResult{kStatusGood, {}, false, 0}, c.script);
  EXPECT_EQ(transport_->SetExclusive(0, true), c.script.lock);
  if (c.script.lock.value_or(false)) transport_->SetExclusive(0, false);
  EXPECT_EQ(TraceLines(), c.lines);
}

const PollingChange kHeld{true, 500};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PollingAroundTheLock,
    ::testing::Values(
        PollingCase{
            "Held",
            {true, kHeld, kHeld},
            {"lock 0 on ok", "polling 0 off (was 500)", "polling 0 back 500", "lock 0 off ok"}},
        PollingCase{
            "RefusedRelease",
            {true, PollingChange{true, -1}, PollingChange{false, -1}},
            {"lock 0 on ok", "polling 0 off (was -1)", "polling 0 back -1 fail", "lock 0 off ok"}},
        PollingCase{"RefusedHold",
                    {true, PollingChange{false, 500}, std::nullopt},
                    {"lock 0 on ok", "polling 0 off fail (was 500)", "lock 0 off ok"}},
        PollingCase{"UnreadableSetting",
                    {true, PollingChange{false, std::nullopt}, std::nullopt},
                    {"lock 0 on ok", "polling 0 off fail", "lock 0 off ok"}},
        PollingCase{
            "NoSetting", {true, std::nullopt, std::nullopt}, {"lock 0 on ok", "lock 0 off ok"}},
        // A refused lock stops the download: nothing may be held that nobody gives back.
        PollingCase{"RefusedLock", {false, kHeld, kHeld}, {"lock 0 on fail"}},
        PollingCase{"NoLock", {std::nullopt, kHeld, kHeld}, {}}),
    [](const ::testing::TestParamInfo<PollingCase>& c) { return std::string(c.param.name); });

struct VirtualFault {
  const char* name;
  const char* platform;
  const char* fault;
  Command command;
  const char* line;
  std::uint64_t waitedMs;  // virtual time the command took
};

void PrintTo(const VirtualFault& c, std::ostream* os) { *os << c.name; }

class VirtualFaultTrace : public ::testing::TestWithParam<VirtualFault> {};

// Each platform reports a time-out and a residual as its back end does: the pass-through and
// SG_IO wait out the request's time-out and fail the call, the ASPI manager aborts the request;
// the pass-through counts no residual of a failed call, the ASPI manager counts none at all.
TEST_P(VirtualFaultTrace, ShowsTimeOutAndResidualAsThePlatformReportsThem) {
  const VirtualFault& c = GetParam();
  const std::string place =
      std::string(c.platform) == "9x" ? R"("host_adapter": 0, "target": 1)" : R"("letter": "e")";
  testing::VirtualRig rig(std::string(R"({"platform": ")") + c.platform + R"(", "drives": [{)" +
                          place + R"(, "inquiry": {"peripheral": 5}, "faults": [)" + c.fault +
                          "]}]}");
  ASSERT_EQ(rig.transport().ScanDrives(), 1);
  rig.buffer().fill(0);
  rig.ClearTrace();
  const std::uint64_t before = rig.machine().clock().NowMs();
  rig.ctx().Send(0, c.command);
  EXPECT_EQ(rig.TraceLines(), std::vector<std::string>{c.line});
  EXPECT_EQ(rig.machine().clock().NowMs() - before, c.waitedMs);
}

constexpr char kTimeout[] = R"({"at": 2, "status": "timeout"})";
constexpr char kShortCheck[] =
    R"({"at": 2, "status": "check", "sense": [5, 36, 0], "residual": 6})";
constexpr char kShortFailure[] = R"({"at": 2, "status": "transport", "residual": 100})";

INSTANTIATE_TEST_SUITE_P(
    Platforms, VirtualFaultTrace,
    ::testing::Values(
        VirtualFault{"NtTimeout", "nt", kTimeout, Command::kTestUnitReady,
                     "scsi 0 000000000000 in 0 ff 00000000 timeout os 121", 60000},
        VirtualFault{"LinuxTimeout", "linux", kTimeout, Command::kTestUnitReady,
                     "scsi 0 000000000000 in 0 ff 00000000 timeout os 0 host 3 driver 0", 60000},
        // Everything a line can carry, in its order.
        VirtualFault{
            "LinuxShortTimeout", "linux", R"({"at": 2, "status": "timeout", "residual": 3})",
            Command::kVendorIdentify,
            "scsi 0 ff00ff0000000000000000aa in 8 ff 6522df69 timeout residual 3 os 0 host 3 "
            "driver 0",
            60000},
        VirtualFault{"AspiTimeout", "9x", kTimeout, Command::kTestUnitReady,
                     "scsi 0 000000000000 in 0 02 00000000 timeout", 0},
        VirtualFault{"AspiTransportIsAnAbortedRequest", "9x", kShortFailure,
                     Command::kTestUnitReady, "scsi 0 000000000000 in 0 02 00000000 timeout", 0},
        VirtualFault{"NtShortCheck", "nt", kShortCheck, Command::kVendorIdentify,
                     "scsi 0 ff00ff0000000000000000aa in 8 04 35ef4eda residual 6", 0},
        VirtualFault{"LinuxShortCheck", "linux", kShortCheck, Command::kVendorIdentify,
                     "scsi 0 ff00ff0000000000000000aa in 8 04 35ef4eda residual 6", 0},
        VirtualFault{"AspiShortCheck", "9x", kShortCheck, Command::kVendorIdentify,
                     "scsi 0 ff00ff0000000000000000aa in 8 04 35ef4eda", 0},
        VirtualFault{"LinuxFailureCappedAtTheLength", "linux", kShortFailure,
                     Command::kVendorIdentify,
                     "scsi 0 ff00ff0000000000000000aa in 8 ff 6522df69 residual 8", 0},
        VirtualFault{"NtFailureCountsNothing", "nt", kShortFailure, Command::kVendorIdentify,
                     "scsi 0 ff00ff0000000000000000aa in 8 ff 6522df69", 0}),
    [](const ::testing::TestParamInfo<VirtualFault>& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace veltran
