// The demo generator's parts, private to app_server/demo: the draws, the small text helpers,
// and the two stages GenerateDemoData runs in order. The world (branches, people, accounts,
// products, suppliers) is made first; the requests, with everything that follows each one, refer
// to it. Both stages draw from the same sequences, one after the other, so that a seed always
// gives the same rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app_server/demo/demo_data.h"

namespace app::demo {

// splitmix64: small, fast, and the same numbers on every platform and library (the standard
// distributions are not).
class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Inclusive.
  int Between(int low, int high) {
    return low + static_cast<int>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  bool Chance(double probability) { return Unit() < probability; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Next() % items.size()];
  }

 private:
  uint64_t state_;
};

// The sequences a seed starts. The second and third were added after the data's first shape:
// drawing from them leaves the rows the main sequence gave as they were.
struct TDraws {
  explicit TDraws(uint64_t seed)
      : Main(seed), Orders(seed ^ 0x5DEECE66Dull), Suppliers(seed ^ 0x2545F4914F6CDD1Dull) {}
  TRandom Main;
  TRandom Orders;     // for a purchase's AFs after its first
  TRandom Suppliers;  // for the suppliers that fill up a line
};

size_t CodePoints(std::string_view text);
// `value` in `width` digits, zeros in front.
std::string Digits(long value, int width);
// A request's number, ten characters as its column holds: the year and six digits numbering the
// request within it ("2023000042"); when a year has more requests than six digits can number
// (`manyInYear`), the year's last two digits and eight ("2300000042").
std::string RequestNumber(int year, long numberInYear, bool manyInYear);
double Round(double value, int decimals);

// A table the generator writes rows to.
class TTable {
 public:
  TTable(IDemoWriter& writer, const char* name, const char* columns)
      : writer_(writer), handle_(writer.Table(name, columns)) {}
  void Run(std::initializer_list<TDemoValue> values) { writer_.Row(handle_, values); }

 private:
  IDemoWriter& writer_;
  size_t handle_;
};

struct TBranch {
  std::string Code, Name;
  std::vector<size_t> Requesters;  // indexes into the operators
};

struct TOperator {
  std::string Code, Name;
  char Role;  // S requester, G manager, C buyer, F invoice clerk
  std::string Branch;
};

struct TProduct {
  std::string Code, Tree, Name, Unit, Brand;
  double Price;
  size_t Trade;  // the supplier trade that sells it
};

struct TSupplier {
  std::string Code, Name, Cnpj;
  size_t Trade;
};

// What every request refers to.
struct TWorld {
  std::vector<TBranch> Branches;
  std::vector<TOperator> Operators;
  std::vector<size_t> Requesters, Managers, Buyers, Clerks;  // indexes into Operators
  std::vector<std::string> Destinations;
  std::vector<TProduct> Products;
  std::vector<TSupplier> Suppliers;
  std::vector<std::vector<size_t>> LineSuppliers;  // per trade: indexes into Suppliers
  size_t QuotingSuppliers = 0;                     // the suppliers of the first draw
};

// Writes the branches, operators, accounts, units, destinations, products and suppliers.
TWorld MakeWorld(IDemoWriter& writer, TDraws& draws, int scale, TDemoCounts& counts);

// Writes 80 requests per unit of scale, entered in the year before `end`, each with its items,
// manager approvals, quotation, purchase, AFs and invoices as far as its status goes.
void MakeRequests(IDemoWriter& writer, const TWorld& world, TDraws& draws, int scale, double end,
                  TDemoCounts& counts);

}  // namespace app::demo
