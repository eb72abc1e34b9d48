// Serves the drive model through the command ring: each command the kernel passes on runs
// against the model, in real time, and is logged with the times it came and was answered.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <string>

#include "command_ring.h"
#include "system/clock.h"
#include "virtual/drive_model.h"

namespace veltran {

struct ServerOptions {
  std::string logPath;      // one line per command, appended
  std::string imagePrefix;  // each image received whole: PREFIX-N.bin
  // How long a held command waits at most for the initiator to give up on it.
  std::uint32_t holdLimitSeconds = 300;
  // A program taking over from one that ended: what the ring still holds was sent to a drive
  // that has since restarted, and is answered with UNIT ATTENTION, never run again.
  bool takingOver = false;
};

// Data-out or data-in, from the operation code: the ring does not say.
bool CarriesDataToDrive(const std::vector<std::uint8_t>& cdb);

class DriveServer {
 public:
  DriveServer(CommandRing& ring, ScenarioDrive drive, Clock& clock, ServerOptions options);
  // Answers commands until `stop` is set. Returns 0, or 3 when a fault made the drive go
  // (the program then ends without answering, as firmware that stops would).
  int Serve(const std::atomic<bool>& stop);

 private:
  enum class Outcome { kAnswered, kGone };
  Outcome Handle(const RingCommand& command);
  void AnswerLeftOver(const RingCommand& command);
  void Hold(const RingCommand& command);
  void Answer(const RingCommand& command, const DriveReply& reply, std::uint32_t length,
              bool toDrive);
  // The time a command came: when it was found in the ring, or, for one that was already
  // waiting when the drive answered the one before, that answer's time.
  double Came();
  void NoteAnswered();
  void Log(const RingCommand& command, double came, const std::string& what);
  void KeepNewImages();
  double Now() const;

  CommandRing& ring_;
  ServerOptions options_;
  bool imageArrived_ = false;
  VirtualDrive drive_;
  std::ofstream log_;
  std::size_t imagesKept_ = 0;  // of this program's drive
  std::size_t imageFiles_ = 0;  // in the folder, a predecessor's included
  std::vector<std::uint8_t> data_;
  const std::atomic<bool>* stop_ = nullptr;  // while Serve runs
  double answeredAt_ = 0;
  std::optional<double> nextWaitingSince_;
};

}  // namespace veltran
