// Finding the store: the current identity's "store root" in the registry, and IsSystemFound's
// location dialog and question 126 when the registry names nothing usable.

#include "oe5/oe5_store_discovery.h"
#include "oe5_fixture.h"

namespace kv::testing {
namespace {

class Oe5DiscoveryTest : public Oe5FilterTest {
 protected:
  void SetValue(const std::string& name, const std::string& data) {
    registry.SetString(IdentityKey(), name, data);
  }
  std::string Found() { return FindStoreRoot(registry, environment); }

  int Shown(const std::string& prefix) const {
    int count = 0;
    for (const std::string& line : ui.transcript()) count += line.starts_with(prefix);
    return count;
  }
};

TEST_F(Oe5DiscoveryTest, StoreRootOfTheCurrentIdentity) {
  environment.Set("APPDATA", "C:\\Users\\ann\\AppData");
  const std::string long_data(783, 'x');
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> values;  // in enumeration order
    std::string root;
  };
  const Case cases[] = {
      {"plain", {{"Store Root", "C:\\Mail"}}, "C:\\Mail"},
      {"name in any case, after other values",
       {{"Other", "1"}, {"STORE ROOT", "D:\\OE"}},
       "D:\\OE"},
      {"variable and trailing backslash",
       {{"Store Root", "%APPDATA%\\Identities\\"}},
       "C:\\Users\\ann\\AppData\\Identities"},
      {"two trailing backslashes lose one", {{"store root", "C:\\Mail\\\\"}}, "C:\\Mail\\"},
      {"unknown variable stays", {{"store root", "%NOPE%\\Mail"}}, "%NOPE%\\Mail"},
      {"empty value", {{"store root", ""}}, ""},
      {"a name of 80 bytes before it ends the search",
       {{std::string(80, 'n'), "1"}, {"store root", "C:\\Mail"}},
       ""},
      {"data over 782 bytes before it ends the search",
       {{"Big", long_data}, {"store root", "C:\\Mail"}},
       ""},
      {"a name of 79 bytes and 782 of data are fine",
       {{std::string(79, 'n'), long_data.substr(1)}, {"store root", "C:\\Mail"}},
       "C:\\Mail"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    registry = platform::MemoryRegistry();
    registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, kIdentity);
    for (const auto& [name, data] : c.values) SetValue(name, data);
    EXPECT_EQ(Found(), c.root);
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
  }

  // An expansion too long for its buffer leaves the value as it was.
  environment.Set("LONG", std::string(300, 'L'));
  registry = platform::MemoryRegistry();
  registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, kIdentity);
  SetValue("store root", "%LONG%\\");
  EXPECT_EQ(Found(), "%LONG%");
}

TEST_F(Oe5DiscoveryTest, WithoutLastUserIdTheIdentityKeyIsNotTried) {
  SetValue("store root", "C:\\Mail");
  EXPECT_EQ(Found(), "");
  // An identity key of the empty id exists too, and is not looked at either.
  registry.SetString("Identities\\\\Software\\Microsoft\\Outlook Express\\5.0", "store root", "X");
  EXPECT_EQ(Found(), "");
  registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, kIdentity);
  EXPECT_EQ(Found(), "C:\\Mail");
}

TEST_F(Oe5DiscoveryTest, RegistryStoreIsLoadedWithoutAnyDialog) {
  DbxStore store = DbxLocalStore();
  store.AddFolder("Inbox", 1, Oe5Messages({kDbxRead}));
  PutStore(store);
  EXPECT_TRUE(filter->IsSystemFound());
  EXPECT_EQ(Shown("dialog"), 0);
}

// Without a usable registry entry the location dialog asks; a folder without a usable
// "Folders.dbx" brings question 126, whose Yes shows the dialog again with that folder proposed.
TEST_F(Oe5DiscoveryTest, LocationDialogAndQuestion126) {
  DbxStore store = DbxLocalStore();
  store.AddFolder("Inbox", 1, Oe5Messages({kDbxRead}));
  store.AddTo(files, "C:\\Good");
  files.AddFile("C:\\Bad\\Folders.dbx", std::string(100, '\0'));

  // Cancel at once: no question.
  ui.AnswerLocation(std::nullopt);
  EXPECT_FALSE(filter->IsSystemFound());
  EXPECT_EQ(Shown("message:"), 0);

  // A bad folder, Yes, then the good one.
  ui.AnswerLocation("C:\\Bad");
  ui.AnswerMessageBox(platform::kIdYes);
  ui.AnswerLocation("C:\\Good");
  EXPECT_TRUE(filter->IsSystemFound());
  EXPECT_EQ(Shown("message: Import messages: Message storage is corrupted"), 1);
  EXPECT_EQ(Shown("shown 1005: C:\\Bad"), 1);  // the second dialog proposed the failed folder

  // A bad folder, then No.
  ui.AnswerLocation("C:\\Missing");
  ui.AnswerMessageBox(platform::kIdNo);
  EXPECT_FALSE(filter->IsSystemFound());
  EXPECT_EQ(Shown("message: Import messages: Message storage is corrupted"), 2);

  // The registry's folder is unusable: question first, then the dialog proposes it.
  registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, kIdentity);
  SetValue("store root", "C:\\Bad\\");
  ui.AnswerMessageBox(platform::kIdYes);
  ui.AnswerLocation("C:\\Good");
  filter = NewFilter();
  EXPECT_TRUE(filter->IsSystemFound());
  EXPECT_EQ(Shown("shown 1005: C:\\Bad"), 2);
}

}  // namespace
}  // namespace kv::testing
