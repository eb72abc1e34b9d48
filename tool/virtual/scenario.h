// A virtual machine described by a JSON scenario: drives, registry, processes and restart.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace veltran {

struct ScenarioFault {
  // Check condition with sense, busy without sense, a call that fails, a call that times out,
  // and a drive that stops answering for good (its firmware ended in the middle of the command).
  enum class Kind { kCheck, kBusy, kTransport, kTimeout, kGone };
  std::uint32_t at = 0;  // the drive's command count, from 1
  // When not empty, `at` counts only the commands whose CDB begins with these bytes: behind an
  // operating system the drive also receives commands of its own, which shift the whole count.
  std::vector<std::uint8_t> cdb;
  Kind kind = Kind::kCheck;
  std::array<std::uint8_t, 3> sense{};  // key, ASC, ASCQ
  // Bytes of the command's data length that were not moved, as the host reports them.
  std::uint32_t residual = 0;
};

struct ScenarioDrive {
  char letter = 0;  // nt: 'a'..'z'
  unsigned hostAdapter = 0;
  unsigned target = 0;
  unsigned lun = 0;
  std::uint8_t peripheral = 5;
  std::string vendor, product, revision, prefix;  // padded to 8, 16, 4, 3 when read
  // INQUIRY bytes 1 to 7 (byte 4 is the additional length), and how many bytes of INQUIRY data
  // the drive has: it sends no more than that, whatever the allocation length. The defaults are
  // a drive with 96 bytes; the drives of the QEMU test machines send 36 (IDE) or 96 (SCSI) with
  // headers of their own.
  std::array<std::uint8_t, 7> inquiryHeader{0x80, 0x00, 0x02, 91, 0x00, 0x00, 0x00};
  std::uint32_t inquiryLength = 96;
  // Byte 4 counts the bytes actually sent (allocation length included) instead of the bytes the
  // drive has, as QEMU's SCSI drives answer.
  bool additionalLengthOfSent = false;
  std::optional<std::string> vendorIdentifyPrefix;
  // False for a drive that does not know VENDOR WRITE (as QEMU's drives): it rejects it as an
  // unknown command.
  bool vendorWrite = true;
  bool disc = false;
  // The drive's exclusive lock on a letter machine: taken, held by another program (refused),
  // or not offered by the platform.
  enum class Lock { kFree, kHeld, kUnsupported };
  Lock lock = Lock::kFree;
  std::uint32_t programSeconds = 0;
  // Real time the drive also takes over the final command of a download, for tests of what
  // happens meanwhile.
  std::uint32_t holdRealSeconds = 0;
  // Answers the first command after a whole image (INQUIRY, REQUEST SENSE and GET EVENT STATUS
  // NOTIFICATION aside) with UNIT ATTENTION, power on or reset, as a drive restarting on new
  // firmware does.
  bool unitAttentionAfterDownload = false;
  // A SCSI target that copies 10 bytes of a vendor-specific CDB: bytes 10 and 11 of a 12-byte
  // vendor command never arrive, and the drive accepts the command without them.
  bool vendorCdbTailLost = false;
  // The ATA transfer mode a Linux machine reports for the drive ("XFER_PIO_4", "XFER_UDMA_5" as
  // the kernel names them, or the short forms "PIO4", "UDMA/33"); nothing:
  // none can be read.
  std::optional<std::string> transferMode;
  std::vector<ScenarioFault> faults;
};

struct ScenarioProcess {
  std::string name;
  bool openable = true;
};

using RegistryValue = std::variant<std::uint32_t, std::string>;

struct Scenario {
  bool nt = true;          // drives at letters with the pass-through statuses (also "linux")
  bool linuxHost = false;  // "linux": no registry, transfer modes instead
  std::vector<ScenarioDrive> drives;
  // key path (compared without regard to case) -> value name -> value
  std::map<std::string, std::map<std::string, RegistryValue>> registry;
  std::vector<ScenarioProcess> processes;
  bool restartAccepted = true;
  bool shutdownPrivilege = true;
  // Where the drives keep the revision of the image they received, so that a later run sees
  // it; empty: nothing is kept. Relative to the scenario file's folder.
  std::string stateFile;
};

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses scenario text; `origin` names the file in error messages.
Scenario ParseScenario(const std::string& text, const std::string& origin);
Scenario LoadScenarioFile(const std::string& path);
// The machine used when no scenario file is given: one NT drive with no disc.
Scenario BuiltInScenario();

}  // namespace veltran
