// Storage of the items data set: our column layout against a row-of-variant-cells layout, with the
// same 100,000 rows of realistic values in the same run. Reports bytes per row (heap included) and
// the time of a full scan of every cell's display text, as a grid paints it.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <variant>
#include <vector>

#include "framework/data/dataset.h"
#include "framework/data/format.h"
#include "protocol/datetime.h"

namespace {

using namespace fw;

using Cell = std::variant<std::monostate, std::string, double>;
using CellRows = std::vector<std::vector<Cell>>;

constexpr size_t kRows = 100000;
constexpr const char* kQuantityFormat = "###,##0.000";

// How a column's values look in production.
enum class TKind { Status, Digits, Letters, Name, Date, DateTime, Quantity };

struct TColumnProfile {
  TPacketField field;
  TKind kind;
  int minimumLength;
  int maximumLength;
  int nullPercent;
};

TPacketField Str(const char* name, int size) {
  return {name, TFieldType::ftString, size};
}
TPacketField Date(const char* name) {
  return {name, TFieldType::ftDateTime, 0};
}
TPacketField Num(const char* name) {
  return {name, TFieldType::ftFloat, 0};
}

// The 20 fields of "GetItens", in contract order; later stages fill the optional ones.
const std::vector<TColumnProfile>& ItemColumns() {
  static const std::vector<TColumnProfile> columns = {
      {Str("STATUS", 1), TKind::Status, 1, 1, 0},
      {Str("CDFILLAN", 4), TKind::Digits, 4, 4, 0},
      {Str("NRSOLICMP", 10), TKind::Digits, 10, 10, 0},
      {Str("CDOPERLANC", 12), TKind::Letters, 6, 12, 0},
      {Str("NMDESTSOLI", 30), TKind::Name, 20, 30, 0},
      {Str("NRCOMPRA", 10), TKind::Digits, 10, 10, 30},
      {Date("DTCONCOLEPREC"), TKind::Date, 0, 0, 40},
      {Date("DTPROGENTR"), TKind::Date, 0, 0, 0},
      {Str("NMOPERADOR", 40), TKind::Name, 30, 40, 0},
      {Date("DTHRLANCSOL"), TKind::DateTime, 0, 0, 0},
      {Num("QTSOLIPROD"), TKind::Quantity, 0, 0, 0},
      {Num("QTEFETENTRAF"), TKind::Quantity, 0, 0, 50},
      {Str("NRAUTOFORN", 10), TKind::Digits, 10, 10, 50},
      {Date("DTAUTOFORN"), TKind::Date, 0, 0, 50},
      {Str("CDOPERAPRO", 12), TKind::Letters, 6, 12, 50},
      {Str("CDDESTSOLI", 3), TKind::Digits, 3, 3, 0},
      {Str("NRCOLEPRECO", 10), TKind::Digits, 10, 10, 30},
      {Str("CDFILIAL", 4), TKind::Digits, 4, 4, 0},
      {Date("DTEMISSAO"), TKind::Date, 0, 0, 50},
      {Date("DTPROGENTAF"), TKind::Date, 0, 0, 50},
  };
  return columns;
}

std::vector<TPacketField> ItemFields() {
  std::vector<TPacketField> fields;
  for (const auto& column : ItemColumns()) fields.push_back(column.field);
  return fields;
}

class TValueGenerator {
 public:
  Cell Make(const TColumnProfile& profile) {
    if (Percent() < profile.nullPercent) return std::monostate{};
    switch (profile.kind) {
      case TKind::Status:
        return std::string(1, "ABCD754321"[Between(0, 9)]);
      case TKind::Digits:
        return Text("0123456789", Between(profile.minimumLength, profile.maximumLength));
      case TKind::Letters:
        return Text("ABCDEFGHIJKLMNOPQRSTUVWXYZ",
                    Between(profile.minimumLength, profile.maximumLength));
      case TKind::Name:
        return Name(Between(profile.minimumLength, profile.maximumLength));
      case TKind::Date:
        return static_cast<double>(Between(43831, 46022));  // 2020 to 2025
      case TKind::DateTime:
        return Between(43831, 46022) + Between(0, 86399) / 86400.0;
      case TKind::Quantity:
        return Between(1, 5000000) / 1000.0;
    }
    return std::monostate{};
  }

 private:
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  int Percent() { return Between(0, 99); }

  std::string Text(const char* alphabet, int length) {
    const std::string_view letters(alphabet);
    std::string text;
    for (int i = 0; i < length; ++i)
      text += letters[Between(0, static_cast<int>(letters.size()) - 1)];
    return text;
  }

  std::string Name(int length) {
    static const char* const kWords[] = {
        "MARIA", "JOSE",    "ANTONIO",  "FRANCISCA", "CARLOS",    "PAULO",    "ADRIANA",
        "SILVA", "SANTOS",  "OLIVEIRA", "SOUZA",     "RODRIGUES", "FERREIRA", "ALMEIDA",
        "DE",    "PEREIRA", "LIMA",     "GOMES",     "RIBEIRO",   "CARVALHO"};
    std::string name;
    while (static_cast<int>(name.size()) < length) {
      if (!name.empty()) name += ' ';
      name += kWords[Between(0, 19)];
    }
    name.resize(length);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
  }

  std::mt19937 random_{20240305};
};

// The rows as the variant layout holds them; also the source the packet is built from.
CellRows MakeCellRows() {
  TValueGenerator generator;
  const auto& columns = ItemColumns();
  CellRows rows;
  rows.reserve(kRows);
  for (size_t r = 0; r < kRows; ++r) {
    std::vector<Cell> row;
    row.reserve(columns.size());
    for (const auto& column : columns) row.push_back(generator.Make(column));
    rows.push_back(std::move(row));
  }
  return rows;
}

const CellRows& SampleRows() {
  static const CellRows rows = MakeCellRows();
  return rows;
}

// As a wire decoder fills a packet: the row count is known up front, the text volume is not.
TDataPacket MakePacket(const CellRows& rows) {
  TDataPacket packet(ItemFields());
  for (auto& column : packet.Columns()) column.Reserve(rows.size());
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      TColumn& column = packet.Columns()[i];
      if (const auto* text = std::get_if<std::string>(&row[i]))
        column.AppendString(*text);
      else if (const auto* number = std::get_if<double>(&row[i]))
        column.AppendNumber(*number);
      else
        column.AppendNull();
    }
  }
  return packet;
}

void DeclareFields(TDataSet& dataSet) {
  for (const auto& column : ItemColumns()) {
    TField* field = dataSet.AddField("cdsItensGrid" + column.field.Name, column.field.Name,
                                     column.field.Type, column.field.Size);
    if (column.kind == TKind::Quantity) field->DisplayFormat = kQuantityFormat;
  }
}

// Heap of the variant layout: the vectors' capacities and every string too long for its SSO buffer.
size_t CellRowsMemory(const CellRows& rows) {
  const size_t ssoCapacity = std::string().capacity();
  size_t bytes = sizeof(rows) + rows.capacity() * sizeof(std::vector<Cell>);
  for (const auto& row : rows) {
    bytes += row.capacity() * sizeof(Cell);
    for (const auto& cell : row)
      if (const auto* text = std::get_if<std::string>(&cell))
        if (text->capacity() > ssoCapacity) bytes += text->capacity() + 1;
  }
  return bytes;
}

void BM_ColumnLayout_Load(benchmark::State& state) {
  const CellRows& rows = SampleRows();
  TClientDataSet dataSet(nullptr, "cdsItensGrid");
  DeclareFields(dataSet);
  for (auto _ : state) {
    dataSet.SetData(MakePacket(rows));
    benchmark::DoNotOptimize(dataSet.RecordCount());
  }
  state.counters["rows"] = static_cast<double>(dataSet.RecordCount());
  state.counters["bytes_per_row"] =
      static_cast<double>(dataSet.MemoryUsage()) / static_cast<double>(dataSet.RecordCount());
}
BENCHMARK(BM_ColumnLayout_Load)->Unit(benchmark::kMillisecond);

void BM_VariantCells_Load(benchmark::State& state) {
  const CellRows& source = SampleRows();
  CellRows rows;
  for (auto _ : state) {
    CellRows copy;
    copy.reserve(source.size());
    for (const auto& row : source) copy.push_back(row);  // each row's vector at its exact size
    rows = std::move(copy);
    benchmark::DoNotOptimize(rows.data());
  }
  state.counters["rows"] = static_cast<double>(rows.size());
  state.counters["bytes_per_row"] =
      static_cast<double>(CellRowsMemory(rows)) / static_cast<double>(rows.size());
}
BENCHMARK(BM_VariantCells_Load)->Unit(benchmark::kMillisecond);

void BM_ColumnLayout_ScanDisplayText(benchmark::State& state) {
  TClientDataSet dataSet(nullptr, "cdsItensGrid");
  DeclareFields(dataSet);
  dataSet.SetData(MakePacket(SampleRows()));
  const size_t rowCount = static_cast<size_t>(dataSet.RecordCount());
  for (auto _ : state) {
    size_t characters = 0;
    for (size_t row = 0; row < rowCount; ++row) {
      TDataSet::TRowScope paint(&dataSet, row);
      for (const TField* field : dataSet.Fields()) characters += field->DisplayText().size();
    }
    benchmark::DoNotOptimize(characters);
  }
  state.SetItemsProcessed(
      static_cast<int64_t>(state.iterations() * rowCount * dataSet.Fields().size()));
}
BENCHMARK(BM_ColumnLayout_ScanDisplayText)->Unit(benchmark::kMillisecond);

// The same texts from the variant cells: the same formatting, only the storage differs.
void BM_VariantCells_ScanDisplayText(benchmark::State& state) {
  const CellRows& rows = SampleRows();
  const auto& columns = ItemColumns();
  for (auto _ : state) {
    size_t characters = 0;
    for (const auto& row : rows) {
      for (size_t i = 0; i < row.size(); ++i) {
        std::string text;
        if (const auto* value = std::get_if<std::string>(&row[i]))
          text = *value;
        else if (const auto* number = std::get_if<double>(&row[i]))
          text = columns[i].field.Type == TFieldType::ftFloat
                     ? FormatFloat(kQuantityFormat, *number)
                     : DateTimeToText(*number);
        characters += text.size();
      }
    }
    benchmark::DoNotOptimize(characters);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * rows.size() * columns.size()));
}
BENCHMARK(BM_VariantCells_ScanDisplayText)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
