#include "server/files/media_format.h"

#include <array>
#include <cstdint>
#include <span>

namespace desk::files {
namespace {

constexpr std::array<MediaFormat, 6> kMusic = {{
    {"mp3", "audio/mpeg", "mp3", true},
    {"wav", "audio/wav", "wav", true},
    {"ogg", "audio/ogg", "ogg", true},
    {"flac", "audio/flac", "flac", true},
    {"m4a", "audio/mp4", "m4a", true},
    {"wma", "audio/x-ms-wma", "wma", false},
}};

constexpr std::array<MediaFormat, 9> kVideo = {{
    {"mp4", "video/mp4", "mp4", true},
    {"webm", "video/webm", "webm", true},
    {"ogg", "video/ogg", "ogv", true},
    {"mov", "video/quicktime", "mov", false},
    {"mkv", "video/x-matroska", "mkv", false},
    {"wmv", "video/x-ms-wmv", "wmv", false},
    {"avi", "video/x-msvideo", "avi", false},
    {"mpeg", "video/mpeg", "mpg", false},
    {"flv", "video/x-flv", "flv", false},
}};

constexpr std::array<MediaFormat, 4> kPicture = {{
    {"jpeg", "image/jpeg", "jpg", true},
    {"png", "image/png", "png", true},
    {"gif", "image/gif", "gif", true},
    {"webp", "image/webp", "webp", true},
}};

std::span<const MediaFormat> formats_of(MediaKind kind) {
  switch (kind) {
    case MediaKind::music:
      return kMusic;
    case MediaKind::video:
      return kVideo;
    case MediaKind::picture:
      return kPicture;
  }
  return {};
}

std::uint8_t at(std::string_view b, std::size_t i) {
  return i < b.size() ? static_cast<std::uint8_t>(b[i]) : 0;
}

bool starts(std::string_view b, std::string_view sig, std::size_t offset = 0) {
  return b.size() >= offset + sig.size() && b.substr(offset, sig.size()) == sig;
}

// An ID3v2 tag (major version 2-4), or an MPEG audio frame header of layer
// I-III with a valid bit rate and sampling rate.
bool is_mp3(std::string_view b) {
  if (starts(b, "ID3") && at(b, 3) >= 2 && at(b, 3) <= 4 && at(b, 4) != 0xFF && b.size() >= 10)
    return true;
  if (b.size() < 4 || at(b, 0) != 0xFF || (at(b, 1) & 0xE0) != 0xE0) return false;
  const int version = (at(b, 1) >> 3) & 3;  // 1 is reserved
  const int layer = (at(b, 1) >> 1) & 3;    // 0 is reserved (and marks AAC)
  const int bitrate = at(b, 2) >> 4;        // 15 is invalid
  const int rate = (at(b, 2) >> 2) & 3;     // 3 is reserved
  return version != 1 && layer != 0 && bitrate != 15 && rate != 3;
}

// The ASF header object, the container of wmv and wma files.
bool is_asf(std::string_view b) {
  static constexpr char kGuid[] =
      "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";
  return starts(b, std::string_view(kGuid, 16));
}

// An ISO base media file (MP4, M4A, MOV): a first box of type "ftyp". Its
// major brand, or "" when the bytes are not one.
std::string_view ftyp_brand(std::string_view b) {
  if (!starts(b, "ftyp", 4) || b.size() < 12) return {};
  return b.substr(8, 4);
}

// An EBML header (Matroska, WebM): true with `webm` set when its document
// type, within the header, is "webm".
bool is_ebml(std::string_view b, bool& webm) {
  if (!starts(b, "\x1A\x45\xDF\xA3")) return false;
  webm = b.substr(0, 64).find("webm") != std::string_view::npos;
  return true;
}

bool is_riff(std::string_view b, std::string_view form) {
  return starts(b, "RIFF") && starts(b, form, 8);
}

// The name of the format the bytes have among all known ones, before the
// kind decides what it accepts.
std::string_view container(std::string_view b) {
  if (starts(b, "\xFF\xD8\xFF")) return "jpeg";
  if (starts(b, "\x89PNG\r\n\x1A\n")) return "png";
  if (starts(b, "GIF87a") || starts(b, "GIF89a")) return "gif";
  if (is_riff(b, "WEBP")) return "webp";
  if (is_riff(b, "WAVE")) return "wav";
  if (is_riff(b, "AVI ")) return "avi";
  if (starts(b, "OggS")) return "ogg";
  if (starts(b, "fLaC")) return "flac";
  if (is_asf(b)) return "asf";
  if (std::string_view brand = ftyp_brand(b); !brand.empty())
    return brand == "qt  " ? "mov" : "mp4";
  if (bool webm = false; is_ebml(b, webm)) return webm ? "webm" : "mkv";
  if (starts(b, std::string_view("\x00\x00\x01\xBA", 4))) return "mpeg";
  if (starts(b, "FLV\x01")) return "flv";
  if (is_mp3(b)) return "mp3";
  return {};
}

}  // namespace

const MediaFormat* format_named(MediaKind kind, std::string_view name) {
  for (const MediaFormat& f : formats_of(kind))
    if (f.name == name) return &f;
  return nullptr;
}

const MediaFormat* recognise(MediaKind kind, std::string_view bytes) {
  std::string_view c = container(bytes);
  if (c.empty()) return nullptr;
  if (c == "asf") c = kind == MediaKind::music ? "wma" : "wmv";
  if (c == "mp4" && kind == MediaKind::music) c = "m4a";
  return format_named(kind, c);
}

}  // namespace desk::files
