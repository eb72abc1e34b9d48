// The configfs entries that make the kernel's SCSI target serve one device through our ring
// (the user-space back end) to its own SCSI stack (the loopback fabric), where `sr` and `sg`
// attach to it like any drive.
#pragma once

#include <string>

namespace veltran {

class TargetDevice {
 public:
  // `index` keeps the devices of several programs apart (their names and port addresses).
  TargetDevice(std::string name, unsigned index);

  // The back-end device, ready for its ring to be opened. False, with `error`, when the kernel
  // refused a step (the modules not loaded, not root, the name taken).
  bool Create(std::string& error);
  // Links the device to a port of the loopback fabric: the kernel then attaches it and sends it
  // commands at once, so the ring must be served meanwhile (another thread).
  bool Link(std::string& error);
  // Takes the entries away again, the ones another program made for the same name and index
  // too. The kernel detaches the drive first and may send it commands meanwhile: the ring must
  // be served until this returns.
  void Remove();
  // The beginning of the ring's uio name.
  std::string UioNamePrefix() const;

 private:
  std::string name_;
  unsigned index_;
};

}  // namespace veltran
