#include "drive_server.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "virtual/drive_replies.h"

namespace veltran {
namespace {

constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kStatusBusy = 0x08;

// Fixed-format sense data with the given key, ASC and ASCQ, as the ring takes it (18 bytes).
std::vector<std::uint8_t> Sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  const auto sense = replies::MakeSense(key, asc, ascq);
  return {sense.begin(), sense.begin() + 18};
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

std::string SenseText(const std::array<std::uint8_t, 32>& sense) {
  char text[16];
  std::snprintf(text, sizeof text, "%02x/%02x/%02x", sense[2], sense[12], sense[13]);
  return text;
}

}  // namespace

bool CarriesDataToDrive(const std::vector<std::uint8_t>& cdb) {
  switch (cdb.at(0)) {
    case 0x0A:  // WRITE(6)
    case 0x15:  // MODE SELECT(6)
    case 0x1D:  // SEND DIAGNOSTIC
    case 0x2A:  // WRITE(10)
    case 0x3B:  // WRITE BUFFER
    case 0x55:  // MODE SELECT(10)
      return true;
    case 0xFF:  // the vendor's write; its other commands read
      return cdb.size() > 2 && cdb[2] == 0x01;
    default:
      return false;
  }
}

DriveServer::DriveServer(CommandRing& ring, ScenarioDrive drive, Clock& clock,
                         ServerOptions options)
    : ring_(ring),
      options_(std::move(options)),
      drive_(std::move(drive), clock, [this](const std::string&) { imageArrived_ = true; }),
      log_(options_.logPath, std::ios::app) {
  // A program taking over goes on numbering after the images its predecessor kept.
  while (std::filesystem::exists(options_.imagePrefix + "-" + std::to_string(imageFiles_ + 1) +
                                 ".bin")) {
    ++imageFiles_;
  }
}

double DriveServer::Now() const {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int DriveServer::Serve(const std::atomic<bool>& stop) {
  stop_ = &stop;
  bool takingOver = options_.takingOver;
  while (!stop.load()) {
    while (auto command = takingOver ? ring_.Next() : std::optional<RingCommand>{}) {
      AnswerLeftOver(*command);
    }
    takingOver = false;
    while (auto command = ring_.Next()) {
      if (Handle(*command) == Outcome::kGone) return 3;
      if (stop.load()) break;
    }
    ring_.WaitForCommands(200);
  }
  return 0;
}

double DriveServer::Came() {
  const double came = nextWaitingSince_.value_or(Now());
  nextWaitingSince_.reset();
  return came;
}

void DriveServer::NoteAnswered() {
  answeredAt_ = Now();
  if (ring_.HasWaiting()) nextWaitingSince_ = answeredAt_;
}

void DriveServer::AnswerLeftOver(const RingCommand& command) {
  const double came = Came();
  const std::vector<std::uint8_t> sense = Sense(0x06, 0x29, 0x00);
  ring_.Answer(command, RingAnswer{kStatusCheckCondition, sense, std::nullopt});
  NoteAnswered();
  Log(command, came, "left-over check 06/29/00");
}

DriveServer::Outcome DriveServer::Handle(const RingCommand& command) {
  const double came = Came();
  const bool toDrive = CarriesDataToDrive(command.cdb);
  data_.assign(command.dataLength, 0);
  if (toDrive) ring_.CopyOut(command, data_.data());
  const auto length = static_cast<std::uint32_t>(command.dataLength);
  const DriveReply reply =
      drive_.Execute(command.cdb.data(), static_cast<std::uint8_t>(command.cdb.size()),
                     data_.data(), length, toDrive);
  switch (reply.kind) {
    case DriveReply::Kind::kGone:
      answeredAt_ = Now();  // never answered: the time it was given up
      Log(command, came, "gone");
      return Outcome::kGone;
    case DriveReply::Kind::kTimeout:
      Hold(command);
      Log(command, came, "held");
      return Outcome::kAnswered;
    default:
      Answer(command, reply, length, toDrive);
  }
  KeepNewImages();
  Log(command, came,
      reply.kind == DriveReply::Kind::kGood    ? "good"
      : reply.kind == DriveReply::Kind::kBusy  ? "busy"
      : reply.kind == DriveReply::Kind::kCheck ? "check " + SenseText(reply.sense)
                                               : "failed");
  return Outcome::kAnswered;
}

void DriveServer::Hold(const RingCommand& command) {
  // The command stays unanswered until the kernel passes on the initiator's abort; the late
  // answer is then dropped by the kernel.
  const double until = Now() + options_.holdLimitSeconds;
  while (!ring_.AbortRequested(command) && Now() < until && !stop_->load()) {
    ring_.WaitForCommands(100);
  }
  const std::vector<std::uint8_t> sense = Sense(0x0B, 0x00, 0x00);
  ring_.Answer(command, RingAnswer{kStatusCheckCondition, sense, std::nullopt});
  NoteAnswered();
}

void DriveServer::Answer(const RingCommand& command, const DriveReply& reply, std::uint32_t length,
                         bool toDrive) {
  RingAnswer answer;
  std::vector<std::uint8_t> sense;
  if (reply.kind == DriveReply::Kind::kCheck) {
    sense.assign(reply.sense.begin(), reply.sense.begin() + 18);
  } else if (reply.kind == DriveReply::Kind::kTransportFailure) {
    sense = Sense(0x04, 0x44, 0x00);  // what a target can say of a failure of its own
  }
  answer.status = reply.kind == DriveReply::Kind::kGood   ? kStatusGood
                  : reply.kind == DriveReply::Kind::kBusy ? kStatusBusy
                                                          : kStatusCheckCondition;
  answer.sense = sense;
  if (!toDrive && reply.kind == DriveReply::Kind::kGood) {
    ring_.CopyIn(command, data_.data(), length);
    if (reply.residual > 0) answer.bytesMoved = length - std::min(reply.residual, length);
  }
  ring_.Answer(command, answer);
  NoteAnswered();
}

void DriveServer::KeepNewImages() {
  if (!imageArrived_) return;
  imageArrived_ = false;
  const auto images = drive_.receivedImages();
  for (; imagesKept_ < images.size(); ++imagesKept_) {
    const std::string path = options_.imagePrefix + "-" + std::to_string(++imageFiles_) + ".bin";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(images[imagesKept_].data()),
              static_cast<std::streamsize>(images[imagesKept_].size()));
  }
}

void DriveServer::Log(const RingCommand& command, double came, const std::string& what) {
  char times[48];
  std::snprintf(times, sizeof times, "%.6f %.6f", came, answeredAt_);
  log_ << times << ' ' << Hex(command.cdb) << ' '
       << (command.dataLength == 0           ? "none"
           : CarriesDataToDrive(command.cdb) ? "out"
                                             : "in")
       << ' ' << command.dataLength << ' ' << what << std::endl;
}

}  // namespace veltran
