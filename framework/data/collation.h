// Texts in the order a Brazilian reader expects them, as a dictionary or a phone book lists them.
//
// Three levels, each consulted only when the ones before it find the texts equal:
// 1. the letters without accents or case, blanks and punctuation before digits, digits before
//    letters: "ação" < "acordo" < "Álvaro" < "banana"; "Ana Paula" < "Ana-Maria" < "Anabela";
// 2. the accents, a plain letter before an accented one: "cao" < "cão", "e" < "é" < "ê";
// 3. the case, lower before upper: "maria" < "Maria".
// Letters of Latin-1 and the Latin ligatures count as their base letters ("æ" as "ae", "ß" as
// "ss", "º" as "o"); other characters sort after the letters, by their code. Bytes that are not
// UTF-8 are taken as they are. Digits are characters, not numbers: "10" < "9" (codes are written
// with leading zeros).
//
// CollationKey turns a text into bytes that compare (as unsigned bytes, std::string's own
// comparison) in that order, so that a sort builds one key per row and then only compares
// bytes.
#pragma once

#include <string>
#include <string_view>

namespace fw {

std::string CollationKey(std::string_view text);
// <0, 0 or >0 as `a` sorts before, with or after `b`.
int CollateTexts(std::string_view a, std::string_view b);

}  // namespace fw
