// realdrive-blocks: the bare loop the download's block phase is measured against. Reads an
// image's blocks forward into one buffer and sends each to a drive by SG_IO as the block form of
// a download does (VENDOR WRITE: the first block code 00, the next ones ff, the last one its size
// in KB), nothing else, and prints the time the blocks before the last took.
//
// usage: realdrive-blocks /dev/sgN IMAGE BLOCK_KB
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool SendBlock(int fd, std::uint8_t code, std::vector<std::uint8_t>& data, std::size_t length) {
  std::uint8_t cdb[12] = {0xFF, 0x00, 0x01, 0x00, 0x00, code, 0, 0, 0, 0, 0, 0};
  std::uint8_t sense[32] = {};
  sg_io_hdr_t hdr{};
  hdr.interface_id = 'S';
  hdr.dxfer_direction = SG_DXFER_TO_DEV;
  hdr.cmd_len = sizeof cdb;
  hdr.cmdp = cdb;
  hdr.dxfer_len = static_cast<unsigned>(length);
  hdr.dxferp = data.data();
  hdr.mx_sb_len = sizeof sense;
  hdr.sbp = sense;
  hdr.timeout = 60000;
  return ::ioctl(fd, SG_IO, &hdr) == 0 && hdr.status == 0 && hdr.host_status == 0 &&
         hdr.driver_status == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: realdrive-blocks /dev/sgN IMAGE BLOCK_KB\n", stderr);
    return 2;
  }
  const int image = ::open(argv[2], O_RDONLY | O_CLOEXEC);
  struct stat st {};
  const std::size_t block = std::strtoul(argv[3], nullptr, 10) * 1024;
  const int fd = ::open(argv[1], O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || image < 0 || ::fstat(image, &st) != 0 || block == 0 ||
      static_cast<std::size_t>(st.st_size) <= block) {
    std::fputs("realdrive-blocks: cannot open the drive or the image, or it is not two blocks\n",
               stderr);
    return 2;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  std::vector<std::uint8_t> buffer(block);
  const auto start = std::chrono::steady_clock::now();
  std::size_t offset = 0;
  for (std::uint8_t code = 0x00; size - offset > block; code = 0xFF, offset += block) {
    if (::read(image, buffer.data(), block) != static_cast<ssize_t>(block)) return 1;
    if (!SendBlock(fd, code, buffer, block)) return 1;
  }
  const std::chrono::duration<double> blocks = std::chrono::steady_clock::now() - start;
  const std::size_t last = size - offset;
  const bool finished = ::read(image, buffer.data(), last) == static_cast<ssize_t>(last) &&
                        SendBlock(fd, static_cast<std::uint8_t>(last / 1024), buffer, last);
  std::printf("blocks %zu in %.3f s, final %s\n", offset / block, blocks.count(),
              finished ? "good" : "failed");
  return finished ? 0 : 1;
}
