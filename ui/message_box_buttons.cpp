#include "ui/message_box_buttons.h"

#include "platform/user_interface.h"

namespace kv::ui {
namespace {

// MB_* button styles (the low four bits) and ID* codes Win32 gives them.
constexpr unsigned kMbButtonsMask = 0x0F;
constexpr unsigned kMbAbortRetryIgnore = 0x02;
constexpr unsigned kMbYesNoCancel = 0x03;
constexpr unsigned kMbRetryCancel = 0x05;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;

}  // namespace

std::vector<int> MessageBoxButtons(unsigned style) {
  using platform::kIdCancel;
  using platform::kIdNo;
  using platform::kIdOk;
  using platform::kIdYes;
  switch (style & kMbButtonsMask) {
    case platform::kMbOkCancel:
      return {kIdOk, kIdCancel};
    case kMbAbortRetryIgnore:
      return {kIdAbort, kIdRetry, kIdIgnore};
    case kMbYesNoCancel:
      return {kIdYes, kIdNo, kIdCancel};
    case platform::kMbYesNo:
      return {kIdYes, kIdNo};
    case kMbRetryCancel:
      return {kIdRetry, kIdCancel};
    default:
      return {kIdOk};
  }
}

int ClosedAnswer(unsigned style) {
  std::vector<int> buttons = MessageBoxButtons(style);
  for (int button : buttons) {
    if (button == platform::kIdCancel) return button;
  }
  for (int button : buttons) {
    if (button == platform::kIdNo) return button;
  }
  return buttons.front();
}

}  // namespace kv::ui
