// XML parts of a .docx: parsing untrusted bytes safely and writing them back
// with text (xml:space="preserve" runs included) unchanged, and the
// namespace prefixes a part uses.
#pragma once

#include <pugixml.hpp>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "web/docx/package.h"

namespace desk::docx {

namespace ns {
inline constexpr std::string_view w =
    "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
inline constexpr std::string_view r =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view wp =
    "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing";
inline constexpr std::string_view a = "http://schemas.openxmlformats.org/drawingml/2006/main";
inline constexpr std::string_view pic = "http://schemas.openxmlformats.org/drawingml/2006/picture";
inline constexpr std::string_view mc =
    "http://schemas.openxmlformats.org/markup-compatibility/2006";
inline constexpr std::string_view rels =
    "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr std::string_view types =
    "http://schemas.openxmlformats.org/package/2006/content-types";
}  // namespace ns

// One parsed XML part. Owns the tree; `dirty` marks it for writing back.
class XmlPart {
 public:
  // Refuses (Errc::unsafe) a DOCTYPE, which is where entity declarations
  // live, and nesting deeper than limits.max_xml_depth; Errc::malformed for
  // XML that does not parse. `name` is only used in messages.
  XmlPart(std::string_view name, const std::string& bytes, const Limits& limits);
  // A new part whose root element is `root` declaring namespace `uri` with
  // `prefix` ("" for the default namespace).
  XmlPart(std::string_view root, std::string_view prefix, std::string_view uri);

  pugi::xml_node root() const { return doc_.document_element(); }
  std::string serialize() const;
  bool dirty = false;

  // Prefix with colon ("w:") of a namespace declared on the root, "" for the
  // default namespace. Declares it on the root under `preferred` (or a free
  // variant) when missing, which marks the part dirty.
  std::string prefix(std::string_view uri, std::string_view preferred);
  // Same without declaring: false when the root does not declare it.
  bool find_prefix(std::string_view uri, std::string& out) const;

 private:
  pugi::xml_document doc_;
  pugi::xml_encoding encoding_ = pugi::encoding_utf8;
  std::map<std::string, std::string, std::less<>> prefixes_;  // uri -> "p:" cache
};

// Local part of an element or attribute name ("w:p" -> "p").
std::string_view local_name(std::string_view qualified);
// True when `node` is `prefix` + `local` (prefix as returned by XmlPart::prefix).
bool is(pugi::xml_node node, std::string_view prefix, std::string_view local);
// First child named prefix+local, or an empty node.
pugi::xml_node child(pugi::xml_node parent, std::string_view prefix, std::string_view local);
// All elements below `top` (not `top` itself) in document order, without
// recursion. Stops descending into elements for which `skip` returns true.
template <typename F, typename Skip>
void walk(pugi::xml_node top, F&& visit, Skip&& skip) {
  pugi::xml_node n = top.first_child();
  while (n && n != top) {
    bool descend = false;
    if (n.type() == pugi::node_element) {
      visit(n);
      descend = !skip(n) && n.first_child();
    }
    if (descend) {
      n = n.first_child();
      continue;
    }
    while (n && n != top && !n.next_sibling()) n = n.parent();
    if (!n || n == top) break;
    n = n.next_sibling();
  }
}
template <typename F>
void walk(pugi::xml_node top, F&& visit) {
  walk(top, std::forward<F>(visit), [](pugi::xml_node) { return false; });
}
// All elements below `top` named prefix+local, in document order.
std::vector<pugi::xml_node> descendants(pugi::xml_node top, std::string_view prefix,
                                        std::string_view local);

// Adds a child named `name` to `parent` where the schema's sequence puts it:
// before the first existing child that is not in `before` (the names the
// sequence places ahead of it). Returns the existing child when there is one.
pugi::xml_node ensure_child_in_order(pugi::xml_node parent, const std::string& name,
                                     const std::vector<std::string>& before);

}  // namespace desk::docx
