#include "protocol/packet.h"

#include <gtest/gtest.h>

namespace {

using fw::TColumn;
using fw::TDataPacket;
using fw::TFieldType;

TEST(TColumn, StringCells_KeepTheirBoundsAcrossNullsAndEmptyTexts) {
  TColumn column(TFieldType::ftString);
  column.AppendString("abc");
  column.AppendNull();
  column.AppendString("");
  column.AppendString("de");
  column.AppendNumber(1.5);  // wrong kind: stored as null, the cells after it stay aligned
  column.AppendString("f");
  ASSERT_EQ(column.Size(), 6u);
  EXPECT_EQ(column.GetString(0), "abc");
  EXPECT_TRUE(column.IsNull(1));
  EXPECT_EQ(column.GetString(1), "");
  EXPECT_FALSE(column.IsNull(2));
  EXPECT_EQ(column.GetString(2), "");
  EXPECT_EQ(column.GetString(3), "de");
  EXPECT_TRUE(column.IsNull(4));
  EXPECT_EQ(column.GetString(5), "f");
}

TEST(TColumn, NumberCells_ReadZeroWhenNull) {
  TColumn column(TFieldType::ftFloat);
  column.AppendNumber(2.5);
  column.AppendString("x");
  column.AppendNull();
  EXPECT_EQ(column.GetNumber(0), 2.5);
  EXPECT_TRUE(column.IsNull(1));
  EXPECT_EQ(column.GetNumber(1), 0);
  EXPECT_EQ(column.GetString(0), "");
}

TEST(TDataPacket, IsConsistent_OnlyWithEqualColumnLengthsAndMatchingTypes) {
  TDataPacket packet({{"A", TFieldType::ftString, 1}, {"B", TFieldType::ftFloat, 0}});
  packet.Columns()[0].AppendString("x");
  EXPECT_FALSE(packet.IsConsistent());
  packet.Columns()[1].AppendNumber(1);
  EXPECT_TRUE(packet.IsConsistent());
  packet.Columns()[1] = TColumn::Nulls(TFieldType::ftDateTime, 1);
  EXPECT_FALSE(packet.IsConsistent());
  packet.Columns().pop_back();
  EXPECT_FALSE(packet.IsConsistent());
}

}  // namespace
