#include "virtual/drive_model.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "drive/catalogue.h"
#include "virtual/drive_replies.h"

namespace veltran {
namespace {

using namespace replies;

constexpr std::uint32_t kInquiryLength = 96;
constexpr std::uint32_t k64KFormLength = 61440;
constexpr std::size_t kDiagBlockLength = 32768;
constexpr std::size_t kFixedHeaderOffset = 0xBF08;
constexpr std::size_t kTrailerDistance = 48;
constexpr std::size_t kFallbackDistance = 65536 + 48;
constexpr std::size_t kHeaderRevision = 24;

void PutPadded(std::uint8_t* out, const std::string& text, std::size_t width) {
  std::fill_n(out, width, std::uint8_t{' '});
  std::copy_n(text.begin(), std::min(width, text.size()), out);
}

bool Matches(const std::uint8_t* data, std::initializer_list<std::uint8_t> bytes) {
  return std::equal(bytes.begin(), bytes.end(), data);
}

// Where the revision of a received image lies: the trailer, or 64 KB before it when the trailer
// starts with 0xFF, as the tool reads it; nothing when the image is too short to hold a header.
std::optional<std::size_t> TrailerRevisionOffset(const ReceivedImage& image) {
  if (image.size() < kTrailerDistance) return std::nullopt;
  std::size_t header = image.size() - kTrailerDistance;
  if (image.At(header) == 0xFF) {
    if (image.size() < kFallbackDistance) return std::nullopt;
    header = image.size() - kFallbackDistance;
  }
  return header + kHeaderRevision;
}

}  // namespace

std::uint8_t ReceivedImage::At(std::size_t offset) const {
  for (const auto& piece : pieces_) {
    if (offset < piece.size()) return piece[offset];
    offset -= piece.size();
  }
  return 0;
}

std::vector<std::uint8_t> ReceivedImage::Bytes() const {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(size_);
  for (const auto& piece : pieces_) bytes.insert(bytes.end(), piece.begin(), piece.end());
  return bytes;
}

VirtualDrive::VirtualDrive(ScenarioDrive config, Clock& clock,
                           std::function<void(const std::string& revision)> received)
    : config_(std::move(config)),
      clock_(clock),
      onReceived_(std::move(received)),
      revision_(config_.revision) {}

std::string VirtualDrive::revision() const {
  std::lock_guard lock(mutex_);
  return revision_;
}

std::uint32_t VirtualDrive::commandsReceived() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::vector<std::vector<std::uint8_t>> VirtualDrive::receivedImages() const {
  std::lock_guard lock(mutex_);
  std::vector<std::vector<std::uint8_t>> images;
  for (const ReceivedImage& image : images_) images.push_back(image.Bytes());
  return images;
}

DriveReply VirtualDrive::Execute(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                 std::uint8_t* data, std::uint32_t length, bool toDrive) {
  std::lock_guard lock(mutex_);
  ++received_;
  if (auto fault = ScheduledFault(cdb, cdbLength)) return *fault;
  if (cdbLength > 0) {
    if (auto attention = PendingUnitAttention(cdb[0])) return *attention;
  }
  return Dispatch(cdb, cdbLength, data, length, toDrive);
}

std::optional<DriveReply> VirtualDrive::ScheduledFault(const std::uint8_t* cdb,
                                                       std::uint8_t cdbLength) {
  faultCdbMatches_.resize(config_.faults.size());
  std::optional<DriveReply> reply;
  for (std::size_t i = 0; i < config_.faults.size(); ++i) {
    const ScenarioFault& fault = config_.faults[i];
    std::uint32_t count = received_;
    if (!fault.cdb.empty()) {
      const bool matches =
          fault.cdb.size() <= cdbLength && std::equal(fault.cdb.begin(), fault.cdb.end(), cdb);
      if (!matches) continue;
      count = ++faultCdbMatches_[i];
    }
    if (!reply && fault.at == count) reply = FaultReply(fault);
  }
  return reply;
}

std::optional<DriveReply> VirtualDrive::PendingUnitAttention(std::uint8_t opcode) {
  // SCSI lets these report or ask without consuming the condition.
  constexpr std::uint8_t kExempt[] = {0x12, 0x03, 0x4A};
  if (!unitAttention_ ||
      std::find(std::begin(kExempt), std::end(kExempt), opcode) != std::end(kExempt))
    return std::nullopt;
  unitAttention_ = false;
  return Check(kKeyUnitAttention, kAscPowerOnOrReset);
}

DriveReply VirtualDrive::FaultReply(const ScenarioFault& fault) {
  DriveReply r;
  switch (fault.kind) {
    case ScenarioFault::Kind::kCheck:
      r = Check(fault.sense[0], fault.sense[1], fault.sense[2]);
      break;
    case ScenarioFault::Kind::kBusy:
      r.kind = DriveReply::Kind::kBusy;
      break;
    case ScenarioFault::Kind::kTransport:
      r.kind = DriveReply::Kind::kTransportFailure;
      break;
    case ScenarioFault::Kind::kTimeout:
      r.kind = DriveReply::Kind::kTimeout;
      break;
    case ScenarioFault::Kind::kGone:
      r.kind = DriveReply::Kind::kGone;
      break;
  }
  r.residual = fault.residual;
  return r;
}

DriveReply VirtualDrive::Dispatch(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                  std::uint8_t* data, std::uint32_t length, bool toDrive) {
  if (cdbLength == 0) return Refuse(kAscInvalidOpcode);
  switch (cdb[0]) {
    case 0x12:
      return Inquiry(cdb, data, length);
    case 0x00:
      return config_.disc ? Good() : Check(kKeyNotReady, kAscNoMedium);
    case 0x1B:
      // LoEj with Start clear opens the tray: the disc is out.
      if ((cdb[4] & 0x03) == 0x02) config_.disc = false;
      return Good();
    case 0x1D:
      return toDrive ? SendDiagnostic(cdb, data, length) : Refuse(kAscInvalidFieldInCdb);
    case 0x1C:
      return toDrive ? Refuse(kAscInvalidFieldInCdb) : ReceiveDiagnostic(cdb, data, length);
    case 0xFF:
      return Vendor(cdb, cdbLength, data, length, toDrive);
    default:
      return HostCommand(cdb, cdbLength, data, length);
  }
}

DriveReply VirtualDrive::Vendor(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                                std::uint32_t length, bool toDrive) {
  const bool whole = cdbLength == 12;
  if (!whole && !(config_.vendorCdbTailLost && cdbLength == 10)) {
    return Refuse(kAscInvalidFieldInCdb);
  }
  if (cdb[2] == 0xFF && (!whole || cdb[11] == 0xAA) && !toDrive) {
    return VendorIdentify(data, length);
  }
  if (cdb[2] == 0x01 && toDrive) {
    return config_.vendorWrite ? VendorWrite(cdb, whole, data, length) : Refuse(kAscInvalidOpcode);
  }
  return Refuse(kAscInvalidFieldInCdb);
}

DriveReply VirtualDrive::Inquiry(const std::uint8_t* cdb, std::uint8_t* data,
                                 std::uint32_t length) {
  if (cdb[1] & 0x01) return Refuse(kAscInvalidFieldInCdb);  // no vital product data pages
  std::array<std::uint8_t, kInquiryLength> reply{};
  reply[0] = config_.peripheral;
  std::copy(config_.inquiryHeader.begin(), config_.inquiryHeader.end(), &reply[1]);
  PutPadded(&reply[kInquiryVendorOffset], config_.vendor, kInquiryVendorLength);
  PutPadded(&reply[kInquiryProductOffset], config_.product, kInquiryProductLength);
  PutPadded(&reply[kInquiryRevisionOffset], revision_, kInquiryRevisionLength);
  // A drive without a prefix leaves these vendor-specific bytes zero, as real drives do.
  if (!config_.prefix.empty())
    PutPadded(&reply[kInquiryPrefixOffset], config_.prefix, kInquiryPrefixLength);
  // The drive sends what it has, up to the allocation length; the rest of the buffer is the
  // caller's and stays as it was.
  const std::uint32_t count =
      std::min<std::uint32_t>({cdb[4], length, config_.inquiryLength, kInquiryLength});
  if (config_.additionalLengthOfSent && count > 4) reply[4] = static_cast<std::uint8_t>(count - 5);
  std::memcpy(data, reply.data(), count);
  return Good();
}

DriveReply VirtualDrive::VendorIdentify(std::uint8_t* data, std::uint32_t length) {
  if (!config_.vendorIdentifyPrefix) return Refuse(kAscInvalidOpcode);
  std::array<std::uint8_t, 8> reply{0x00, 0x06};
  PutPadded(&reply[4], *config_.vendorIdentifyPrefix, 3);
  std::memcpy(data, reply.data(), std::min<std::size_t>(length, reply.size()));
  return Good();
}

DriveReply VirtualDrive::VendorWrite(const std::uint8_t* cdb, bool wholeCdb,
                                     const std::uint8_t* data, std::uint32_t length) {
  const std::uint8_t code = cdb[5];
  const std::uint8_t form = cdb[9];
  const bool templateBytes = cdb[1] == 0 && cdb[3] == 0 && cdb[4] == 0 && cdb[6] == 0 &&
                             cdb[7] == 0 && cdb[8] == 0 &&
                             (!wholeCdb || (cdb[10] == 0 && cdb[11] == 0));
  if (!templateBytes || (form != 0x00 && form != 0xF0)) return Refuse(kAscInvalidFieldInCdb);
  if (form == 0xF0) {
    // The 64 KB form: 240 units of 256 bytes in one command.
    if (code != 0x01) return Refuse(kAscInvalidFieldInCdb);
    if (length != k64KFormLength) return Refuse(kAscInvalidFieldInParameters);
    writeState_ = WriteState::kIdle;
    Program();
    incoming_.Clear();
    incoming_.Append(data, length);
    Complete(0);
    return Good();
  }
  if (code == 0x00) {
    if (length == 0 || length % 1024 != 0) return Refuse(kAscInvalidFieldInParameters);
    incoming_.Clear();
    incoming_.Append(data, length);
    writeBlockLength_ = length;
    writeState_ = WriteState::kBlocks;
    return Good();
  }
  if (code == 0xFF) {
    if (writeState_ != WriteState::kBlocks) return Refuse(kAscSequenceError);
    if (length != writeBlockLength_) return Refuse(kAscInvalidFieldInParameters);
    incoming_.Append(data, length);
    return Good();
  }
  // The last block: its size in KB is the code.
  if (length != code * 1024u) return Refuse(kAscInvalidFieldInParameters);
  if (writeState_ != WriteState::kBlocks) incoming_.Clear();  // a one-block image
  incoming_.Append(data, length);
  writeState_ = WriteState::kIdle;
  Program();
  Complete(0);
  return Good();
}

DriveReply VirtualDrive::SendDiagnostic(const std::uint8_t* cdb, const std::uint8_t* data,
                                        std::uint32_t length) {
  const std::uint32_t listLength = (std::uint32_t{cdb[3]} << 8) | cdb[4];
  if (listLength != length || length < 8) return Refuse(kAscParameterListLength);
  const std::uint32_t pageLength = (std::uint32_t{data[2]} << 8) | data[3];
  if (data[0] != 0x88 || data[1] != 0x00 || pageLength + 4 != length) {
    return Refuse(kAscInvalidFieldInParameters);
  }
  const std::uint8_t* p = data + 4;
  if (length == 8 && Matches(p, {0x00, 0x40, 0x00, 0x00})) {
    diagState_ = DiagState::kOpen;
    diagNextBlock_ = 1;
    incoming_.Clear();
    return Good();
  }
  if (length == 8 && Matches(p, {0x00, 0xF0, 0xFF, 0x00})) {
    if (diagState_ != DiagState::kOpen) return Refuse(kAscSequenceError);
    diagState_ = DiagState::kPrepared;
    return Good();
  }
  if (length == 8 + kDiagBlockLength && p[0] == 0x00 && p[1] == 0xC0 && p[3] == 0x00) {
    if (diagState_ != DiagState::kPrepared) return Refuse(kAscSequenceError);
    if (p[2] != static_cast<std::uint8_t>(diagNextBlock_)) return Refuse(kAscSequenceError);
    incoming_.Append(data + 8, length - 8);
    ++diagNextBlock_;
    return Good();
  }
  if (length == 8 && Matches(p, {0x00, 0xC0, 0x00, 0x02})) {
    if (diagState_ != DiagState::kPrepared || incoming_.empty()) return Refuse(kAscSequenceError);
    diagState_ = DiagState::kIdle;
    Program();
    Complete(kFixedHeaderOffset + kHeaderRevision);
    return Good();
  }
  return Refuse(kAscInvalidFieldInParameters);
}

DriveReply VirtualDrive::ReceiveDiagnostic(const std::uint8_t* cdb, std::uint8_t* data,
                                           std::uint32_t length) {
  const std::uint32_t allocation = (std::uint32_t{cdb[3]} << 8) | cdb[4];
  const std::array<std::uint8_t, 8> page{
      0x88, 0x00, 0x00,
      0x04, 0x00, diagState_ == DiagState::kIdle ? std::uint8_t{0} : std::uint8_t{0x40},
      0x00, 0x00};
  std::memcpy(data, page.data(), std::min<std::size_t>({allocation, length, page.size()}));
  return Good();
}

void VirtualDrive::Program() {
  clock_.SleepMs(config_.programSeconds * 1000);
  if (config_.holdRealSeconds > 0) {
    std::this_thread::sleep_for(std::chrono::seconds(config_.holdRealSeconds));
  }
}

void VirtualDrive::Complete(std::size_t revisionOffset) {
  const std::optional<std::size_t> at = revisionOffset != 0
                                            ? std::optional<std::size_t>(revisionOffset)
                                            : TrailerRevisionOffset(incoming_);
  if (at && *at + 4 <= incoming_.size()) {
    revision_.clear();
    for (std::size_t i = 0; i < 4; ++i) revision_ += static_cast<char>(incoming_.At(*at + i));
  }
  images_.push_back(std::move(incoming_));
  incoming_.Clear();
  unitAttention_ = config_.unitAttentionAfterDownload;
  if (onReceived_) onReceived_(revision_);
}

}  // namespace veltran
