#include "server/host/edition.h"

#include <string>

#include "core/error.h"

namespace desk::host {

Edition parse_edition(std::string_view name) {
  if (name == "office") return Edition::office;
  if (name == "law") return Edition::law;
  throw Error(Errc::config, "edition must be office or law, not " + std::string(name));
}

Variant parse_variant(std::string_view name) {
  if (name == "base") return Variant::base;
  if (name == "simp") return Variant::simp;
  if (name == "full") return Variant::full;
  throw Error(Errc::config, "variant must be base, simp or full, not " + std::string(name));
}

std::string_view edition_name(Edition e) {
  return e == Edition::law ? "law" : "office";
}

std::string_view virtual_directory(Edition e) {
  return e == Edition::law ? "tarvolawyer" : "tarvo";
}

}  // namespace desk::host
