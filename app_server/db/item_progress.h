// The progress of each request item (ITEMSOLIANDAMENTO): one row per item with what the items'
// grid shows of its request (with the requester's name), its quotation, its purchase order and
// the order's invoice, kept by the database itself, by triggers on the seven tables it is read
// from, whatever program writes. GetItens reads a branch's items from it in one range of its key
// (the requesting branch, the request's date), where the tables themselves cost seven look-ups
// by key per item.
//
// SQLite runs each trigger in the writing transaction, writers one at a time: the rows are exact
// when the write commits. On PostgreSQL the triggers are deferred to the commit, where each
// writing transaction takes one lock of its own (an advisory lock) and then rebuilds the rows of
// the items its writes touched, from what is committed by then: two transactions that touch the
// same item from different tables (an invoice of an order, an item joining the order) cannot
// both miss the other's write. This holds for writers in READ COMMITTED, PostgreSQL's default.
//
// A database made before it has none: `app-server --upgrade-schema --db BANCO` installs it (the
// table, filled from the rows there, and its triggers, in one transaction); the server refuses to
// start without it, saying so.
#pragma once

#include <string>

#include "app_server/db/database.h"
#include "app_server/db/database_writer.h"

namespace app {

// The table, its rows from the tables there, and the triggers that keep it, as one script (no
// transaction of its own). Replaces what an earlier install left.
const char* ItemProgressSql(TDialect dialect);

// The statement that gives every item's row as the table should hold it (the definition the
// triggers keep; the tests compare the table against it).
const char* ItemProgressDefinition();

// Installs it through `writer`, in one transaction (on PostgreSQL with the seven tables locked
// against writes meanwhile, so that no write falls between the fill and the triggers).
void InstallItemProgress(TWriteConnection& writer);

// Whether the table and each of its triggers are there (and on PostgreSQL enabled); raises
// std::runtime_error saying what to run when not. `target` as given to the server.
void CheckItemProgress(IConnection& connection, const std::string& target);

}  // namespace app
