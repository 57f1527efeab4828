// The connection pool: every thread that runs pages (the I/O threads and
// the worker pool) keeps one open connection per application and lends it to
// each page it runs. A page never owns it; a transaction a page leaves open
// is rolled back when the page ends. Pages reach it through
// ScriptingContext::conn() (or connection_to() when given a database path).
#pragma once

#include "platform/asp/app_env.h"
#include "platform/db/db.h"

namespace desk::asp {

// The calling thread's connection to the application's database, opened on
// first use; nullptr when the application has no database.
db::Connection* thread_connection(AppEnv& env);

// Ends a page's use of the calling thread's connection: rolls back a
// transaction it left open.
void end_page_connection(const AppEnv& env);

// Closes the calling thread's connection to the application.
void forget_thread_connection(const AppEnv& env);

}  // namespace desk::asp
