#pragma once
// Stand-ins for the three services the server takes from the in-house kernel library: a resource
// manager that start-up initialises, the host's default message options, and string trimming.

#include <array>
#include <cstdint>
#include <string>

namespace kv {

class ResourceManager {
 public:
  ResourceManager() = default;
  virtual ~ResourceManager() = default;
  // Called first at start-up with the program's module state; nothing depends on it.
  void InitInstanceReg(const void* module_state);
  // What InitInstanceReg was given; null before it was called.
  const void* module_state() const { return module_state_; }

 private:
  const void* module_state_ = nullptr;
};

// The host's per-message options record: 160 bytes, passed through as filled except for the
// priority (bytes 2-3, little-endian) and bytes 63, 65 and 66, which the Eudora filter sets.
struct _MSG_OPTIONS {
  std::array<std::uint8_t, 160> bytes{};
};

class CDefaultOptions {
 public:
  // Fills `options` with the default message options and returns 0: bytes 0-1 the record version
  // 1, bytes 2-3 the normal priority 3 (both 16-bit little-endian), every other byte 0. A null
  // `options` fails with -1.
  static std::int32_t get_DefaultMesOptions(_MSG_OPTIONS* options);
};

// Removes leading and trailing blanks, tabs, carriage returns and line feeds in place.
void kvTrimStr(std::string& text);

}  // namespace kv
