#include "app/kernel_library.h"

#include "platform/text.h"

namespace kv {
namespace {

// Default options: a 16-bit record version, normal priority (3), every other field 0.
constexpr std::uint16_t kOptionsVersion = 1;
constexpr std::uint16_t kNormalPriority = 3;

}  // namespace

void ResourceManager::InitInstanceReg(const void* module_state) { module_state_ = module_state; }

std::int32_t CDefaultOptions::get_DefaultMesOptions(_MSG_OPTIONS* options) {
  if (options == nullptr) return -1;
  options->bytes.fill(0);
  options->bytes[0] = static_cast<std::uint8_t>(kOptionsVersion & 0xFF);
  options->bytes[1] = static_cast<std::uint8_t>((kOptionsVersion >> 8) & 0xFF);
  options->bytes[2] = static_cast<std::uint8_t>(kNormalPriority & 0xFF);
  options->bytes[3] = static_cast<std::uint8_t>(kNormalPriority >> 8);
  return 0;
}

void kvTrimStr(std::string& text) { text = std::string(platform::TrimBlanks(text)); }

}  // namespace kv
