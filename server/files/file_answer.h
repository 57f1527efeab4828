// Answers with a stored file as the whole response, for pages that serve
// files kept on disk to those allowed to see them (media players seek with
// byte ranges).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/asp/asp.h"

namespace desk::files {

// The most bytes one answer to an open range ("bytes=N-") carries; players
// ask for the rest as they go.
inline constexpr std::uint64_t kMaxOpenRange = 8 * 1024 * 1024;

// One byte range of a file, both ends included.
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
};

// What a Range header asks of a file of `size` bytes: nullopt for the whole
// file (no header, a header that is not one single "bytes=" range, or one
// that cannot be read); a range with first > last when no byte of it lies in
// the file (an answer 416). An open range is cut to kMaxOpenRange bytes.
std::optional<ByteRange> requested_range(std::string_view header, std::uint64_t size);

// Replaces the response with the file at `path`: 200 with the whole file, 206
// with the one byte range asked for (Range, honoured only when If-Range is
// absent or matches), 416 for a range outside the file, 304 when
// If-None-Match names the file's current tag. `disposition` "" sends none.
// Error(not_found) when the file cannot be read.
void send_stored_file(asp::ScriptingContext& ctx, const std::filesystem::path& path,
                      std::string_view content_type, std::string_view disposition);

}  // namespace desk::files
