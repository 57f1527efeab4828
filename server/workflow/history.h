// How the workflow pages show a document's past: its history rows and the
// people a recipient list names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "platform/db/db.h"

namespace desk::workflow {

enum class DocKind {
  outgoing,  // fawen, history in workflow
  incoming,  // shouwen, history in swflow
};

// The name of a step code as the pages show it ("" for no step).
std::string step_name(DocKind kind, std::string_view code);

// Names of the users of a recipient list joined by "、" (a login id without
// a user row stands for itself).
std::string user_names(db::Connection& conn, std::string_view list);

// Markup (a self-contained table, values escaped) of the history of document
// `id`, oldest first: who, when, the step, the next step, the next
// recipient(s) by name and the remark.
std::string history_table(db::Connection& conn, DocKind kind, std::int64_t id,
                          const Regional& regional);

}  // namespace desk::workflow
