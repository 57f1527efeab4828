// The shared media library: music, video, and pictures gathered into albums.
//
// A share takes two steps. A save page takes one file as the whole request
// body and records it; a share page then stores the title, description and
// visibility the user typed:
//
//   kind      save       share      file                      `share.type`
//   music     savemp3    sharemp3   MP3/<share id>.mp3        "mp3"
//   video     savedv     sharedv    dv/<share id>.wmv         "dv"
//   pictures  savepic    sharepic   pic/<picture id>.jpg      "pic" (the album)
//
// The folders are under the application folder and the file names are fixed
// whatever the format; the format, recognised from the bytes (media_format.h),
// is recorded in `format` and decides how the file is served. Pictures wait
// under the uploader's session identifier (`sharepic.shareid`) until
// `sharepic` gathers them into a new album, whose `share` id then replaces it.
//
// Ids are the largest id plus one, taken in the same write transaction that
// inserts the record, so concurrent uploads never share an id or a file. A
// record and its file exist together: the file is written under a temporary
// name first and takes its final name inside the transaction; when anything
// fails the file is removed and the record rolled back.
//
// Media files are never served as static files; sharefile.asp serves them
// to the users who may see them: an item that is shared (`isshare` "1") or
// their own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/asp/asp.h"
#include "server/files/media_format.h"
#include "server/files/storage.h"

namespace desk::files {

// One kind of shared item.
struct MediaKindInfo {
  MediaKind kind;
  std::string_view type;         // `share.type`: "mp3", "dv", "pic"
  std::string_view folder;       // sub-folder of the application folder
  std::string_view ext;          // extension of the stored file names
  std::string_view session_key;  // the key naming the last upload; "" for pictures
  std::string_view label;        // what users call it: "音乐", "视频", "相册"
};
const MediaKindInfo& kind_info(MediaKind kind);
// The kind of a `share.type`; nullptr for anything else.
const MediaKindInfo* kind_of_type(std::string_view type);

// The stored file of item or picture `id` of `kind` ("MP3/12.mp3").
std::filesystem::path media_file(const std::filesystem::path& root, MediaKind kind,
                                 std::int64_t id);

// `isshare` as stored: "1" for a shared item, "0" for a private one.
std::string visibility_flag(std::string_view posted);

// The share item `id` if `uid` may see it (shared or theirs): its
// `type`, `format`, `title`, `uid`; an empty result otherwise.
db::Result visible_item(db::Connection& conn, std::int64_t id, std::string_view uid);
// The picture `id` if `uid` may see it (their own upload, or in an album they
// may see): its `format` and `shareid`; an empty result otherwise.
db::Result visible_picture(db::Connection& conn, std::int64_t id, std::string_view uid);

// Deletes item `id` of owner `uid` with the pictures of an album, records and
// files together: the files are moved aside inside the write transaction
// and removed once it has committed, or put back when it fails. False (and
// nothing changed) when `uid` owns no item `id`.
bool delete_item(db::Connection& conn, const std::filesystem::path& root, std::int64_t id,
                 std::string_view uid);

// ---- Components -------------------------------------------------------------
//
// Save pages: the request body is the file. An empty body, or bytes that are
// none of the kind's formats, are refused with Error(bad_request), a body
// over asp::upload_ceiling with Error(too_large); nothing is written then.

// `savemp3` / `savedv`: stores the file and a `share` record without title
// (date, client address, type, owner, format, size) and sets Session `mp3id`
// / `dvid` to its id.
class SaveMedia : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
  // The id stored by main.
  std::int64_t id() const { return id_; }

 protected:
  explicit SaveMedia(MediaKind kind) : kind_(kind) {}

 private:
  MediaKind kind_;
  std::int64_t id_ = 0;
};
class SaveMp3 : public SaveMedia {
 public:
  SaveMp3() : SaveMedia(MediaKind::music) {}
};
class SaveDv : public SaveMedia {
 public:
  SaveDv() : SaveMedia(MediaKind::video) {}
};

// `savepic`: stores the picture and a `sharepic` record waiting under the
// Session identifier, with its uploader.
class SavePic : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
  std::int64_t id() const { return id_; }

 private:
  std::int64_t id_ = 0;
};

// `sharemp3` / `sharedv`: sets `title`, `content` and `isshare` (request) of
// the item Session `mp3id` / `dvid` names, when it is the user's. Without such
// an item nothing changes and id() stays 0.
class ShareMedia : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
  std::int64_t id() const { return id_; }

 protected:
  explicit ShareMedia(MediaKind kind) : kind_(kind) {}

 private:
  MediaKind kind_;
  std::int64_t id_ = 0;
};
class ShareMp3 : public ShareMedia {
 public:
  ShareMp3() : ShareMedia(MediaKind::music) {}
};
class ShareDv : public ShareMedia {
 public:
  ShareDv() : ShareMedia(MediaKind::video) {}
};

// `sharepic`: a new album (`share` record of type "pic" with `title`,
// `content`, `isshare` from the request) holding every picture this session's
// user uploaded in this session and not yet put in an album. One
// transaction; Error(bad_request) when there is no such picture.
class SharePic : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
  std::int64_t id() const { return id_; }

 private:
  std::int64_t id_ = 0;
};

// Registers the six components with their hosting pages and the library's
// pages (media_pages.cc): "sharemore.asp" (the list), "shareview.asp?id="
// (an album, a player), "shareadd.asp?type=pic|mp3|dv" (upload and share),
// "sharefile.asp?id=|pic=" (the files) and "sharedel.asp" (deletion).
void register_media_pages(asp::Registry& registry);

}  // namespace desk::files
