// What the tables the database keeps by triggers (branch_items.h, item_progress.h) share: their
// install in one transaction, and the check at start that they and all their triggers are there.
#pragma once

#include <string>

#include "app_server/db/database.h"
#include "app_server/db/database_writer.h"

namespace app {

// Runs `script` (the table, its fill and its triggers) and ANALYZE of `table` in one transaction;
// on PostgreSQL with `sources` (the tables its triggers are on, comma-separated) locked against
// writes meanwhile, so that no write falls between the fill and the triggers.
void InstallKeptTable(TWriteConnection& writer, const char* script, const char* table,
                      const char* sources);

// Raises std::runtime_error, naming `--upgrade-schema`, unless `probe` (a query of the table)
// runs and `triggerCount` (a query of one count) finds `expected` triggers. `what` says what the
// table is, in the message of its absence. Both queries are texts that live as long as the
// program: a connection keeps a statement it prepared by its text's address. `target` as given
// to the server.
void CheckKeptTable(IConnection& connection, const std::string& target, const char* table,
                    const char* what, const char* probe, const char* triggerCount, int expected);

}  // namespace app
