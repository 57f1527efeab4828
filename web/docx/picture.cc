#include "web/docx/picture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "web/docx/error.h"

namespace desk::docx {
namespace {

std::uint32_t be16(const std::string& b, std::size_t i) {
  return (static_cast<std::uint8_t>(b[i]) << 8) | static_cast<std::uint8_t>(b[i + 1]);
}
std::uint32_t be32(const std::string& b, std::size_t i) {
  return (be16(b, i) << 16) | be16(b, i + 2);
}
std::uint32_t le16(const std::string& b, std::size_t i) {
  return static_cast<std::uint8_t>(b[i]) | (static_cast<std::uint8_t>(b[i + 1]) << 8);
}
std::uint32_t le32(const std::string& b, std::size_t i) {
  return le16(b, i) | (le16(b, i + 2) << 16);
}

void read_jpeg(Picture& p) {
  const std::string& b = p.bytes;
  std::size_t i = 2;
  while (i + 4 <= b.size()) {
    if (static_cast<std::uint8_t>(b[i]) != 0xFF) return;
    std::uint8_t m = static_cast<std::uint8_t>(b[i + 1]);
    if (m == 0xFF) {
      ++i;
      continue;
    }
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD9)) {
      i += 2;
      continue;
    }
    std::size_t len = be16(b, i + 2);
    std::size_t data = i + 4;
    if (len < 2 || data + len - 2 > b.size()) return;
    if (m == 0xE0 && len >= 16 && b.compare(data, 5, std::string("JFIF\0", 5)) == 0) {
      int units = static_cast<std::uint8_t>(b[data + 7]);
      double x = be16(b, data + 8), y = be16(b, data + 10);
      if (units == 1 && x > 0 && y > 0) p.dpi_x = x, p.dpi_y = y;
      if (units == 2 && x > 0 && y > 0) p.dpi_x = x * 2.54, p.dpi_y = y * 2.54;
    }
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC && len >= 7) {
      p.height = static_cast<int>(be16(b, data + 1));
      p.width = static_cast<int>(be16(b, data + 3));
      return;
    }
    if (m == 0xDA) return;
    i = data + len - 2;
  }
}

void read_png(Picture& p) {
  const std::string& b = p.bytes;
  std::size_t i = 8;
  while (i + 12 <= b.size()) {
    std::uint32_t len = be32(b, i);
    std::string type = b.substr(i + 4, 4);
    std::size_t data = i + 8;
    if (len > b.size() - data) return;
    if (type == "IHDR" && len >= 8) {
      p.width = static_cast<int>(be32(b, data));
      p.height = static_cast<int>(be32(b, data + 4));
    } else if (type == "pHYs" && len >= 9 && b[data + 8] == 1) {
      double x = be32(b, data), y = be32(b, data + 4);
      if (x > 0 && y > 0) p.dpi_x = std::round(x * 0.0254), p.dpi_y = std::round(y * 0.0254);
    } else if (type == "IDAT") {
      return;
    }
    i = data + len + 4;
  }
}

}  // namespace

Picture read_picture(std::string bytes) {
  Picture p;
  p.bytes = std::move(bytes);
  const std::string& b = p.bytes;
  if (b.size() > 4 && static_cast<std::uint8_t>(b[0]) == 0xFF &&
      static_cast<std::uint8_t>(b[1]) == 0xD8) {
    p.ext = "jpeg", p.content_type = "image/jpeg";
    read_jpeg(p);
  } else if (b.size() > 24 && b.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) {
    p.ext = "png", p.content_type = "image/png";
    read_png(p);
  } else if (b.size() > 10 && (b.compare(0, 6, "GIF87a") == 0 || b.compare(0, 6, "GIF89a") == 0)) {
    p.ext = "gif", p.content_type = "image/gif";
    p.width = static_cast<int>(le16(b, 6));
    p.height = static_cast<int>(le16(b, 8));
  } else if (b.size() > 26 && b.compare(0, 2, "BM") == 0) {
    p.ext = "bmp", p.content_type = "image/bmp";
    std::uint32_t header = le32(b, 14);
    if (header == 12) {
      p.width = static_cast<int>(le16(b, 18));
      p.height = static_cast<int>(le16(b, 20));
    } else if (header >= 40 && b.size() >= 54) {
      p.width = static_cast<std::int32_t>(le32(b, 18));
      long long h = static_cast<std::int32_t>(le32(b, 22));
      p.height = static_cast<int>(std::min(std::llabs(h), 1000000LL));
      double x = static_cast<std::int32_t>(le32(b, 38)), y = static_cast<std::int32_t>(le32(b, 42));
      if (x > 0 && y > 0) p.dpi_x = std::round(x * 0.0254), p.dpi_y = std::round(y * 0.0254);
    }
  } else {
    throw Error(Errc::unsupported, "not a JPEG, PNG, GIF or BMP picture");
  }
  if (p.width <= 0 || p.height <= 0 || p.width > 100000 || p.height > 100000)
    throw Error(Errc::unsupported, "the " + p.ext + " picture's size cannot be read");
  return p;
}

}  // namespace desk::docx
