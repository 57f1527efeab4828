// Which edition an application folder runs: the office edition or the
// law-firm edition (case files beside the office pages), and which family of
// edition classes its login, desk and status bar use.
#pragma once

#include <string_view>

#include "platform/asp/app_config.h"

namespace desk::host {

enum class Edition { office, law };
enum class Variant { base, simp, full };

// Parses the names app.conf uses ("office", "law"; "base", "simp", "full").
// Throw Error(config) for any other name.
Edition parse_edition(std::string_view name);
Variant parse_variant(std::string_view name);
std::string_view edition_name(Edition e);
// The virtual directory an edition's site is set up under: "tarvo" for the
// office edition, "tarvolawyer" for the law-firm edition.
std::string_view virtual_directory(Edition e);

// The application's edition and variant.
inline Edition edition_of(const asp::AppConfig& c) {
  return parse_edition(c.edition);
}
inline Variant variant_of(const asp::AppConfig& c) {
  return parse_variant(c.variant);
}

}  // namespace desk::host
