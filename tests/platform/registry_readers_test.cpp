// The two stored registries (a hive file through hivex, an export text in either encoding)
// answer the ANSI registry calls alike: one contract run against each, then what only one of
// them meets (damaged hives, malformed export lines).
#include <gtest/gtest.h>

#include <functional>

#include "fuzz/registry_export_fuzz_run.h"
#include "platform/fake/fake_environment.h"
#include "platform/posix/hive_registry.h"
#include "platform/registry_export.h"
#include "platform/stored_registry.h"
#include "platform/unicode_text.h"
#include "support/fuzz_inputs.h"
#include "support/registry_writers.h"
#include "support/temp_dir.h"

namespace kv::platform {
namespace {

using testing::ExportFormat;
using testing::RegistryContent;

constexpr std::size_t kNameBuffer = 80;   // RegEnumValueA's name buffer as the filters size it
constexpr std::size_t kDataBuffer = 783;  // and its data buffer
constexpr std::size_t kStringBuffer = 260;
constexpr const char* kOe = "Software\\Microsoft\\Outlook Express";
constexpr const char* kDrafts = "Software\\Entw\xC3\xBCrfe";  // UTF-8, as the content is written

ByteView ViewOf(const std::string& bytes) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// A registry of the content as a hive file (no format) or as an export text in `format`.
struct Source {
  const char* name;
  std::optional<ExportFormat> format;
};

void PrintTo(const Source& source, std::ostream* out) { *out << source.name; }

const Source kSources[] = {{"Hive", std::nullopt},
                           {"Regedit4", ExportFormat::kRegedit4},
                           {"Regedit5", ExportFormat::kRegedit5}};

class StoredRegistryContractTest : public ::testing::TestWithParam<Source> {
 protected:
  StoredRegistry& Load(const RegistryContent& content) {
    std::unique_ptr<RegistryTree> tree;
    if (const std::optional<ExportFormat> format = GetParam().format) {
      const std::string text = testing::RegistryExportText(content, *format, code_page_);
      RegistryExport parsed = ParseRegistryExport(ViewOf(text), code_page_, "user.reg");
      EXPECT_EQ(parsed.error, "");
      EXPECT_EQ(parsed.problems, std::vector<std::string>{});
      tree = std::move(parsed.tree);
    } else {
      const std::filesystem::path file = dir_.path() / "NTUSER.DAT";
      testing::WriteHive(file, content);
      HiveOpenResult opened = OpenHiveFile(file.string());
      EXPECT_EQ(opened.error, "");
      tree = std::move(opened.tree);
    }
    if (!tree) throw std::runtime_error("no registry");
    registry_ = std::make_unique<StoredRegistry>(std::move(tree), code_page_, &diagnostics_);
    return *registry_;
  }

  // Every value of `key` as the filters enumerate them: name=text, or the result that ended it.
  std::vector<std::string> Enumerate(const std::string& key) {
    std::vector<std::string> seen;
    std::optional<RegistryKey> handle = registry_->OpenCurrentUserKey(key);
    if (!handle) return {"<no key>"};
    RegistryValue value;
    for (std::uint32_t index = 0;; ++index) {
      RegistryResult result = registry_->EnumValue(*handle, index, kNameBuffer, kDataBuffer, value);
      if (result == RegistryResult::kMoreData) seen.push_back("<more data>");
      if (result != RegistryResult::kSuccess) break;
      seen.push_back(value.name + "=" + value.Text());
    }
    registry_->CloseKey(*handle);
    return seen;
  }

  testing::TempDir dir_;
  Windows1252CodePage code_page_;
  DiagnosticLog diagnostics_;
  std::unique_ptr<StoredRegistry> registry_;
};

TEST_P(StoredRegistryContractTest, NamesMatchWithoutRegardToCaseAndMissingOnesAreNotFound) {
  StoredRegistry& registry = Load(RegistryContent()
                                      .SetString(kOe, "Store Root", "C:\\OE")
                                      .SetString(kDrafts,
                                                 "\xC3\x9C"
                                                 "ber",
                                                 "yes"));
  RegistryValue value;
  auto query = [&](const std::string& key_path, const std::string& name) {
    std::optional<RegistryKey> key = registry.OpenCurrentUserKey(key_path);
    if (!key) return std::string("<no key>");
    RegistryResult result = registry.QueryValue(*key, name, kStringBuffer, value);
    registry.CloseKey(*key);
    return result == RegistryResult::kSuccess    ? value.name + "=" + value.Text()
           : result == RegistryResult::kNotFound ? std::string("<not found>")
                                                 : std::string("<error>");
  };
  EXPECT_EQ(query("SOFTWARE\\microsoft\\OUTLOOK express", "STORE ROOT"), "Store Root=C:\\OE");
  // "ENTWÜRFE" and "über" in Windows-1252 find the key and value stored as "Entwürfe" and "Über".
  EXPECT_EQ(query("software\\ENTW\xDCRFE\\",
                  "\xFC"
                  "ber"),
            "\xDC"
            "ber=yes");
  EXPECT_EQ(query("Software\\Netscape", "x"), "<no key>");
  EXPECT_EQ(query(std::string(kOe) + "\\5.0", "x"), "<no key>");
  EXPECT_EQ(query(kOe, "Store Root2"), "<not found>");
  EXPECT_EQ(registry.OpenKeyCount(), 0u);

  std::optional<RegistryKey> key = registry.OpenCurrentUserKey(kOe);
  ASSERT_TRUE(key);
  std::string name;
  EXPECT_EQ(registry.EnumKey(*key, 0, name), RegistryResult::kNoMoreItems);
  registry.CloseKey(*key);
  EXPECT_EQ(registry.EnumValue(*key, 0, kNameBuffer, kDataBuffer, value), RegistryResult::kError);
}

TEST_P(StoredRegistryContractTest, ValuesEnumerateInStoredOrderAndSubkeysInIndexOrder) {
  Load(RegistryContent()
           .SetString("Software\\Vendor", "zeta", "1")
           .SetString("Software\\Vendor", "", "default")
           .SetDword("Software\\Vendor", "Alpha", 7)
           .AddKey("Software\\Vendor\\beta")
           .AddKey("Software\\Vendor\\Alpha")
           .AddKey("Software\\Vendor\\\xC3\xA9t\xC3\xA9"));
  std::vector<std::string> values = Enumerate("Software\\Vendor");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0], "zeta=1");
  EXPECT_EQ(values[1], "=default");

  std::optional<RegistryKey> key = registry_->OpenCurrentUserKey("Software\\Vendor");
  ASSERT_TRUE(key);
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; registry_->EnumKey(*key, i, name) == RegistryResult::kSuccess; ++i) {
    names.push_back(name);
  }
  registry_->CloseKey(*key);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "\xE9t\xE9"}));
}

// RegEnumValueA weighs the ANSI name (plus its NUL) against the name buffer and the ANSI data
// against the data buffer: a value that does not fit fails the call, which ends the filters'
// enumeration before the values after it.
TEST_P(StoredRegistryContractTest, EnumerationFailsOnValuesTooLargeForItsBuffers) {
  const std::string fits(kDataBuffer - 1, 'd');  // 782 characters and the NUL: 783 bytes
  Load(RegistryContent()
           .SetString("A", std::string(kNameBuffer - 1, 'n'), fits)
           .SetString("A", "after", "x")
           .SetString("B", std::string(kNameBuffer, 'n'), "x")
           .SetString("B", "store root", "C:\\OE")
           .SetString("C", "big", fits + "d")
           .SetString("C", "store root", "C:\\OE")
           .SetValue("D", "bin", kRegBinary, std::vector<std::uint8_t>(kDataBuffer + 1, 0x41)));
  EXPECT_EQ(Enumerate("A"),
            (std::vector<std::string>{std::string(kNameBuffer - 1, 'n') + "=" + fits, "after=x"}));
  EXPECT_EQ(Enumerate("B"), std::vector<std::string>{"<more data>"});
  EXPECT_EQ(Enumerate("C"), std::vector<std::string>{"<more data>"});
  EXPECT_EQ(Enumerate("D"), std::vector<std::string>{"<more data>"});
}

// RegQueryValueExA answers a buffer too small with the size the ANSI data needs, so that a
// caller can grow its buffer and read again.
TEST_P(StoredRegistryContractTest, QueryAnswersTooSmallBuffersWithTheAnsiSize) {
  const std::string path = "C:\\Program Files\\Netscape\\Users\\" + std::string(300, 'u');
  StoredRegistry& registry = Load(RegistryContent().SetString("N", "popstatePath", path));
  std::optional<RegistryKey> key = registry.OpenCurrentUserKey("N");
  ASSERT_TRUE(key);
  RegistryValue value;
  ASSERT_EQ(registry.QueryValue(*key, "popstatePath", kStringBuffer, value),
            RegistryResult::kMoreData);
  EXPECT_EQ(value.required_size, path.size() + 1);
  ASSERT_EQ(registry.QueryValue(*key, "popstatePath", value.required_size + 1, value),
            RegistryResult::kSuccess);
  EXPECT_EQ(value.Text(), path);
  registry.CloseKey(*key);
}

TEST_P(StoredRegistryContractTest, TextTypesAreConvertedAndOtherTypesKeptAsStored) {
  std::vector<std::uint8_t> multi = testing::StoredText("one");
  for (std::uint8_t byte : testing::StoredText("caf\xC3\xA9")) multi.push_back(byte);
  multi.insert(multi.end(), {0, 0});
  StoredRegistry& registry =
      Load(RegistryContent()
               .SetString("T", "expand", "%USERPROFILE%\\Mail\xE2\x82\xAC", kRegExpandSz)
               .SetValue("T", "multi", testing::kRegMultiSz, multi)
               .SetDword("T", "number", 0x01020304)
               .SetValue("T", "binary", kRegBinary, {0x00, 0xFF, 0x10})
               .SetString("T", "greek", "\xCE\xA9"));
  std::optional<RegistryKey> key = registry.OpenCurrentUserKey("T");
  ASSERT_TRUE(key);
  RegistryValue value;
  auto query = [&](const std::string& name) {
    EXPECT_EQ(registry.QueryValue(*key, name, kDataBuffer, value), RegistryResult::kSuccess);
    return std::make_pair(value.type, value.data);
  };
  auto bytes = [](const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
  };
  EXPECT_EQ(query("expand"), std::make_pair(std::uint32_t{kRegExpandSz},
                                            bytes(std::string("%USERPROFILE%\\Mail\x80") + '\0')));
  EXPECT_EQ(query("multi"), std::make_pair(std::uint32_t{testing::kRegMultiSz},
                                           bytes(std::string("one\0caf\xE9\0\0", 10))));
  EXPECT_EQ(query("number"),
            std::make_pair(std::uint32_t{kRegDword}, std::vector<std::uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(query("binary"),
            std::make_pair(std::uint32_t{kRegBinary}, std::vector<std::uint8_t>{0x00, 0xFF, 0x10}));
  // A character the code page lacks becomes "?", as WideCharToMultiByte writes it.
  EXPECT_EQ(query("greek").second, bytes(std::string("?") + '\0'));
  registry.CloseKey(*key);
}

INSTANTIATE_TEST_SUITE_P(Sources, StoredRegistryContractTest, ::testing::ValuesIn(kSources),
                         [](const auto& info) { return std::string(info.param.name); });

class HiveFileTest : public ::testing::Test {
 protected:
  HiveFileTest() {
    testing::WriteHive(file_, RegistryContent()
                                  .SetString(kOe, "store root", "C:\\OE")
                                  .SetString("Environment", "TEMP", "%USERPROFILE%\\Temp"));
    hive_ = testing::ReadFile(file_);
  }

  HiveOpenResult Reopen(const std::string& bytes) {
    return OpenHiveFile(dir_.Write("NTUSER.DAT", bytes).string());
  }

  // The file offset of the key record named `name` (its cell's size field).
  std::size_t KeyRecord(const std::string& name) {
    std::size_t at = hive_.find(name);
    EXPECT_NE(at, std::string::npos);
    return at - kKeyNameInRecord;
  }

  static constexpr std::size_t kKeyNameInRecord = 0x50;
  static constexpr std::size_t kValueNameInRecord = 0x18;
  static constexpr std::size_t kKeyValueListInRecord = 0x2C;
  static constexpr std::size_t kKeySubkeyListInRecord = 0x20;
  testing::TempDir dir_;
  std::filesystem::path file_ = dir_.path() / "NTUSER.DAT";
  std::string hive_;
  Windows1252CodePage code_page_;
  DiagnosticLog diagnostics_;
};

TEST_F(HiveFileTest, FilesThatAreNoUsableHiveSayWhy) {
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    HiveProblem problem;
    const char* says;
  };
  const Case cases[] = {
      {"empty", [](std::string& b) { b.clear(); }, HiveProblem::kNotAHive, "not a registry hive"},
      {"text", [](std::string& b) { b = "REGEDIT4\r\n"; }, HiveProblem::kNotAHive, "\"regf\""},
      {"Windows 9x", [](std::string& b) { b.replace(0, 4, "CREG"); }, HiveProblem::kWindows9x,
       "Windows 95/98/ME"},
      {"cut", [](std::string& b) { b.resize(0x1800); }, HiveProblem::kDamaged, "cut off"},
      {"version", [](std::string& b) { b[0x14] = 2; }, HiveProblem::kDamaged, "major version 2"},
      {"checksum", [](std::string& b) { b[0x40] ^= 1; }, HiveProblem::kDamaged, "checksum"},
      {"bin", [](std::string& b) { b[0x1000] = 'X'; }, HiveProblem::kDamaged, "bins are damaged"},
      {"root cell", [](std::string& b) { b[0x1024] = 'x'; }, HiveProblem::kDamaged,
       "bins are damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = hive_;
    c.damage(bytes);
    HiveOpenResult opened = Reopen(bytes);
    EXPECT_EQ(opened.problem, c.problem);
    EXPECT_NE(opened.error.find(c.says), std::string::npos) << opened.error;
    EXPECT_FALSE(opened.tree);
  }
  std::filesystem::create_directory(dir_.path() / "folder");
  EXPECT_EQ(OpenHiveFile((dir_.path() / "folder").string()).problem, HiveProblem::kUnreadable);
  EXPECT_EQ(OpenHiveFile((dir_.path() / "missing").string()).problem, HiveProblem::kUnreadable);
}

// A bad cell inside the bins spoils only the key that points at it: its values (or subkeys) are
// unreadable, reported once, and every other key reads as before.
TEST_F(HiveFileTest, DamageInsideOneKeyLeavesTheOthersReadable) {
  std::string bytes = hive_;
  const std::size_t oe = KeyRecord("Outlook Express");
  for (std::size_t i = 0; i < 4; ++i) bytes[oe + kKeyValueListInRecord + i] = '\x7F';
  const std::size_t microsoft = KeyRecord("Microsoft");
  HiveOpenResult opened = Reopen(bytes);
  ASSERT_TRUE(opened.tree);
  StoredRegistry registry(std::move(opened.tree), code_page_, &diagnostics_);

  std::optional<RegistryKey> key = registry.OpenCurrentUserKey(kOe);
  ASSERT_TRUE(key);
  RegistryValue value;
  EXPECT_EQ(registry.EnumValue(*key, 0, kNameBuffer, kDataBuffer, value), RegistryResult::kError);
  EXPECT_EQ(registry.QueryValue(*key, "store root", kDataBuffer, value), RegistryResult::kError);
  registry.CloseKey(*key);
  ASSERT_EQ(diagnostics_.entries().size(), 1u);
  EXPECT_NE(diagnostics_.entries()[0].problem.find("Outlook Express"), std::string::npos);

  key = registry.OpenCurrentUserKey("Environment");
  ASSERT_TRUE(key);
  EXPECT_EQ(registry.QueryValue(*key, "TEMP", kDataBuffer, value), RegistryResult::kSuccess);
  registry.CloseKey(*key);

  // The subkey index of "Microsoft" pointing nowhere: the keys below it cannot be opened.
  bytes = hive_;
  for (std::size_t i = 0; i < 4; ++i) bytes[microsoft + kKeySubkeyListInRecord + i] = '\x20';
  opened = Reopen(bytes);
  ASSERT_TRUE(opened.tree);
  StoredRegistry broken_index(std::move(opened.tree), code_page_);
  EXPECT_FALSE(broken_index.OpenCurrentUserKey(kOe));
  EXPECT_TRUE(broken_index.OpenCurrentUserKey("Environment"));
}

// Bytes of the bins set to 0xFF one at a time (every byte of the "Outlook Express" key record and
// of the "store root" value record, then spread over the rest): the hive opens or is refused, and
// whatever opens reads without a crash or a hang.
TEST_F(HiveFileTest, DamagedBytesGiveAnErrorOrAReadableRegistry) {
  std::vector<std::size_t> positions;
  const std::size_t oe = KeyRecord("Outlook Express");
  for (std::size_t at = oe; at < oe + kKeyNameInRecord; ++at) positions.push_back(at);
  const std::size_t store_root = hive_.find("store root") - kValueNameInRecord;
  for (std::size_t at = store_root; at < store_root + kValueNameInRecord; ++at) {
    positions.push_back(at);
  }
  for (std::size_t at = 0x1000; at < hive_.size(); at += 61) positions.push_back(at);
  std::size_t opened_count = 0;
  for (std::size_t at : positions) {
    std::string bytes = hive_;
    bytes[at] = '\xFF';
    HiveOpenResult opened = Reopen(bytes);
    if (!opened.tree) {
      EXPECT_EQ(opened.problem, HiveProblem::kDamaged);
      continue;
    }
    ++opened_count;
    StoredRegistry registry(std::move(opened.tree), code_page_, &diagnostics_);
    fuzz::WalkRegistry(registry, "", 8);
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
  }
  EXPECT_GT(opened_count, 0u);
}

class RegistryExportTest : public ::testing::Test {
 protected:
  RegistryExport Parse(const std::string& text) {
    return ParseRegistryExport(ViewOf(text), code_page_, "user.reg");
  }
  // The text of `name` under `key` in the parsed registry, or "<none>".
  std::string Text(RegistryExport& parsed, const std::string& key, const std::string& name) {
    if (parsed.tree)
      registry_ = std::make_unique<StoredRegistry>(std::move(parsed.tree), code_page_);
    if (!registry_) return "<no tree>";
    std::optional<RegistryKey> handle = registry_->OpenCurrentUserKey(key);
    if (!handle) return "<no key>";
    RegistryValue value;
    RegistryResult result = registry_->QueryValue(*handle, name, kDataBuffer, value);
    registry_->CloseKey(*handle);
    return result == RegistryResult::kSuccess ? value.Text() : "<none>";
  }

  Windows1252CodePage code_page_;
  std::unique_ptr<StoredRegistry> registry_;
};

// Written out as regedit writes them, independently of the test writer.
TEST_F(RegistryExportTest, ReadsRegeditTextInBothEncodings) {
  const std::string ansi =
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Outlook Express]\r\n"
      "\"Store Root\"=\"C:\\\\WINDOWS\\\\Application Data\\\\Outlook \\\"Express\\\"\"\r\n"
      "\"Expanded\"=hex(2):25,55,53,45,52,50,52,4f,46,49,4c,45,25,5c,e9,00\r\n"
      "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
      "  16,17\r\n"
      "@=dword:0000002a\r\n\r\n";
  RegistryExport parsed = Parse(ansi);
  EXPECT_EQ(parsed.root, "HKEY_CURRENT_USER");
  EXPECT_EQ(Text(parsed, kOe, "store root"), "C:\\WINDOWS\\Application Data\\Outlook \"Express\"");
  EXPECT_EQ(Text(parsed, kOe, "expanded"), "%USERPROFILE%\\\xE9");
  std::optional<RegistryKey> key = registry_->OpenCurrentUserKey(kOe);
  RegistryValue value;
  ASSERT_EQ(registry_->QueryValue(*key, "Long", kDataBuffer, value), RegistryResult::kSuccess);
  EXPECT_EQ(value.data.size(), 24u);
  EXPECT_EQ(value.data.back(), 0x17);
  ASSERT_EQ(registry_->QueryValue(*key, "", kDataBuffer, value), RegistryResult::kSuccess);
  EXPECT_EQ(value.data, (std::vector<std::uint8_t>{42, 0, 0, 0}));
  registry_->CloseKey(*key);

  // Version 5 in UTF-16LE: text types in hex(2) are UTF-16LE as stored.
  const std::string unicode_text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Identities\\{GUID}\\Software\\Microsoft\\Outlook Express\\5.0]\r\n"
      "\"Store Root\"=hex(2):25,00,55,00,53,00,45,00,52,00,50,00,52,00,4f,00,46,00,49,\\\r\n"
      "  00,4c,00,45,00,25,00,5c,00,e9,00,00,00\r\n"
      "\"Name\"=\"Caf\xC3\xA9\"\r\n\r\n";
  std::vector<std::uint8_t> utf16 = Utf8ToUtf16le(unicode_text);
  registry_.reset();
  parsed = Parse("\xFF\xFE" + std::string(utf16.begin(), utf16.end()));
  const std::string oe5 = "Identities\\{GUID}\\Software\\Microsoft\\Outlook Express\\5.0";
  EXPECT_EQ(Text(parsed, oe5, "store root"), "%USERPROFILE%\\\xE9");
  EXPECT_EQ(Text(parsed, oe5, "name"), "Caf\xE9");
}

TEST_F(RegistryExportTest, SkipsLinesThatDoNotParseAndNamesThem) {
  RegistryExport parsed = Parse(
      "REGEDIT4\n"
      "\"orphan\"=\"before any key\"\n"
      "[HKEY_CURRENT_USER\\K]\n"
      "\"good\"=\"1\"\n"
      "\"open=\"x\"\n"
      "\"noequals\" \"x\"\n"
      "\"dw\"=dword:123456789\n"
      "\"hx\"=hex:1,zz\n"
      "\"ty\"=hex(q):00\n"
      "\"str\"=\"unterminated\n"
      "\"junk\"=\"x\" y\n"
      "\"what\"=qword:1\n"
      "garbage\n"
      "[HKEY_CURRENT_USER\\K\n"
      "; a comment\n"
      "[HKEY_CURRENT_USER\\K]\n"
      "\"good2\"=\"2\"\n");
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.problems, (std::vector<std::string>{
                                 "line 2: a value outside any key",
                                 "line 5: no \"=\" after the value name",
                                 "line 6: no \"=\" after the value name",
                                 "line 7: a dword value that is not 1 to 8 hex digits",
                                 "line 8: hex data that is not comma-separated bytes",
                                 "line 9: a hex(type) value whose type does not parse",
                                 "line 10: a text value without its closing quote",
                                 "line 11: text after a value's closing quote",
                                 "line 12: a value of unknown form",
                                 "line 13: neither a key nor a value",
                                 "line 14: a key name without \"]\"",
                             }));
  EXPECT_EQ(Text(parsed, "K", "good"), "1");
  EXPECT_EQ(Text(parsed, "K", "good2"), "2");
}

TEST_F(RegistryExportTest, RemovalLinesTakeOutKeysAndValues) {
  RegistryExport parsed = Parse(
      "REGEDIT4\r\n"
      "[HKEY_CURRENT_USER\\A\\Gone]\r\n\"v\"=\"1\"\r\n"
      "[HKEY_CURRENT_USER\\A]\r\n\"keep\"=\"1\"\r\n\"drop\"=\"2\"\r\n\"drop\"=-\r\n"
      "\"keep\"=\"3\"\r\n"
      "[-HKEY_CURRENT_USER\\A\\Gone]\r\n");
  EXPECT_EQ(Text(parsed, "A", "keep"), "3");
  EXPECT_EQ(Text(parsed, "A", "drop"), "<none>");
  EXPECT_EQ(Text(parsed, "A\\Gone", "v"), "<no key>");
}

TEST_F(RegistryExportTest, TakesTheOneUserHiveLoadedElsewhereAndRefusesOtherTexts) {
  struct Case {
    const char* text;
    const char* root;   // expected root, or empty when
    const char* error;  // this error is expected
  };
  const Case cases[] = {
      {"REGEDIT4\n[HKEY_USERS\\S-1-5-21-7\\Software]\n[HKEY_USERS\\S-1-5-21-7_Classes\\x]\n",
       "HKEY_USERS\\S-1-5-21-7", ""},
      {"REGEDIT4\n[HKLM\\OldUser\\Software]\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\x]\n",
       "HKEY_LOCAL_MACHINE\\OldUser", ""},
      {"REGEDIT4\n[HKEY_USERS\\A\\x]\n[HKEY_USERS\\B\\x]\n", "",
       "several users' keys: HKEY_USERS\\A HKEY_USERS\\B"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\x]\n", "", "no keys of a user"},
      {"REGEDIT5\n[HKEY_CURRENT_USER\\x]\n", "", "not a registry export"},
      {"", "", "not a registry export"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RegistryExport parsed = Parse(c.text);
    EXPECT_EQ(parsed.root, c.root);
    EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    EXPECT_EQ(parsed.tree != nullptr, *c.error == '\0');
  }
}

TEST(RegistryExportFuzzCorpus, SeedsAndPastFindingsRunCleanly) {
  testing::ReplayFuzzInputs("registry_export_fuzz", {},
                            {{"regedit4.reg", 12}, {"regedit5.reg", 11}}, "",
                            fuzz::RunRegistryExportFuzz);
}

}  // namespace
}  // namespace kv::platform
