#include "eudora/eudora_filter.h"

#include "res/strings.h"

namespace kv {

std::string CEudoraMsgFilter::GetName() {
  return std::string(res::LoadString(res::IDS_EUDORA_NAME));
}

}  // namespace kv
