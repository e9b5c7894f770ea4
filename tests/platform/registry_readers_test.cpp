// The two stored registries (a hive file through hivex, an export text in either encoding)
// answer the ANSI registry calls alike: one contract run against each, then the in-memory
// registry, then what only one of them meets (damaged hives, malformed export lines). What each
// gives is rendered as text and compared with a golden file in tests/golden/platform/.
#include <gtest/gtest.h>

#include <functional>

#include "fuzz/registry_export_fuzz_run.h"
#include "platform/fake/fake_environment.h"
#include "platform/posix/hive_registry.h"
#include "platform/registry_export.h"
#include "platform/stored_registry.h"
#include "support/fuzz_inputs.h"
#include "support/golden.h"
#include "support/registry_writers.h"
#include "support/temp_dir.h"

namespace kv::platform {
namespace {

using testing::Escaped;
using testing::ExpectGolden;
using testing::ExportFormat;
using testing::RegistryContent;

constexpr std::size_t kNameBuffer = 80;   // RegEnumValueA's name buffer as the filters size it
constexpr std::size_t kDataBuffer = 783;  // and its data buffer
constexpr std::size_t kStringBuffer = 260;
constexpr const char* kOe = "Software\\Microsoft\\Outlook Express";

ByteView ViewOf(const std::string& bytes) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// A value's name, type and data for a golden file.
std::string Shown(const RegistryValue& value) {
  const std::string_view data(reinterpret_cast<const char*>(value.data.data()), value.data.size());
  return "\"" + Escaped(value.name) + "\" " + std::to_string(value.type) + " \"" + Escaped(data) +
         "\"\n";
}

// Every key below `path` as the filters read them, one "[key]" line followed by what EnumValue
// gives at each index with the filters' buffers ("name" type "data", or the result that is no
// value), then the subkeys in EnumKey's order.
std::string Render(Registry& registry, const std::string& path = "", int depth = 8) {
  std::string out = "[" + Escaped(path) + "]";
  std::optional<RegistryKey> key = registry.OpenCurrentUserKey(path);
  if (!key) return out + " does not open\n";
  out += "\n";
  RegistryValue value;
  for (std::uint32_t index = 0; index < 100; ++index) {
    const RegistryResult result = registry.EnumValue(*key, index, kNameBuffer, kDataBuffer, value);
    if (result == RegistryResult::kNoMoreItems) break;
    if (result == RegistryResult::kSuccess) {
      out += "  " + Shown(value);
    } else {
      out += "  #" + std::to_string(index) +
             (result == RegistryResult::kMoreData ? " more data\n" : " error\n");
      if (result != RegistryResult::kMoreData) break;
    }
  }
  std::vector<std::string> subkeys;
  std::string name;
  while (subkeys.size() < 100 &&
         registry.EnumKey(*key, std::uint32_t(subkeys.size()), name) == RegistryResult::kSuccess) {
    subkeys.push_back(name);
  }
  registry.CloseKey(*key);
  for (const std::string& subkey : subkeys) {
    if (depth > 0) out += Render(registry, path.empty() ? subkey : path + "\\" + subkey, depth - 1);
  }
  return out;
}

// What QueryValue answers for `name` in `key` with a data buffer of `buffer` bytes, as a line.
std::string Query(Registry& registry, const std::string& key_path, const std::string& name,
                  std::size_t buffer = kStringBuffer) {
  std::string out = "query [" + Escaped(key_path) + "] \"" + Escaped(name) + "\" in " +
                    std::to_string(buffer) + ": ";
  std::optional<RegistryKey> key = registry.OpenCurrentUserKey(key_path);
  if (!key) return out + "no key\n";
  RegistryValue value;
  const RegistryResult result = registry.QueryValue(*key, name, buffer, value);
  registry.CloseKey(*key);
  return out + (result == RegistryResult::kSuccess    ? Shown(value)
                : result == RegistryResult::kNotFound ? "not found\n"
                : result != RegistryResult::kMoreData
                    ? "error\n"
                    : "more data, needs " + std::to_string(value.required_size) + "\n");
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

  testing::TempDir dir_;
  Windows1252CodePage code_page_;
  DiagnosticLog diagnostics_;
  std::unique_ptr<StoredRegistry> registry_;
};

// Every source gives the same registry, as the golden file shows it. Names match without regard
// to case and are converted to Windows-1252 ("ENTWÜRFE" finds "Entwürfe"); values enumerate in
// stored order, subkeys in index order. RegEnumValueA weighs the ANSI name (with its NUL) and
// data against the buffers (keys A to D: the largest that fit, then one byte more), and
// RegQueryValueExA answers a buffer too small with the size the ANSI data needs. Text types are
// converted ("?" for what the code page lacks), other types kept as stored.
TEST_P(StoredRegistryContractTest, AnswersTheAnsiCallsAsTheGoldenFileShows) {
  const std::string fits(kDataBuffer - 1, 'd');  // 782 characters and the NUL: 783 bytes
  std::vector<std::uint8_t> multi = testing::StoredText("one");
  for (std::uint8_t byte : testing::StoredText("caf\xC3\xA9")) multi.push_back(byte);
  multi.insert(multi.end(), {0, 0});
  StoredRegistry& registry =
      Load(RegistryContent()
               .SetString(kOe, "Store Root", "C:\\OE")
               .SetString("Software\\Entw\xC3\xBCrfe",
                          "\xC3\x9C"
                          "ber",
                          "yes")
               .SetString("Software\\Vendor", "zeta", "1")
               .SetString("Software\\Vendor", "", "default")
               .SetDword("Software\\Vendor", "Alpha", 7)
               .AddKey("Software\\Vendor\\beta")
               .AddKey("Software\\Vendor\\Alpha")
               .AddKey("Software\\Vendor\\\xC3\xA9t\xC3\xA9")
               .SetString("A", std::string(kNameBuffer - 1, 'n'), fits)
               .SetString("A", "after", "x")
               .SetString("B", std::string(kNameBuffer, 'n'), "x")
               .SetString("B", "store root", "C:\\OE")
               .SetString("C", "big", fits + "d")
               .SetString("C", "store root", "C:\\OE")
               .SetValue("D", "bin", kRegBinary, std::vector<std::uint8_t>(kDataBuffer + 1, 0x41))
               .SetString("N", "popstatePath", "C:\\Users\\" + std::string(300, 'u'))
               .SetString("T", "expand", "%USERPROFILE%\\Mail\xE2\x82\xAC", kRegExpandSz)
               .SetValue("T", "multi", testing::kRegMultiSz, multi)
               .SetDword("T", "number", 0x01020304)
               .SetValue("T", "binary", kRegBinary, {0x00, 0xFF, 0x10})
               .SetString("T", "greek", "\xCE\xA9"));
  std::string out = Render(registry);
  out += Query(registry, "SOFTWARE\\microsoft\\OUTLOOK express", "STORE ROOT");
  out += Query(registry, "software\\ENTW\xDCRFE\\",
               "\xFC"
               "ber");
  out += Query(registry, "Software\\Netscape", "x");
  out += Query(registry, std::string(kOe) + "\\5.0", "x");
  out += Query(registry, kOe, "Store Root2");
  out += Query(registry, "N", "popstatePath");
  out += Query(registry, "N", "popstatePath", 309);
  out += Query(registry, "N", "popstatePath", 310);
  out += Query(registry, "T", "greek", 1);
  ExpectGolden(out, "platform/stored-registry.txt");
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
  EXPECT_EQ(diagnostics_.entries().size(), 0u);

  std::optional<RegistryKey> key = registry.OpenCurrentUserKey(kOe);
  ASSERT_TRUE(key);
  registry.CloseKey(*key);
  RegistryValue value;
  EXPECT_EQ(registry.EnumValue(*key, 0, kNameBuffer, kDataBuffer, value), RegistryResult::kError);
}

INSTANTIATE_TEST_SUITE_P(Sources, StoredRegistryContractTest, ::testing::ValuesIn(kSources),
                         [](const auto& info) { return std::string(info.param.name); });

// The in-memory registry that stands in where no stored one is loaded weighs names and data
// against the buffers as the stored ones do.
TEST(MemoryRegistryTest, AnswersTheAnsiCallsAsTheGoldenFileShows) {
  MemoryRegistry registry;
  const std::string fits(kDataBuffer - 1, 'd');
  registry.SetString("A", std::string(kNameBuffer - 1, 'n'), fits);
  registry.SetString("A", "after", "x");
  registry.SetString("B", std::string(kNameBuffer, 'n'), "x");
  registry.SetString("C", "big", fits + "d");
  registry.SetString("Software\\Mail\\CommandLine", "Current", "C:\\EUDORA\\eudora.exe x y");
  registry.SetDword("Software\\Mail\\CommandLine", "A Longer Value Name", 7);
  registry.SetString("Software\\Mail\\Profiles\\Ann", "", "default");
  const std::string mail = "software\\MAIL\\commandline";
  ExpectGolden(Render(registry) + Query(registry, mail, "CURRENT", 24) +
                   Query(registry, mail, "CURRENT", 25) + Query(registry, mail, "missing") +
                   Query(registry, "Software\\Nothing", "x"),
               "platform/memory-registry.txt");
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
  std::optional<RegistryKey> key = registry.OpenCurrentUserKey(mail);
  ASSERT_TRUE(key);
  registry.CloseKey(*key);
  RegistryValue value;
  EXPECT_EQ(registry.EnumValue(*key, 0, kNameBuffer, kDataBuffer, value), RegistryResult::kError);
}

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

// Each damage and the whole error it gives are in the golden file.
TEST_F(HiveFileTest, FilesThatAreNoUsableHiveSayWhy) {
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
  };
  const Case cases[] = {
      {"empty", [](std::string& b) { b.clear(); }},
      {"text", [](std::string& b) { b = "REGEDIT4\r\n"; }},
      {"Windows 9x", [](std::string& b) { b.replace(0, 4, "CREG"); }},
      {"cut", [](std::string& b) { b.resize(0x1800); }},
      {"version", [](std::string& b) { b[0x14] = 2; }},
      {"checksum", [](std::string& b) { b[0x40] ^= 1; }},
      {"bin", [](std::string& b) { b[0x1000] = 'X'; }},
      {"root cell", [](std::string& b) { b[0x1024] = 'x'; }},
  };
  std::string out;
  auto add = [&](const std::string& name, const HiveOpenResult& opened) {
    EXPECT_FALSE(opened.tree) << name;
    const char* problems[] = {"none", "unreadable", "not a hive", "Windows 9x", "damaged"};
    out += name + ": " + problems[int(opened.problem)] + ": " + opened.error + "\n";
  };
  for (const Case& c : cases) {
    std::string bytes = hive_;
    c.damage(bytes);
    add(c.name, Reopen(bytes));
  }
  std::filesystem::create_directory(dir_.path() / "folder");
  add("folder", OpenHiveFile((dir_.path() / "folder").string()));
  add("missing", OpenHiveFile((dir_.path() / "missing").string()));
  for (std::size_t at; (at = out.find(dir_.path().string())) != std::string::npos;) {
    out.replace(at, dir_.path().string().size(), "<dir>");
  }
  ExpectGolden(out, "platform/hive-refused.txt");
}

// A bad cell inside the bins spoils only the key that points at it: its values (or subkeys) are
// unreadable, reported once, and every other key reads as before. First the value list of
// "Outlook Express" points nowhere, then the subkey index of "Microsoft".
TEST_F(HiveFileTest, DamageInsideOneKeyLeavesTheOthersReadable) {
  std::string out;
  for (std::size_t field : {KeyRecord("Outlook Express") + kKeyValueListInRecord,
                            KeyRecord("Microsoft") + kKeySubkeyListInRecord}) {
    std::string bytes = hive_;
    for (std::size_t i = 0; i < 4; ++i) bytes[field + i] = '\x7F';
    HiveOpenResult opened = Reopen(bytes);
    ASSERT_TRUE(opened.tree);
    StoredRegistry registry(std::move(opened.tree), code_page_, &diagnostics_);
    out += Render(registry) + Query(registry, kOe, "store root");
    out += Query(registry, "Environment", "TEMP");
  }
  for (const Diagnostic& diagnostic : diagnostics_.entries()) {
    out += "reported: " + diagnostic.problem + "; lost: " + diagnostic.lost + "\n";
  }
  ExpectGolden(out, "platform/hive-damaged-key.txt");
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

// What an export text gives: the key it stands for or why it is refused, the lines it skipped, and
// the registry read from it.
std::string RenderExport(const std::string& text) {
  Windows1252CodePage code_page;
  RegistryExport parsed = ParseRegistryExport(ViewOf(text), code_page, "user.reg");
  std::string out = "root: " + parsed.root + "\nerror: " + parsed.error + "\n";
  for (const std::string& problem : parsed.problems) out += "skipped " + problem + "\n";
  EXPECT_EQ(parsed.tree != nullptr, parsed.error.empty());
  if (!parsed.tree) return out;
  StoredRegistry registry(std::move(parsed.tree), code_page);
  return out + Render(registry);
}

// Export texts written out by hand, independently of the test writer, and what each gives in the
// golden file.
TEST(RegistryExportTest, ExportsReadAsTheGoldenFileShows) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"lines that do not parse are skipped and named",
       "REGEDIT4\n"
       "\"orphan\"=\"before any key\"\n"
       "[HKEY_CURRENT_USER\\K]\n"
       "\"good\"=\"C:\\\\Outlook \\\"Express\\\"\"\n"
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
       "\"good2\"=\"2\"\n"},
      {"removal lines take out keys and values",
       "REGEDIT4\r\n"
       "[HKEY_CURRENT_USER\\A\\Gone]\r\n\"v\"=\"1\"\r\n"
       "[HKEY_CURRENT_USER\\A]\r\n\"keep\"=\"1\"\r\n\"drop\"=\"2\"\r\n\"drop\"=-\r\n"
       "\"keep\"=\"3\"\r\n"
       "[-HKEY_CURRENT_USER\\A\\Gone]\r\n"},
      // The one user hive loaded elsewhere is taken; other texts are refused.
      {"one user under HKEY_USERS, its classes beside it",
       "REGEDIT4\n[HKEY_USERS\\S-1-5-21-7\\Software]\n[HKEY_USERS\\S-1-5-21-7_Classes\\x]\n"},
      {"a hive loaded under HKLM by hand",
       "REGEDIT4\n[HKLM\\OldUser\\Software]\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\x]\n"},
      {"several users", "REGEDIT4\n[HKEY_USERS\\A\\x]\n[HKEY_USERS\\B\\x]\n"},
      {"no user", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\x]\n"},
      {"another header", "REGEDIT5\n[HKEY_CURRENT_USER\\x]\n"},
      {"empty", ""},
  };
  std::string out;
  // The fuzzer's seeds, as regedit writes them: REGEDIT4 (hex(2) in the code page, wrapped hex,
  // the default value, removal lines), and version 5 in UTF-16LE (hex(2) and hex(7) in UTF-16LE).
  for (const std::string seed : {"regedit4.reg", "regedit5.reg"}) {
    out += "=== seed " + seed + "\n" +
           RenderExport(testing::ReadFile(std::filesystem::path(KV_SOURCE_DIR) /
                                          "tests/fuzz/corpus/registry_export_fuzz" / seed));
  }
  for (const auto& c : cases) out += std::string("=== ") + c.name + "\n" + RenderExport(c.text);
  ExpectGolden(out, "platform/registry-exports.txt");
}

TEST(RegistryExportFuzzCorpus, SeedsAndPastFindingsRunCleanly) {
  testing::ReplayFuzzInputs("registry_export_fuzz", {},
                            {{"regedit4.reg", 12}, {"regedit5.reg", 11}}, "",
                            fuzz::RunRegistryExportFuzz);
}

}  // namespace
}  // namespace kv::platform
