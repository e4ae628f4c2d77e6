// Reading a reply, part one: the data packet a reply carries, built as its values arrive. The
// reply reader (reply_visitor.h) routes "fields" and "rows" here; what the values mean to the
// envelope around them is the reader's. Internal to protocol/: only wire_read.cpp includes it,
// so that the parser's callbacks stay inline in one translation unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/packet.h"

namespace fw::wire::detail {

// Fills a TDataPacket's columns from the fields and the rows of a message. Each step returns
// false when the message is wrong; Error() then says why, in the reader's words.
class TPacketBuilder {
 public:
  const std::string& Error() const { return error_; }

  // --- "fields" ---
  bool StartFields(size_t reserve) {
    if (fieldsSeen_) return Fail("\"fields\" repetido");
    fieldsSeen_ = true;
    fields_.reserve(reserve);
    return true;
  }
  void StartField() {
    field_ = TPacketField();
    nameSeen_ = typeSeen_ = false;
  }
  void FieldName(std::string_view name) {
    field_.Name = name;
    nameSeen_ = true;
  }
  bool FieldType(std::string_view name) {
    if (!ParseFieldType(name, field_.Type))
      return Fail("tipo de campo desconhecido \"" + std::string(name) + "\"");
    typeSeen_ = true;
    return true;
  }
  void FieldSize(int size) { field_.Size = size; }
  bool EndField() {
    if (!nameSeen_) return Fail("campo sem nome");
    if (!typeSeen_) return Fail("campo \"" + field_.Name + "\" sem tipo");
    for (const auto& other : fields_)
      if (other.Name == field_.Name) return Fail("campo \"" + field_.Name + "\" repetido");
    fields_.push_back(std::move(field_));
    return true;
  }
  void EndFields() {
    fieldsDone_ = true;
    columnCount_ = static_cast<uint32_t>(fields_.size());
    packet_ = TDataPacket(fields_);
  }

  // --- "rows" ---
  // The values a row reserve takes: the columns once the fields are known, else one.
  size_t Width() const { return fieldsDone_ ? packet_.Columns().size() : 1; }

  // `reserve`: rows that may be reserved ahead (the reader bounds what a count may claim).
  bool StartRows(size_t reserve) {
    if (rowsSeen_) return Fail("\"rows\" repetido");
    rowsSeen_ = true;
    if (fieldsDone_) {
      for (auto& column : packet_.Columns()) column.Reserve(reserve);
    } else {
      looseRows_ = true;
    }
    return true;
  }

  // The `number`th row (from 1) starts with `count` values.
  bool StartRow(uint32_t number, uint32_t count) {
    row_ = number;
    if (!looseRows_ && count != columnCount_)
      return Fail("linha " + std::to_string(number) + " com " + std::to_string(count) +
                  " valores para " + std::to_string(columnCount_) + " campos");
    return true;
  }
  // A row ended after `count` values.
  bool EndRow(uint32_t count) {
    if (!looseRows_) return true;
    if (looseRowCount_ == 0)
      looseWidth_ = count;
    else if (count != looseWidth_)
      return Fail("linhas com números de valores diferentes");
    ++looseRowCount_;
    return true;
  }

  // A cell of column `column` in the row being read.
  bool CellNull(uint32_t column) {
    if (looseRows_) {
      loose_.push_back({TLooseCell::TKind::Null, 0, {}});
      return true;
    }
    packet_.Columns()[column].AppendNull();
    return true;
  }
  bool CellString(uint32_t column, std::string_view text) {
    if (looseRows_) {
      loose_.push_back({TLooseCell::TKind::String, 0, std::string(text)});
      return true;
    }
    TColumn& cells = packet_.Columns()[column];
    if (cells.Type() != TFieldType::ftString) return WrongCell(column, "texto");
    cells.AppendString(text);
    return true;
  }
  bool CellNumber(uint32_t column, double value) {
    if (looseRows_) {
      loose_.push_back({TLooseCell::TKind::Number, value, {}});
      return true;
    }
    TColumn& cells = packet_.Columns()[column];
    if (cells.Type() == TFieldType::ftString) return WrongCell(column, "número");
    cells.AppendNumber(value);
    return true;
  }

  // The packet's map ended.
  bool EndPacket() {
    if (!fieldsSeen_) return Fail("pacote sem \"fields\"");
    if (!rowsSeen_) return Fail("pacote sem \"rows\"");
    if (looseRows_) return PlaceLooseRows();
    return true;
  }

  TDataPacket Take() { return std::move(packet_); }

 private:
  // A cell kept aside when "rows" comes before "fields" (our own encoder never does that).
  struct TLooseCell {
    enum class TKind : uint8_t { Null, String, Number } Kind;
    double Number = 0;
    std::string Text;
  };

  bool WrongCell(uint32_t column, const char* what) {
    return Fail(std::string(what) + " no campo \"" + fields_[column].Name + "\" da linha " +
                std::to_string(row_));
  }

  // Rows that came before the fields: check their shape now and move them into the columns.
  bool PlaceLooseRows() {
    const size_t width = fields_.size();
    if (looseRowCount_ != 0 && looseWidth_ != width)
      return Fail("linhas com " + std::to_string(looseWidth_) + " valores para " +
                  std::to_string(width) + " campos");
    auto& columns = packet_.Columns();
    for (auto& column : columns) column.Reserve(looseRowCount_);
    for (size_t i = 0; i < loose_.size(); ++i) {
      TColumn& column = columns[i % width];
      const TLooseCell& cell = loose_[i];
      switch (cell.Kind) {
        case TLooseCell::TKind::Null:
          column.AppendNull();
          break;
        case TLooseCell::TKind::String:
          if (column.Type() != TFieldType::ftString)
            return Fail("texto no campo \"" + fields_[i % width].Name + "\"");
          column.AppendString(cell.Text);
          break;
        case TLooseCell::TKind::Number:
          if (column.Type() == TFieldType::ftString)
            return Fail("número no campo \"" + fields_[i % width].Name + "\"");
          column.AppendNumber(cell.Number);
          break;
      }
    }
    loose_.clear();
    return true;
  }

  bool Fail(std::string why) {
    error_ = std::move(why);
    return false;
  }

  std::string error_;
  bool fieldsSeen_ = false, rowsSeen_ = false, fieldsDone_ = false;
  bool nameSeen_ = false, typeSeen_ = false;
  TPacketField field_;
  std::vector<TPacketField> fields_;
  uint32_t columnCount_ = 0;
  uint32_t row_ = 0;  // the number of the row being read, for its errors
  TDataPacket packet_;
  bool looseRows_ = false;
  size_t looseRowCount_ = 0;
  size_t looseWidth_ = 0;
  std::vector<TLooseCell> loose_;
};

}  // namespace fw::wire::detail
