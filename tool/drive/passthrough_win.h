// The NT family's back end: one device handle per drive letter and the storage stack's direct
// pass-through request.
#pragma once

#include <optional>
#include <vector>

#include "drive/backend.h"
#include "drive/passthrough_abi.h"

namespace veltran {

// Owns one device handle; closed when the owner goes.
class DeviceHandle {
 public:
  DeviceHandle() = default;
  explicit DeviceHandle(HANDLE handle) : handle_(handle) {}
  DeviceHandle(DeviceHandle&& other) noexcept : handle_(other.release()) {}
  DeviceHandle& operator=(DeviceHandle&& other) noexcept;
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  ~DeviceHandle() { reset(); }

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE release();
  void reset();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class PassThroughBackend final : public ScsiBackend {
 public:
  static constexpr unsigned kLetters = 26;

  unsigned BeginScan() override;
  std::optional<u8> Probe(unsigned candidate, const CommandRequest& request) override;
  void Accept(unsigned candidate) override;
  unsigned MaxDevices() const override { return kLetters; }
  u8 Execute(u8 device, const CommandRequest& request) override;

 private:
  std::vector<DeviceHandle> devices_;
  DeviceHandle probed_;
  std::optional<unsigned> probedCandidate_;
};

// Opens "\\.\x:" for reading and writing when the system calls drive "x:" a CD-ROM drive; an
// invalid handle otherwise, and then nothing was opened.
DeviceHandle OpenCdromDevice(char letter);

// The request block for one command, the data buffer passed by pointer.
PassThroughRequest MakePassThroughRequest(const CommandRequest& request);
// The command status of a finished call: 0xFF when the call failed, 1 for good status, else 4
// with sense bytes 2, 12 and 13 copied into the data buffer.
u8 PassThroughResult(bool callSucceeded, const PassThroughRequest& block, u8* data);
// Sends one command on an open device handle. A request the block cannot carry (no buffer, or a
// CDB longer than its room) is refused with 0xFF and nothing is sent.
u8 PassThroughExecute(HANDLE device, const CommandRequest& request);

}  // namespace veltran
