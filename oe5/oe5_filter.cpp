#include "oe5/oe5_filter.h"

#include "res/strings.h"

namespace kv {

std::string SCOE5MsgFilter::GetName() { return std::string(res::LoadString(res::IDS_OE5_NAME)); }

}  // namespace kv
