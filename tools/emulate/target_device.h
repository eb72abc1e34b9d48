// The configfs entries that make the kernel's SCSI target serve one device through our ring
// (the user-space back end) to its own SCSI stack (the loopback fabric), where `sr` and `sg`
// attach to it like any drive.
#pragma once

#include <string>

namespace veltran {

class TargetDevice {
 public:
  // `index` keeps the devices of several programs apart (their names and port addresses).
  // Unless `removeAtEnd`, the entries stay for another program to take the device over.
  TargetDevice(std::string name, unsigned index, bool removeAtEnd);
  ~TargetDevice();
  TargetDevice(const TargetDevice&) = delete;
  TargetDevice& operator=(const TargetDevice&) = delete;

  // The back-end device, ready for its ring to be opened. False, with `error`, when the kernel
  // refused a step (the modules not loaded, not root, the name taken).
  bool Create(std::string& error);
  // Links the device to a port of the loopback fabric: the kernel then attaches it and sends it
  // commands at once, so the ring must be served meanwhile (another thread).
  bool Link(std::string& error);
  // The beginning of the ring's uio name.
  std::string UioNamePrefix() const;

 private:
  void Remove();

  std::string name_;
  unsigned index_;
  bool removeAtEnd_;
  bool created_ = false;
  bool linked_ = false;
};

}  // namespace veltran
