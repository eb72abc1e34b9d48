// The action trace: one line per platform action, appended to a file when one is given.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "drive/scsi.h"

namespace veltran {

class Trace {
 public:
  Trace() = default;  // traces nothing
  explicit Trace(const std::string& path);
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  bool enabled() const { return file_ != nullptr; }
  bool ok() const { return ok_; }

  // "scsi <device> <cdb> <in|out> <length> <status> <crc32 of the data buffer after the command>",
  // then " timeout" for a command that ran out of time, " residual <bytes>" where bytes of the
  // length were not moved, and what the OS said when the call itself failed (status 0xFF).
  void Scsi(unsigned device, const CommandRequest& request, const CommandResult& result);
  // "lock <device> on|off ok|fail"
  void Lock(unsigned device, bool on, bool succeeded);
  // "polling <device> off (was <setting>)" or "polling <device> off fail (was <setting>)" for a
  // hold, without the setting when it could not be read; "polling <device> back <setting>", then
  // " fail" when it could not be written back.
  void Polling(unsigned device, bool hold, bool succeeded, std::optional<long> setting);
  void Kill(std::string_view executableName);
  void Restart(bool accepted);

  // The line Scsi() writes, without the newline; the first form has the fields every line has.
  static std::string ScsiLine(unsigned device, const CommandRequest& request, u8 status);
  static std::string ScsiLine(unsigned device, const CommandRequest& request,
                              const CommandResult& result);

 private:
  void Write(const std::string& line);

  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  bool ok_ = true;
  std::mutex mutex_;
};

}  // namespace veltran
