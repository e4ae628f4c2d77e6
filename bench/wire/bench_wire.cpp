// Reading a 100,000-row items packet (the 20 fields of GetItens) off the wire: our MessagePack
// decoder straight into columns, and then into a client data set, against simdjson and
// nlohmann/json parsing the same rows as JSON into structs, in the same run.
#include <benchmark/benchmark.h>

#include <simdjson.h>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "framework/data/dataset.h"
#include "protocol/contract.h"
#include "protocol/datetime.h"
#include "protocol/wire.h"

namespace {

constexpr size_t kRows = 100000;

const std::vector<fw::TPacketField>& ItemFields() {
  return service::FindMethod("GetItens")->Fields;
}

// Deterministic, production-like values; later stages of an item leave some fields null.
fw::TDataPacket MakeItems() {
  static const char* const kNames[] = {"Marcos Silva Martins",     "Bruna Oliveira Cardoso",
                                       "Fábio Silva Nascimento",   "Daniel Nascimento Castro",
                                       "João Rodrigues Fernandes", "Ana Paula Gonçalves"};
  static const char* const kDestinations[] = {"Consumo Interno", "Manutenção Predial", "Revenda",
                                              "Tecnologia da Informação"};
  static const char kStatuses[] = {'A', 'B', 'C', 'D', '7', '5', '4', '3', '2', '1'};
  fw::TDataPacket packet(ItemFields());
  auto& columns = packet.Columns();
  uint64_t state = 42;
  auto next = [&] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state >> 33;
  };
  const double base = fw::EncodeDateTime({2024, 1, 1});
  for (size_t row = 0; row < kRows; ++row) {
    const uint64_t r = next();
    const bool purchased = r % 10 < 7;
    const bool invoiced = r % 10 < 4;
    char text[32];
    for (size_t f = 0; f < columns.size(); ++f) {
      fw::TColumn& column = columns[f];
      const std::string& name = ItemFields()[f].Name;
      const bool needsPurchase = name == "NRCOMPRA" || name == "QTEFETENTRAF" ||
                                 name == "NRAUTOFORN" || name == "DTAUTOFORN" ||
                                 name == "DTPROGENTAF" || name == "DTCONCOLEPREC";
      const bool needsInvoice = name == "CDOPERAPRO" || name == "DTEMISSAO";
      if ((needsPurchase && !purchased) || (needsInvoice && !invoiced)) {
        column.AppendNull();
        continue;
      }
      if (column.Type() == fw::TFieldType::ftDateTime) {
        column.AppendNumber(base + static_cast<double>(next() % 365) + (next() % 86400) / 86400.0);
      } else if (column.Type() == fw::TFieldType::ftFloat) {
        column.AppendNumber(static_cast<double>(next() % 100000) / 8.0);
      } else if (name == "STATUS") {
        column.AppendString(std::string(1, kStatuses[r % 10]));
      } else if (name == "NMOPERADOR") {
        column.AppendString(kNames[next() % 6]);
      } else if (name == "NMDESTSOLI") {
        column.AppendString(kDestinations[next() % 4]);
      } else if (name == "CDOPERLANC" || name == "CDOPERAPRO") {
        column.AppendString(std::string("MSILVA") + std::to_string(next() % 100));
      } else {
        const int width = ItemFields()[f].Size;
        std::snprintf(text, sizeof(text), "%0*llu", width,
                      static_cast<unsigned long long>(next() % 10000000000ull) %
                          (width >= 10 ? 10000000000ull : 10000ull));
        column.AppendString(std::string(text).substr(0, static_cast<size_t>(width)));
      }
    }
  }
  return packet;
}

const std::string& WireBytes() {
  static const std::string bytes = [] {
    std::string out;
    fw::wire::TWireWriter writer(out);
    fw::wire::EncodePacket(writer, MakeItems());
    return out;
  }();
  return bytes;
}

// The same packet as JSON: {"fields": [...], "rows": [[...], ...]}.
const std::string& JsonText() {
  static const std::string text = [] {
    const fw::TDataPacket packet = MakeItems();
    std::string out = "{\"fields\":[";
    for (size_t f = 0; f < packet.Fields().size(); ++f) {
      const auto& field = packet.Fields()[f];
      out += (f ? ",{\"name\":\"" : "{\"name\":\"") + field.Name + "\",\"type\":\"" +
             fw::FieldTypeName(field.Type) + "\",\"size\":" + std::to_string(field.Size) + "}";
    }
    out += "],\"rows\":[";
    char number[40];
    for (size_t row = 0; row < packet.RowCount(); ++row) {
      out += row ? ",[" : "[";
      for (size_t f = 0; f < packet.Fields().size(); ++f) {
        if (f) out += ',';
        const fw::TColumn& column = packet.Columns()[f];
        if (column.IsNull(row)) {
          out += "null";
        } else if (column.Type() == fw::TFieldType::ftString) {
          out += '"';
          out += column.GetString(row);
          out += '"';
        } else {
          std::snprintf(number, sizeof(number), "%.17g", column.GetNumber(row));
          out += number;
        }
      }
      out += ']';
    }
    out += "]}";
    return out;
  }();
  return text;
}

// What the JSON peers fill: one struct per row, strings and numbers in their own slots.
struct TItemRow {
  std::array<std::string, 12> Strings;
  std::array<double, 8> Numbers{};
  uint32_t Nulls = 0;
};

struct TSlots {
  std::vector<bool> IsString;
  std::vector<int> Slot;
};

const TSlots& Slots() {
  static const TSlots slots = [] {
    TSlots made;
    int strings = 0, numbers = 0;
    for (const auto& field : ItemFields()) {
      const bool text = field.Type == fw::TFieldType::ftString;
      made.IsString.push_back(text);
      made.Slot.push_back(text ? strings++ : numbers++);
    }
    return made;
  }();
  return slots;
}

void BM_Ours_MessagePackToPacket(benchmark::State& state) {
  const std::string& bytes = WireBytes();
  for (auto _ : state) {
    fw::TDataPacket packet = fw::wire::DecodePacket(bytes);
    benchmark::DoNotOptimize(packet.RowCount());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["wire_MB"] = static_cast<double>(bytes.size()) / 1e6;
}

void BM_Ours_MessagePackToClientDataSet(benchmark::State& state) {
  const std::string& bytes = WireBytes();
  fw::TClientDataSet dataSet(nullptr, "cdsItensGrid");
  for (const auto& field : ItemFields())
    dataSet.AddField("cdsItensGrid" + field.Name, field.Name, field.Type, field.Size);
  for (auto _ : state) {
    dataSet.SetData(fw::wire::DecodePacket(bytes));
    benchmark::DoNotOptimize(dataSet.RecordCount());
  }
  if (dataSet.RecordCount() != static_cast<int>(kRows)) state.SkipWithError("rows lost");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_Simdjson_JsonToStructs(benchmark::State& state) {
  const simdjson::padded_string json(JsonText());
  simdjson::ondemand::parser parser;
  const TSlots& slots = Slots();
  std::vector<TItemRow> rows;
  for (auto _ : state) {
    rows.clear();
    auto document = parser.iterate(json);
    for (auto member : document.get_object()) {
      const std::string_view key = member.unescaped_key();
      if (key != "rows") continue;  // the field list is the contract's; see Slots()
      for (auto row : member.value().get_array()) {
        TItemRow& out = rows.emplace_back();
        size_t index = 0;
        for (auto value : row.get_array()) {
          if (value.is_null()) {
            out.Nulls |= 1u << index;
          } else if (slots.IsString[index]) {
            out.Strings[slots.Slot[index]] = std::string_view(value.get_string());
          } else {
            out.Numbers[slots.Slot[index]] = double(value.get_double());
          }
          ++index;
        }
      }
    }
    benchmark::DoNotOptimize(rows.data());
  }
  if (rows.size() != kRows) state.SkipWithError("rows lost");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * JsonText().size()));
  state.counters["json_MB"] = static_cast<double>(JsonText().size()) / 1e6;
}

void BM_Nlohmann_JsonToStructs(benchmark::State& state) {
  const std::string& text = JsonText();
  const TSlots& slots = Slots();
  std::vector<TItemRow> rows;
  for (auto _ : state) {
    rows.clear();
    const nlohmann::json document = nlohmann::json::parse(text);
    for (const auto& row : document.at("rows")) {
      TItemRow& out = rows.emplace_back();
      for (size_t index = 0; index < row.size(); ++index) {
        const auto& value = row[index];
        if (value.is_null())
          out.Nulls |= 1u << index;
        else if (slots.IsString[index])
          out.Strings[slots.Slot[index]] = value.get_ref<const std::string&>();
        else
          out.Numbers[slots.Slot[index]] = value.get<double>();
      }
    }
    benchmark::DoNotOptimize(rows.data());
  }
  if (rows.size() != kRows) state.SkipWithError("rows lost");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_Ours_MessagePackToPacket)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_MessagePackToClientDataSet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Simdjson_JsonToStructs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_JsonToStructs)->Unit(benchmark::kMillisecond);

// Prints the ratios the targets are stated in, from the runs above. CPU time, since the
// benchmark machine is shared and wall time counts the waits for a core.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        seconds_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double ours = Time("BM_Ours_MessagePackToPacket");
    const double loaded = Time("BM_Ours_MessagePackToClientDataSet");
    const double simd = Time("BM_Simdjson_JsonToStructs");
    const double nlohmann = Time("BM_Nlohmann_JsonToStructs");
    if (ours > 0 && simd > 0 && nlohmann > 0)
      std::printf(
          "\nratios of CPU time (peer / ours; above 1 means ours is faster):\n"
          "  simdjson / ours decode:            %.2f   (target >= 1)\n"
          "  simdjson / ours decode+load:       %.2f\n"
          "  nlohmann / ours decode:            %.1f   (target >= 10)\n"
          "  nlohmann / ours decode+load:       %.1f\n",
          simd / ours, simd / loaded, nlohmann / ours, nlohmann / loaded);
  }

 private:
  double Time(const std::string& name) const {
    const auto found = seconds_.find(name);
    return found == seconds_.end() ? 0 : found->second;
  }
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
