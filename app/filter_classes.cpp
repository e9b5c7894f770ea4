#include "app/filter_classes.h"

#include <array>

#include "eudora/eudora_filter.h"
#include "eudora/eudora_paths.h"
#include "netscape/netscape_filter.h"
#include "netscape/netscape_profile.h"
#include "oe4/oe_filter.h"
#include "oe4/oe_store_discovery.h"
#include "oe5/oe5_filter.h"
#include "oe5/oe5_store_discovery.h"
#include "platform/text.h"

namespace kv {
namespace {

template <typename Filter>
std::unique_ptr<ImportFilter> Create(const platform::Services& services) {
  return std::make_unique<Filter>(services);
}

std::string DiscoverEudora(const platform::Services& services) {
  return FindEudoraStoreFolder(services.registry, services.files);
}

std::string DiscoverNetscape(const platform::Services& services) {
  return NetscapeProfileLocator(services.registry, services.files);
}

std::string DiscoverOe5(const platform::Services& services) {
  return FindStoreRoot(services.registry, services.environment);
}

std::string DiscoverOe4(const platform::Services& services) {
  return FindOeStoreFolder(services.registry);
}

constexpr std::array<FilterClass, 4> kClasses{{
    {"CEudoraMsgFilter", "{3140292E-5BAB-11D3-983D-0020AFF7BF53}", "KVFLTRS.EUDORAIMPORTMSG",
     "eudora", "Qualcomm Eudora Pro or Light (through v4.13)", &Create<CEudoraMsgFilter>,
     &DiscoverEudora},
    {"SCNetscapeMsgFilter", "{31402927-5BAB-11D3-983D-0020AFF7BF53}", "KVFLTRS.NETSCAPEIMPORTMSG",
     "netscape", "Netscape Messenger 4.7", &Create<SCNetscapeMsgFilter>, &DiscoverNetscape},
    {"SCOE5MsgFilter", "{31402929-5BAB-11D3-983D-0020AFF7BF53}", "KVFLTRS.OE5IMPORTMSG", "oe5",
     "Microsoft Outlook Express 5", &Create<SCOE5MsgFilter>, &DiscoverOe5},
    {"SCOEMsgFilter", "{79524993-3A10-11D3-983D-0020AFF7BF53}", "KVFLTRS.OEIMPORTMSG", "oe4",
     "Microsoft Outlook Express 4", &Create<SCOEMsgFilter>, &DiscoverOe4},
}};

}  // namespace

std::span<const FilterClass> FilterClasses() { return kClasses; }

const FilterClass* FindFilterClass(std::string_view name) {
  for (const FilterClass& filter_class : kClasses) {
    if (platform::EqualsIgnoringCase(name, filter_class.short_name) ||
        platform::EqualsIgnoringCase(name, filter_class.prog_id) ||
        platform::EqualsIgnoringCase(name, filter_class.class_name)) {
      return &filter_class;
    }
  }
  return nullptr;
}

}  // namespace kv
