#include "netscape/netscape_filter.h"

#include "res/strings.h"

namespace kv {

std::string SCNetscapeMsgFilter::GetName() {
  return std::string(res::LoadString(res::IDS_NETSCAPE_NAME));
}

}  // namespace kv
