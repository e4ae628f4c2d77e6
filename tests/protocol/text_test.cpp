// The lenient UTF-8 readings of the text unit, as the grids, the exports and the collation use
// them: cutting never splits a character, and malformed bytes are stepped over one at a time.
#include "protocol/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// "ação €😀": one-, two-, three- and four-byte characters.
const std::string kMixed = "a\xC3\xA7\xC3\xA3o \xE2\x82\xAC\xF0\x9F\x98\x80";

TEST(Utf8Floor, NeverCutsInsideACharacter) {
  // The offsets where a character starts, and the end.
  const std::vector<size_t> starts = {0, 1, 3, 5, 6, 7, 10, 14};
  size_t expected = 0;
  for (size_t at = 0; at <= kMixed.size(); ++at) {
    for (const size_t start : starts)
      if (start <= at) expected = start;
    EXPECT_EQ(expected, fw::Utf8Floor(kMixed, at)) << at;
  }
  EXPECT_EQ(20u, fw::Utf8Floor(kMixed, 20));  // past the end: as it is
  EXPECT_EQ(0u, fw::Utf8Floor("\x80\x80x", 1));
}

TEST(Utf8Count, CountsCharacters_AStrayLeadAsOne_AStrayContinuationAsNone) {
  EXPECT_EQ(7u, fw::Utf8Count(kMixed));
  EXPECT_EQ(0u, fw::Utf8Count(""));
  EXPECT_EQ(2u, fw::Utf8Count("\xFF"
                              "a"));
  EXPECT_EQ(1u, fw::Utf8Count("a\x80"));
}

TEST(Utf8PrefixLength, TakesWholeCharacters) {
  EXPECT_EQ(0u, fw::Utf8PrefixLength(kMixed, 0));
  EXPECT_EQ(5u, fw::Utf8PrefixLength(kMixed, 3));   // "açã"
  EXPECT_EQ(10u, fw::Utf8PrefixLength(kMixed, 6));  // up to the euro sign, whole
  EXPECT_EQ(kMixed.size(), fw::Utf8PrefixLength(kMixed, 7));
  EXPECT_EQ(kMixed.size(), fw::Utf8PrefixLength(kMixed, 100));
  // A stray continuation byte goes with the character before it.
  EXPECT_EQ(2u, fw::Utf8PrefixLength("a\x80"
                                     "b",
                                     1));
}

TEST(Utf8LeadLength, TellsTheLengthFromTheLeadByteAlone) {
  EXPECT_EQ(1u, fw::Utf8LeadLength('a'));
  EXPECT_EQ(1u, fw::Utf8LeadLength(0x80));
  EXPECT_EQ(2u, fw::Utf8LeadLength(0xC3));
  EXPECT_EQ(3u, fw::Utf8LeadLength(0xE2));
  EXPECT_EQ(4u, fw::Utf8LeadLength(0xF0));
  EXPECT_EQ(4u, fw::Utf8LeadLength(0xFF));
}

TEST(Utf8Next, DecodesEachCharacter_AndStepsOverMalformedBytesOneByOne) {
  std::vector<char32_t> codes;
  for (size_t pos = 0; pos < kMixed.size();) {
    char32_t code = 0;
    ASSERT_TRUE(fw::Utf8Next(kMixed, pos, code)) << pos;
    codes.push_back(code);
  }
  EXPECT_EQ((std::vector<char32_t>{U'a', U'ç', U'ã', U'o', U' ', U'€', U'😀'}), codes);

  // A lead without its continuation, a stray continuation, a lead past 0xF7, a cut sequence:
  // each is one byte consumed and refused, and what follows is read as it stands.
  const std::string broken =
      "\xC3"
      "a\x80\xF8\xE2\x82";
  std::vector<std::pair<bool, size_t>> steps;
  for (size_t pos = 0; pos < broken.size();) {
    char32_t code = 0;
    const bool ok = fw::Utf8Next(broken, pos, code);
    steps.emplace_back(ok, pos);
  }
  EXPECT_EQ((std::vector<std::pair<bool, size_t>>{
                {false, 1}, {true, 2}, {false, 3}, {false, 4}, {false, 5}, {false, 6}}),
            steps);
}

}  // namespace
