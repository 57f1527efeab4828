// The zip container of a .docx, read from untrusted bytes. Entries are
// inflated only when asked for, against the limits below; entries never
// touched are written back as their original compressed bytes, so parts the
// engine does not know survive a save byte for byte.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace desk::docx {

// Ceilings on what a .docx may make the engine read. Breaking one throws
// Errc::unsafe naming the part and the limit.
struct Limits {
  std::uint64_t max_file_bytes = 256ull << 20;   // the .docx file itself
  std::size_t max_entries = 4096;                // zip entries
  std::uint64_t max_part_bytes = 64ull << 20;    // one part, inflated
  std::uint64_t max_total_bytes = 512ull << 20;  // all parts, inflated (declared sizes)
  std::uint64_t max_ratio = 200;                 // inflated / compressed of one part ...
  std::uint64_t ratio_floor = 1ull << 20;        // ... when it inflates above this
  std::size_t max_xml_depth = 256;               // element nesting of an XML part
};

class Package {
 public:
  // Reads the central directory and checks every entry: names (no "..", no
  // absolute or backslash paths, no duplicates ignoring case), declared sizes
  // and compression ratios. Throws Errc::malformed or Errc::unsafe.
  static Package open(std::string bytes, const Limits& limits = {});

  Package(Package&& other) noexcept;
  Package& operator=(Package&& other) noexcept;
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;
  ~Package();

  // Part names are zip entry names without a leading "/" and compare
  // ignoring ASCII case.
  bool has(std::string_view name) const;
  // The part's bytes: written bytes if changed, else the inflated entry.
  // Throws Errc::malformed when missing or corrupt, Errc::unsafe when it
  // inflates beyond its declared size or a limit.
  std::string read(std::string_view name) const;
  // Adds or replaces a part; the name must pass the same checks as entries.
  void write(std::string_view name, std::string bytes);
  void remove(std::string_view name);
  // Every part now in the package, directories left out, in entry order then
  // added order.
  std::vector<std::string> names() const;
  bool changed() const { return !written_.empty() || !removed_.empty(); }

  // The whole package as zip bytes: untouched entries are copied compressed.
  std::string save() const;

  const Limits& limits() const { return limits_; }

 private:
  struct Entry {
    std::string name;
    std::uint64_t index = 0, size = 0, comp_size = 0;
    bool dir = false;
  };
  friend class Document;  // holds an empty package until open() fills it
  Package() = default;
  const Entry* find(std::string_view name) const;

  std::shared_ptr<const std::string> bytes_;  // the original file; libzip reads it in place
  zip* za_ = nullptr;                         // read handle over bytes_
  std::vector<Entry> entries_;
  std::map<std::string, std::string> keys_;  // lower-case name -> entry name
  struct Written {
    std::string name, bytes;
  };
  std::map<std::string, Written> written_;      // by lower-case name
  std::map<std::string, std::string> removed_;  // lower-case name -> entry name
  std::vector<std::string> added_order_;        // lower-case names of new parts
  Limits limits_;
};

// Checks one part or entry name; throws Errc::unsafe naming it when it is
// absolute, holds "..", ".", an empty segment, a backslash or a control byte.
void check_part_name(std::string_view name);

}  // namespace desk::docx
