#include "oe4/oe_filter.h"

#include "res/strings.h"

namespace kv {

std::string SCOEMsgFilter::GetName() { return std::string(res::LoadString(res::IDS_OE4_NAME)); }

}  // namespace kv
