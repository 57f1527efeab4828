#include "web/docx/package.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "web/docx/error.h"

namespace desk::docx {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string zip_message(zip_error_t* e) {
  std::string m = zip_error_strerror(e);
  zip_error_fini(e);
  return m;
}

// Reads all of a libzip source (a buffer source after zip_close).
std::string read_source(zip_source_t* src) {
  if (zip_source_open(src) < 0) throw Error(Errc::io, "cannot read the written package");
  std::string out;
  char buf[65536];
  zip_int64_t n;
  while ((n = zip_source_read(src, buf, sizeof buf)) > 0)
    out.append(buf, static_cast<std::size_t>(n));
  zip_source_close(src);
  if (n < 0) throw Error(Errc::io, "cannot read the written package");
  return out;
}

}  // namespace

void check_part_name(std::string_view name) {
  auto refuse = [&](const char* why) {
    throw Error(Errc::unsafe, "refused zip entry \"" + std::string(name) + "\": " + why);
  };
  if (name.empty()) refuse("empty name");
  if (name.front() == '/') refuse("absolute path");
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) refuse("control character in name");
    if (c == '\\') refuse("backslash in name");
  }
  std::string_view rest = name;
  while (!rest.empty()) {
    auto slash = rest.find('/');
    auto seg = rest.substr(0, slash);
    if (seg == "..") refuse("\"..\" in path");
    if (seg == ".") refuse("\".\" in path");
    if (seg.empty()) refuse("empty path segment");
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
    if (rest.empty()) break;  // a trailing '/' marks a directory entry
  }
}

Package Package::open(std::string bytes, const Limits& limits) {
  if (bytes.size() > limits.max_file_bytes)
    throw Error(Errc::unsafe, "the file has " + std::to_string(bytes.size()) +
                                  " bytes, above the limit of " +
                                  std::to_string(limits.max_file_bytes));
  Package p;
  p.limits_ = limits;
  p.bytes_ = std::make_shared<const std::string>(std::move(bytes));
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(p.bytes_->data(), p.bytes_->size(), 0, &err);
  if (!src) throw Error(Errc::io, "cannot read the package: " + zip_message(&err));
  p.za_ = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &err);
  if (!p.za_) {
    zip_source_free(src);
    throw Error(Errc::malformed, "not a zip package: " + zip_message(&err));
  }
  zip_error_fini(&err);

  zip_int64_t n = zip_get_num_entries(p.za_, 0);
  if (n < 0) throw Error(Errc::malformed, "not a zip package: no central directory");
  if (static_cast<std::uint64_t>(n) > limits.max_entries)
    throw Error(Errc::unsafe, "the package has " + std::to_string(n) +
                                  " entries, above the limit of " +
                                  std::to_string(limits.max_entries));
  std::uint64_t total = 0;
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(p.za_, static_cast<zip_uint64_t>(i), 0, &st) < 0 ||
        !(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE) ||
        !(st.valid & ZIP_STAT_COMP_SIZE))
      throw Error(Errc::malformed, "unreadable zip entry " + std::to_string(i));
    Entry e;
    e.name = st.name;
    e.index = static_cast<std::uint64_t>(i);
    e.size = st.size;
    e.comp_size = st.comp_size;
    check_part_name(e.name);
    e.dir = e.name.back() == '/';
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
      throw Error(Errc::unsupported, "encrypted zip entry \"" + e.name + "\"");
    if (e.size > limits.max_part_bytes)
      throw Error(Errc::unsafe, "zip entry \"" + e.name + "\" inflates to " +
                                    std::to_string(e.size) + " bytes, above the limit of " +
                                    std::to_string(limits.max_part_bytes));
    if (e.size > limits.ratio_floor &&
        e.size / std::max<std::uint64_t>(e.comp_size, 1) > limits.max_ratio)
      throw Error(Errc::unsafe, "zip entry \"" + e.name +
                                    "\" is a zip bomb: " + std::to_string(e.comp_size) +
                                    " bytes inflate to " + std::to_string(e.size));
    total += e.size;
    if (total > limits.max_total_bytes)
      throw Error(Errc::unsafe, "the package inflates to more than " +
                                    std::to_string(limits.max_total_bytes) + " bytes");
    auto key = lower(e.name);
    if (!p.keys_.emplace(key, e.name).second)
      throw Error(Errc::unsafe, "zip entry \"" + e.name + "\" appears twice");
    p.entries_.push_back(std::move(e));
  }
  return p;
}

Package::Package(Package&& o) noexcept {
  *this = std::move(o);
}

Package& Package::operator=(Package&& o) noexcept {
  if (this != &o) {
    if (za_) zip_discard(za_);
    bytes_ = std::move(o.bytes_);
    za_ = o.za_;
    o.za_ = nullptr;
    entries_ = std::move(o.entries_);
    keys_ = std::move(o.keys_);
    written_ = std::move(o.written_);
    removed_ = std::move(o.removed_);
    added_order_ = std::move(o.added_order_);
    limits_ = o.limits_;
  }
  return *this;
}

Package::~Package() {
  if (za_) zip_discard(za_);
}

const Package::Entry* Package::find(std::string_view name) const {
  auto key = lower(name);
  if (removed_.count(key)) return nullptr;
  auto it = keys_.find(key);
  if (it == keys_.end()) return nullptr;
  for (const auto& e : entries_)
    if (e.name == it->second) return &e;
  return nullptr;
}

bool Package::has(std::string_view name) const {
  auto key = lower(name);
  if (written_.count(key)) return true;
  const Entry* e = find(name);
  return e && !e->dir;
}

std::string Package::read(std::string_view name) const {
  auto key = lower(name);
  if (auto w = written_.find(key); w != written_.end()) return w->second.bytes;
  const Entry* e = find(name);
  if (!e || e->dir)
    throw Error(Errc::malformed, "the package has no part \"" + std::string(name) + "\"");
  zip_file_t* f = zip_fopen_index(za_, e->index, 0);
  if (!f)
    throw Error(Errc::malformed, "cannot open zip entry \"" + e->name + "\": " + zip_strerror(za_));
  std::string out;
  out.reserve(static_cast<std::size_t>(e->size));
  char buf[65536];
  zip_int64_t n;
  while ((n = zip_fread(f, buf, sizeof buf)) > 0) {
    if (out.size() + static_cast<std::size_t>(n) > e->size) {
      zip_fclose(f);
      throw Error(Errc::unsafe, "zip entry \"" + e->name + "\" inflates beyond its declared " +
                                    std::to_string(e->size) + " bytes");
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
  std::string why = n < 0 ? zip_file_strerror(f) : "";
  zip_fclose(f);
  if (n < 0) throw Error(Errc::malformed, "corrupt zip entry \"" + e->name + "\": " + why);
  if (out.size() != e->size)
    throw Error(Errc::malformed, "zip entry \"" + e->name + "\" is shorter than declared");
  return out;
}

void Package::write(std::string_view name, std::string bytes) {
  check_part_name(name);
  if (name.back() == '/') throw Error(Errc::unsupported, "a part cannot be a directory");
  if (bytes.size() > limits_.max_part_bytes)
    throw Error(Errc::unsafe, "part \"" + std::string(name) + "\" would exceed " +
                                  std::to_string(limits_.max_part_bytes) + " bytes");
  auto key = lower(name);
  std::string actual(name);
  if (auto it = keys_.find(key); it != keys_.end()) actual = it->second;
  bool fresh = !written_.count(key) && (!keys_.count(key) || removed_.count(key));
  removed_.erase(key);
  if (fresh && !keys_.count(key)) added_order_.push_back(key);
  written_[key] = Written{actual, std::move(bytes)};
}

void Package::remove(std::string_view name) {
  auto key = lower(name);
  written_.erase(key);
  std::erase(added_order_, key);
  if (auto it = keys_.find(key); it != keys_.end()) removed_[key] = it->second;
}

std::vector<std::string> Package::names() const {
  std::vector<std::string> out;
  for (const auto& e : entries_) {
    auto key = lower(e.name);
    if (e.dir || removed_.count(key)) continue;
    out.push_back(e.name);
  }
  for (const auto& key : added_order_) out.push_back(written_.at(key).name);
  return out;
}

std::string Package::save() const {
  if (!changed()) return *bytes_;
  zip_error_t err;
  zip_error_init(&err);
  // libzip rewrites a buffer source in place and frees the buffer it
  // replaces, so it gets a malloc'ed copy it owns.
  void* copy = std::malloc(std::max<std::size_t>(bytes_->size(), 1));
  if (!copy) throw Error(Errc::io, "cannot write the package: out of memory");
  std::memcpy(copy, bytes_->data(), bytes_->size());
  zip_source_t* src = zip_source_buffer_create(copy, bytes_->size(), 1, &err);
  if (!src) {
    std::free(copy);
    throw Error(Errc::io, "cannot write the package: " + zip_message(&err));
  }
  zip_t* za = zip_open_from_source(src, 0, &err);
  if (!za) {
    zip_source_free(src);
    throw Error(Errc::io, "cannot write the package: " + zip_message(&err));
  }
  zip_error_fini(&err);
  zip_source_keep(src);
  auto fail = [&](const std::string& what) {
    std::string why = zip_strerror(za);
    zip_discard(za);
    zip_source_free(src);
    throw Error(Errc::io, what + ": " + why);
  };
  // Indexes of the original entries are the same in this second handle.
  auto original = [&](const std::string& key) -> const Entry* {
    auto it = keys_.find(key);
    if (it == keys_.end()) return nullptr;
    for (const auto& e : entries_)
      if (e.name == it->second) return &e;
    return nullptr;
  };
  for (const auto& [key, name] : removed_) {
    const Entry* e = original(key);
    if (e && zip_delete(za, e->index) < 0) fail("cannot remove " + name);
  }
  for (const auto& [key, w] : written_) {
    zip_source_t* data = zip_source_buffer(za, w.bytes.data(), w.bytes.size(), 0);
    if (!data) fail("cannot write " + w.name);
    const Entry* e = original(key);
    int rc = e ? zip_file_replace(za, e->index, data, 0)
               : static_cast<int>(zip_file_add(za, w.name.c_str(), data, ZIP_FL_ENC_UTF_8));
    if (rc < 0) {
      zip_source_free(data);
      fail("cannot write " + w.name);
    }
  }
  if (zip_close(za) < 0) fail("cannot write the package");
  std::string out = read_source(src);
  zip_source_free(src);
  return out;
}

}  // namespace desk::docx
