#include "platform/asp/metabase.h"

#include <nlohmann/json.hpp>

#include <fstream>

#include "core/error.h"
#include "core/text.h"

namespace desk::asp {

namespace fs = std::filesystem;
using nlohmann::json;

std::vector<VirtualDir> load_metabase(const fs::path& file) {
  std::vector<VirtualDir> out;
  if (!fs::exists(file)) return out;
  std::ifstream in(file);
  json doc;
  try {
    doc = json::parse(in);
  } catch (const std::exception& e) {
    throw Error(Errc::config, "metabase " + file.string() + ": " + e.what());
  }
  const json& list = doc.is_object() ? doc.value("vdirs", json::array()) : doc;
  if (!list.is_array())
    throw Error(Errc::config, "metabase: expected a list of virtual directories");
  for (const auto& j : list) {
    VirtualDir d;
    try {
      d.name = j.at("name").get<std::string>();
      d.path = j.at("path").get<std::string>();
      if (j.contains("default_documents")) {
        d.default_documents.clear();
        for (const auto& s : text::split(j["default_documents"].get<std::string>(), ','))
          if (!text::trim(s).empty()) d.default_documents.push_back(text::trim(s));
      }
      if (j.contains("access")) {
        const auto& a = j["access"];
        d.read = a.value("read", d.read);
        d.script = a.value("script", d.script);
        d.write = a.value("write", d.write);
      }
      d.in_process = j.value("in_process", d.in_process);
    } catch (const json::exception& e) {
      throw Error(Errc::config, std::string("metabase entry: ") + e.what());
    }
    out.push_back(std::move(d));
  }
  return out;
}

void save_metabase(const fs::path& file, const std::vector<VirtualDir>& dirs) {
  json list = json::array();
  for (const auto& d : dirs) {
    std::string docs;
    for (const auto& s : d.default_documents) docs += (docs.empty() ? "" : ",") + s;
    list.push_back({{"name", d.name},
                    {"path", d.path.string()},
                    {"default_documents", docs},
                    {"access", {{"read", d.read}, {"script", d.script}, {"write", d.write}}},
                    {"in_process", d.in_process}});
  }
  std::ofstream out(file);
  out << json{{"vdirs", list}}.dump(2) << "\n";
  if (!out) throw Error(Errc::io, "cannot write metabase " + file.string());
}

}  // namespace desk::asp
