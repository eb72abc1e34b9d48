// Writes zip archives byte by byte, including the malformed ones no archiver would make.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace veltran::testing {

using Bytes = std::vector<unsigned char>;

struct ZipItem {
  ZipItem(std::string itemName, Bytes itemData, bool deflated = true)
      : name(std::move(itemName)), data(std::move(itemData)), deflate(deflated) {}

  std::string name;
  Bytes data;
  bool deflate = true;
  std::uint32_t externalAttributes = 0x20;  // archive bit, as an MS-DOS host writes it
  std::uint16_t madeBy = 20;                // host 0, version 2.0
  std::uint32_t dosDateTime = (44u << 25) | (6u << 21) | (15u << 16) | (12u << 11) | (30u << 5);
  Bytes extra;  // central-directory extra field
  std::uint16_t flags = 0;
  std::uint16_t method = 0xFFFF;  // 0xFFFF: 8 when deflated, else 0
  // Overrides of what the headers claim, for damaged entries.
  bool overrideCrc = false;
  std::uint32_t crc = 0;
  bool overrideSize = false;
  std::uint32_t uncompressedSize = 0;
  // The data as stored: bytes left off its end, then bytes added after it; both show in the
  // compressed size.
  std::size_t cut = 0;
  Bytes trailing;
};

inline void Put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<unsigned char>(v & 0xFF));
  out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}
inline void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

inline Bytes RawDeflate(const Bytes& data) {
  z_stream s{};
  deflateInit2(&s, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&s, static_cast<uLong>(data.size())) + 16);
  s.next_in = const_cast<unsigned char*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

inline Bytes BuildZip(const std::vector<ZipItem>& items) {
  Bytes out, central;
  for (const ZipItem& item : items) {
    Bytes body = item.deflate ? RawDeflate(item.data) : item.data;
    body.resize(body.size() - std::min(item.cut, body.size()));
    body.insert(body.end(), item.trailing.begin(), item.trailing.end());
    const std::uint16_t method = item.method != 0xFFFF ? item.method : (item.deflate ? 8 : 0);
    const std::uint32_t crc = item.overrideCrc
                                  ? item.crc
                                  : static_cast<std::uint32_t>(crc32(
                                        0, item.data.data(), static_cast<uInt>(item.data.size())));
    const std::uint32_t size =
        item.overrideSize ? item.uncompressedSize : static_cast<std::uint32_t>(item.data.size());
    const auto offset = static_cast<std::uint32_t>(out.size());
    Put32(out, 0x04034b50);
    Put16(out, 20);
    Put16(out, item.flags);
    Put16(out, method);
    Put32(out, item.dosDateTime);
    Put32(out, crc);
    Put32(out, static_cast<std::uint32_t>(body.size()));
    Put32(out, size);
    Put16(out, static_cast<std::uint32_t>(item.name.size()));
    Put16(out, 0);
    out.insert(out.end(), item.name.begin(), item.name.end());
    out.insert(out.end(), body.begin(), body.end());

    Put32(central, 0x02014b50);
    Put16(central, item.madeBy);
    Put16(central, 20);
    Put16(central, item.flags);
    Put16(central, method);
    Put32(central, item.dosDateTime);
    Put32(central, crc);
    Put32(central, static_cast<std::uint32_t>(body.size()));
    Put32(central, size);
    Put16(central, static_cast<std::uint32_t>(item.name.size()));
    Put16(central, static_cast<std::uint32_t>(item.extra.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, item.externalAttributes);
    Put32(central, offset);
    central.insert(central.end(), item.name.begin(), item.name.end());
    central.insert(central.end(), item.extra.begin(), item.extra.end());
  }
  const auto centralOffset = static_cast<std::uint32_t>(out.size());
  out.insert(out.end(), central.begin(), central.end());
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<std::uint32_t>(items.size()));
  Put16(out, static_cast<std::uint32_t>(items.size()));
  Put32(out, static_cast<std::uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  return out;
}

// Bytes standing in for the launcher's executable image in front of the archive.
inline Bytes FakeExecutableImage(std::size_t size = 4096) {
  Bytes image(size);
  image[0] = 'M';
  image[1] = 'Z';
  for (std::size_t i = 2; i < size; ++i) image[i] = static_cast<unsigned char>((i * 131) >> 3);
  return image;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes Pattern(std::size_t size, unsigned seed) {
  Bytes data(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& byte : data) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(x >> 24);
  }
  return data;
}

}  // namespace veltran::testing
