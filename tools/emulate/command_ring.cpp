#include "command_ring.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "ring_abi.h"

namespace veltran {
namespace {

std::string FirstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The uio device (uioN) whose name begins with the prefix, and the size of its one mapping.
std::optional<std::pair<std::string, std::size_t>> FindDevice(const std::string& prefix) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/uio", ec)) {
    if (FirstLine(entry.path() / "name").rfind(prefix, 0) != 0) continue;
    const std::string size = FirstLine(entry.path() / "maps/map0/size");
    if (size.empty()) return std::nullopt;
    return std::pair{entry.path().filename().string(), std::stoul(size, nullptr, 0)};
  }
  return std::nullopt;
}

RingMailbox* Mailbox(std::uint8_t* map) { return reinterpret_cast<RingMailbox*>(map); }

std::uint32_t Operation(const RingEntryHeader& header) { return header.len_op & RING_OP_MASK; }
std::size_t Length(const RingEntryHeader& header) { return header.len_op & ~RING_OP_MASK; }

}  // namespace

std::size_t CdbLengthOf(std::uint8_t opcode) {
  constexpr std::size_t kByGroup[8] = {6, 10, 10, 12, 16, 12, 10, 10};
  return kByGroup[opcode >> 5];
}

std::optional<CommandRing> CommandRing::Open(const std::string& namePrefix, std::string& error) {
  const auto device = FindDevice(namePrefix);
  if (!device) {
    error = "no uio device named " + namePrefix + "...";
    return std::nullopt;
  }
  const std::string path = "/dev/" + device->first;
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) {
    // The kernel lets one program hold the ring at a time.
    error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  void* map = ::mmap(nullptr, device->second, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (map == MAP_FAILED) {
    error = path + ": cannot map the ring: " + std::strerror(errno);
    return std::nullopt;
  }
  return CommandRing(std::move(fd), static_cast<std::uint8_t*>(map), device->second);
}

CommandRing::CommandRing(FileDescriptor fd, std::uint8_t* map, std::size_t mapSize)
    : fd_(std::move(fd)), map_(map), mapSize_(mapSize) {}

CommandRing::CommandRing(CommandRing&& other) noexcept
    : fd_(std::move(other.fd_)), map_(other.map_), mapSize_(other.mapSize_) {
  other.map_ = nullptr;
}

CommandRing::~CommandRing() {
  if (map_ != nullptr) ::munmap(map_, mapSize_);
}

std::size_t CommandRing::RingSize() const { return Mailbox(map_)->cmdr_size; }

// The kernel writes the head and reads the tail at any time: both are read and written whole,
// the entries before the head seen after it, ours before the tail.
std::size_t CommandRing::Head() const {
  auto* head = reinterpret_cast<std::uint32_t*>(map_ + offsetof(RingMailbox, cmd_head));
  return std::atomic_ref<std::uint32_t>(*head).load(std::memory_order_acquire);
}

std::size_t CommandRing::Tail() const {
  auto* tail = reinterpret_cast<std::uint32_t*>(map_ + offsetof(RingMailbox, cmd_tail));
  return std::atomic_ref<std::uint32_t>(*tail).load(std::memory_order_relaxed);
}

void CommandRing::SetTail(std::size_t tail) {
  auto* field = reinterpret_cast<std::uint32_t*>(map_ + offsetof(RingMailbox, cmd_tail));
  std::atomic_ref<std::uint32_t>(*field).store(static_cast<std::uint32_t>(tail),
                                               std::memory_order_release);
}

std::uint8_t* CommandRing::EntryAt(std::size_t offset) const {
  return map_ + Mailbox(map_)->cmdr_off + offset;
}

bool CommandRing::WaitForCommands(int ms) {
  pollfd p{fd_.get(), POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return false;
  std::uint32_t events = 0;
  return ::read(fd_.get(), &events, sizeof events) == sizeof events;
}

std::optional<RingCommand> CommandRing::Next() {
  while (Tail() != Head()) {
    const std::uint8_t* at = EntryAt(Tail());
    const auto* entry = reinterpret_cast<const RingCommandEntry*>(at);
    if (Operation(entry->hdr) != RING_OP_CMD) {
      // Padding, and notices of aborts that were answered with their commands.
      SetTail((Tail() + Length(entry->hdr)) % RingSize());
      continue;
    }
    RingCommand command;
    command.id = entry->hdr.cmd_id;
    command.entryOffset = Tail();
    const std::uint8_t* cdb = map_ + entry->req.cdb_off;
    command.cdb.assign(cdb, cdb + CdbLengthOf(cdb[0]));
    const std::uint8_t* pieces = at + offsetof(RingCommandEntry, req) + sizeof(RingRequest);
    for (std::uint32_t i = 0; i < entry->req.iov_cnt; ++i) {
      RingPiece piece{};
      std::memcpy(&piece, pieces + i * sizeof piece, sizeof piece);
      command.pieces.push_back({map_ + piece.base, piece.len});
      command.dataLength += piece.len;
    }
    return command;
  }
  return std::nullopt;
}

bool CommandRing::AbortRequested(const RingCommand& command) const {
  const auto* own = reinterpret_cast<const RingEntryHeader*>(EntryAt(command.entryOffset));
  std::size_t at = (command.entryOffset + Length(*own)) % RingSize();
  for (const std::size_t head = Head(); at != head;) {
    const auto* entry = reinterpret_cast<const RingAbortEntry*>(EntryAt(at));
    if (Operation(entry->hdr) == RING_OP_TMR) {
      const std::uint8_t* ids = EntryAt(at) + sizeof(RingAbortEntry);
      for (std::uint32_t i = 0; i < entry->cmd_cnt; ++i) {
        std::uint16_t id = 0;
        std::memcpy(&id, ids + i * sizeof id, sizeof id);
        if (id == command.id) return true;
      }
    }
    at = (at + Length(entry->hdr)) % RingSize();
  }
  return false;
}

void CommandRing::CopyOut(const RingCommand& command, std::uint8_t* to) const {
  for (const iovec& piece : command.pieces) {
    std::memcpy(to, piece.iov_base, piece.iov_len);
    to += piece.iov_len;
  }
}

void CommandRing::CopyIn(const RingCommand& command, const std::uint8_t* from, std::size_t length) {
  for (const iovec& piece : command.pieces) {
    const std::size_t count = std::min(length, piece.iov_len);
    std::memcpy(piece.iov_base, from, count);
    from += count;
    length -= count;
  }
}

void CommandRing::Answer(const RingCommand& command, const RingAnswer& answer) {
  auto* entry = reinterpret_cast<RingCommandEntry*>(EntryAt(command.entryOffset));
  const std::size_t length = Length(entry->hdr);
  RingResponse response{};
  response.scsi_status = answer.status;
  std::memcpy(response.sense_buffer, answer.sense.data(),
              std::min(answer.sense.size(), sizeof response.sense_buffer));
  if (answer.bytesMoved && (Mailbox(map_)->flags & RING_FLAG_READ_LEN_CAPABLE) != 0) {
    entry->hdr.uflags = static_cast<std::uint8_t>(entry->hdr.uflags | RING_UFLAG_READ_LEN);
    response.read_len = *answer.bytesMoved;
  }
  std::memcpy(EntryAt(command.entryOffset) + offsetof(RingCommandEntry, rsp), &response,
              sizeof response);
  SetTail((command.entryOffset + length) % RingSize());
  const std::uint32_t done = 0;
  // Tells the kernel that answers are waiting.
  [[maybe_unused]] const ssize_t written = ::write(fd_.get(), &done, sizeof done);
}

}  // namespace veltran
