#include "platform/registry_export.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "platform/unicode_text.h"

namespace kv::platform {
namespace {

constexpr std::string_view kAnsiHeader = "REGEDIT4";
constexpr std::string_view kUnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::uint8_t kUtf16leBom[] = {0xFF, 0xFE};
constexpr std::uint8_t kUtf8Bom[] = {0xEF, 0xBB, 0xBF};
constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";
constexpr std::string_view kUsers = "HKEY_USERS";
constexpr std::string_view kLocalMachine = "HKEY_LOCAL_MACHINE";
// The machine's own hives under HKEY_LOCAL_MACHINE; any other key there is a hive loaded by hand.
constexpr std::string_view kMachineHives[] = {"SOFTWARE", "SYSTEM",      "HARDWARE",  "SAM",
                                              "SECURITY", "BCD00000000", "COMPONENTS"};
// Beyond this many, skipped lines are counted rather than listed.
constexpr std::size_t kMaxListedProblems = 100;
constexpr std::size_t kDwordDigits = 8;

std::string_view Trim(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (RegistryUpperCase(static_cast<unsigned char>(text[i])) !=
        RegistryUpperCase(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

std::optional<unsigned> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

// A run of 1 to `max_digits` hex digits as a number; nullopt for anything else.
std::optional<std::uint32_t> ParseHexNumber(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint32_t number = 0;
  for (char c : text) {
    std::optional<unsigned> digit = HexDigit(c);
    if (!digit) return std::nullopt;
    number = (number << 4) | *digit;
  }
  return number;
}

// "01,02, ff" as bytes; empty items (a trailing comma) are allowed.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  while (!text.empty()) {
    std::size_t comma = text.find(',');
    std::string_view item = Trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (item.empty()) continue;
    std::optional<std::uint32_t> byte = ParseHexNumber(item, 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*byte));
  }
  return bytes;
}

// A quoted name or text starting at text[pos] == '"': \\ and \" are unescaped, any other
// backslash stays. Moves `pos` past the closing quote; nullopt when there is none.
std::optional<std::string> ParseQuoted(std::string_view text, std::size_t& pos) {
  std::string out;
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out.push_back(text[++i]);
      continue;
    }
    out.push_back(c);
  }
  return std::nullopt;
}

std::vector<std::uint8_t> StringData(std::string_view utf8) {
  std::vector<std::uint8_t> data = Utf8ToUtf16le(utf8);
  data.push_back(0);
  data.push_back(0);
  return data;
}

struct Line {
  std::size_t number = 0;  // 1-based
  std::string_view text;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t number = 1;
  while (!text.empty()) {
    std::size_t end = text.find_first_of("\r\n");
    lines.push_back({number++, text.substr(0, end)});
    if (end == std::string_view::npos) break;
    std::size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    text.remove_prefix(next);
  }
  return lines;
}

struct ExportKey {
  std::string name;  // UTF-8
  std::vector<std::size_t> children;
  std::vector<RegistryTree::StoredValue> values;
};

class ExportTree final : public RegistryTree {
 public:
  ExportTree(std::vector<ExportKey> keys, std::size_t root, std::string source)
      : keys_(std::move(keys)), root_(root), source_(std::move(source)) {
    // A key's index lists its subkeys sorted by their upper-case names; enumeration follows it.
    for (ExportKey& key : keys_) {
      std::stable_sort(key.children.begin(), key.children.end(), [&](std::size_t a, std::size_t b) {
        return RegistryNameLess(keys_[a].name, keys_[b].name);
      });
    }
  }

  Node Root() override { return root_; }
  std::optional<std::vector<Subkey>> Subkeys(Node node) override {
    if (node >= keys_.size()) return std::nullopt;
    std::vector<Subkey> subkeys;
    for (std::size_t child : keys_[node].children) subkeys.push_back({keys_[child].name, child});
    return subkeys;
  }
  std::optional<std::vector<StoredValue>> Values(Node node) override {
    if (node >= keys_.size()) return std::nullopt;
    return keys_[node].values;
  }
  std::string SourceName() const override { return source_; }

 private:
  std::vector<ExportKey> keys_;
  std::size_t root_;
  std::string source_;
};

class ExportParser {
 public:
  ExportParser(CodePage& code_page, RegistryExport& result)
      : code_page_(code_page), result_(result) {
    keys_.push_back(ExportKey{});  // above the root keys
  }

  void Parse(ByteView bytes, const std::string& source_name) {
    std::string text = Decode(bytes);
    std::vector<Line> lines = SplitLines(text);
    std::size_t i = 0;
    while (i < lines.size() && Trim(lines[i].text).empty()) ++i;
    std::string_view header = i < lines.size() ? Trim(lines[i].text) : std::string_view();
    if (header == kAnsiHeader) {
      ansi_data_ = true;
    } else if (header != kUnicodeHeader) {
      result_.error = "not a registry export: the first line is neither \"REGEDIT4\" nor \"" +
                      std::string(kUnicodeHeader) + "\"";
      return;
    }
    for (++i; i < lines.size(); ++i) ParseLine(lines, i);
    if (skipped_ > kMaxListedProblems) {
      result_.problems.push_back("and " + std::to_string(skipped_ - kMaxListedProblems) +
                                 " more lines skipped");
    }
    std::optional<std::size_t> root = ChooseRoot();
    if (root) {
      result_.tree = std::make_unique<ExportTree>(std::move(keys_), *root, source_name);
    }
  }

 private:
  // The file's text as UTF-8. A byte order mark, or a NUL second byte, marks UTF-16LE.
  std::string Decode(ByteView bytes) {
    if (bytes.size() >= 2 && bytes.data()[0] == kUtf16leBom[0] &&
        bytes.data()[1] == kUtf16leBom[1]) {
      return Utf16leToUtf8(*bytes.From(2));
    }
    if (bytes.size() >= 2 && bytes.data()[0] != 0 && bytes.data()[1] == 0) {
      return Utf16leToUtf8(bytes);
    }
    if (bytes.size() >= 3 && std::equal(kUtf8Bom, kUtf8Bom + 3, bytes.data())) {
      return std::string(bytes.data() + 3, bytes.data() + bytes.size());
    }
    return code_page_.ToUtf8(std::string(bytes.data(), bytes.data() + bytes.size()));
  }

  void Skip(const Line& line, const std::string& why) {
    if (++skipped_ <= kMaxListedProblems) {
      result_.problems.push_back("line " + std::to_string(line.number) + ": " + why);
    }
  }
  std::nullopt_t SkipValue(const Line& line, const std::string& why) {
    Skip(line, why);
    return std::nullopt;
  }

  // Handles lines[i]; a value whose hex data continues moves `i` to its last line.
  void ParseLine(const std::vector<Line>& lines, std::size_t& i) {
    std::string_view text = Trim(lines[i].text);
    if (text.empty() || text.front() == ';') return;
    if (text.front() == '[') return KeyLine(lines[i], text);
    if (text.front() == '"' || text.front() == '@') return ValueLine(lines, i, text);
    Skip(lines[i], "neither a key nor a value");
  }

  void KeyLine(const Line& line, std::string_view text) {
    current_.reset();
    std::size_t close = text.rfind(']');
    if (close == std::string_view::npos) return Skip(line, "a key name without \"]\"");
    std::string_view path = text.substr(1, close - 1);
    bool remove = !path.empty() && path.front() == '-';
    if (remove) path.remove_prefix(1);
    std::vector<std::string> parts = KeyPath(path);
    if (parts.empty()) return Skip(line, "an empty key name");
    if (remove) return RemoveKey(parts);
    current_ = FindKey(parts, true);
  }

  void ValueLine(const std::vector<Line>& lines, std::size_t& i, std::string_view text) {
    const Line& line = lines[i];
    std::size_t pos = 0;
    std::string name;
    if (text.front() == '@') {
      pos = 1;
    } else {
      std::optional<std::string> quoted = ParseQuoted(text, pos);
      if (!quoted) return Skip(line, "a value name without its closing quote");
      name = std::move(*quoted);
    }
    std::string_view rest = Trim(text.substr(pos));
    if (rest.empty() || rest.front() != '=') return Skip(line, "no \"=\" after the value name");
    rest = Trim(rest.substr(1));

    std::string joined;
    if (StartsWithIgnoringCase(rest, "hex")) {
      // Hex data continues on the next line while a line ends in a backslash.
      joined = rest;
      while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
        joined.pop_back();
        joined += Trim(lines[++i].text);
      }
      rest = joined;
    }
    if (!current_) return Skip(line, "a value outside any key");
    std::optional<RegistryTree::StoredValue> value = ParseData(line, rest);
    if (!value) return;
    value->name = std::move(name);
    std::vector<RegistryTree::StoredValue>& values = keys_[*current_].values;
    auto same = std::find_if(values.begin(), values.end(), [&](const auto& stored) {
      return RegistryNamesEqual(stored.name, value->name);
    });
    if (rest == "-") {
      if (same != values.end()) values.erase(same);
    } else if (same != values.end()) {
      *same = std::move(*value);  // a value set again keeps its place
    } else {
      values.push_back(std::move(*value));
    }
  }

  // The value's type and stored data; nullopt (the line skipped) when it does not parse. "-"
  // gives an empty value that the caller takes as a removal.
  std::optional<RegistryTree::StoredValue> ParseData(const Line& line, std::string_view data) {
    RegistryTree::StoredValue value;
    if (data == "-") return value;
    if (!data.empty() && data.front() == '"') {
      std::size_t pos = 0;
      std::optional<std::string> text = ParseQuoted(data, pos);
      if (!text) return SkipValue(line, "a text value without its closing quote");
      if (!Trim(data.substr(pos)).empty()) {
        return SkipValue(line, "text after a value's closing quote");
      }
      value.type = kRegSz;
      value.data = StringData(*text);
      return value;
    }
    if (StartsWithIgnoringCase(data, "dword:")) {
      std::optional<std::uint32_t> number = ParseHexNumber(Trim(data.substr(6)), kDwordDigits);
      if (!number) return SkipValue(line, "a dword value that is not 1 to 8 hex digits");
      value.type = kRegDword;
      for (int shift = 0; shift < 32; shift += 8) {
        value.data.push_back(static_cast<std::uint8_t>(*number >> shift));
      }
      return value;
    }
    if (StartsWithIgnoringCase(data, "hex:")) {
      value.type = kRegBinary;
      data.remove_prefix(4);
    } else if (StartsWithIgnoringCase(data, "hex(")) {
      std::size_t close = data.find("):");
      std::optional<std::uint32_t> type = close == std::string_view::npos
                                              ? std::nullopt
                                              : ParseHexNumber(data.substr(4, close - 4), 8);
      if (!type) return SkipValue(line, "a hex(type) value whose type does not parse");
      value.type = *type;
      data.remove_prefix(close + 2);
    } else {
      return SkipValue(line, "a value of unknown form");
    }
    std::optional<std::vector<std::uint8_t>> bytes = ParseHexBytes(data);
    if (!bytes) return SkipValue(line, "hex data that is not comma-separated bytes");
    value.data = std::move(*bytes);
    // A REGEDIT4 file writes text types in the ANSI code page; they are stored as UTF-16.
    if (ansi_data_ && IsStringType(value.type)) {
      value.data =
          Utf8ToUtf16le(code_page_.ToUtf8(std::string(value.data.begin(), value.data.end())));
    }
    return value;
  }

  std::vector<std::string> KeyPath(std::string_view path) {
    std::vector<std::string> parts;
    while (!path.empty()) {
      std::size_t separator = path.find('\\');
      std::string_view part = path.substr(0, separator);
      if (!part.empty()) parts.emplace_back(part);
      if (separator == std::string_view::npos) break;
      path.remove_prefix(separator + 1);
    }
    if (!parts.empty()) {
      std::string& top = parts.front();
      if (RegistryNamesEqual(top, "HKCU")) top = kCurrentUser;
      if (RegistryNamesEqual(top, "HKU")) top = kUsers;
      if (RegistryNamesEqual(top, "HKLM")) top = kLocalMachine;
    }
    return parts;
  }

  std::optional<std::size_t> Child(std::size_t parent, std::string_view name) {
    for (std::size_t child : keys_[parent].children) {
      if (RegistryNamesEqual(keys_[child].name, name)) return child;
    }
    return std::nullopt;
  }

  std::optional<std::size_t> FindKey(const std::vector<std::string>& parts, bool create) {
    std::size_t key = 0;
    for (const std::string& part : parts) {
      std::optional<std::size_t> child = Child(key, part);
      if (!child) {
        if (!create) return std::nullopt;
        keys_.push_back(ExportKey{part, {}, {}});
        child = keys_.size() - 1;
        keys_[key].children.push_back(*child);
      }
      key = *child;
    }
    return key;
  }

  // Unlinks the key from its parent; the subtree stays in the table, unreachable.
  void RemoveKey(const std::vector<std::string>& parts) {
    std::vector<std::string> parent_parts(parts.begin(), parts.end() - 1);
    std::optional<std::size_t> parent = FindKey(parent_parts, false);
    if (!parent) return;
    std::optional<std::size_t> key = Child(*parent, parts.back());
    if (!key) return;
    std::vector<std::size_t>& siblings = keys_[*parent].children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), *key));
  }

  // HKEY_CURRENT_USER when the export has it, otherwise the one user hive loaded under
  // HKEY_USERS or HKEY_LOCAL_MACHINE.
  std::optional<std::size_t> ChooseRoot() {
    if (std::optional<std::size_t> user = Child(0, kCurrentUser)) {
      result_.root = kCurrentUser;
      return user;
    }
    std::vector<std::pair<std::string, std::size_t>> candidates;
    if (std::optional<std::size_t> users = Child(0, kUsers)) {
      for (std::size_t child : keys_[*users].children) {
        const std::string& name = keys_[child].name;
        if (name.size() >= 8 && RegistryNamesEqual(name.substr(name.size() - 8), "_Classes")) {
          continue;
        }
        candidates.emplace_back(std::string(kUsers) + "\\" + name, child);
      }
    }
    if (std::optional<std::size_t> machine = Child(0, kLocalMachine)) {
      for (std::size_t child : keys_[*machine].children) {
        const std::string& name = keys_[child].name;
        bool own =
            std::any_of(std::begin(kMachineHives), std::end(kMachineHives),
                        [&](std::string_view hive) { return RegistryNamesEqual(name, hive); });
        if (!own) candidates.emplace_back(std::string(kLocalMachine) + "\\" + name, child);
      }
    }
    if (candidates.size() == 1) {
      result_.root = candidates.front().first;
      return candidates.front().second;
    }
    if (candidates.empty()) {
      result_.error =
          "the export holds no keys of a user (HKEY_CURRENT_USER, or a user's hive "
          "loaded under HKEY_USERS)";
    } else {
      result_.error = "the export holds several users' keys:";
      for (const auto& candidate : candidates) result_.error += " " + candidate.first;
    }
    return std::nullopt;
  }

  CodePage& code_page_;
  RegistryExport& result_;
  std::vector<ExportKey> keys_;
  std::optional<std::size_t> current_;
  bool ansi_data_ = false;
  std::size_t skipped_ = 0;
};

}  // namespace

RegistryExport ParseRegistryExport(ByteView bytes, CodePage& code_page,
                                   const std::string& source_name) {
  RegistryExport result;
  ExportParser(code_page, result).Parse(bytes, source_name);
  return result;
}

}  // namespace kv::platform
