// Uploads that wait for the form that names them.
//
// A document body is uploaded before its form is posted. For a new outgoing
// or incoming document (or template) the upload creates the row, not yet
// completed and stamped `uploadtime`; another upload of the same session
// before the form is saved replaces that row's bytes instead of creating a
// second row. Bytes that replace those of an existing document (a redraft's
// new body or attachment) wait in `staged` and reach the document only when
// its form is saved, in the same transaction. Whatever no form completed
// within kStagedSeconds is removed by sweep_uploads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "platform/db/db.h"

namespace desk::workflow {

inline constexpr long long kStagedSeconds = 24 * 3600;

// The fawen columns staged bytes may go to.
enum class Staged { body, attachment };

// Keeps `bytes` for document `target` until its form is saved, replacing what
// `owner` staged there before.
void stage(db::Connection& conn, std::string_view owner, std::int64_t target, Staged kind,
           std::string bytes, const DateTime& now);

// Moves what `owner` staged for fawen row `target` into it; returns how many
// columns changed. Runs inside the caller's transaction.
int apply_staged(db::Connection& conn, std::string_view owner, std::int64_t target);

// Removes uploads older than kStagedSeconds that no form completed: fawen rows
// without a drafter, shouwen rows never registered, temple rows never named,
// and staged bytes. Returns how many rows went.
std::int64_t sweep_uploads(db::Connection& conn, const DateTime& now);

}  // namespace desk::workflow
