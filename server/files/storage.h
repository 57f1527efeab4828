// The folders of an application folder that hold stored uploads: the media
// library's files and the upload store. They are never served as static
// files; pages serve their files to those allowed to see them.
#pragma once

#include <filesystem>
#include <string_view>

namespace desk::files {

inline constexpr std::string_view kMusicFolder = "MP3";
inline constexpr std::string_view kVideoFolder = "dv";
inline constexpr std::string_view kPictureFolder = "pic";
// Files of the document control's multi-file upload ("upload.asp").
inline constexpr std::string_view kUploadStore = "upfiles";

inline constexpr std::string_view kStorageFolders[] = {kMusicFolder, kVideoFolder, kPictureFolder,
                                                       kUploadStore};

// Creates the storage folders that are missing.
inline void make_storage_folders(const std::filesystem::path& root) {
  for (std::string_view folder : kStorageFolders)
    std::filesystem::create_directories(root / folder);
}

}  // namespace desk::files
