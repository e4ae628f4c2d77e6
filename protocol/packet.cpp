#include "protocol/packet.h"

#include <stdexcept>

namespace fw {

const char* FieldTypeName(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
      return "string";
    case TFieldType::ftDateTime:
      return "datetime";
    case TFieldType::ftFloat:
      return "float";
  }
  return "string";
}

bool ParseFieldType(std::string_view name, TFieldType& type) {
  if (name == "string") {
    type = TFieldType::ftString;
  } else if (name == "datetime") {
    type = TFieldType::ftDateTime;
  } else if (name == "float") {
    type = TFieldType::ftFloat;
  } else {
    return false;
  }
  return true;
}

std::string_view TColumn::GetString(size_t row) const {
  if (type_ != TFieldType::ftString || nulls_[row]) return {};
  const uint32_t begin = row == 0 ? 0 : ends_[row - 1];
  return std::string_view(characters_).substr(begin, ends_[row] - begin);
}

void TColumn::AppendNull() {
  nulls_.push_back(true);
  if (type_ == TFieldType::ftString)
    ends_.push_back(static_cast<uint32_t>(characters_.size()));
  else
    numbers_.push_back(0);
}

void TColumn::AppendString(std::string_view text) {
  if (type_ != TFieldType::ftString) return AppendNull();
  // Offsets are 32-bit: past 4 GiB they would wrap and point into other cells.
  if (text.size() > UINT32_MAX - characters_.size())
    throw std::length_error("string column over 4 GiB");
  nulls_.push_back(false);
  characters_.append(text);
  ends_.push_back(static_cast<uint32_t>(characters_.size()));
}

void TColumn::AppendNumber(double value) {
  if (type_ == TFieldType::ftString) return AppendNull();
  nulls_.push_back(false);
  numbers_.push_back(value);
}

void TColumn::Reserve(size_t rows, size_t characters) {
  nulls_.reserve(rows);
  if (type_ == TFieldType::ftString) {
    ends_.reserve(rows);
    characters_.reserve(characters);
  } else {
    numbers_.reserve(rows);
  }
}

void TColumn::Clear() {
  nulls_.clear();
  numbers_.clear();
  characters_.clear();
  ends_.clear();
}

TColumn TColumn::Nulls(TFieldType type, size_t rows) {
  TColumn column(type);
  column.nulls_.assign(rows, true);
  if (type == TFieldType::ftString)
    column.ends_.assign(rows, 0);
  else
    column.numbers_.assign(rows, 0);
  return column;
}

size_t TColumn::MemoryUsage() const {
  return nulls_.capacity() / 8 + numbers_.capacity() * sizeof(double) + characters_.capacity() +
         ends_.capacity() * sizeof(uint32_t) + sizeof(*this);
}

TDataPacket::TDataPacket(std::vector<TPacketField> fields) : fields_(std::move(fields)) {
  columns_.reserve(fields_.size());
  for (const auto& field : fields_) columns_.emplace_back(field.Type);
}

int TDataPacket::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].Name == name) return static_cast<int>(i);
  return -1;
}

bool TDataPacket::IsConsistent() const {
  if (columns_.size() != fields_.size()) return false;
  const size_t rows = RowCount();
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].Size() != rows || columns_[i].Type() != fields_[i].Type) return false;
  return true;
}

}  // namespace fw
