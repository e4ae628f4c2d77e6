// The demo's requests and what follows each: items, manager approvals, the price quotation, the
// purchase, its AFs and their invoices, as far as the request's status goes.
//
// Every draw is made in the order the data was first generated in: a step that is moved or
// skipped changes every later row of the seed. Where a step has nothing to write it still makes
// the draws it would have made (see the purchase without AF).
#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app_server/db/iso_date.h"
#include "app_server/demo/demo_generator.h"
#include "protocol/datetime.h"

namespace app::demo {

namespace {

// Item statuses, the stages a request goes through.
constexpr char kStatuses[] = {'A', 'B', 'C', 'D', '7', '5', '4', '3', '2', '1'};
// How common each is, in percent (same order).
constexpr int kStatusWeights[] = {10, 8, 7, 12, 6, 7, 15, 5, 20, 10};

bool Quoted(char status) {
  return status != 'A';
}
bool Purchased(char status) {
  return status == 'D' || status == '7' || status == '4' || status == '3' || status == '2' ||
         status == '1';
}
bool Invoiced(char status) {
  return status == '4' || status == '2' || status == '1';
}

char PickStatus(TRandom& random) {
  int roll = random.Between(1, 100);
  for (size_t i = 0; i < std::size(kStatuses); ++i) {
    roll -= kStatusWeights[i];
    if (roll <= 0) return kStatuses[i];
  }
  return kStatuses[0];
}

// How much of an ordered quantity has been delivered, by the item's status.
double Received(char status, double quantity, TRandom& random) {
  double received = 0;
  if (status == '2' || status == '4') received = quantity;
  if (status == '1') received = Round(quantity * (0.3 + 0.5 * random.Unit()), 0);
  if (status == '1' && received <= 0) received = 1;
  if (status == '1' && received >= quantity) received = quantity > 1 ? quantity - 1 : quantity / 2;
  if (status == '3') received = Round(quantity * random.Unit() * 0.5, 0);
  return received;
}

std::string Date(double days) {
  return DaysToIsoText(days);
}

// A time of the working day, as a fraction.
double WorkingTime(TRandom& random) {
  return random.Between(7 * 3600 + 1800, 18 * 3600 + 1800) / 86400.0;
}

// A working moment some days after `earliest`, and always after it.
double After(double earliest, int minDays, int maxDays, TRandom& random) {
  double moment = std::floor(earliest) + random.Between(minDays, maxDays) + WorkingTime(random);
  while (moment <= earliest) moment += 1;
  return moment;
}

struct TItem {
  size_t Product;
  std::string Destination;
  double Quantity;
  char Status;
};

// One request as it is being made: what the later steps read of the earlier ones.
struct TRequest {
  long Index = 0;
  double Entered = 0;
  std::string Number;
  char Status = 'A';
  const TBranch* Branch = nullptr;
  std::string Launching;
  std::vector<TItem> Items;
  std::string DeliveryText;
  double ApprovedAt = 0;
  std::string QuotationNumber;
  double ConcludedAt = 0;
  std::vector<std::vector<std::pair<size_t, double>>> Prices;  // per item: supplier, price
  std::string PurchaseNumber;
};

class TRequestMaker {
 public:
  TRequestMaker(IDemoWriter& writer, const TWorld& world, TDraws& draws, TDemoCounts& counts)
      : world_(world),
        random_(draws.Main),
        ordersRandom_(draws.Orders),
        counts_(counts),
        request_(writer, "SOLICITACAO",
                 "CDFILLAN, NRSOLICMP, CDFILIAL, CDOPERLANC, CDOPERSOLI, DTHRLANCSOL"),
        item_(writer, "ITEMSOLICITACAO",
              "CDFILLAN, NRSOLICMP, NRITEMSOLI, CDPRODUTO, CDDESTSOLI, QTSOLIPROD, DTPROGENTR, "
              "STATUS, CDFILIAL, NRCOLEPRECO, NRCOMPRA"),
        approval_(
            writer, "APROVACAOGERENTE",
            "CDFILLAN, NRSOLICMP, CDDESTSOLI, NRNIVEL, CDOPERGER, IDAPROVPRGER, DTAPRSOLPRODGER"),
        quotation_(writer, "COLETAPRECO",
                   "CDFILIAL, NRCOLEPRECO, IDSITUCOLETA, CDOPERCOMP, DTABERTURA, DTCONCOLEPREC"),
        price_(writer, "ITEMCOLETAPRECO",
               "CDFILIAL, NRCOLEPRECO, CDPRODUTO, CDFORNECED, VRPRECUNIITM"),
        purchase_(writer, "COMPRA", "CDFILIAL, NRCOMPRA, NRCOLEPRECO, CDOPERCOMP, DTCOMPRA"),
        order_(writer, "AUTORIZACAOFORN",
               "CDFILIAL, NRAUTOFORN, NRCOMPRA, CDFORNECED, DTAUTOFORN, DTPROGENTAF, VRTOTALAF"),
        orderItem_(writer, "ITEMAUTOFORN",
                   "CDFILIAL, NRAUTOFORN, CDFILLAN, NRSOLICMP, NRITEMSOLI, QTPRODAF, VRUNITAF, "
                   "QTEFETENTRAF"),
        invoice_(writer, "NOTAFISCAL",
                 "CDFILIAL, CDFORNECED, NRNOTAFISC, NRAUTOFORN, CDTIPOOPER, DTEMISSAO, "
                 "DTENTRSAID, DTAPROVACAO, VRNOTAFISC, CDOPERAPRO"),
        invoiceNumbers_(world.Suppliers.size(), 0) {}

  void Run(int scale, double end) {
    const long requestCount = 80L * scale;
    manyInYear_ = requestCount > kMostInYear;
    // Dates first, in order, so that request numbers grow with time (RequestNumber).
    std::vector<double> dates(static_cast<size_t>(requestCount));
    for (auto& date : dates) date = end - random_.Between(0, 364) + WorkingTime(random_);
    std::sort(dates.begin(), dates.end());
    for (long r = 0; r < requestCount; ++r) {
      TRequest request;
      request.Index = r;
      request.Entered = dates[static_cast<size_t>(r)];
      MakeRequest(request);
      DrawItems(request);
      MakeApprovals(request);
      MakeQuotation(request);
      if (Purchased(request.Status)) MakePurchase(request);
      WriteItems(request);
    }
  }

 private:
  const TOperator& Operator(size_t index) const { return world_.Operators[index]; }

  // The number (numbered within its year), the status, the branches and the people.
  void MakeRequest(TRequest& request) {
    const int enteredYear = fw::DecodeDateTime(request.Entered).Year;
    if (enteredYear != year_) {
      year_ = enteredYear;
      numberInYear_ = 0;
    }
    request.Number = RequestNumber(year_, ++numberInYear_, manyInYear_);
    // The first requests take every status in turn, so that any seed shows them all.
    request.Status = request.Index < static_cast<long>(std::size(kStatuses))
                         ? kStatuses[request.Index]
                         : PickStatus(random_);
    const auto& branches = world_.Branches;
    request.Branch = &branches[random_.Next() % branches.size()];
    request.Launching = random_.Chance(0.75) ? request.Branch->Code
                                             : branches[random_.Next() % branches.size()].Code;
    const size_t requester = request.Branch->Requesters.empty()
                                 ? random_.Pick(world_.Requesters)
                                 : random_.Pick(request.Branch->Requesters);
    const size_t enteredBy = random_.Chance(0.7) ? requester : random_.Pick(world_.Requesters);
    request_.Run({request.Launching, request.Number, request.Branch->Code, Operator(enteredBy).Code,
                  Operator(requester).Code, Date(request.Entered)});
    ++counts_.Requests;
  }

  // Items: distinct products, mostly one destination per request.
  void DrawItems(TRequest& request) {
    const int itemCount = random_.Between(1, 4);
    const std::string& mainDestination = random_.Pick(world_.Destinations);
    std::set<size_t> chosen;
    while (static_cast<int>(request.Items.size()) < itemCount) {
      const size_t product = random_.Next() % world_.Products.size();
      if (!chosen.insert(product).second) continue;
      const std::string& unit = world_.Products[product].Unit;
      const bool fractional = unit == "KG" || unit == "L" || unit == "M";
      const double quantity = fractional ? Round(random_.Between(5, 400) / 4.0, 3)
                                         : static_cast<double>(random_.Between(1, 60));
      char itemStatus = request.Status;
      if (itemCount > 1 && request.Index >= static_cast<long>(std::size(kStatuses)) &&
          random_.Chance(0.08))
        itemStatus = '5';
      request.Items.push_back(
          {product, random_.Chance(0.8) ? mainDestination : random_.Pick(world_.Destinations),
           quantity, itemStatus});
    }
    request.DeliveryText = Date(std::floor(request.Entered) + random_.Between(7, 45));
  }

  // Manager approvals, per destination, one to three levels.
  void MakeApprovals(TRequest& request) {
    std::set<std::string> destinations;
    for (const auto& entry : request.Items) destinations.insert(entry.Destination);
    request.ApprovedAt = request.Entered;
    for (const auto& destination : destinations) {
      const int levels = request.Index % 4 == 0 ? 3 : random_.Between(1, 3);
      double at = request.Entered;
      std::set<size_t> managersUsed;
      for (int level = 1; level <= levels; ++level) {
        size_t manager = random_.Pick(world_.Managers);
        while (managersUsed.size() < world_.Managers.size() && !managersUsed.insert(manager).second)
          manager = random_.Pick(world_.Managers);
        at += random_.Between(2, 30) / 24.0;
        std::string decision = "S";
        if (request.Status == 'A' && level == levels) decision = "P";
        if (request.Status == '5' && level == levels && destination == *destinations.begin())
          decision = "N";
        approval_.Run({request.Launching, request.Number, destination, level,
                       Operator(manager).Code, decision,
                       decision == "P" ? TDemoValue(nullptr) : TDemoValue(Date(at))});
        ++counts_.Approvals;
      }
      request.ApprovedAt = std::max(request.ApprovedAt, at);
    }
  }

  // The price quotation and each item's bids.
  void MakeQuotation(TRequest& request) {
    request.Prices.assign(request.Items.size(), {});
    const char status = request.Status;
    const bool cancelledEarly = status == '5' && random_.Chance(0.5);
    if (!Quoted(status) || cancelledEarly) return;
    request.QuotationNumber = Digits(++quotations_, 10);
    const double opened = After(request.ApprovedAt, 1, 4, random_);
    const char situation = status == 'B' ? 'A' : status == '5' ? 'X' : 'C';
    request.ConcludedAt = After(opened, 2, 10, random_);
    const char situationText[2] = {situation, 0};
    quotation_.Run(
        {request.Branch->Code, request.QuotationNumber, situationText,
         Operator(random_.Pick(world_.Buyers)).Code, Date(opened),
         situation == 'C' ? TDemoValue(Date(request.ConcludedAt)) : TDemoValue(nullptr)});
    ++counts_.Quotations;
    for (size_t i = 0; i < request.Items.size(); ++i) {
      const int bidders = random_.Between(2, 4);
      const TProduct& product = world_.Products[request.Items[i].Product];
      // Suppliers of the product's own line quote it: the draws pick places in that line,
      // one after the other from the first draw's, so each bidder is another supplier.
      const std::vector<size_t>& line = world_.LineSuppliers[product.Trade];
      const int quoting = static_cast<int>(world_.QuotingSuppliers);
      std::set<size_t> seen;
      size_t start = 0;
      while (static_cast<int>(seen.size()) < std::min<int>(bidders, quoting)) {
        const size_t draw = random_.Next() % world_.QuotingSuppliers;
        if (!seen.insert(draw).second) continue;
        if (seen.size() == 1) start = draw;
        const double unitPrice = Round(product.Price * (0.85 + 0.4 * random_.Unit()), 2);
        if (seen.size() > line.size()) continue;
        const size_t supplier = line[(start + seen.size() - 1) % line.size()];
        request.Prices[i].push_back({supplier, unitPrice});
        price_.Run({request.Branch->Code, request.QuotationNumber, product.Code,
                    world_.Suppliers[supplier].Code, unitPrice});
        ++counts_.QuotationPrices;
      }
    }
  }

  struct TLine {
    int Item;
    double Quantity, Unit, Received;
  };
  struct TOrder {
    size_t Supplier;
    std::vector<TLine> Lines;
  };

  // The purchase, then its AFs and their invoices.
  void MakePurchase(TRequest& request) {
    const char status = request.Status;
    request.PurchaseNumber = Digits(++purchases_, 10);
    const double purchasedAt = After(request.ConcludedAt, 0, 2, random_);
    purchase_.Run({request.Branch->Code, request.PurchaseNumber, request.QuotationNumber,
                   Operator(random_.Pick(world_.Buyers)).Code, Date(purchasedAt)});
    ++counts_.Purchases;

    // The first AF draws from the main sequence, as the only one did before a purchase could
    // have several; the others from a sequence of their own, so that the rest of the data
    // stays as it was.
    const double orderedAt = After(purchasedAt, 0, 1, random_);
    const double due = std::floor(orderedAt) + random_.Between(5, 30);
    const std::vector<TOrder> orders = PlaceOrders(request);

    // A purchase whose items were all cancelled on their own gets no AF; the draws its AF
    // would have made are still made, for the same reason.
    if (orders.empty() && Invoiced(status)) {
      const double entered = After(After(orderedAt, 3, 25, random_), 0, 5, random_);
      if (status == '1') random_.Chance(0.5);
      After(entered, 0, 3, random_);
      random_.Next();
      random_.Pick(world_.Clerks);
    }
    for (size_t o = 0; o < orders.size(); ++o) {
      TRandom& draw = o == 0 ? random_ : ordersRandom_;
      const double orderedOn = o == 0 ? orderedAt : After(purchasedAt, 0, 1, draw);
      const double dueOn = o == 0 ? due : std::floor(orderedOn) + draw.Between(5, 30);
      WriteOrder(request, orders[o], orderedOn, dueOn, draw);
    }
  }

  // Each product goes to the supplier who quoted it cheapest, with that quote's price; one AF
  // per supplier chosen, in the order of the items.
  std::vector<TOrder> PlaceOrders(const TRequest& request) {
    std::vector<TOrder> orders;
    for (size_t i = 0; i < request.Items.size(); ++i) {
      const TItem& entry = request.Items[i];
      if (entry.Status == '5') continue;
      const auto& bids = request.Prices[i];
      const auto cheapest =
          std::min_element(bids.begin(), bids.end(),
                           [](const auto& a, const auto& b) { return a.second < b.second; });
      auto order = std::find_if(orders.begin(), orders.end(), [&](const TOrder& candidate) {
        return candidate.Supplier == cheapest->first;
      });
      if (order == orders.end()) order = orders.insert(orders.end(), {cheapest->first, {}});
      order->Lines.push_back({static_cast<int>(i + 1), entry.Quantity, cheapest->second,
                              Received(request.Status, entry.Quantity, random_)});
    }
    return orders;
  }

  void WriteOrder(const TRequest& request, const TOrder& placed, double orderedOn, double dueOn,
                  TRandom& draw) {
    const std::string& branch = request.Branch->Code;
    double total = 0, delivered = 0;
    for (const auto& line : placed.Lines) {
      total += line.Quantity * line.Unit;
      delivered += line.Received * line.Unit;
    }
    const std::string orderNumber = Digits(++orders_, 10);
    const TSupplier& supplier = world_.Suppliers[placed.Supplier];
    order_.Run({branch, orderNumber, request.PurchaseNumber, supplier.Code, Date(orderedOn),
                Date(dueOn), Round(total, 2)});
    ++counts_.Orders;
    for (const auto& line : placed.Lines)
      orderItem_.Run({branch, orderNumber, request.Launching, request.Number, line.Item,
                      line.Quantity, line.Unit, line.Received});
    if (!Invoiced(request.Status)) return;

    const double issued = After(orderedOn, 3, 25, draw);
    const double enteredOn = After(issued, 0, 5, draw);
    const bool approved = request.Status != '1' || draw.Chance(0.5);
    const double approvedOn = After(enteredOn, 0, 3, draw);
    static const char* const kOperations[] = {"01", "01", "01", "02", "05", "09"};
    const long invoiceNumber =
        ++invoiceNumbers_[placed.Supplier] + 1000 * static_cast<long>(placed.Supplier + 1);
    invoice_.Run({branch, supplier.Code, Digits(invoiceNumber, 9), orderNumber,
                  kOperations[draw.Next() % std::size(kOperations)], Date(issued), Date(enteredOn),
                  approved ? TDemoValue(Date(approvedOn)) : TDemoValue(nullptr),
                  Round(delivered, 2), Operator(draw.Pick(world_.Clerks)).Code});
    ++counts_.Invoices;
  }

  // The items are written last: they name the quotation and the purchase.
  void WriteItems(const TRequest& request) {
    for (size_t i = 0; i < request.Items.size(); ++i) {
      const TItem& entry = request.Items[i];
      const char statusText[2] = {entry.Status, 0};
      const bool inPurchase = !request.PurchaseNumber.empty() && entry.Status != '5';
      item_.Run({request.Launching, request.Number, static_cast<int>(i + 1),
                 world_.Products[entry.Product].Code, entry.Destination, entry.Quantity,
                 request.DeliveryText, statusText, request.Branch->Code,
                 request.QuotationNumber.empty() ? TDemoValue(nullptr)
                                                 : TDemoValue(request.QuotationNumber),
                 inPurchase ? TDemoValue(request.PurchaseNumber) : TDemoValue(nullptr)});
      ++counts_.Items;
    }
  }

  const TWorld& world_;
  TRandom& random_;
  TRandom& ordersRandom_;
  TDemoCounts& counts_;
  TTable request_, item_, approval_, quotation_, price_, purchase_, order_, orderItem_, invoice_;
  std::vector<long> invoiceNumbers_;  // per supplier
  int year_ = 0;
  long numberInYear_ = 0;
  // More requests than "2023" + six digits can number in a year (past scale 12,499).
  static constexpr long kMostInYear = 999999;
  bool manyInYear_ = false;
  long quotations_ = 0, purchases_ = 0, orders_ = 0;
};

}  // namespace

void MakeRequests(IDemoWriter& writer, const TWorld& world, TDraws& draws, int scale, double end,
                  TDemoCounts& counts) {
  TRequestMaker(writer, world, draws, counts).Run(scale, end);
}

}  // namespace app::demo
