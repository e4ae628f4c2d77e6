// The items of each requesting branch by product (ITEMSOLIFILIAL), the product by its code in
// the tree (PRODUTO.CDARVPROD, which a product range compares): a table the database keeps
// itself, by triggers on SOLICITACAO, ITEMSOLICITACAO and PRODUTO that run in the writing
// transaction, whatever program writes. The requesting branch is the request's
// (SOLICITACAO.CDFILIAL), the code the product's: no index of any of the three tables can lead
// with both, and a product range of one branch would otherwise read all the branch's items, or
// search them once per product of the range.
//
// A database made before it has none: `app-server --upgrade-schema --db BANCO` installs it (the
// table, filled from the rows there, and its triggers, in one transaction); the server refuses to
// start without it, saying so.
#pragma once

#include <string>

#include "app_server/db/database.h"
#include "app_server/db/database_writer.h"

namespace app {

// The table, its rows from the requests and items there, and the triggers that keep it, as one
// script (no transaction of its own). Replaces what an earlier install left.
const char* BranchItemsSql(TDialect dialect);

// The statement that gives every item's row as the table should hold it (the definition the
// triggers keep; the tests compare the table against it).
const char* BranchItemsDefinition();

// Installs it through `writer`, in one transaction (on PostgreSQL with the three tables locked
// against writes meanwhile, so that no write falls between the fill and the triggers).
void InstallBranchItems(TWriteConnection& writer);

// Whether the table and each of its triggers are there (and on PostgreSQL enabled); raises
// std::runtime_error saying what to run when not. `target` as given to the server.
void CheckBranchItems(IConnection& connection, const std::string& target);

}  // namespace app
