// Incremental MessagePack parsing with a visitor: bytes are received straight into the parser's
// buffer and the visitor sees each value once, as soon as it is complete. A message read in many
// pieces is therefore parsed once, not once per piece, and the buffer keeps only the bytes not
// yet parsed (a long string waits there until it is whole).
//
// The visitor follows msgpack-cxx's visitor concept (msgpack::null_visitor) and derives from
// TVisitorBase; a callback that returns false stops the parse.
#pragma once

#include <msgpack.hpp>

#include <cstddef>

namespace fw::wire {

// What every visitor needs beside its value callbacks: the flags TMsgpackStream reads.
struct TVisitorBase {
  bool referenced() const { return false; }
  void set_referenced(bool) {}
  void insufficient_bytes(size_t, size_t) {}
  void parse_error(size_t, size_t) { SyntaxError = true; }
  // Called by the parser's reset; a visitor clears its own state before that.
  void init() {}

  bool Stopped = false;      // a callback returned false (the visitor says why)
  bool SyntaxError = false;  // the bytes are not MessagePack
};

template <typename Visitor>
class TMsgpackStream {
 public:
  enum class TStatus { Complete, NeedMore, Invalid };

  // The parser keeps a reference count at the head of its buffer: the extra bytes let the
  // first Room(64 KiB) fit without doubling the buffer to 128 KiB.
  explicit TMsgpackStream(Visitor& visitor, size_t initialBuffer = 64 * 1024 + 64)
      : parser_(hook_, visitor, initialBuffer) {}

  // Space for at least `atLeast` more bytes; write into it, then call Received.
  char* Room(size_t atLeast) {
    parser_.reserve_buffer(atLeast);
    return parser_.buffer();
  }
  size_t RoomSize() const { return parser_.buffer_capacity(); }
  void Received(size_t count) { parser_.buffer_consumed(count); }

  // Parses what has arrived. Complete: one whole object was visited; call Reset before parsing
  // the next one. Invalid: the bytes are not MessagePack, or the visitor stopped the parse.
  TStatus Parse() {
    if (parser_.next()) return TStatus::Complete;
    Visitor& visitor = parser_.visitor();
    if (visitor.SyntaxError || visitor.Stopped) return TStatus::Invalid;
    return TStatus::NeedMore;
  }
  void Reset() { parser_.reset(); }

  // Bytes of the current object seen so far (parsed and waiting).
  size_t MessageSize() const { return parser_.parsed_size() + parser_.nonparsed_size(); }
  // Bytes received beyond the parse position (after Complete: the start of the next object).
  size_t Pending() const { return parser_.nonparsed_size(); }

 private:
  struct THook {
    void operator()(char*) const {}
  };

  class TParser : public msgpack::v2::parser<TParser, THook> {
   public:
    TParser(THook& hook, Visitor& visitor, size_t initialBuffer)
        : msgpack::v2::parser<TParser, THook>(hook, initialBuffer), visitor_(visitor) {}
    Visitor& visitor() { return visitor_; }
    // The visitor copies what it keeps, so the buffer is never referenced after a callback.
    bool referenced() const { return false; }
    void set_referenced(bool) {}

   private:
    Visitor& visitor_;
  };

  THook hook_;
  TParser parser_;
};

}  // namespace fw::wire
