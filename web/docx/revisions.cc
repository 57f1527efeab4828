// Accepting all revisions: what was inserted or moved in stays as plain
// content, what was deleted or moved away goes, recorded property changes are
// dropped (the current properties stay), deleted paragraph marks join their
// paragraph to the next one, deleted table rows and cells go.
#include <algorithm>

#include "web/docx/document.h"
#include "web/docx/xml.h"

namespace desk::docx {
namespace {

bool in(std::string_view local, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), local) != names.end();
}

// Element `n` is in the w namespace (prefix `w`) with a local name from `names`.
bool is_any(pugi::xml_node n, const std::string& w, std::initializer_list<std::string_view> names) {
  std::string_view name = n.name();
  return name.substr(0, w.size()) == w && in(name.substr(w.size()), names);
}

// Revision marks that live in a properties element rather than around content.
bool is_marker(pugi::xml_node n, const std::string& w) {
  return is_any(n.parent(), w, {"rPr", "trPr", "numPr"});
}

void remove_all(std::vector<pugi::xml_node>& nodes) {
  // Later nodes first, so nodes inside earlier ones are gone before them.
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) it->parent().remove_child(*it);
  nodes.clear();
}

bool accept_in(XmlPart& x) {
  std::string w;
  if (!x.find_prefix(ns::w, w)) return false;
  auto root = x.root();
  bool changed = false;
  std::vector<pugi::xml_node> found;
  auto collect = [&](auto pred) {
    found.clear();
    walk(root, [&](pugi::xml_node n) {
      if (pred(n)) found.push_back(n);
    });
    changed = changed || !found.empty();
  };

  // Deleted rows and cells.
  collect([&](pugi::xml_node n) {
    return (is(n, w, "tr") && child(child(n, w, "trPr"), w, "del")) ||
           (is(n, w, "tc") && child(child(n, w, "tcPr"), w, "cellDel"));
  });
  remove_all(found);

  // Deleted and moved-away content.
  collect([&](pugi::xml_node n) { return is_any(n, w, {"del", "moveFrom"}) && !is_marker(n, w); });
  remove_all(found);

  // Inserted and moved-in content stays, unwrapped.
  collect([&](pugi::xml_node n) { return is_any(n, w, {"ins", "moveTo"}) && !is_marker(n, w); });
  for (auto it = found.rbegin(); it != found.rend(); ++it) {
    auto parent = it->parent();
    std::vector<pugi::xml_node> kids;
    for (auto c : it->children()) kids.push_back(c);
    for (auto c : kids) parent.insert_move_before(c, *it);
    parent.remove_child(*it);
  }

  // Marks, range markers and recorded property changes.
  std::vector<pugi::xml_node> joins;  // paragraphs whose mark was deleted
  collect([&](pugi::xml_node n) {
    if (is_any(n, w, {"ins", "del", "moveFrom", "moveTo"}) && is_marker(n, w)) {
      auto props = n.parent();
      if (is_any(n, w, {"del", "moveFrom"}) && is(props, w, "rPr") && is(props.parent(), w, "pPr"))
        joins.push_back(props.parent().parent());
      return true;
    }
    return is_any(n, w,
                  {"cellIns",
                   "cellMerge",
                   "rPrChange",
                   "pPrChange",
                   "sectPrChange",
                   "tblPrChange",
                   "tblPrExChange",
                   "trPrChange",
                   "tcPrChange",
                   "tblGridChange",
                   "numberingChange",
                   "moveFromRangeStart",
                   "moveFromRangeEnd",
                   "moveToRangeStart",
                   "moveToRangeEnd",
                   "customXmlInsRangeStart",
                   "customXmlInsRangeEnd",
                   "customXmlDelRangeStart",
                   "customXmlDelRangeEnd",
                   "customXmlMoveFromRangeStart",
                   "customXmlMoveFromRangeEnd",
                   "customXmlMoveToRangeStart",
                   "customXmlMoveToRangeEnd"});
  });
  remove_all(found);

  // A deleted paragraph mark joins the paragraph's content to the start of
  // the next paragraph, which keeps its own properties. Section breaks stay.
  for (auto it = joins.rbegin(); it != joins.rend(); ++it) {
    auto para = *it;
    if (!is(para, w, "p") || child(child(para, w, "pPr"), w, "sectPr")) continue;
    auto next = para.next_sibling();
    while (next && next.type() != pugi::node_element) next = next.next_sibling();
    if (!next || !is(next, w, "p")) continue;
    auto first = next.first_child();
    while (first && (first.type() != pugi::node_element || is(first, w, "pPr")))
      first = first.next_sibling();
    std::vector<pugi::xml_node> kids;
    for (auto c : para.children())
      if (!is(c, w, "pPr")) kids.push_back(c);
    for (auto c : kids) first ? next.insert_move_before(c, first) : next.append_move(c);
    para.parent().remove_child(para);
  }
  return changed;
}

}  // namespace

void Document::accept_all_revisions() {
  refuse_if_protected();
  auto parts = story_parts();
  for (auto type : {"styles", "numbering"}) {
    std::string p = related(main_, type);
    if (!p.empty()) parts.push_back(p);
  }
  for (const auto& name : parts) {
    XmlPart& x = xml(name);
    if (accept_in(x)) touch(x);
  }
}

}  // namespace desk::docx
