// The contract of the report service "SUP00700.rdmRelAcomp": its one method, GetRelAcomp, the
// parameters in call order and the fields of the packet it returns. Read by the report package
// (the client), the application server and the tests.
//
// GetRelAcomp(dtSoliIni, dtSoliFin, stTFilSoli, stLFilSoli, stTStatus, stLStatus): one row per
// request item entered in the request-date range (whole days, both ends included), of the
// requesting branches in stLFilSoli unless stTFilSoli is "T", with a status in stLStatus unless
// stTStatus is "T". Lists are selection strings ('0001','0003'; 'A','5'). Every parameter is by
// value. Rows come ordered by requesting branch, request, entering branch and item.
//
// The dates are those of every stage of the item, null until the stage happened:
//   DTHRLANCSOL               request entered
//   DTAPROVNIV1..DTAPROVNIV3  manager decision on approval level 1..3 of the item's destination
//                             (IDAPROVNIV1..3: "S" approved, "N" not approved, "P" pending,
//                             null when the level does not exist)
//   DTCONCOLEPREC             price quotation concluded
//   DTAUTOFORN, DTPROGENTAF   purchase order (AF) entered, and due
//   DTEMISSAO, DTENTRSAID     supplier's invoice (NF) issued, and entered
//   DTAPROVACAO               NF approved
#pragma once

#include "protocol/contract.h"

namespace service {

inline constexpr const char* kReportServerName = "SUP00700.rdmRelAcomp";
inline constexpr const char* kReportMethodName = "GetRelAcomp";
// Approval levels the report carries per item.
inline constexpr int kReportApprovalLevels = 3;

const TMethodDef& ReportMethod();

}  // namespace service
