// The statement behind each method of the tracking service, one per method (docs/service.md
// shows them and what binds to each parameter). Portable SQL but for the selection lists, read
// with SQLite's json_each.
//
// Parameters are named. Flags are bound as sent (a flag unrestricts only when it is exactly
// "T"); dates as the ISO text of a day's start; selection lists as a JSON array of the codes.
#pragma once

#include <string>
#include <string_view>

namespace app {

// nullptr for a method without a statement.
const char* SqlFor(std::string_view method);

}  // namespace app
