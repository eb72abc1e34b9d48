#include "drive/trace.h"

#include <zlib.h>

#include <cinttypes>

namespace veltran {

Trace::Trace(const std::string& path) : file_(std::fopen(path.c_str(), "ab")) {
  ok_ = file_ != nullptr;
}

std::string Trace::ScsiLine(unsigned device, const CommandRequest& request, u8 status) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string cdb;
  for (u8 i = 0; i < request.cdbLength; ++i) {
    cdb += kHex[request.cdb[i] >> 4];
    cdb += kHex[request.cdb[i] & 0xF];
  }
  const uLong crc = request.dataLength == 0 ? 0
                                            : crc32(crc32(0L, Z_NULL, 0), request.data,
                                                    static_cast<uInt>(request.dataLength));
  char tail[64];
  std::snprintf(tail, sizeof tail, " %s %" PRIu32 " %02x %08lx",
                request.direction == kDataIn ? "in" : "out", request.dataLength, status,
                static_cast<unsigned long>(crc));
  return "scsi " + std::to_string(device) + " " + cdb + tail;
}

std::string Trace::ScsiLine(unsigned device, const CommandRequest& request,
                            const CommandResult& result) {
  std::string line = ScsiLine(device, request, result.status);
  if (result.timedOut) line += " timeout";
  if (result.residual != 0) line += " residual " + std::to_string(result.residual);
  if (result.status == kStatusCallFailed && result.os.any()) line += " " + result.os.Describe();
  return line;
}

void Trace::Scsi(unsigned device, const CommandRequest& request, const CommandResult& result) {
  if (enabled()) Write(ScsiLine(device, request, result));
}

void Trace::Lock(unsigned device, bool on, bool succeeded) {
  if (enabled()) {
    Write("lock " + std::to_string(device) + (on ? " on " : " off ") + (succeeded ? "ok" : "fail"));
  }
}

void Trace::Polling(unsigned device, bool hold, bool succeeded, std::optional<long> setting) {
  if (!enabled()) return;
  const std::string value = setting ? std::to_string(*setting) : "";
  std::string line = "polling " + std::to_string(device);
  if (hold) {
    line += succeeded ? " off" : " off fail";
    if (setting) line += " (was " + value + ")";
  } else {
    line += " back " + value + (succeeded ? "" : " fail");
  }
  Write(line);
}

void Trace::Kill(std::string_view executableName) {
  if (enabled()) Write("kill " + std::string(executableName));
}

void Trace::Restart(bool accepted) {
  if (enabled()) Write(accepted ? "restart accepted" : "restart refused");
}

void Trace::Write(const std::string& line) {
  std::lock_guard lock(mutex_);
  // Flushed per line: the trace must survive a program that ends by closing its window.
  if (std::fprintf(file_.get(), "%s\n", line.c_str()) < 0 || std::fflush(file_.get()) != 0) {
    ok_ = false;
  }
}

}  // namespace veltran
