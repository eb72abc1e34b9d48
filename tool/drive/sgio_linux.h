// The pieces of the Linux back end that stand on their own: the SG_IO request and its result,
// the reopen of a device node that takes or gives back exclusive use, and the hold of the
// kernel's media polling.
#pragma once

#include <scsi/sg.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "drive/backend.h"
#include "drive/file_descriptor_linux.h"
#include "drive/scsi.h"

namespace veltran {

// The request header for one command; the sense bytes land in `sense`, which must outlive the
// call. The time-out is the request's, in milliseconds, capped at what the header can hold.
sg_io_hdr_t MakeSgIoHeader(const CommandRequest& request, u8* sense, unsigned char senseLength);
// The result of a call the kernel accepted: 0xFF when the host adapter or the driver failed it
// (their statuses in the OsError; a time-out of either marks the result timed out), 1 for good
// status, else 4 with the sense code returned in the data buffer. The residual is the kernel's.
CommandResult SgIoResult(const sg_io_hdr_t& header, const CommandRequest& request);
// Sends one command on an open descriptor; a call the kernel refuses gives 0xFF with errno.
CommandResult SendSgIo(int fd, const CommandRequest& request);

// The flags a device node is opened with, with or without exclusive use.
int DeviceOpenFlags(bool exclusive);
// Opens a path with open(2)'s flags and returns the descriptor or -1 with errno set.
using NodeOpener = std::function<int(const std::string& path, int flags)>;
int OpenNode(const std::string& path, int flags);

// Closes `fd` and opens `path` again, exclusively or not. When the exclusive open is refused,
// the node is opened again without it, so that the device stays usable, and the result is
// false. False with an invalid descriptor only when the node cannot be opened at all.
bool ReopenNode(FileDescriptor& fd, const std::string& path, bool exclusive,
                const NodeOpener& open = OpenNode);

// Writes a polling interval to a sysfs setting; false when the write is refused.
using SettingWriter = std::function<bool(const std::filesystem::path& file, long value)>;
bool WriteSetting(const std::filesystem::path& file, long value);

// The kernel's media polling of the block device ("sr0") behind SCSI generic node `genericName`
// ("sg3") in the sysfs tree at `sysfsRoot` ("/sys"): its events_poll_msecs, in milliseconds,
// 0 for none and -1 for the block module's default. The kernel polls between any program's
// commands, an exclusive open notwithstanding; only the setting stops it.
class MediaPolling {
 public:
  MediaPolling(const std::filesystem::path& sysfsRoot, const std::string& genericName,
               SettingWriter write = WriteSetting);
  MediaPolling(const MediaPolling&) = delete;
  MediaPolling& operator=(const MediaPolling&) = delete;
  // Gives back a hold still taken, as far as the setting still takes it.
  ~MediaPolling();

  // Sets 0 and remembers the setting before (none is written when it is 0 already). Nothing
  // when the node has no block device with the setting, or a hold is taken already.
  std::optional<PollingChange> Hold();
  // Writes the remembered setting back as it was. Nothing when no hold is taken.
  std::optional<PollingChange> Release();

 private:
  std::filesystem::path file_;  // empty without a block device
  SettingWriter write_;
  std::optional<long> held_;  // the setting to write back
};

}  // namespace veltran
