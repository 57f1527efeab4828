#include "platform/db/db.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/error.h"
#include "core/text.h"

namespace desk::db {

std::string Value::text() const {
  switch (v_.index()) {
    case 1:
      return std::to_string(std::get<std::int64_t>(v_));
    case 2: {
      // Whole numbers without a fraction; others with 15 significant digits,
      // so that small and large values are not rounded to nothing.
      double d = std::get<double>(v_);
      if (std::fabs(d) < 1e15 && d == std::trunc(d))
        return std::to_string(static_cast<std::int64_t>(d));
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.15g", d);
      return buf;
    }
    case 3:
      return std::get<std::string>(v_);
    case 4:
      return std::get<Blob>(v_).bytes;
    default:
      return "";
  }
}

std::int64_t Value::integer() const {
  switch (v_.index()) {
    case 1:
      return std::get<std::int64_t>(v_);
    case 2:
      return static_cast<std::int64_t>(std::get<double>(v_));
    case 3: {
      long long v = 0;
      return text::parse_int(std::get<std::string>(v_), v) ? v : 0;
    }
    default:
      return 0;
  }
}

double Value::real() const {
  switch (v_.index()) {
    case 1:
      return static_cast<double>(std::get<std::int64_t>(v_));
    case 2:
      return std::get<double>(v_);
    case 3:
      return std::strtod(std::get<std::string>(v_).c_str(), nullptr);
    default:
      return 0;
  }
}

const std::string& Value::bytes() const {
  static const std::string empty;
  if (v_.index() == 4) return std::get<Blob>(v_).bytes;
  if (v_.index() == 3) return std::get<std::string>(v_);
  return empty;
}

const Value& Row::operator[](std::string_view column) const {
  for (size_t i = 0; i < names_->size(); ++i)
    if (text::iequals((*names_)[i], column)) return values_[i];
  throw Error(Errc::database, "no column " + std::string(column));
}

bool Row::has(std::string_view column) const {
  for (const auto& n : *names_)
    if (text::iequals(n, column)) return true;
  return false;
}

std::string Connection::scalar(std::string_view sql, const Params& params) {
  Result r = query(sql, params);
  if (r.empty() || r.front().size() == 0) return "";
  return r.front().at(0).text();
}

Transaction::Transaction(Connection& c) : c_(c), owner_(!c.in_transaction()) {
  if (owner_) c_.begin();
}

Transaction::~Transaction() {
  if (owner_ && !done_) {
    try {
      c_.rollback();
    } catch (...) {
      // The connection reports its own failure on next use.
    }
  }
}

void Transaction::commit() {
  if (owner_ && !done_) c_.commit();
  done_ = true;
}

ReadScope::ReadScope(Connection& c) : c_(c), owner_(!c.in_transaction()) {
  if (owner_) c_.exec("BEGIN");
}

ReadScope::~ReadScope() {
  if (!owner_) return;
  try {
    c_.exec("COMMIT");
  } catch (...) {
    // Nothing was written: the read transaction ends with the connection's next use.
  }
}

}  // namespace desk::db
