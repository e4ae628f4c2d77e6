#include "framework/data/collation.h"

#include <cstdint>

#include "protocol/text.h"

namespace fw {

namespace {

// Primary weights: a blank, then the punctuation in the order below, then Latin-1 symbols
// (0x23 and the symbol's code), digits as themselves, letters as their lower-case ASCII, and
// everything else by its UTF-8 bytes (all above 0x7F). No weight is 0 or 1: those separate the
// levels in a key.
constexpr char kBlankWeight = 0x02;
constexpr char kSymbolWeight = 0x23;
constexpr std::string_view kPunctuation = "_-,;:!?.'\"()[]{}@*/\\&#%`^+<=>|~$";

// Secondary weights (accents) and tertiary ones (case).
enum TAccent : char {
  kPlain = 1,
  kAcute,
  kGrave,
  kCircumflex,
  kTilde,
  kDiaeresis,
  kRing,
  kCedilla,
  kStroke,
  kOther,
};
constexpr char kLower = 1, kUpper = 2;

// U+00C0..U+00DF and U+00E0..U+00FF share their letters and accents, in upper and lower case.
// '\0' marks the multiplication and division signs, which are symbols.
constexpr char kLatin1Base[] = "aaaaaaaceeeeiiiidnooooo\0ouuuuyts";
constexpr TAccent kLatin1Accent[32] = {
    kGrave,  kAcute, kCircumflex, kTilde,      kDiaeresis,  kRing,  kOther,      kCedilla,
    kGrave,  kAcute, kCircumflex, kDiaeresis,  kGrave,      kAcute, kCircumflex, kDiaeresis,
    kOther,  kTilde, kGrave,      kAcute,      kCircumflex, kTilde, kDiaeresis,  kPlain,
    kStroke, kGrave, kAcute,      kCircumflex, kDiaeresis,  kAcute, kOther,      kOther,
};

struct TKeyParts {
  std::string Primary, Secondary, Tertiary;

  void Add(std::string_view primary, char accent, char letterCase) {
    Primary.append(primary);
    Secondary += accent;
    Tertiary += letterCase;
  }
};

void AddCodePoint(TKeyParts& parts, char32_t code, std::string_view written) {
  if (code < 0x80) {
    const char c = static_cast<char>(code);
    if (c >= 'a' && c <= 'z') return parts.Add({&c, 1}, kPlain, kLower);
    if (c >= 'A' && c <= 'Z') {
      const char lower = static_cast<char>(c + ('a' - 'A'));
      return parts.Add({&lower, 1}, kPlain, kUpper);
    }
    if (c >= '0' && c <= '9') return parts.Add({&c, 1}, kPlain, kLower);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
      return parts.Add({&kBlankWeight, 1}, kPlain, kLower);
    const size_t punctuation = kPunctuation.find(c);
    if (punctuation != std::string_view::npos) {
      const char weight = static_cast<char>(0x03 + punctuation);
      return parts.Add({&weight, 1}, kPlain, kLower);
    }
    return;  // control characters do not count
  }
  if (code == 0xA0) return parts.Add({&kBlankWeight, 1}, kPlain, kLower);
  if (code == 0xAA) return parts.Add("a", kOther, kLower);  // ª
  if (code == 0xBA) return parts.Add("o", kOther, kLower);  // º, as in "Nº"
  if (code == 0xDF) return parts.Add("ss", kOther, kLower);
  if (code == 0xC6 || code == 0xE6) return parts.Add("ae", kOther, code == 0xC6 ? kUpper : kLower);
  if (code == 0x152 || code == 0x153)
    return parts.Add("oe", kOther, code == 0x152 ? kUpper : kLower);
  if (code >= 0xC0 && code <= 0xFF && kLatin1Base[(code - 0xC0) % 32] != '\0') {
    const size_t offset = (code - 0xC0) % 32;
    const char base = code == 0xFF ? 'y' : kLatin1Base[offset];
    const char accent = code == 0xFF ? kDiaeresis : kLatin1Accent[offset];
    return parts.Add({&base, 1}, accent, code < 0xE0 ? kUpper : kLower);
  }
  if (code >= 0xA1 && code <= 0xFF) {
    const char symbol[] = {kSymbolWeight, static_cast<char>(code)};
    return parts.Add({symbol, 2}, kPlain, kLower);
  }
  parts.Add(written, kPlain, kLower);
}

}  // namespace

std::string CollationKey(std::string_view text) {
  TKeyParts parts;
  parts.Primary.reserve(text.size() + 2);
  parts.Secondary.reserve(text.size());
  parts.Tertiary.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    char32_t code = 0;
    if (Utf8Next(text, pos, code)) {
      AddCodePoint(parts, code, text.substr(start, pos - start));
    } else {
      parts.Add(text.substr(start, 1), kPlain, kLower);  // not UTF-8: the byte as it is
    }
  }
  std::string key = std::move(parts.Primary);
  key.reserve(key.size() + parts.Secondary.size() + parts.Tertiary.size() + 2);
  key += '\0';
  key += parts.Secondary;
  key += '\0';
  key += parts.Tertiary;
  return key;
}

int CollateTexts(std::string_view a, std::string_view b) {
  return CollationKey(a).compare(CollationKey(b));
}

}  // namespace fw
