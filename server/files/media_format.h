// What the bytes of a media upload are: pictures, music and video are
// recognised by the signature of their format or container, never by a file
// name or a type the client claims.
#pragma once

#include <string_view>

namespace desk::files {

enum class MediaKind { music, video, picture };

// A format a kind of media may be stored in.
struct MediaFormat {
  std::string_view name;          // as stored in `format`: "mp3", "wav", "jpeg", ...
  std::string_view content_type;  // the type the file is served with
  std::string_view ext;           // extension of the name a download is saved under
  // Browsers play (or show) it in the page; other formats are offered for
  // download only.
  bool plays = false;
};

// The format of an upload of `kind`; nullptr when the bytes are none of the
// formats the kind accepts:
//   music:   mp3 (ID3 tag or an MPEG audio frame), wav, ogg, flac, m4a (MP4
//            container), wma (ASF container);
//   video:   mp4, mov, webm, mkv, ogg, wmv (ASF), avi, mpeg (program stream), flv;
//   picture: jpeg, png, gif, webp.
const MediaFormat* recognise(MediaKind kind, std::string_view bytes);

// The format stored as `name` for `kind`; nullptr when the kind has none of
// that name.
const MediaFormat* format_named(MediaKind kind, std::string_view name);

}  // namespace desk::files
