// The read scope in the login's answer (protocol/account.h): what the server writes is what
// the client reads, and the few words the host shows of it.
#include <gtest/gtest.h>

#include "protocol/account.h"
#include "protocol/wire.h"

namespace fw {
namespace {

TAccountScope Scope(bool all, std::vector<std::string> branches, bool own,
                    std::string operatorCode = {}) {
  TAccountScope scope;
  scope.Known = true;
  scope.AllBranches = all;
  scope.Branches = std::move(branches);
  scope.OwnRequests = own;
  scope.Operator = std::move(operatorCode);
  return scope;
}

// A login's answer as the server sends it, read back by the client.
TAccountScope RoundTrip(const TAccountScope& scope) {
  std::string bytes;
  wire::TWireWriter out(bytes);
  out.Array(4);
  out.Unsigned(1);
  out.Unsigned(9);
  out.Nil();
  out.Map(2 + kLoginScopeKeys);
  out.Str("usuario");
  out.Str("filial02");
  out.Str("nome");
  out.Str("Filial");
  WriteLoginScope(out, scope);
  const wire::TReply reply = wire::DecodeReply(bytes);
  EXPECT_EQ("filial02", reply.Texts.at("usuario"));
  return ReadLoginScope(reply.Texts);
}

TEST(AccountScope, WhatTheServerWrites_TheClientReads) {
  for (const auto& scope : {Scope(true, {}, false), Scope(false, {"0002", "0003"}, false),
                            Scope(true, {}, true, "MSILVA"), Scope(false, {"0001"}, true, "JROCHA"),
                            Scope(false, {}, false)})
    EXPECT_EQ(scope, RoundTrip(scope));
  // An answer without the scope (a server of an earlier version) says nothing of it, and is not
  // taken for one that reads nothing.
  const TAccountScope unknown = ReadLoginScope({{"usuario", "demo"}, {"nome", "Demo"}});
  EXPECT_FALSE(unknown.Known);
  EXPECT_FALSE(unknown.ReadsNothing());
}

TEST(AccountScope, ReadsNothing_WithoutABranch_OrOwnRequestsWithoutAnOperator) {
  EXPECT_TRUE(Scope(false, {}, false).ReadsNothing());
  EXPECT_TRUE(Scope(true, {}, true, "").ReadsNothing());
  EXPECT_FALSE(Scope(true, {}, false).ReadsNothing());
  EXPECT_FALSE(Scope(false, {"0002"}, true, "MSILVA").ReadsNothing());
}

TEST(AccountScope, TheWordsTheHostShows) {
  EXPECT_EQ("todas as filiais", ScopeText(Scope(true, {}, false)));
  EXPECT_EQ("filiais 0002, 0003", ScopeText(Scope(false, {"0002", "0003"}, false)));
  EXPECT_EQ("filial 0002", ScopeText(Scope(false, {"0002"}, false)));
  EXPECT_EQ("minhas solicitações", ScopeText(Scope(true, {}, true, "MSILVA")));
  EXPECT_EQ("minhas solicitações na filial 0004", ScopeText(Scope(false, {"0004"}, true, "M")));
  EXPECT_EQ("nenhuma filial", ScopeText(Scope(false, {}, false)));
  EXPECT_EQ("", ScopeText(TAccountScope()));
  std::vector<std::string> many;
  for (int i = 1; i <= 17; ++i) many.push_back((i < 10 ? "000" : "00") + std::to_string(i));
  EXPECT_EQ("filiais 0001, 0002, 0003, 0004, 0005 e mais 12", ScopeText(Scope(false, many, false)));
  const std::string whole = ScopeText(Scope(false, many, false), many.size());
  EXPECT_EQ(0u, whole.find("filiais 0001, 0002, "));
  EXPECT_EQ(whole.size() - 10, whole.find("0016, 0017"));
}

}  // namespace
}  // namespace fw
