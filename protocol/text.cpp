#include "protocol/text.h"

#include <cerrno>
#include <cstdio>

namespace fw {

// Length of the well-formed UTF-8 sequence at the start of `text` (overlong forms, surrogates
// and code points past U+10FFFF are not), or 0.
size_t Utf8Length(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  return length;
}

namespace {

bool IsContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

size_t Utf8LeadLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

size_t Utf8Count(std::string_view text) {
  size_t count = 0;
  for (const char c : text)
    if (!IsContinuation(c)) ++count;
  return count;
}

size_t Utf8PrefixLength(std::string_view text, size_t characters) {
  size_t count = 0, end = 0;
  for (; end < text.size() && count < characters; ++end)
    if (!IsContinuation(text[end])) ++count;
  while (end < text.size() && IsContinuation(text[end])) ++end;
  return end;
}

size_t Utf8Floor(std::string_view text, size_t at) {
  while (at > 0 && at < text.size() && IsContinuation(text[at])) --at;
  return at;
}

bool Utf8Next(std::string_view text, size_t& pos, char32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  const size_t length = lead < 0x80           ? 1
                        : (lead >> 5) == 0x6  ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
  if (length == 0 || pos + length > text.size()) {
    ++pos;
    return false;
  }
  code = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if (!IsContinuation(text[pos + i])) {
      ++pos;
      return false;
    }
    code = (code << 6) | (byte(pos + i) & 0x3F);
  }
  pos += length;
  return true;
}

std::string SystemErrorText(int error) {
  switch (error) {
    case ECONNREFUSED:
      return "conexão recusada";
    case ETIMEDOUT:
      return "tempo esgotado";
    case EHOSTUNREACH:
      return "servidor inalcançável";
    case EHOSTDOWN:
      return "servidor fora do ar";
    case ENETUNREACH:
      return "rede inalcançável";
    case ENETDOWN:
      return "rede fora do ar";
    case ENETRESET:
    case ECONNRESET:
      return "conexão reiniciada pelo servidor";
    case ECONNABORTED:
      return "conexão interrompida";
    case EPIPE:
    case ESHUTDOWN:
      return "conexão encerrada pelo servidor";
    case ENOTCONN:
      return "sem conexão";
    case EADDRNOTAVAIL:
      return "endereço indisponível";
    case EADDRINUSE:
      return "endereço em uso";
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
      return "tipo de endereço não suportado";
    case EACCES:
    case EPERM:
      return "acesso negado";
    case EMFILE:
    case ENFILE:
      return "arquivos abertos demais";
    case ENOBUFS:
    case ENOMEM:
      return "memória insuficiente";
    case EINTR:
      return "operação interrompida";
    default:
      return "erro do sistema " + std::to_string(error);
  }
}

}  // namespace fw

namespace app {

namespace {

using fw::Utf8Length;

// The escape for the character at the start of `text` (`length` bytes), or empty when it
// stands as it is. With `quotes`, `"` and `\` are escaped too: quoted client text must not be
// able to close its quotes and go on as the server's own words.
std::string EscapeOf(std::string_view text, size_t length, bool quotes = false) {
  char escaped[16];
  if (length == 0) {
    std::snprintf(escaped, sizeof(escaped), "\\x%02x", static_cast<unsigned char>(text[0]));
    return escaped;
  }
  if (length == 1) {
    const auto c = static_cast<unsigned char>(text[0]);
    switch (c) {
      case '\n':
        return "\\n";
      case '\r':
        return "\\r";
      case '\t':
        return "\\t";
      case '"':
        return quotes ? "\\\"" : "";
      case '\\':
        return quotes ? "\\\\" : "";
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
      return escaped;
    }
    return {};
  }
  const auto b0 = static_cast<unsigned char>(text[0]), b1 = static_cast<unsigned char>(text[1]);
  unsigned point = 0;
  if (length == 2 && b0 == 0xC2 && b1 < 0xA0) point = b1;  // C1 controls
  if (length == 3 && b0 == 0xE2 && b1 == 0x80) {
    const auto b2 = static_cast<unsigned char>(text[2]);
    if (b2 == 0xA8 || b2 == 0xA9) point = 0x2000u + (b2 & 0x3Fu);  // line separators
  }
  if (point == 0) return {};
  std::snprintf(escaped, sizeof(escaped), "\\u%04x", point);
  return escaped;
}

std::string Escaped(std::string_view text, size_t maxBytes, bool quotes) {
  std::string out;
  out.reserve(text.size() < maxBytes ? text.size() : maxBytes);
  size_t at = 0;
  while (at < text.size()) {
    const size_t length = Utf8Length(text.substr(at));
    const std::string escape = EscapeOf(text.substr(at), length, quotes);
    const size_t adds = escape.empty() ? length : escape.size();
    if (out.size() + adds > maxBytes) {
      out += "…";
      break;
    }
    if (escape.empty())
      out.append(text.data() + at, length);
    else
      out += escape;
    at += length == 0 ? 1 : length;
  }
  return out;
}

}  // namespace

std::string QuoteClientText(std::string_view text, size_t maxBytes) {
  return Escaped(text, maxBytes, true);
}

std::string SafeMessage(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes && IsPlainText(text)) return std::string(text);
  return Escaped(text, maxBytes, false);
}

bool IsPlainText(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c < 0x7F) {
      ++at;
      continue;
    }
    const size_t length = Utf8Length(text.substr(at));
    if (length == 0 || !EscapeOf(text.substr(at), length).empty()) return false;
    at += length;
  }
  return true;
}

}  // namespace app
