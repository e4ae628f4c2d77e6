// The PostgreSQL engine's parts, shared by its files (not a header for the rest of the server):
// opening a connection (postgres_connect.cpp), a statement's text and parameters as libpq takes
// them (postgres_statement.cpp), and a result as the engine interface reads it (here).
#pragma once

#include <libpq-fe.h>

#include <charconv>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app_server/db/database.h"

namespace app::postgres {

// Type OIDs of the parameters and of the numeric columns (pg_type.h).
constexpr Oid kTextOid = 25;
constexpr Oid kTimestampOid = 1114;
constexpr Oid kTextArrayOid = 1009;
constexpr Oid kNumberOids[] = {20, 21, 23, 700, 701, 1700};  // int8 int2 int4 float4 float8 numeric

// The first line of a libpq message, without trailing blanks; "sem detalhes" for none.
std::string FirstLine(const char* text);

// A connection opened through the database's gate: while the database cannot be reached,
// attempts are spaced and the callers between them fail at once with the last reason
// (database.h). Raises EDatabaseError.
PGconn* ConnectGated(const std::string& conninfo);

// ":name" placeholders as "$1", "$2"... (a name used twice is one parameter), outside quotes;
// "::" casts stay as they are.
struct TPositional {
  std::string Text;
  std::vector<std::string> Names;
};

TPositional ToPositional(const char* sql);

// A text[] literal: {"0001","B'2","a\"b"}.
std::string ArrayLiteral(const std::vector<std::string>& codes);

// The type a parameter is sent as.
Oid TypeOf(const TParam& param);

// One row of a result, read in place: text as the server sent it, numbers parsed from it.
class TPostgresRow : public IRow {
 public:
  TPostgresRow(const PGresult* result, int row, const std::vector<bool>& numeric)
      : result_(result), row_(row), numeric_(numeric) {}
  bool IsNull(int column) const override { return PQgetisnull(result_, row_, column) != 0; }
  bool IsNumber(int column) const override { return numeric_[static_cast<size_t>(column)]; }
  std::string_view Text(int column) const override {
    return std::string_view(PQgetvalue(result_, row_, column),
                            static_cast<size_t>(PQgetlength(result_, row_, column)));
  }
  double Number(int column) const override {
    const std::string_view text = Text(column);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
  }

 private:
  const PGresult* result_;
  int row_;
  const std::vector<bool>& numeric_;
};

// A result of the pipeline, owned (PQclear), with its error state and message.
class TResult {
 public:
  explicit TResult(PGresult* result = nullptr) : result_(result) {}
  ~TResult() { PQclear(result_); }
  TResult(const TResult&) = delete;
  TResult& operator=(const TResult&) = delete;
  TResult(TResult&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
  TResult& operator=(TResult&& other) noexcept {
    std::swap(result_, other.result_);
    return *this;
  }
  PGresult* get() const { return result_; }
  explicit operator bool() const { return result_ != nullptr; }
  ExecStatusType Status() const { return PQresultStatus(result_); }
  std::string State() const {
    const char* state = PQresultErrorField(result_, PG_DIAG_SQLSTATE);
    return state ? state : "";
  }
  std::string Message() const {
    const char* primary = PQresultErrorField(result_, PG_DIAG_MESSAGE_PRIMARY);
    return primary ? primary : FirstLine(PQresultErrorMessage(result_));
  }

 private:
  PGresult* result_;
};

}  // namespace app::postgres
