#pragma once
// The four filter classes the server offers: the table the server registers, the host creates
// objects from, and the contract test runs against.

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/import_filter.h"
#include "platform/services.h"

namespace kv {

struct FilterClass {
  std::string_view class_name;    // "SCOEMsgFilter"
  std::string_view clsid;         // "{79524993-3A10-11D3-983D-0020AFF7BF53}", also the interface ID
  std::string_view prog_id;       // "KVFLTRS.OEIMPORTMSG"
  std::string_view short_name;    // the host tool's --filter name: "oe4"
  std::string_view display_name;  // what GetName returns
  std::unique_ptr<ImportFilter> (*create)(const platform::Services& services);
  // The store location the filter's own discovery finds in the registry and configuration files
  // (in the store's code page), asking no one; empty when it finds none. Null while the filter
  // offers no discovery of its own; its location dialog's proposal is then all a host can see.
  std::string (*discover)(const platform::Services& services);
};

std::span<const FilterClass> FilterClasses();

// The class whose short name, ProgID or class name equals `name` (ignoring case); null if none.
const FilterClass* FindFilterClass(std::string_view name);

}  // namespace kv
