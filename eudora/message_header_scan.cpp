#include "eudora/message_header_scan.h"

#include <string_view>

#include "eudora/status_header.h"
#include "platform/text.h"

namespace kv {
namespace {

constexpr std::uint8_t kCtrlZ = 0x1A;
constexpr std::string_view kReturnPathKey = "return-path:";
constexpr std::string_view kStatusName = kStatusHeaderName;
// The status header's value starts after the name and one separator character.
constexpr std::size_t kStatusValueOffset = kStatusName.size() + 1;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

void MessageHeaderScan::Feed(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) {
    if (done_) return;
    if (pendingCr_) {
      pendingCr_ = false;
      if (byte == '\n') {
        EndLine();
        continue;
      }
      Append('\r');
    }
    if (byte == kCtrlZ) {
      Finish();
    } else if (byte == '\r') {
      pendingCr_ = true;
    } else if (byte == '\n') {
      EndLine();
    } else {
      Append(byte);
    }
  }
}

void MessageHeaderScan::Finish() {
  if (done_) return;
  if (pendingCr_) {
    pendingCr_ = false;
    Append('\r');
  }
  if (length_ > 0) EndLine();
  done_ = true;
}

void MessageHeaderScan::Append(std::uint8_t byte) {
  const char c = static_cast<char>(byte);
  if (length_ < kKeptBytes) {
    head_[length_] = c;
  } else if (!valueStart_ && !platform::IsAsciiSpace(c)) {
    valueStart_ = c;
  }
  ++length_;
}

void MessageHeaderScan::EndLine() {
  const std::string_view head(head_.data(), std::min(length_, kKeptBytes));
  const std::size_t length = length_;
  const std::optional<char> value = valueStart_;
  length_ = 0;
  valueStart_.reset();

  if (length == 0) {
    if (!returnPath_) returnPath_ = false;
    done_ = true;
    return;
  }
  if (IsBlank(head[0])) return;
  if (!returnPath_ && length > kReturnPathKey.size() &&
      platform::EqualsIgnoringCase(head.substr(0, kReturnPathKey.size()), kReturnPathKey)) {
    returnPath_ = true;
  }
  if (length > kStatusName.size() &&
      platform::EqualsIgnoringCase(head.substr(0, kStatusName.size()), kStatusName)) {
    static_assert(kStatusValueOffset == kKeptBytes);
    statusMark_ = value == '1';
  }
}

}  // namespace kv
