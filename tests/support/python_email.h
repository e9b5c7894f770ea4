#pragma once
// A message file as Python's email package reads it (tests/host/mime_parts.py): its headers,
// defects and parts, each part's bytes in hexadecimal. Null when python3 is not installed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "support/temp_dir.h"

namespace kv::testing {

inline nlohmann::json ParseWithPython(const std::filesystem::path& message) {
  if (std::system("python3 -c 'import email' >/dev/null 2>&1") != 0) return nullptr;
  const std::string output = CommandOutput(
      "python3 '" KV_SOURCE_DIR "/tests/host/mime_parts.py' '" + message.string() + "'");
  nlohmann::json parsed = nlohmann::json::parse(output, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << output;
  return parsed;
}

inline std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace kv::testing
