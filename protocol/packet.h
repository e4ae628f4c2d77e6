// Column storage and the data packet.
//
// A TDataPacket is what a remote method returns: named, typed columns of equal length. The client
// data set keeps the same columns, so loading a packet moves columns instead of copying cells.
// Strings of one column share one character buffer; numbers (floats and dates) are plain doubles;
// nulls are one bit per cell. 100,000 rows of the items data set take about 250 bytes a row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

enum class TFieldType { ftString, ftDateTime, ftFloat };

// Wire and display name of a field type: "string", "datetime", "float".
const char* FieldTypeName(TFieldType type);
// Parses a wire type name; false when unknown.
bool ParseFieldType(std::string_view name, TFieldType& type);

class TColumn {
 public:
  explicit TColumn(TFieldType type = TFieldType::ftString) : type_(type) {}

  TFieldType Type() const { return type_; }
  size_t Size() const { return nulls_.size(); }

  bool IsNull(size_t row) const { return nulls_[row]; }
  // String cells; an empty view for a null or non-string cell.
  std::string_view GetString(size_t row) const;
  // Float and date cells (dates as days since 30/12/1899); 0 for a null or string cell.
  double GetNumber(size_t row) const { return type_ == TFieldType::ftString ? 0 : numbers_[row]; }

  void AppendNull();
  void AppendString(std::string_view text);  // on a number column: appends a null
  void AppendNumber(double value);           // on a string column: appends a null
  void Reserve(size_t rows, size_t characters = 0);
  void Clear();
  // A column of the same type with `rows` null cells.
  static TColumn Nulls(TFieldType type, size_t rows);

  size_t MemoryUsage() const;

 private:
  TFieldType type_;
  std::vector<bool> nulls_;
  std::vector<double> numbers_;
  std::string characters_;
  std::vector<uint32_t> ends_;  // end offset of each string cell in characters_
};

struct TPacketField {
  std::string Name;
  TFieldType Type = TFieldType::ftString;
  int Size = 0;  // characters, for strings; 0 otherwise
};

class TDataPacket {
 public:
  TDataPacket() = default;
  explicit TDataPacket(std::vector<TPacketField> fields);

  const std::vector<TPacketField>& Fields() const { return fields_; }
  std::vector<TColumn>& Columns() { return columns_; }
  const std::vector<TColumn>& Columns() const { return columns_; }
  size_t RowCount() const { return columns_.empty() ? 0 : columns_[0].Size(); }
  // Index of the field with this exact name, or -1.
  int FieldIndex(std::string_view name) const;
  // True when every column has RowCount() cells and the types match the fields.
  bool IsConsistent() const;

 private:
  std::vector<TPacketField> fields_;
  std::vector<TColumn> columns_;
};

}  // namespace fw
