// What an operating system sends a drive of its own accord (at attach, polling for media, when a
// program opens it), answered as a drive with or without a disc does.
#include <algorithm>
#include <cstring>
#include <vector>

#include "virtual/drive_model.h"
#include "virtual/drive_replies.h"

namespace veltran {
namespace {

using namespace replies;

// READ(6), READ(10), READ TOC, READ DISC INFORMATION, READ TRACK INFORMATION, READ(12), READ CD.
bool IsMediumAccess(std::uint8_t opcode) {
  constexpr std::uint8_t kReads[] = {0x08, 0x28, 0x43, 0x51, 0x52, 0xA8, 0xBE};
  return std::find(std::begin(kReads), std::end(kReads), opcode) != std::end(kReads);
}

}  // namespace

// Anything else is an unknown command.
DriveReply VirtualDrive::HostCommand(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                     std::uint8_t* data, std::uint32_t length) {
  std::vector<std::uint8_t> reply;
  // The allocation length of a 10-byte command; a 6-byte one has its own in byte 4.
  std::uint32_t allocation = cdbLength >= 10 ? (std::uint32_t{cdb[7]} << 8) | cdb[8] : 0;
  switch (cdb[0]) {
    case 0x03:  // REQUEST SENSE: nothing to report
      reply = {0x70, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
      allocation = cdb[4];
      break;
    case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
      return Good();
    case 0x1A:  // MODE SENSE(6): the capabilities page only, a tray that ejects and locks
      if ((cdb[2] & 0x3F) != 0x2A && (cdb[2] & 0x3F) != 0x3F) return Refuse(kAscInvalidFieldInCdb);
      reply = {23, 0, 0, 0, 0x2A, 18, 0, 0, 0, 0, 0x29, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
      allocation = cdb[4];
      break;
    case 0x46:  // GET CONFIGURATION: the header, with the current profile
      reply = {0, 0, 0, 4, 0, 0, 0, static_cast<std::uint8_t>(config_.disc ? 0x08 : 0x00)};
      break;
    case 0x4A:  // GET EVENT STATUS NOTIFICATION, polled, media class: tray closed
      if ((cdb[1] & 0x01) == 0) return Refuse(kAscInvalidFieldInCdb);
      reply = {0, 6, 0x04, 0x10, 0, static_cast<std::uint8_t>(config_.disc ? 0x02 : 0x00), 0, 0};
      break;
    case 0x25:  // READ CAPACITY: 512 sectors of 2048 bytes
      if (!config_.disc) return Check(kKeyNotReady, kAscNoMedium);
      reply = {0, 0, 0x01, 0xFF, 0, 0, 0x08, 0};
      allocation = 8;
      break;
    default:
      // A drive without a disc says so to whatever would read the medium; an OS that opens the
      // drive tries a few of these.
      if (!config_.disc && IsMediumAccess(cdb[0])) return Check(kKeyNotReady, kAscNoMedium);
      return Refuse(kAscInvalidOpcode);
  }
  const std::size_t count = std::min<std::size_t>({allocation, length, reply.size()});
  if (count > 0) std::memcpy(data, reply.data(), count);
  return Good();
}

}  // namespace veltran
