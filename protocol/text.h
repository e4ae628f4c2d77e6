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

// Lenient readings of UTF-8, for text to show, measure or cut rather than to check: nothing is
// refused, and a malformed sequence is read as far as its bytes tell.
//
// The bytes of the character that starts with `lead`, as far as the lead byte tells: 4 from 0xF0,
// 3 from 0xE0, 2 from 0xC0, otherwise 1 (ASCII, and a stray continuation byte).
size_t Utf8LeadLength(unsigned char lead);
// How many characters `text` holds: the bytes that do not continue a sequence (a stray
// continuation byte adds none, a stray lead byte one).
size_t Utf8Count(std::string_view text);
// The bytes of the first `characters` characters of `text` (with the continuation bytes of the
// last), or all of it.
size_t Utf8PrefixLength(std::string_view text, size_t characters);
// `at` moved back to the start of the character it falls in, so that text cut there keeps whole
// characters; `at` itself when it is 0 or at or past the end.
size_t Utf8Floor(std::string_view text, size_t at);
// Decodes the character at `pos` into `code` and moves `pos` past it; false, with one byte
// consumed, when the bytes there are not a character (a lone continuation byte, a lead byte
// without its continuations or past 0xF7). Overlong forms and surrogates are decoded as they
// stand.
bool Utf8Next(std::string_view text, size_t& pos, char32_t& code);

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
