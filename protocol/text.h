// Text as both ends of the wire handle it: UTF-8 checked, client text quoted so that it can
// neither break a line of the log nor pass for the server's own words, and system errors worded
// in Portuguese (the user never reads the C library's English).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fw {

// Length of the well-formed UTF-8 sequence at the start of `text` (overlong forms, surrogates
// and code points past U+10FFFF are not), or 0.
size_t Utf8Length(std::string_view text);

// The Portuguese wording of a system error number ("conexão recusada" for ECONNREFUSED); numbers
// without a wording of their own give "erro do sistema N".
std::string SystemErrorText(int error);

}  // namespace fw

namespace app {

// Client text as the server quotes it: valid UTF-8 (a byte that is not is written \xff),
// control characters escaped (\n, \t, \x1b; also U+0080..U+009F, U+2028 and U+2029), `"` and
// `\` escaped (\" and \\, so that no text can close the quotes around it), and at
// most `maxBytes` of the result, ending in "…" when cut. "Get\nItens" stays readable on one line.
std::string QuoteClientText(std::string_view text, size_t maxBytes = 80);
// A message for the client or the log: the same escaping, cut at `maxBytes`.
std::string SafeMessage(std::string_view text, size_t maxBytes = 512);
// True when `text` needs none of that escaping.
bool IsPlainText(std::string_view text);

}  // namespace app
