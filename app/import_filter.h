#pragma once
// The dispatch interface every import filter exposes to the host, in dispatch-map order, with the
// property codes of GetSubItem and the two status words. Strings cross this interface as UTF-8
// (the automation strings of this port); inside, filters work in the store's code page.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/user_interface.h"

namespace kv {

// An automation string: null (std::nullopt) is distinct from empty.
using AutomationString = std::optional<std::string>;

// Dispatch identifiers: the methods' positions in the dispatch map.
enum class DispatchId : int {
  kGetName = 1,
  kGetType = 2,
  kGoFirst = 3,
  kGoNext = 4,
  kGetItemStatus = 5,
  kGetSubItem = 6,
  kIsSystemFound = 7,
  kGetItemExStatus = 8,
  kIsEnableSetPath = 9,
  kSetPath = 10,
  kSetParent = 11,
};

// Property codes of GetSubItem.
enum SubItemCode : std::int16_t {
  kSubItemFrom = 1,
  kSubItemTo = 2,
  kSubItemSubject = 3,
  kSubItemBodyFile = 4,
  kSubItemFolderName = 5,
  kSubItemReserved = 6,
  kSubItemSender = 7,
  kSubItemReturnPath = 8,
  kSubItemMessageFile = 11,
  kSubItemCc = 20,
  kSubItemBcc = 21,
  kSubItemDate = 22,
  kSubItemHtmlFile = 30,
  kSubItemUnknownTypeFile = 31,
  kSubItemMessageOptions = 40,
  kSubItemNextAttachment = 600,
};

// Bits of GetItemStatus.
enum ItemStatus : std::int32_t {
  kItemIsFolder = 0x1,      // the item carries no message; it stands for a folder
  kItemHasStatusMark = 0x2  // the message carries "x-kvnorvale-statusmsg: 1"
};

// Bits of GetItemExStatus.
enum ItemState : std::int32_t {
  kStateNotSent = 0x1,   // only without kStateReceived: a draft or queued message
  kStateReceived = 0x2,  // an incoming message
  kStateUnread = 0x4,    // only with kStateReceived
  kStateUnknown = 0x8,   // the state could not be read from the store's summary
};

// Marker texts of the Outlook Express 4 filter, exchanged with the host.
inline constexpr const char* kEmptyFolderMarker = "!!!Empty";
inline constexpr const char* kNextFolderCommand = "!!!NextFolder";

// One filter object. The host calls SetParent, IsSystemFound, GoFirst, then for each item the
// property getters and GoNext, until GoFirst or GoNext returns false. No method throws or returns
// an error code: failures are false, empty or null strings, and message boxes over the host window.
class ImportFilter {
 public:
  ImportFilter();
  virtual ~ImportFilter();
  ImportFilter(const ImportFilter&) = delete;
  ImportFilter& operator=(const ImportFilter&) = delete;

  virtual std::string GetName() = 0;
  virtual std::int16_t GetType() { return 2; }
  virtual bool GoFirst() { return false; }
  virtual bool GoNext() { return false; }
  virtual std::int32_t GetItemStatus() { return 0; }
  virtual AutomationString GetSubItem(std::int16_t /*code*/) { return std::string(); }
  virtual bool IsSystemFound() { return false; }
  virtual std::int32_t GetItemExStatus() { return 0; }
  virtual bool IsEnableSetPath() { return false; }
  virtual void SetPath(std::string& /*path*/) {}
  virtual void SetParent(std::int32_t window) {
    parent_ = static_cast<platform::WindowHandle>(window);
  }

 protected:
  platform::WindowHandle parent() const { return parent_; }

 private:
  platform::WindowHandle parent_ = 0;
};

// The server's life: every filter object holds one lock from construction to destruction, and the
// server process may end when the count returns to zero. Safe to call from any thread.
class ServerLock {
 public:
  static void Lock();
  static void Unlock();
  static int Count();
};

}  // namespace kv
