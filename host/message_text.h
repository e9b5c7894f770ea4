#pragma once
// How a message's bytes are changed on their way into a mail folder: line ends made LF (as local
// mail programs write them) and, for mbox, the state headers that mutt and Dovecot read. Both work
// on pieces of any size, so a message is never held whole in memory.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv::host {

// Turns each CR LF into LF (a CR elsewhere stays); with `to_lf` false, passes bytes unchanged.
class LineEndConverter {
 public:
  explicit LineEndConverter(bool to_lf) : to_lf_(to_lf) {}
  // Appends the converted form of `piece` to `out`. A CR at the end of a piece is held back until
  // the next piece shows whether LF follows.
  void Feed(std::string_view piece, std::string& out);
  // Emits a held-back CR; the converter can then take the next message.
  void Finish(std::string& out);

 private:
  bool to_lf_;
  bool pending_cr_ = false;
};

// Copies `bytes` to `to` (room for bytes.size()) with each CR LF made LF (a CR elsewhere, a last CR
// included, stays), as LineEndConverter does for a whole message fed at once. Returns the length.
std::size_t CrLfToLf(std::string_view bytes, char* to);
// The same with the 256-bit vector path (`wide_vectors`, taken only where the processor has it) or
// the 128-bit one; the call above takes the widest the processor has. Both give the same bytes.
std::size_t CrLfToLf(std::string_view bytes, char* to, bool wide_vectors);
// True when the processor has the 256-bit vector instructions (AVX2) the faster paths use.
bool HasWideVectors();
// The same into `out`, which grows as needed (reused from message to message, it stops growing);
// returns the converted bytes, the start of `out`.
std::string_view CrLfToLf(std::string_view bytes, std::vector<char>& out);

// The mbox state headers for a message state word: "Status: RO" for read received and sent mail,
// "Status: O" for unread mail that is no longer new, and for unsent mail (drafts) "Status: RO"
// with "X-Status: T". Each line ends with `line_end`.
std::string MboxStateHeaders(std::int32_t state, std::string_view line_end);

// Rewrites the header block of one message fed in pieces: drops the Status and X-Status headers
// it brings (with their continuation lines) and puts MboxStateHeaders(`state`) where the header
// block ends: before its empty line, with that line's line end, or after the last line of a
// message that is all header block. The body passes unchanged.
class StateHeaderWriter {
 public:
  explicit StateHeaderWriter(std::int32_t state) : state_(state) {}
  void Feed(std::string_view piece, std::string& out);
  void Finish(std::string& out);

 private:
  void EndLine(std::string& out);

  std::int32_t state_;
  std::string line_;  // the header line being gathered
  bool in_body_ = false;
  bool dropping_ = false;  // inside a dropped header, continuation lines included
};

}  // namespace kv::host
