// The command ring of a SCSI target's user-space back end: the kernel puts each command for our
// device in a ring shared through a uio device, and we answer it in place.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/file_descriptor_linux.h"

namespace veltran {

// One command as the kernel left it in the ring. Its data lies in the shared area, in pieces.
struct RingCommand {
  std::uint16_t id = 0;
  std::size_t entryOffset = 0;  // within the ring
  std::vector<std::uint8_t> cdb;
  std::vector<iovec> pieces;  // addresses already within this process's mapping
  std::size_t dataLength = 0;
};

struct RingAnswer {
  std::uint8_t status = 0;                  // SCSI status
  std::span<const std::uint8_t> sense;      // with CHECK CONDITION
  std::optional<std::uint32_t> bytesMoved;  // of a data-in command, when not all of it
};

// The bytes of a CDB by its operation code's group; the kernel keeps no more than that.
std::size_t CdbLengthOf(std::uint8_t opcode);

class CommandRing {
 public:
  // The ring of the device whose uio name begins with `namePrefix` ("tcm-user/1/drive0/").
  static std::optional<CommandRing> Open(const std::string& namePrefix, std::string& error);
  CommandRing(CommandRing&& other) noexcept;
  CommandRing& operator=(CommandRing&&) = delete;
  CommandRing(const CommandRing&) = delete;
  ~CommandRing();

  // Waits up to `ms` for the kernel to say that commands came; false when none did (or a signal
  // came first).
  bool WaitForCommands(int ms);
  // The oldest unanswered command; entries that are not commands are passed over.
  std::optional<RingCommand> Next();
  // Whether entries wait beyond the ones answered.
  bool HasWaiting() const { return Head() != Tail(); }
  // Whether the kernel has since asked, after `command`, to abort it (the initiator gave up).
  bool AbortRequested(const RingCommand& command) const;
  void Answer(const RingCommand& command, const RingAnswer& answer);

  void CopyOut(const RingCommand& command, std::uint8_t* to) const;
  void CopyIn(const RingCommand& command, const std::uint8_t* from, std::size_t length);

 private:
  CommandRing(FileDescriptor fd, std::uint8_t* map, std::size_t mapSize);
  struct Entry;
  std::uint8_t* EntryAt(std::size_t offset) const;
  std::size_t RingSize() const;
  std::size_t Head() const;
  std::size_t Tail() const;
  void SetTail(std::size_t tail);

  FileDescriptor fd_;
  std::uint8_t* map_ = nullptr;
  std::size_t mapSize_ = 0;
};

}  // namespace veltran
