#include "framework/data/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "protocol/text.h"

namespace fw {

namespace {

constexpr char kDecimal = ',';
constexpr char kThousands = '.';
// Significant digits kept before rounding to the format's decimals. A double holds every decimal of
// up to 15 digits exactly, so 2.675 rounds as the 2.675 the user typed, not as the binary
// 2.67499999... it is stored as; noise from arithmetic (0.1 + 0.2) disappears the same way.
constexpr int kPrecision = 15;

// A non-negative decimal number: digits[0] has the weight 10^exponent.
struct TDecimal {
  std::string digits;
  int exponent = 0;
};

TDecimal ToDecimal(double magnitude) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", kPrecision - 1, magnitude);
  TDecimal result;
  const char* p = buffer;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') result.digits += *p;
  if (*p == 'e') result.exponent = std::atoi(p + 1);
  return result;
}

// Rounds half away from zero so that no digit weighs less than 10^-decimals.
void RoundTo(TDecimal& number, int decimals) {
  const int keep = number.exponent + 1 + decimals;  // digits that stay
  if (keep >= static_cast<int>(number.digits.size())) return;
  const bool up = keep >= 0 && number.digits[keep] >= '5';
  if (keep <= 0 && !up) {
    number.digits.assign(1, '0');
    number.exponent = 0;
    return;
  }
  number.digits.resize(keep);
  if (!up) return;
  int i = keep - 1;
  for (; i >= 0; --i) {
    if (number.digits[i] == '9') {
      number.digits[i] = '0';
    } else {
      ++number.digits[i];
      break;
    }
  }
  if (i < 0) {
    number.digits.insert(number.digits.begin(), '1');
    ++number.exponent;
  }
}

// Integer digits without leading zeros ("" for zero).
std::string IntegerDigits(const TDecimal& number) {
  std::string result;
  for (int weight = number.exponent, i = 0; weight >= 0; --weight, ++i)
    result += i < static_cast<int>(number.digits.size()) ? number.digits[i] : '0';
  const size_t first = result.find_first_not_of('0');
  return first == std::string::npos ? std::string() : result.substr(first);
}

// Exactly `count` fraction digits.
std::string FractionDigits(const TDecimal& number, int count) {
  std::string result;
  for (int j = 0; j < count; ++j) {
    const int i = number.exponent + j + 1;
    result += i >= 0 && i < static_cast<int>(number.digits.size()) ? number.digits[i] : '0';
  }
  return result;
}

bool IsAllZero(std::string_view digits) {
  return digits.find_first_not_of('0') == digits.npos;
}

std::string NonFinite(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// Shortest plain text: "1234,5", "0", "-2". No grouping, no exponent.
std::string PlainText(double value) {
  TDecimal number = ToDecimal(std::fabs(value));
  const size_t last = number.digits.find_last_not_of('0');
  if (last == std::string::npos) return "0";
  number.digits.resize(last + 1);
  const int fraction = std::max(0, static_cast<int>(number.digits.size()) - number.exponent - 1);
  std::string integer = IntegerDigits(number);
  std::string result = value < 0 ? "-" : "";
  result += integer.empty() ? "0" : integer;
  if (fraction > 0) {
    result += kDecimal;
    result += FractionDigits(number, fraction);
  }
  return result;
}

// One section of a numeric format, split into the parts the writer walks.
struct TNumberFormat {
  std::string_view section;
  int integerPlaceholders = 0;
  int minimumIntegerDigits = 0;  // placeholders from the first '0' to the decimal point
  int maximumDecimals = 0;
  int minimumDecimals = 0;  // placeholders up to the last '0' after the decimal point
  bool grouping = false;
  size_t decimalPoint = std::string_view::npos;
};

TNumberFormat AnalyseSection(std::string_view section) {
  TNumberFormat format;
  format.section = section;
  bool firstZeroSeen = false;
  char quote = 0;
  for (size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '.' && format.decimalPoint == std::string_view::npos) {
      format.decimalPoint = i;
    } else if (c == ',' && format.decimalPoint == std::string_view::npos) {
      format.grouping = true;
    } else if (c == '0' || c == '#') {
      if (format.decimalPoint == std::string_view::npos) {
        ++format.integerPlaceholders;
        if (c == '0') firstZeroSeen = true;
        if (firstZeroSeen) ++format.minimumIntegerDigits;
      } else {
        ++format.maximumDecimals;
        if (c == '0') format.minimumDecimals = format.maximumDecimals;
      }
    }
  }
  return format;
}

std::string FormatSection(const TNumberFormat& format, double value) {
  TDecimal number = ToDecimal(std::fabs(value));
  RoundTo(number, format.maximumDecimals);
  std::string integer = IntegerDigits(number);
  std::string fraction = FractionDigits(number, format.maximumDecimals);
  // A value that rounds to zero shows no sign: "0,000", never "-0,000".
  const bool negative = value < 0 && !(integer.empty() && IsAllZero(fraction));
  while (static_cast<int>(fraction.size()) > format.minimumDecimals && fraction.back() == '0')
    fraction.pop_back();
  if (static_cast<int>(integer.size()) < format.minimumIntegerDigits)
    integer.insert(0, format.minimumIntegerDigits - integer.size(), '0');

  std::string result = negative ? "-" : "";
  const int length = static_cast<int>(integer.size());
  auto writeIntegerDigit = [&](int index) {
    result += integer[index];
    const int remaining = length - 1 - index;
    if (format.grouping && remaining > 0 && remaining % 3 == 0) result += kThousands;
  };
  // The first integer placeholder takes every digit the format has no room for.
  auto writeIntegerPlaceholder = [&](int placeholder) {
    const int first = length - format.integerPlaceholders + placeholder;
    if (placeholder == 0)
      for (int i = 0; i < first; ++i) writeIntegerDigit(i);
    if (first >= 0) writeIntegerDigit(first);
  };
  auto writeAllIntegerDigits = [&]() {
    for (int i = 0; i < length; ++i) writeIntegerDigit(i);
  };

  int integerPlaceholder = 0;
  int fractionPlaceholder = 0;
  char quote = 0;
  const std::string_view section = format.section;
  for (size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (quote) {
      if (c == quote)
        quote = 0;
      else
        result += c;
      continue;
    }
    const bool inInteger = i < format.decimalPoint;
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (i == format.decimalPoint) {
      if (format.integerPlaceholders == 0) writeAllIntegerDigits();
      if (!fraction.empty()) result += kDecimal;
    } else if (c == ',' && inInteger) {
      // Only switches grouping on.
    } else if ((c == '0' || c == '#') && inInteger) {
      writeIntegerPlaceholder(integerPlaceholder++);
    } else if (c == '0' || c == '#') {
      if (fractionPlaceholder < static_cast<int>(fraction.size()))
        result += fraction[fractionPlaceholder];
      ++fractionPlaceholder;
    } else {
      result += c;
    }
  }
  if (format.integerPlaceholders == 0 && format.decimalPoint == std::string_view::npos)
    writeAllIntegerDigits();
  return result;
}

// ---- Edit masks ----

enum class TCase { None, Upper, Lower };

struct TMaskPosition {
  bool literal = false;
  std::string text;  // the literal (one character, possibly multi-byte)
  TCase letterCase = TCase::None;
};

struct TParsedMask {
  TEditMask settings;
  std::vector<TMaskPosition> positions;
  bool rightAligned = false;  // '!'
};

// Splits text into characters, so that a multi-byte character is never cut in half.
std::vector<std::string_view> Characters(std::string_view text) {
  std::vector<std::string_view> result;
  for (size_t i = 0; i < text.size();) {
    const size_t length =
        std::min(Utf8LeadLength(static_cast<unsigned char>(text[i])), text.size() - i);
    result.push_back(text.substr(i, length));
    i += length;
  }
  return result;
}

bool IsPlaceholder(char c) {
  switch (c) {
    case 'L':
    case 'l':
    case 'A':
    case 'a':
    case 'C':
    case 'c':
    case '0':
    case '9':
    case '#':
      return true;
    default:
      return false;
  }
}

TParsedMask Parse(std::string_view mask) {
  TParsedMask parsed;
  parsed.settings = ParseEditMask(mask);
  const std::string& body = parsed.settings.Mask;
  TCase letterCase = TCase::None;
  for (size_t i = 0; i < body.size();) {
    const char c = body[i];
    if (c == '!') {
      parsed.rightAligned = true;
      ++i;
    } else if (c == '<' && i + 1 < body.size() && body[i + 1] == '>') {
      letterCase = TCase::None;
      i += 2;
    } else if (c == '>') {
      letterCase = TCase::Upper;
      ++i;
    } else if (c == '<') {
      letterCase = TCase::Lower;
      ++i;
    } else if (c == '\\' && i + 1 < body.size()) {
      const size_t length = Utf8LeadLength(static_cast<unsigned char>(body[i + 1]));
      parsed.positions.push_back({true, body.substr(i + 1, length), TCase::None});
      i += 1 + length;
    } else if (IsPlaceholder(c)) {
      parsed.positions.push_back({false, {}, letterCase});
      ++i;
    } else {
      const size_t length =
          std::min(Utf8LeadLength(static_cast<unsigned char>(c)), body.size() - i);
      parsed.positions.push_back({true, body.substr(i, length), TCase::None});
      i += length;
    }
  }
  return parsed;
}

std::string ApplyCase(std::string_view character, TCase letterCase) {
  std::string result(character);
  if (result.size() == 1) {
    const char c = result[0];
    if (letterCase == TCase::Upper && c >= 'a' && c <= 'z') result[0] = static_cast<char>(c - 32);
    if (letterCase == TCase::Lower && c >= 'A' && c <= 'Z') result[0] = static_cast<char>(c + 32);
  }
  return result;
}

// Index of the first unescaped ';' at or after `from`, or npos.
size_t FindSeparator(std::string_view mask, size_t from) {
  for (size_t i = from; i < mask.size(); ++i) {
    if (mask[i] == '\\') {
      ++i;
    } else if (mask[i] == ';') {
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::string FormatFloat(std::string_view format, double value) {
  if (!std::isfinite(value)) return NonFinite(value);
  if (format.empty()) return PlainText(value);
  // One section: further sections (";negative;zero") are not used by the screens and are ignored.
  size_t end = 0;
  for (char quote = 0; end < format.size(); ++end) {
    const char c = format[end];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      break;
    }
  }
  return FormatSection(AnalyseSection(format.substr(0, end)), value);
}

TEditMask ParseEditMask(std::string_view mask) {
  TEditMask result;
  const size_t first = FindSeparator(mask, 0);
  result.Mask = std::string(mask.substr(0, first));
  if (first == std::string_view::npos) return result;
  const size_t second = FindSeparator(mask, first + 1);
  const std::string_view save =
      mask.substr(first + 1, second == mask.npos ? mask.npos : second - first - 1);
  result.SaveLiterals = save.empty() || save[0] != '0';
  // The blank is whatever single character follows, ';' included.
  if (second != std::string_view::npos && second + 1 < mask.size()) result.Blank = mask[second + 1];
  return result;
}

std::string FormatMaskText(std::string_view mask, std::string_view value) {
  const TParsedMask parsed = Parse(mask);
  if (parsed.positions.empty()) return std::string(value);
  const std::vector<std::string_view> characters = Characters(value);
  std::string result;
  if (parsed.settings.SaveLiterals) {
    // The value is an image of the whole mask, literals included.
    for (size_t i = 0; i < parsed.positions.size(); ++i) {
      const TMaskPosition& position = parsed.positions[i];
      if (i < characters.size())
        result += position.literal ? std::string(characters[i])
                                   : ApplyCase(characters[i], position.letterCase);
      else
        result += position.literal ? position.text : " ";
    }
    return result;
  }
  size_t slots = 0;
  for (const auto& position : parsed.positions) slots += position.literal ? 0 : 1;
  const size_t used = std::min(slots, characters.size());
  // Right-aligned ('!'): the missing characters are the leading ones.
  const size_t skip = parsed.rightAligned ? slots - used : 0;
  size_t slot = 0;
  for (const auto& position : parsed.positions) {
    if (position.literal) {
      result += position.text;
      continue;
    }
    if (slot >= skip && slot - skip < used)
      result += ApplyCase(characters[slot - skip], position.letterCase);
    else
      result += ' ';
    ++slot;
  }
  return result;
}

int MaskDisplayLength(std::string_view mask) {
  return static_cast<int>(Parse(mask).positions.size());
}

std::string MaskStoredValue(std::string_view mask, std::string_view text) {
  const TParsedMask parsed = Parse(mask);
  if (parsed.positions.empty()) return std::string(text);
  const std::vector<std::string_view> characters = Characters(text);
  const std::string blank(1, parsed.settings.Blank);
  std::vector<std::string> stored;
  bool anyFilled = false;
  for (size_t i = 0; i < parsed.positions.size(); ++i) {
    const TMaskPosition& position = parsed.positions[i];
    if (position.literal) {
      if (parsed.settings.SaveLiterals) stored.push_back(position.text);
      continue;
    }
    std::string_view character = i < characters.size() ? characters[i] : std::string_view(" ");
    if (character == blank) character = " ";
    if (character != " ") anyFilled = true;
    stored.push_back(ApplyCase(character, position.letterCase));
  }
  // A mask left blank stores nothing, not its literals.
  if (!anyFilled) return {};
  size_t begin = 0;
  size_t end = stored.size();
  if (parsed.rightAligned) {
    while (begin < end && stored[begin] == " ") ++begin;
  } else {
    while (end > begin && stored[end - 1] == " ") --end;
  }
  std::string result;
  for (size_t i = begin; i < end; ++i) result += stored[i];
  return result;
}

}  // namespace fw
