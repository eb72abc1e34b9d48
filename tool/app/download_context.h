// What a download works with, shared by its checks, its transfer forms and its worker.
#pragma once

#include <string_view>

#include "app/app_state.h"
#include "app/test_log.h"
#include "app/window.h"
#include "drive/catalogue.h"
#include "drive/identify.h"
#include "system/system.h"

namespace veltran {

struct DownloadContext {
  AppState& state;
  MainWindow& window;
  DriveTransport& transport;
  SystemInterface& system;
  const TestLog& log;
  CommandBuffer& buffer;

  // A catalogue command for the command buffer, with the catalogue's data length.
  u8 Send(u8 device, Command command) const {
    const CommandSpec& entry = Catalogue(command);
    return transport.ExecuteCommand(
        device, CommandRequest{entry.cdb.data(), entry.cdbLength, buffer.data(), entry.dataLength,
                               entry.direction});
  }
  void Log(std::string_view code) const { log.WriteTestLog(code); }
};

}  // namespace veltran
