// The download end to end over a virtual drive, in virtual time: each transfer form's commands
// byte for byte, every failure the drive can give at every step, the checks before the first
// command, the progress estimate, and what may not end the program while the drive is written.
#include "app/download.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app/download_rig.h"
#include "app/image_builder.h"

namespace veltran {
namespace {

using namespace std::chrono_literals;

using testing::Crc;
using testing::DownloadRun;
using testing::Fields;
using testing::HeaderFields;
using testing::kKB;
using testing::kLive;
using testing::kTur;
using testing::ThreeBlockImage;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

std::string Scsi(const std::vector<std::uint8_t>& cdb, const char* direction,
                 const std::uint8_t* data, std::size_t length, const char* status = "01") {
  return "scsi 0 " + Hex(cdb) + " " + direction + " " + std::to_string(length) + " " + status +
         " " + (length == 0 ? std::string("00000000") : Crc(data, length));
}

std::vector<std::uint8_t> VendorWrite(std::uint8_t code, std::uint8_t form = 0) {
  return {0xFF, 0x00, 0x01, 0x00, 0x00, code, 0x00, 0x00, 0x00, form, 0x00, 0x00};
}

std::vector<std::uint8_t> Page(std::initializer_list<std::uint8_t> bytes) { return bytes; }

struct FormCase {
  const char* name;
  std::vector<std::uint8_t> (*image)();
  // The commands after the medium probe and the lock, up to the final command.
  std::vector<std::string> (*commands)(const std::vector<std::uint8_t>& image);
  // What the drive received whole.
  std::vector<std::uint8_t> (*received)(const std::vector<std::uint8_t>& image);
  std::vector<std::string> log;
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::uint8_t> Whole(const std::vector<std::uint8_t>& image) { return image; }

const FormCase kForms[] = {
    {"BlockFormThreeCommands",
     ThreeBlockImage,
     [](const std::vector<std::uint8_t>& image) {
       const std::uint8_t* d = image.data();
       return std::vector<std::string>{Scsi(VendorWrite(0x00), "out", d, 32 * kKB),
                                       Scsi(VendorWrite(0xFF), "out", d + 32 * kKB, 32 * kKB),
                                       Scsi(VendorWrite(16), "out", d + 64 * kKB, 16 * kKB)};
     },
     Whole,
     {"START", "P1", "P2", "P3", "P4", "P5", "P6", "P7", "COMPLETE"}},
    {"BlockFormOneCommandSendsTheWholeImageLast",
     [] { return testing::TrailerImage(48 * kKB, Fields(32, 1)); },
     [](const std::vector<std::uint8_t>& image) {
       return std::vector<std::string>{Scsi(VendorWrite(48), "out", image.data(), 48 * kKB)};
     },
     Whole,
     {"START", "P1", "P2", "P3", "P4", "P5", "P7", "COMPLETE"}},
    {"Form64KSendsTheBlockAfterTheFirst4096Bytes",
     [] { return testing::TrailerImage(64 * kKB, Fields(32, 2)); },
     [](const std::vector<std::uint8_t>& image) {
       return std::vector<std::string>{
           Scsi(VendorWrite(0x01, 0xF0), "out", image.data() + 4096, 61440)};
     },
     [](const std::vector<std::uint8_t>& image) {
       return std::vector<std::uint8_t>(image.begin() + 4096, image.end());
     },
     {"START", "P1", "P2", "P3", "P4", "P5", "COMPLETE"}},
    {"FixedHeaderFormNumbersBlocksModulo256",
     [] { return testing::FixedHeaderImage(257 * 32 * kKB, Fields(32, 0)); },
     [](const std::vector<std::uint8_t>& image) {
       const auto open = Page({0x88, 0x00, 0x00, 0x04, 0x00, 0x40, 0x00, 0x00});
       const auto prepare = Page({0x88, 0x00, 0x00, 0x04, 0x00, 0xF0, 0xFF, 0x00});
       const auto finish = Page({0x88, 0x00, 0x00, 0x04, 0x00, 0xC0, 0x00, 0x02});
       const auto receiveReply = Page({0x88, 0x00, 0x00, 0x04, 0x00, 0x40, 0x00, 0x00});
       std::vector<std::string> lines{Scsi({0x1D, 0, 0, 0, 8, 0}, "out", open.data(), 8),
                                      Scsi({0x1C, 0, 0, 0, 8, 0}, "in", receiveReply.data(), 8),
                                      Scsi({0x1D, 0, 0, 0, 8, 0}, "out", prepare.data(), 8)};
       for (std::size_t j = 0; j < 257; ++j) {
         std::vector<std::uint8_t> block{
             0x88, 0x00, 0x80, 0x04, 0x00, 0xC0, static_cast<std::uint8_t>((j + 1) & 0xFF), 0x00};
         block.insert(block.end(), image.begin() + static_cast<std::ptrdiff_t>(j * 32 * kKB),
                      image.begin() + static_cast<std::ptrdiff_t>((j + 1) * 32 * kKB));
         lines.push_back(Scsi({0x1D, 0, 0, 0x80, 0x08, 0}, "out", block.data(), block.size()));
       }
       lines.push_back(Scsi({0x1D, 0, 0, 0, 8, 0}, "out", finish.data(), 8));
       return lines;
     },
     Whole,
     {"START", "P1", "P2", "P3", "P4", "P5", "COMPLETE"}},
};

class TransferForm : public ::testing::TestWithParam<FormCase> {};

TEST_P(TransferForm, SendsExactlyTheImageAndEndsWithTheDriveFlashed) {
  const FormCase& c = GetParam();
  const std::vector<std::uint8_t> image = c.image();
  DownloadRun run(R"("program_seconds": 3)", kLive);
  run.PutAutorun(image);
  run.Run();

  std::vector<std::string> expected(5, kTur);
  expected.push_back("lock 0 on ok");
  for (const std::string& line : c.commands(image)) expected.push_back(line);
  expected.push_back("lock 0 off ok");
  EXPECT_EQ(run.DownloadTrace(), expected);
  EXPECT_EQ(run.LiveLog(), c.log);
  const auto& drive = *run.machine().drives()[0];
  ASSERT_EQ(drive.receivedImages().size(), 1u);
  EXPECT_TRUE(drive.receivedImages()[0] == c.received(image));
  EXPECT_EQ(drive.revision(), "NA01");
  EXPECT_TRUE(run.window().Saw("Status : Ok"));
  EXPECT_TRUE(run.window().closed) << ::testing::PrintToString(run.window().events);
  EXPECT_EQ(run.machine().restartRequests(), 0);
}

INSTANTIATE_TEST_SUITE_P(Download, TransferForm, ::testing::ValuesIn(kForms),
                         [](const auto& param) { return std::string(param.param.name); });

// What a fault at one command of the download must lead to.
enum class Outcome { kFlashed, kStartFailed, kFinalFailed };

struct FaultCase {
  const char* form;
  std::vector<std::uint8_t> (*image)();
  int position;  // the download's commands, from 1
  Outcome outcome;
  const char* kind;
  bool testOption;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.form << " command " << c.position << " " << c.kind
      << (c.testOption ? " with -LIVE" : " without test option");
}

std::vector<FaultCase> AllFaults() {
  struct Form {
    const char* name;
    std::vector<std::uint8_t> (*image)();
    std::vector<Outcome> commands;  // after the five medium probes
  };
  const Form forms[] = {
      {"Block",
       ThreeBlockImage,
       {Outcome::kStartFailed, Outcome::kStartFailed, Outcome::kFinalFailed}},
      {"64K",
       [] { return testing::TrailerImage(64 * kKB, Fields(32, 2)); },
       {Outcome::kFinalFailed}},
      // A refused DIAG OPEN or PREPARE leaves the drive refusing the first block; the reply to
      // RECEIVE DIAGNOSTIC RESULTS is not looked at.
      {"FixedHeader",
       [] { return testing::FixedHeaderImage(64 * kKB, Fields(32, 0)); },
       {Outcome::kStartFailed, Outcome::kFlashed, Outcome::kStartFailed, Outcome::kStartFailed,
        Outcome::kStartFailed, Outcome::kFinalFailed}},
  };
  std::vector<FaultCase> cases;
  for (const Form& f : forms) {
    std::vector<Outcome> all(5, Outcome::kFlashed);  // an empty drive fails the probes anyway
    all.insert(all.end(), f.commands.begin(), f.commands.end());
    for (std::size_t i = 0; i < all.size(); ++i) {
      for (const char* kind : {"check", "busy", "transport"}) {
        for (bool testOption : {true, false}) {
          cases.push_back({f.name, f.image, static_cast<int>(i + 1), all[i], kind, testOption});
        }
      }
    }
  }
  return cases;
}

class FaultAtEveryCommand : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultAtEveryCommand, NeverReportsSuccessItDidNotSee) {
  const FaultCase& c = GetParam();
  const std::vector<std::uint8_t> image = c.image();
  const char* commandLine = c.testOption ? kLive : "veltran.exe";
  // The commands before the download: the same start-up without a fault.
  std::uint32_t before = 0;
  {
    DownloadRun dry("", commandLine);
    dry.PutAutorun(image);
    dry.Run();
    before = dry.startedAtCommand();
  }
  const std::string fault = R"("faults": [{"at": )" +
                            std::to_string(before + static_cast<std::uint32_t>(c.position)) +
                            R"(, "status": ")" + c.kind + R"(", "sense": [3, 12, 0]}])";
  DownloadRun run(fault, commandLine);
  run.PutAutorun(image);
  run.Run();
  const testing::LoopWindow& w = run.window();
  const std::vector<std::string> log = run.LiveLog();
  const bool completeLogged = std::find(log.begin(), log.end(), "COMPLETE") != log.end();

  EXPECT_TRUE(w.closed);
  switch (c.outcome) {
    case Outcome::kFlashed:
      EXPECT_TRUE(w.Saw("Status : Ok"));
      EXPECT_EQ(run.machine().drives()[0]->revision(), "NA01");
      EXPECT_EQ(completeLogged, c.testOption);
      break;
    case Outcome::kStartFailed:
      EXPECT_FALSE(w.Saw("Status : Ok") || w.Saw("Status : Fail"));
      EXPECT_FALSE(completeLogged);
      EXPECT_EQ(run.machine().restartRequests(), 0);
      EXPECT_TRUE(w.Saw("idle"));
      if (c.testOption) {
        EXPECT_EQ(log.back(), "E6");
        EXPECT_TRUE(w.boxes.empty());
      } else {
        EXPECT_EQ(w.boxes, std::vector<std::string>{"MESSAGE|Flash Cmd Fail!!|error|modal"});
      }
      break;
    case Outcome::kFinalFailed:
      EXPECT_TRUE(w.Saw("Status : Fail"));
      EXPECT_FALSE(w.Saw("Status : Ok"));
      EXPECT_FALSE(completeLogged);
      EXPECT_EQ(run.machine().drives()[0]->revision(), "NA00");
      if (c.testOption) {
        EXPECT_EQ(log.back(), "E7");
        EXPECT_TRUE(w.boxes.empty());
        EXPECT_EQ(run.machine().restartRequests(), 0);
      } else {
        EXPECT_EQ(w.boxes, std::vector<std::string>{
                               "MESSAGE| Download Fail!! \nRestart WINDOWS|error|modal"});
        EXPECT_EQ(run.machine().restartRequests(), 1);
      }
      break;
  }
  if (c.outcome != Outcome::kFlashed) {
    for (const std::string& box : w.boxes) EXPECT_EQ(box.find("Download Ok"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Download, FaultAtEveryCommand, ::testing::ValuesIn(AllFaults()),
                         [](const auto& param) {
                           const FaultCase& c = param.param;
                           return std::string(c.form) + "Command" + std::to_string(c.position) +
                                  c.kind + (c.testOption ? "Live" : "");
                         });

std::vector<std::uint8_t> DarloweImage() {
  return testing::TrailerImage(80 * kKB, {.ident = "DARLOWE CD-ROM JR-906   ",
                                          .revision = "JR11",
                                          .blockSizeKB = 32,
                                          .blockCount = 3,
                                          .type = 1,
                                          .prefix = "JR "});
}

// The IDE positions the registry names, and the DMA word of each port.
std::string IdeRegistry(int position, std::optional<std::uint32_t> dmaWord, bool portKey = true) {
  const int port = position / 2;
  std::string registry = R"("registry": {"Hardware\\DeviceMap\\Scsi\\Scsi Port )" +
                         std::to_string(port) + R"(\\Scsi Bus 0\\Target Id )" +
                         std::to_string(position % 2) +
                         R"(\\Logical Unit Id 0": {"DeviceName": "Cdrom0"})";
  if (portKey) {
    registry += R"(, "Hardware\\DeviceMap\\Scsi\\Scsi Port )" + std::to_string(port) + R"(": {)" +
                (dmaWord ? R"("DMAEnabled": )" + std::to_string(*dmaWord) : "") + "}";
  }
  return registry + "}";
}

constexpr const char* kDmaBoxPio =
    "MESSAGE|This application support PIO mode only for stable download.\nExit the application, "
    "switch to PIO mode and attempt again.|error|modal";
constexpr const char* kRegReadFail = "Message|Reg Read Fail||";
constexpr const char* kRegistryError = "MESSAGE|Registry Error !!|error|modal";

struct PreflightCase {
  const char* name;
  std::string platform;
  std::string driveExtra;
  std::string top;
  bool testOption;
  bool flashed;
  std::vector<std::string> boxes;
  const char* lastLogCode;  // with the test option
  bool closed;
};

void PrintTo(const PreflightCase& c, std::ostream* os) { *os << c.name; }

const PreflightCase kPreflight[] = {
    {"Position0WithBit1SetPasses",
     "nt",
     "",
     IdeRegistry(0, 2),
     false,
     true,
     {"MESSAGE|  Download Ok!!  \nRestart WINDOWS||modal"},
     "",
     true},
    {"Position1WithBit1SetIsRefused",
     "nt",
     "",
     IdeRegistry(1, 2),
     false,
     false,
     {kDmaBoxPio},
     "",
     true},
    {"Position1WithBit1SetIsLogged", "nt", "", IdeRegistry(1, 2), true, false, {}, "E8", true},
    {"Position2ReadsPort1Bit0", "nt", "", IdeRegistry(2, 1), false, false, {kDmaBoxPio}, "", true},
    {"Position3ReadsPort1Bit1",
     "nt",
     "",
     IdeRegistry(3, 1),
     false,
     true,
     {"MESSAGE|  Download Ok!!  \nRestart WINDOWS||modal"},
     "",
     true},
    {"PortKeyMissingShowsBothBoxesAndStaysOpen",
     "nt",
     "",
     IdeRegistry(0, 0, false),
     false,
     false,
     {kRegReadFail, kRegistryError},
     "",
     false},
    {"PortKeyMissingWithTestOption",
     "nt",
     "",
     IdeRegistry(0, 0, false),
     true,
     false,
     {kRegReadFail},
     "E9",
     true},
    {"ValueMissingIsUnreadable",
     "nt",
     "",
     IdeRegistry(0, std::nullopt),
     false,
     false,
     {kRegistryError},
     "",
     false},
    {"NoIdePositionRecordedIsUnreadable", "nt", "", "", false, false, {kRegistryError}, "", false},
    {"NotCheckedOn9x",
     "9x",
     R"("host_adapter": 0, "target": 1)",
     "",
     true,
     true,
     {},
     "COMPLETE",
     true},
    {"LinuxUdmaIsRefused",
     "linux",
     R"("transfer_mode": "UDMA/33")",
     "",
     true,
     false,
     {},
     "E8",
     true},
    {"LinuxMultiwordDmaIsRefused",
     "linux",
     R"("transfer_mode": "MWDMA2")",
     "",
     false,
     false,
     {kDmaBoxPio},
     "",
     true},
    {"LinuxPioPasses", "linux", R"("transfer_mode": "PIO4")", "", true, true, {}, "COMPLETE", true},
    {"LinuxSysfsPioPasses",
     "linux",
     R"("transfer_mode": "XFER_PIO_4")",
     "",
     true,
     true,
     {},
     "COMPLETE",
     true},
    {"LinuxSysfsMultiwordDmaIsRefused",
     "linux",
     R"("transfer_mode": "XFER_MW_DMA_2")",
     "",
     true,
     false,
     {},
     "E8",
     true},
    {"LinuxKernelUdmaNameIsRefused",
     "linux",
     R"("transfer_mode": "XFER_UDMA_5")",
     "",
     true,
     false,
     {},
     "E8",
     true},
    {"LinuxModeUnreadable", "linux", "", "", false, false, {kRegistryError}, "", false},
    {"LinuxModeNotApplicable",
     "linux",
     R"("transfer_mode": "<n/a>")",
     "",
     true,
     false,
     {},
     "E9",
     true},
};

class Preflight : public ::testing::TestWithParam<PreflightCase> {};

TEST_P(Preflight, DmaCheckOfTheOneCheckedDrive) {
  const PreflightCase& c = GetParam();
  DownloadRun run(c.driveExtra, c.testOption ? kLive : "veltran.exe", c.top, c.platform,
                  testing::kDarloweInquiry);
  run.PutAutorun(DarloweImage());
  run.Run();
  EXPECT_EQ(run.machine().drives()[0]->revision(), c.flashed ? "JR11" : "JR10");
  EXPECT_EQ(run.window().boxes, c.boxes);
  if (c.testOption) {
    ASSERT_FALSE(run.LiveLog().empty());
    EXPECT_EQ(run.LiveLog().back(), c.lastLogCode);
  }
  EXPECT_EQ(run.window().closed, c.closed);
  if (!c.flashed) {
    for (const std::string& line : run.DownloadTrace()) {
      EXPECT_EQ(line.find("scsi 0 ff0001"), std::string::npos) << "image data sent: " << line;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Download, Preflight, ::testing::ValuesIn(kPreflight),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(PreflightOtherDrives, SkipTheDmaCheck) {
  DownloadRun run(R"("transfer_mode": "UDMA/100")", kLive, "", "linux");
  run.PutAutorun(ThreeBlockImage());
  run.Run();
  EXPECT_EQ(run.LiveLog().back(), "COMPLETE");
}

TEST(Preflight, DiscInTheDriveIsEjectedAndTheRefusalSticks) {
  DownloadRun run(R"("disc": true)", "veltran.exe");
  run.PutAutorun(ThreeBlockImage());
  // A second start after the disc is out is refused the same way.
  run.Run([&run](MainForm& form) {
    run.MarkStartNow();
    form.ToolButton2Click();
  });
  const std::string eject = "scsi 0 1b0000000200 in 0 01 00000000";
  const std::vector<std::string> trace = run.DownloadTrace();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), eject), 2);
  EXPECT_EQ(trace[0], "scsi 0 000000000000 in 0 01 00000000");  // ready at the first probe
  EXPECT_EQ(run.window().boxes,
            std::vector<std::string>(2, "MESSAGE|Remove the Disc in the Drive !!|error|modal"));
  EXPECT_EQ(run.form().state().FlashState, FlashState::kDiscPresent);
  EXPECT_FALSE(run.window().closed);
}

TEST(Preflight, DiscInTheDriveWithTestOptionIsLoggedWithoutEject) {
  DownloadRun run(R"("disc": true)", kLive);
  run.PutAutorun(ThreeBlockImage());
  run.Run();
  EXPECT_EQ(run.LiveLog().back(), "E4");
  for (const std::string& line : run.DownloadTrace())
    EXPECT_EQ(line.find(" 1b"), std::string::npos);
  EXPECT_TRUE(run.window().closed);
}

TEST(Preflight, NoFittingDriveOnlyStopsTheAutomaticStart) {
  DownloadRun run("", "veltran.exe");
  HeaderFields otherPrefix = Fields(32, 3);
  otherPrefix.prefix = "KP ";
  run.PutAutorun(testing::TrailerImage(80 * kKB, otherPrefix));
  run.Run();
  const std::size_t traced = run.TraceLines().size();
  run.form().ToolButton2Click();
  EXPECT_EQ(run.form().state().FlashState, FlashState::kNoFittingDrive);
  EXPECT_EQ(run.window().events.back(), "Timer3 off");
  EXPECT_EQ(run.TraceLines().size(), traced);
}

// The file is opened again for the download: one that changed since it was loaded is refused
// before any image byte is sent.
TEST(Preflight, ImageChangedOnDiskAfterLoadingIsNotSent) {
  const struct {
    const char* name;
    void (*change)(const std::filesystem::path& image);
  } changes[] = {
      {"grown", [](const std::filesystem::path& p) { std::ofstream(p, std::ios::app) << 'x'; }},
      {"shortened", [](const std::filesystem::path& p) { std::filesystem::resize_file(p, 40960); }},
      {"removed", [](const std::filesystem::path& p) { std::filesystem::remove(p); }},
      {"header rewritten, same size",
       [](const std::filesystem::path& p) {
         std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(80 * 1024 - 48 + 24);
         f.write("NA99", 4);
       }},
#ifndef _WIN32
      {"replaced by a FIFO",
       [](const std::filesystem::path& p) {
         std::filesystem::remove(p);
         ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
       }},
#endif
  };
  for (const auto& change : changes) {
    for (bool testOption : {true, false}) {
      SCOPED_TRACE(std::string(change.name) + (testOption ? " with -LIVE" : ""));
      DownloadRun run("", testOption ? kLive : "veltran.exe");
      run.PutAutorun(ThreeBlockImage());
      run.Run([&run, &change](MainForm&) { change.change(run.Folder() / "AUTORUN.BIN"); });
      for (const std::string& line : run.DownloadTrace()) {
        EXPECT_EQ(line.find("scsi 0 ff0001"), std::string::npos) << line;
      }
      if (testOption) {
        EXPECT_EQ(run.LiveLog().back(), "E1");
        EXPECT_TRUE(run.window().closed);
      } else {
        EXPECT_EQ(run.window().boxes,
                  std::vector<std::string>{"MESSAGE|Flash File Not Opened!!|error|modal"});
      }
    }
  }
}

// A 1,024 KB image: 70 ticks to a full bar. The drive takes 28 s, so the final command ends
// at the instant of the tick that would show 38: the worker, waiting longer, goes first and
// fills from 37 by 5 every 100 ms.
TEST(Progress, EstimateTicksThenFillsByFiveFromWhereTheBarStood) {
  DownloadRun run(R"("program_seconds": 28)", kLive);
  run.PutAutorun(testing::TrailerImage(1024 * kKB, Fields(32, 32)));
  run.Run();
  std::vector<int> expected;
  for (int k = 0; k <= 26; ++k) expected.push_back(k * 100 / 70);
  ASSERT_EQ(expected.back(), 37);
  for (int p = 42; p < 100; p += 5) expected.push_back(p);
  expected.push_back(100);
  EXPECT_EQ(run.window().progress, expected);
  EXPECT_EQ(run.form().download().progressTicks(), 27);
  EXPECT_EQ(run.LiveLog().back(), "COMPLETE");
  // Virtual time: the probes, the drive's 28 s, the fill and the closing tick.
  EXPECT_GE(run.machine().clock().NowMs(), 28000u);
  EXPECT_LT(run.machine().clock().NowMs(), 40000u);
}

TEST(Progress, TinyImageFillsWithoutDividingByZero) {
  DownloadRun run(R"("program_seconds": 5)", kLive);
  run.PutAutorun(testing::TrailerImage(12 * kKB, Fields(32, 1)));
  run.Run();
  EXPECT_EQ(run.window().progress, (std::vector<int>{0, 100}));
  EXPECT_EQ(run.LiveLog().back(), "COMPLETE");
}

TEST(Progress, FinalCommandMayTakeTwiceTheEstimate) {
  EXPECT_EQ(FinalCommandTimeoutSeconds(1024 * 1024), 140u);
  EXPECT_EQ(FinalCommandTimeoutSeconds(64 * 1024), kDefaultTimeoutSeconds);
  EXPECT_EQ(ExpectedProgressTicks(14 * 1024), 1);
}

// While the drive holds the final command in real time, the window thread gets every request
// that could end or disturb the download; none may. Another drive may not be chosen, and the
// list shows the drive being written again.
TEST(FinalCommand, NothingEndsOrDisturbsTheProgramWhileItRuns) {
  const std::string written = testing::DriveJson(R"("program_seconds": 1, "hold_real_seconds": 1)");
  DownloadRun run(testing::Drives{"[" + written + ", " +
                                  testing::DriveJson("", testing::kBrelmontInquiry, "f") + "]"},
                  "veltran.exe", R"("restart": "refuse")");
  run.PutAutorun(ThreeBlockImage());
  std::vector<std::string> during;
  std::thread requests([&run, &during] {
    for (int i = 0; i < 5000 && !run.formReady(); ++i) std::this_thread::sleep_for(1ms);
    for (int i = 0; i < 5000 && !run.form().FinalCommandRunning(); ++i) {
      std::this_thread::sleep_for(1ms);
    }
    run.window().Post([&run, &during] {
      MainForm& form = run.form();
      during.push_back(form.FormCloseQuery() ? "close allowed" : "close refused");
      form.Image5Click();
      form.ToolButton2Click();
      form.ComboBox1Change(1);
      during.push_back(run.window().events.back() + " " +
                       std::to_string(form.state().SelectedDrive));
      form.ToolButton1Click(std::string("/nonexistent.bin"));
      during.push_back(run.window().closed ? "closed" : "open");
    });
  });
  run.Run();
  requests.join();
  EXPECT_EQ(during, (std::vector<std::string>{"close refused", "select 0 0", "open"}));
  const std::vector<std::string> trace = run.DownloadTrace();
  EXPECT_EQ(
      std::count_if(trace.begin(), trace.end(),
                    [](const std::string& l) { return l.find(" ff0001") != std::string::npos; }),
      3);
  EXPECT_TRUE(run.window().Saw("Status : Ok"));
  EXPECT_EQ(run.machine().drives()[0]->revision(), "NA01");
  EXPECT_EQ(run.machine().restartRequests(), 1);
  EXPECT_TRUE(run.form().FormCloseQuery());
}

// The program goes on until the restart that follows the final command has been asked for (or,
// under a test option, the window has closed): the automatic start to come, the blocks, the final
// command, the bar and the box all keep it. Timer1 closes the window only when the system
// accepted the restart.
TEST(MainFormLoop, MayEndOnlyAfterTheRestartAndTimer1ClosesOnlyWhenItWasAccepted) {
  const struct {
    const char* restart;
    const char* commandLine;
    int restartRequests;
    const char* endedAfter;  // "close" only if the window closed
  } rows[] = {{"accept", "veltran.exe", 1, "close"},
              {"refuse", "veltran.exe", 1, "Timer1 off"},
              {"accept", kLive, 0, "close"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.commandLine) + ", restart " + row.restart);
    DownloadRun run(R"("program_seconds": 3)", row.commandLine,
                    std::string(R"("restart": ")") + row.restart + "\"");
    run.PutAutorun(ThreeBlockImage());
    run.Run();
    EXPECT_EQ(run.endedAfter(), row.endedAfter);
    EXPECT_EQ(run.machine().drives()[0]->revision(), "NA01");
    EXPECT_EQ(run.machine().restartRequests(), row.restartRequests);
  }
}

}  // namespace
}  // namespace veltran
