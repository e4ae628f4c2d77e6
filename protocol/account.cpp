#include "protocol/account.h"

#include "protocol/wire.h"

namespace fw {

void WriteLoginScope(wire::TWireWriter& writer, const TAccountScope& scope) {
  std::string codes;
  for (const auto& code : scope.Branches) {
    if (!codes.empty()) codes += ',';
    codes += code;
  }
  writer.Str("todasfiliais");
  writer.Str(scope.AllBranches ? "S" : "N");
  writer.Str("filiais");
  writer.Str(codes);
  writer.Str("proprias");
  writer.Str(scope.OwnRequests ? "S" : "N");
  writer.Str("operador");
  writer.Str(scope.Operator);
}

TAccountScope ReadLoginScope(const std::map<std::string, std::string>& texts) {
  TAccountScope scope;
  const auto all = texts.find("todasfiliais");
  const auto branches = texts.find("filiais");
  if (all == texts.end() || branches == texts.end()) return scope;
  scope.Known = true;
  scope.AllBranches = all->second == "S";
  const std::string& codes = branches->second;
  for (size_t start = 0; start < codes.size();) {
    size_t comma = codes.find(',', start);
    if (comma == std::string::npos) comma = codes.size();
    if (comma > start) scope.Branches.push_back(codes.substr(start, comma - start));
    start = comma + 1;
  }
  const auto own = texts.find("proprias");
  scope.OwnRequests = own != texts.end() && own->second == "S";
  const auto code = texts.find("operador");
  if (code != texts.end()) scope.Operator = code->second;
  return scope;
}

std::string ScopeText(const TAccountScope& scope, size_t maxCodes) {
  if (!scope.Known) return {};
  if (scope.ReadsNothing()) return "nenhuma filial";
  std::string branches;
  if (!scope.AllBranches) {
    branches = scope.Branches.size() == 1 ? "filial " : "filiais ";
    for (size_t i = 0; i < scope.Branches.size() && i < maxCodes; ++i) {
      if (i > 0) branches += ", ";
      branches += scope.Branches[i];
    }
    if (scope.Branches.size() > maxCodes) {
      branches += " e mais ";
      branches += std::to_string(scope.Branches.size() - maxCodes);
    }
  }
  if (!scope.OwnRequests) return scope.AllBranches ? "todas as filiais" : branches;
  std::string text = "minhas solicitações";
  if (!scope.AllBranches) {
    text += scope.Branches.size() == 1 ? " na " : " nas ";
    text += branches;
  }
  return text;
}

}  // namespace fw
