#include "support/registry_writers.h"

#include <hivex.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "platform/unicode_text.h"

namespace kv::testing {
namespace {

// Base block fields.
constexpr std::size_t kBaseBlockSize = 0x1000;
constexpr std::size_t kPrimarySequence = 0x004;
constexpr std::size_t kSecondarySequence = 0x008;
constexpr std::size_t kMajorVersion = 0x014;
constexpr std::size_t kMinorVersion = 0x018;
constexpr std::size_t kFileFormat = 0x020;  // 1: direct memory load
constexpr std::size_t kRootCell = 0x024;    // offset of the root key from the first bin
constexpr std::size_t kBinsSize = 0x028;
constexpr std::size_t kClustering = 0x02C;
constexpr std::size_t kChecksum = 0x1FC;  // XOR of the 127 dwords before it

// Bin header fields, from the bin's start.
constexpr std::size_t kBinSize = 0x1000;
constexpr std::size_t kBinOffset = 0x004;  // the bin's offset from the first bin
constexpr std::size_t kBinLength = 0x008;
constexpr std::size_t kBinHeaderSize = 0x20;

// Key record ("nk") fields, from the cell's start (its size field).
constexpr std::size_t kKeyFlags = 0x06;  // 0x2C: hive root, not deletable, ASCII name
constexpr std::uint16_t kRootKeyFlags = 0x2C;
constexpr std::size_t kKeySubkeyList = 0x20;
constexpr std::size_t kKeyVolatileList = 0x24;
constexpr std::size_t kKeyValueList = 0x2C;
constexpr std::size_t kKeySecurity = 0x30;
constexpr std::size_t kKeyClass = 0x34;
constexpr std::size_t kKeyNameLength = 0x4C;
constexpr std::size_t kKeyName = 0x50;
constexpr std::uint32_t kNoCell = 0xFFFFFFFF;

// Security record ("sk") fields, from the cell's start.
constexpr std::size_t kSecurityNext = 0x08;
constexpr std::size_t kSecurityPrevious = 0x0C;
constexpr std::size_t kSecurityReferences = 0x10;
constexpr std::size_t kSecurityDescriptorSize = 0x14;
constexpr std::size_t kSecurityDescriptor = 0x18;
// An empty self-relative security descriptor: revision 1, control SE_SELF_RELATIVE, no owner,
// group or access lists.
constexpr std::size_t kDescriptorSize = 20;
constexpr std::size_t kDescriptorControl = 2;
constexpr std::uint16_t kSelfRelative = 0x8000;

constexpr std::size_t kLineWidth = 76;  // regedit wraps hex data past this column

void Put16(std::string& bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<char>(value & 0xFF);
  bytes[offset + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t Get32(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
  return value;
}

std::size_t RoundTo8(std::size_t size) { return (size + 7) & ~std::size_t{7}; }

RegistryContent::Key& KeyOf(RegistryContent& content, const std::string& path) {
  auto it = std::find_if(content.keys.begin(), content.keys.end(),
                         [&](const RegistryContent::Key& key) { return key.path == path; });
  if (it != content.keys.end()) return *it;
  content.keys.push_back({path, {}});
  return content.keys.back();
}

struct HiveCloser {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// "hex(2):41,00,..." with regedit's wrapping: ",\" and two blanks when a line grows too long.
std::string HexData(const std::string& prefix, const std::vector<std::uint8_t>& data) {
  std::string out = prefix;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    char byte[3];
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out += byte;
    if (i + 1 == data.size()) break;
    out += ",";
    if (out.size() - line_start > kLineWidth) {
      out += "\\\r\n  ";
      line_start = out.size() - 2;
    }
  }
  return out;
}

bool IsPlainText(const std::vector<std::uint8_t>& data) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  if (data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return false;
  for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
    if (data[i] == 0 && data[i + 1] == 0) return false;
  }
  return true;
}

}  // namespace

RegistryContent& RegistryContent::AddKey(const std::string& path) {
  KeyOf(*this, path);
  return *this;
}

RegistryContent& RegistryContent::SetValue(const std::string& path, const std::string& name,
                                           std::uint32_t type, std::vector<std::uint8_t> data) {
  KeyOf(*this, path).values.push_back({name, type, std::move(data)});
  return *this;
}

RegistryContent& RegistryContent::SetString(const std::string& path, const std::string& name,
                                            const std::string& text, std::uint32_t type) {
  return SetValue(path, name, type, StoredText(text));
}

RegistryContent& RegistryContent::SetDword(const std::string& path, const std::string& name,
                                           std::uint32_t number) {
  return SetValue(
      path, name, platform::kRegDword,
      {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
       static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)});
}

std::vector<std::uint8_t> StoredText(const std::string& utf8) {
  std::vector<std::uint8_t> data = platform::Utf8ToUtf16le(utf8);
  data.push_back(0);
  data.push_back(0);
  return data;
}

std::string MinimalHive(const std::string& root_name) {
  std::string hive(kBaseBlockSize + kBinSize, '\0');
  hive.replace(0, 4, "regf");
  Put32(hive, kPrimarySequence, 1);
  Put32(hive, kSecondarySequence, 1);
  Put32(hive, kMajorVersion, 1);
  Put32(hive, kMinorVersion, 3);
  Put32(hive, kFileFormat, 1);
  Put32(hive, kRootCell, kBinHeaderSize);
  Put32(hive, kBinsSize, kBinSize);
  Put32(hive, kClustering, 1);

  const std::size_t bin = kBaseBlockSize;
  hive.replace(bin, 4, "hbin");
  Put32(hive, bin + kBinOffset, 0);
  Put32(hive, bin + kBinLength, kBinSize);

  // Cells: the root key, its security record, then the rest of the bin free. A cell's size is
  // negative while it is in use.
  const std::size_t key_cell = kBinHeaderSize;
  const std::size_t key_size = RoundTo8(kKeyName + root_name.size());
  const std::size_t security_cell = key_cell + key_size;
  const std::size_t security_size = RoundTo8(kSecurityDescriptor + kDescriptorSize);
  const std::size_t free_cell = security_cell + security_size;

  std::size_t at = bin + key_cell;
  Put32(hive, at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(key_size)));
  hive.replace(at + 4, 2, "nk");
  Put16(hive, at + kKeyFlags, kRootKeyFlags);
  Put32(hive, at + kKeySubkeyList, kNoCell);
  Put32(hive, at + kKeyVolatileList, kNoCell);
  Put32(hive, at + kKeyValueList, kNoCell);
  Put32(hive, at + kKeySecurity, static_cast<std::uint32_t>(security_cell));
  Put32(hive, at + kKeyClass, kNoCell);
  Put16(hive, at + kKeyNameLength, static_cast<std::uint16_t>(root_name.size()));
  hive.replace(at + kKeyName, root_name.size(), root_name);

  at = bin + security_cell;
  Put32(hive, at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(security_size)));
  hive.replace(at + 4, 2, "sk");
  Put32(hive, at + kSecurityNext, static_cast<std::uint32_t>(security_cell));
  Put32(hive, at + kSecurityPrevious, static_cast<std::uint32_t>(security_cell));
  Put32(hive, at + kSecurityReferences, 1);
  Put32(hive, at + kSecurityDescriptorSize, kDescriptorSize);
  hive[at + kSecurityDescriptor] = 1;  // revision
  Put16(hive, at + kSecurityDescriptor + kDescriptorControl, kSelfRelative);

  Put32(hive, bin + free_cell, static_cast<std::uint32_t>(kBinSize - free_cell));

  std::uint32_t sum = 0;
  for (std::size_t offset = 0; offset < kChecksum; offset += 4) sum ^= Get32(hive, offset);
  Put32(hive, kChecksum, sum);
  return hive;
}

void WriteHive(const std::filesystem::path& file, const RegistryContent& content) {
  {
    std::ofstream out(file, std::ios::binary);
    std::string bytes = MinimalHive();
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
  }
  std::unique_ptr<hive_h, HiveCloser> hive(hivex_open(file.c_str(), HIVEX_OPEN_WRITE));
  if (!hive) throw std::runtime_error("hivex cannot open the minimal hive " + file.string());
  for (const RegistryContent::Key& key : content.keys) {
    hive_node_h node = hivex_root(hive.get());
    for (const std::string& part : PathParts(key.path)) {
      hive_node_h child = hivex_node_get_child(hive.get(), node, part.c_str());
      if (child == 0) child = hivex_node_add_child(hive.get(), node, part.c_str());
      if (child == 0) throw std::runtime_error("hivex cannot add key " + key.path);
      node = child;
    }
    for (const RegistryContent::Value& value : key.values) {
      std::string name = value.name;
      std::vector<char> data(value.data.begin(), value.data.end());
      hive_set_value set{name.data(), static_cast<hive_type>(value.type), data.size(), data.data()};
      if (hivex_node_set_value(hive.get(), node, &set, 0) != 0) {
        throw std::runtime_error("hivex cannot set value " + key.path + "\\" + value.name);
      }
    }
  }
  if (hivex_commit(hive.get(), nullptr, 0) != 0) {
    throw std::runtime_error("hivex cannot write " + file.string());
  }
}

std::string RegistryExportText(const RegistryContent& content, ExportFormat format,
                               platform::CodePage& code_page, const std::string& root) {
  const bool unicode = format == ExportFormat::kRegedit5;
  // Text data as the export writes it: UTF-16LE as stored, or converted to the ANSI code page.
  auto text_data = [&](const std::vector<std::uint8_t>& stored) {
    if (unicode) return stored;
    std::string ansi = code_page.FromUtf8(platform::Utf16leToUtf8(ByteView(stored)));
    return std::vector<std::uint8_t>(ansi.begin(), ansi.end());
  };
  std::string text = unicode ? "Windows Registry Editor Version 5.00\r\n" : "REGEDIT4\r\n";
  for (const RegistryContent::Key& key : content.keys) {
    text += "\r\n[" + root + (key.path.empty() ? "" : "\\" + key.path) + "]\r\n";
    for (const RegistryContent::Value& value : key.values) {
      std::string line = value.name.empty() ? "@=" : "\"" + Escaped(value.name) + "\"=";
      if (value.type == platform::kRegSz && IsPlainText(value.data)) {
        std::vector<std::uint8_t> without_nul(value.data.begin(), value.data.end() - 2);
        line += "\"" + Escaped(platform::Utf16leToUtf8(ByteView(without_nul))) + "\"";
      } else if (value.type == platform::kRegDword && value.data.size() == 4) {
        char number[9];
        std::snprintf(number, sizeof number, "%08x",
                      static_cast<unsigned>(value.data[0] | (value.data[1] << 8) |
                                            (value.data[2] << 16) | (value.data[3] << 24)));
        line += std::string("dword:") + number;
      } else if (value.type == platform::kRegBinary) {
        line = HexData(line + "hex:", value.data);
      } else {
        char type[16];
        std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
        bool text_type = value.type == platform::kRegSz || value.type == platform::kRegExpandSz ||
                         value.type == kRegMultiSz;
        line = HexData(line + type, text_type ? text_data(value.data) : value.data);
      }
      text += line + "\r\n";
    }
  }
  text += "\r\n";
  if (!unicode) return code_page.FromUtf8(text);
  std::vector<std::uint8_t> utf16 = platform::Utf8ToUtf16le(text);
  return "\xFF\xFE" + std::string(utf16.begin(), utf16.end());
}

std::vector<std::string> PathParts(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path + "\\") {
    if (c != '\\') {
      part.push_back(c);
    } else if (!part.empty()) {
      parts.push_back(std::move(part));
      part.clear();
    }
  }
  return parts;
}

}  // namespace kv::testing
