// Packets of GetRelAcomp made up in a test: rows given as field values, dates as "dd/mm/yyyy" or
// "dd/mm/yyyy hh:nn:ss" texts, anything left out null.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "protocol/datetime.h"
#include "protocol/packet.h"
#include "protocol/report_contract.h"

namespace report_test {

using TRow = std::map<std::string, std::string>;

inline fw::TDataPacket MakePacket(const std::vector<TRow>& rows) {
  const auto& fields = service::ReportMethod().Fields;
  fw::TDataPacket packet(fields);
  for (const TRow& row : rows)
    for (size_t i = 0; i < fields.size(); ++i) {
      auto& column = packet.Columns()[i];
      const auto value = row.find(fields[i].Name);
      if (value == row.end()) {
        column.AppendNull();
      } else if (fields[i].Type == fw::TFieldType::ftString) {
        column.AppendString(value->second);
      } else if (fields[i].Type == fw::TFieldType::ftFloat) {
        column.AppendNumber(std::stod(value->second));
      } else {
        column.AppendNumber(*fw::TextToDateTime(value->second));
      }
    }
  return packet;
}

inline double Date(const std::string& text) {
  return *fw::TextToDateTime(text);
}

}  // namespace report_test
