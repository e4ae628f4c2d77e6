// Unit Rel_sup00700 (calls): what the report asks of the application server. Each call goes
// through a connection of the host's (fw::TNetConnection and the host's service factory), so it
// reaches the servers the screens reach, the same way, with the busy indicator of the host and
// its offer to cancel a call that takes long.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "protocol/packet.h"
#include "report_module/rel_acomp_data.h"

namespace Rel_sup00700 {

// The rows of the report (GetRelAcomp of "SUP00700.rdmRelAcomp"). Raises std::runtime_error
// with the message for the user: the server's refusal, or the transport's failure.
fw::TDataPacket FetchReport(const TReportFilter& filter);

// The branches that have requests, code and name (GetFilSoli of the tracking service), for the
// dialog's branch list.
std::vector<std::pair<std::string, std::string>> FetchBranches();

}  // namespace Rel_sup00700
