#include "server/workflow/staging.h"

namespace desk::workflow {
namespace {

std::string_view column_of(Staged kind) {
  return kind == Staged::body ? "filedata" : "psodata";
}

}  // namespace

void stage(db::Connection& conn, std::string_view owner, std::int64_t target, Staged kind,
           std::string bytes, const DateTime& now) {
  conn.exec(
      "INSERT INTO staged (owner, target, kind, data, uploadtime) VALUES (?, ?, ?, ?, ?) "
      "ON CONFLICT (owner, target, kind) DO UPDATE SET data = excluded.data, "
      "uploadtime = excluded.uploadtime",
      {owner, target, column_of(kind), db::Blob{std::move(bytes)}, now.iso()});
}

int apply_staged(db::Connection& conn, std::string_view owner, std::int64_t target) {
  int changed = 0;
  for (Staged kind : {Staged::body, Staged::attachment}) {
    const std::string column(column_of(kind));
    // `column` is one of two constants above, never a request value.
    db::ExecResult r = conn.exec(
        "UPDATE fawen SET " + column +
            " = (SELECT data FROM staged WHERE owner = ? AND target = ? AND kind = ?)" +
            (kind == Staged::body ? ", filetype = 'doc'" : "") +
            " WHERE id = ? AND EXISTS (SELECT 1 FROM staged WHERE owner = ? AND target = ? AND "
            "kind = ?)",
        {owner, target, column, target, owner, target, column});
    changed += static_cast<int>(r.changes);
  }
  conn.exec("DELETE FROM staged WHERE owner = ? AND target = ?", {owner, target});
  return changed;
}

std::int64_t sweep_uploads(db::Connection& conn, const DateTime& now) {
  const std::string before = now.plus_seconds(-kStagedSeconds).iso();
  std::int64_t gone = 0;
  db::Transaction tx(conn);
  gone += conn.exec("DELETE FROM fawen WHERE writeid = '' AND uploadtime < ?", {before}).changes;
  gone +=
      conn.exec("DELETE FROM shouwen WHERE draftime IS NULL AND uploadtime < ?", {before}).changes;
  gone += conn.exec("DELETE FROM temple WHERE filename = '' AND wtime IS NULL AND uploadtime < ?",
                    {before})
              .changes;
  gone += conn.exec("DELETE FROM staged WHERE uploadtime < ?", {before}).changes;
  tx.commit();
  return gone;
}

}  // namespace desk::workflow
