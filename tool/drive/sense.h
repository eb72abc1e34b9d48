// Sense data as drives and kernels return it, in either of its two formats, and the three bytes
// of it that a command with a non-good status leaves in the caller's buffer.
#pragma once

#include <cstddef>
#include <span>

#include "drive/scsi.h"

namespace veltran {

struct SenseCode {
  u8 key = 0;
  u8 asc = 0;   // additional sense code
  u8 ascq = 0;  // additional sense code qualifier

  bool operator==(const SenseCode&) const = default;
};

// The key, ASC and ASCQ of the sense bytes the OS returned: fixed format (response code 70h or
// 71h: key in byte 2, ASC and ASCQ in bytes 12 and 13) or descriptor format (72h or 73h: key in
// byte 1, ASC and ASCQ in bytes 2 and 3). Zero for what is missing from a short buffer, and all
// zero for bytes in neither format (a command that returned no sense data).
SenseCode ReadSense(std::span<const u8> sense);

// Where callers find the sense code after a non-good status: buffer bytes 2, 12 and 13, the
// positions the three have in fixed-format sense data, whatever format the drive used. The other
// bytes of the buffer are left as the transfer left them; a request without a buffer gets none.
void ReturnSense(std::span<const u8> sense, const CommandRequest& request);

}  // namespace veltran
