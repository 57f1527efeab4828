#include "core/error.h"

namespace desk {

std::string_view errc_name(Errc code) {
  switch (code) {
    case Errc::bad_request:
      return "bad_request";
    case Errc::unauthorized:
      return "unauthorized";
    case Errc::forbidden:
      return "forbidden";
    case Errc::not_found:
      return "not_found";
    case Errc::conflict:
      return "conflict";
    case Errc::too_large:
      return "too_large";
    case Errc::unsupported:
      return "unsupported";
    case Errc::database:
      return "database";
    case Errc::io:
      return "io";
    case Errc::encoding:
      return "encoding";
    case Errc::config:
      return "config";
    case Errc::internal:
      return "internal";
  }
  return "internal";
}

int http_status(Errc code) {
  switch (code) {
    case Errc::bad_request:
      return 400;
    case Errc::unauthorized:
      return 401;
    case Errc::forbidden:
      return 403;
    case Errc::not_found:
      return 404;
    case Errc::conflict:
      return 409;
    case Errc::too_large:
      return 413;
    case Errc::unsupported:
      return 415;
    default:
      return 500;
  }
}

}  // namespace desk
