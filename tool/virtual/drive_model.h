// A drive as the program expects one to behave: it answers every command of the catalogue,
// checks that download sequences are well formed and, once it has received a whole image,
// reports the revision that image carries.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "system/clock.h"
#include "virtual/scenario.h"

namespace veltran {

struct DriveReply {
  // kGone: the drive never answers again (its firmware stopped in the middle of the command).
  enum class Kind { kGood, kCheck, kBusy, kTransportFailure, kTimeout, kGone };
  Kind kind = Kind::kGood;
  std::array<std::uint8_t, 32> sense{};  // fixed-format sense data for kCheck
  // Bytes of the data length the drive did not move; the back end caps it at the length.
  std::uint32_t residual = 0;
};

inline bool IsUnanswered(const DriveReply& reply) {
  return reply.kind == DriveReply::Kind::kTimeout || reply.kind == DriveReply::Kind::kGone;
}

// An image as the drive received it: one piece per command, so that taking a block costs one
// copy of its bytes and no reallocation of what came before.
class ReceivedImage {
 public:
  void Clear() {
    pieces_.clear();
    size_ = 0;
  }
  void Append(const std::uint8_t* data, std::size_t length) {
    pieces_.emplace_back(data, data + length);
    size_ += length;
  }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  std::uint8_t At(std::size_t offset) const;
  std::vector<std::uint8_t> Bytes() const;

 private:
  std::vector<std::vector<std::uint8_t>> pieces_;
  std::size_t size_ = 0;
};

class VirtualDrive {
 public:
  // `received` is told the revision of each image the drive has received whole.
  VirtualDrive(ScenarioDrive config, Clock& clock,
               std::function<void(const std::string& revision)> received = {});

  // Runs one command. `data` holds `length` bytes to send, or receives the reply.
  DriveReply Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                     std::uint32_t length, bool toDrive);

  const ScenarioDrive& config() const { return config_; }
  std::string revision() const;
  std::uint32_t commandsReceived() const;
  // Images the drive has received whole, oldest first.
  std::vector<std::vector<std::uint8_t>> receivedImages() const;

 private:
  static DriveReply FaultReply(const ScenarioFault& fault);
  std::optional<DriveReply> ScheduledFault(const std::uint8_t* cdb, std::uint8_t cdbLength);
  std::optional<DriveReply> PendingUnitAttention(std::uint8_t opcode);
  DriveReply Vendor(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                    std::uint32_t length, bool toDrive);
  DriveReply HostCommand(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                         std::uint32_t length);
  DriveReply Dispatch(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                      std::uint32_t length, bool toDrive);
  DriveReply Inquiry(const std::uint8_t* cdb, std::uint8_t* data, std::uint32_t length);
  DriveReply VendorIdentify(std::uint8_t* data, std::uint32_t length);
  DriveReply VendorWrite(const std::uint8_t* cdb, bool wholeCdb, const std::uint8_t* data,
                         std::uint32_t length);
  DriveReply SendDiagnostic(const std::uint8_t* cdb, const std::uint8_t* data,
                            std::uint32_t length);
  DriveReply ReceiveDiagnostic(const std::uint8_t* cdb, std::uint8_t* data, std::uint32_t length);
  void Complete(std::size_t revisionOffset);
  void Program();

  ScenarioDrive config_;
  Clock& clock_;
  std::function<void(const std::string&)> onReceived_;
  mutable std::mutex mutex_;
  std::uint32_t received_ = 0;
  std::vector<std::uint32_t> faultCdbMatches_;  // per fault with a CDB: the commands it matched
  bool unitAttention_ = false;
  std::string revision_;

  enum class WriteState { kIdle, kBlocks };
  WriteState writeState_ = WriteState::kIdle;
  std::uint32_t writeBlockLength_ = 0;
  enum class DiagState { kIdle, kOpen, kPrepared };
  DiagState diagState_ = DiagState::kIdle;
  std::uint32_t diagNextBlock_ = 1;
  ReceivedImage incoming_;
  std::vector<ReceivedImage> images_;
};

}  // namespace veltran
