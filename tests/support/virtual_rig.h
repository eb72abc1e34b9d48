// A virtual machine with its transport and trace, for tests that drive the core end to end.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "drive/identify.h"
#include "support/temp_files.h"
#include "virtual/machine.h"

namespace veltran::testing {

class VirtualRig {
 public:
  explicit VirtualRig(const std::string& scenarioJson)
      : tracePath_("veltran-trace"),
        trace_(tracePath_.path().string()),
        machine_(ParseScenario(scenarioJson, "test scenario")),
        transport_(MakeVirtualBackend(machine_), trace_),
        buffer_(std::make_unique<CommandBuffer>()),
        ctx_{transport_, machine_.clock(), *buffer_, identity_} {}

  VirtualMachine& machine() { return machine_; }
  DriveTransport& transport() { return transport_; }
  DriveContext& ctx() { return ctx_; }
  CommandBuffer& buffer() { return *buffer_; }
  DriveIdentity& identity() { return identity_; }
  Trace& trace() { return trace_; }
  std::vector<std::string> TraceLines() const { return ReadLines(tracePath_.path()); }
  void ClearTrace() { std::ofstream(tracePath_.path(), std::ios::trunc); }
  // The CDB and status fields of each scsi trace line: "<device> <cdb> <status>".
  std::vector<std::string> CommandsTraced() const;

 private:
  TempFile tracePath_;
  Trace trace_;
  VirtualMachine machine_;
  DriveTransport transport_;
  std::unique_ptr<CommandBuffer> buffer_;
  DriveIdentity identity_;
  DriveContext ctx_;
};

inline std::vector<std::string> VirtualRig::CommandsTraced() const {
  std::vector<std::string> out;
  for (const std::string& line : TraceLines()) {
    std::istringstream in(line);
    std::string kind, device, cdb, direction, length, status;
    in >> kind >> device >> cdb >> direction >> length >> status;
    if (kind == "scsi") out.push_back(device + " " + cdb + " " + status);
  }
  return out;
}

// A one-drive nt scenario; `drive` is the JSON of the drive's extra members.
inline std::string NtDrive(const std::string& inquiry, const std::string& extra = "") {
  return R"({"platform": "nt", "drives": [{"letter": "e", "inquiry": )" + inquiry +
         (extra.empty() ? "" : ", " + extra) + "}]}";
}

}  // namespace veltran::testing
