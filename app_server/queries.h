// The statement behind each method of the tracking service, one per method and engine
// (docs/service.md shows them and what binds to each parameter). The two engines' texts differ
// only where they must: SQLite reads a selection list with json_each, PostgreSQL compares with
// = ANY of a text[]; the delivery date's stand-in for "none" is text in one and a timestamp in
// the other.
//
// Parameters are named (":cdFilial"). Flags are bound as sent (a flag unrestricts only when it
// is exactly "T"); dates as days (see TParam); selection lists as their codes.
#pragma once

#include <string_view>

#include "app_server/database.h"

namespace app {

// nullptr for a method without a statement.
const char* SqlFor(std::string_view method, TDialect dialect);

}  // namespace app
