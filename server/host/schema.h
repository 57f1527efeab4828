// The office database schema and its versioned migrations.
#pragma once

#include "platform/db/db.h"

namespace desk::host {

// Brings the database to schema version `target` (the newest by default);
// each migration runs in its own transaction. Returns the version reached.
int migrate(db::Connection& conn, int target = 0);
int schema_version(db::Connection& conn);
int latest_schema_version();

}  // namespace desk::host
