// One set of file system expectations run against the Linux file system (on a real temporary
// folder mapped to drive C:) and the in-memory fake, so tests written against the fake hold on
// the real thing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/fake/fake_environment.h"
#include "platform/fake/memory_file_system.h"
#include "platform/held_temp_files.h"
#include "platform/posix/posix_file_system.h"
#include "support/golden.h"
#include "support/temp_dir.h"

namespace kv::platform {
namespace {

using testing::Escaped;
using testing::ExpectGolden;

// A store seen through one FileSystem; paths given to Add* are Windows paths below C:\ in
// Windows-1252.
class StoreUnderTest {
 public:
  virtual ~StoreUnderTest() = default;
  virtual FileSystem& files() = 0;
  virtual void AddFile(const std::string& relative, const std::string& bytes) = 0;
  virtual void AddDirectory(const std::string& relative) = 0;
};

class PosixStore final : public StoreUnderTest {
 public:
  PosixStore() : files_(PosixFileSystem::Options{{{'C', dir_.path().string()}}}) {}
  FileSystem& files() override { return files_; }
  void AddFile(const std::string& relative, const std::string& bytes) override {
    dir_.Write(OnDisk(relative), bytes);
  }
  void AddDirectory(const std::string& relative) override {
    std::filesystem::create_directories(dir_.path() / OnDisk(relative));
  }

 private:
  static std::string OnDisk(const std::string& relative) {
    std::string name = Windows1252CodePage().ToUtf8(relative);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
  }
  testing::TempDir dir_;
  PosixFileSystem files_;
};

class MemoryStore final : public StoreUnderTest {
 public:
  FileSystem& files() override { return files_; }
  void AddFile(const std::string& relative, const std::string& bytes) override {
    files_.AddFile("C:\\" + relative, bytes);
  }
  void AddDirectory(const std::string& relative) override {
    files_.AddDirectory("C:\\" + relative);
  }

 private:
  MemoryFileSystem files_;
};

// Files of one folder held in memory in front of the Linux file system; files there larger than
// the spill size go to disk.
class HeldStore final : public StoreUnderTest {
 public:
  explicit HeldStore(std::string folder) : folder_("C:\\" + folder + "\\") {
    disk_.AddDirectory(folder);
  }
  FileSystem& files() override { return held_; }
  void AddFile(const std::string& relative, const std::string& bytes) override {
    if (!std::string("C:\\" + relative).starts_with(folder_)) return disk_.AddFile(relative, bytes);
    std::unique_ptr<WritableFile> out = held_.OpenForWriting("C:\\" + relative);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(
        out->Write(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())));
    ASSERT_TRUE(out->Close());
  }
  void AddDirectory(const std::string& relative) override { disk_.AddDirectory(relative); }

 private:
  static constexpr std::size_t kSpillSize = 180000;

  std::string folder_;
  PosixStore disk_;
  MemoryFileSystem names_;  // only for a TempFiles whose folder is folder_
  MemoryTempFiles temp_{names_, folder_};
  HeldTempFiles held_{disk_.files(), temp_, kSpillSize};
};

using StoreFactory = std::function<std::unique_ptr<StoreUnderTest>()>;

class FileSystemContractTest : public ::testing::TestWithParam<StoreFactory> {
 protected:
  void SetUp() override {
    store_ = GetParam()();
    store_->AddFile("Mail\\KDE.dbx", "dbx bytes");
    store_->AddFile("Eudora\\Eudora.ini", "[Settings]\r\nRealName=Ann\r\n");
    store_->AddFile("Mail\\Gel\xF6schte Objekte.dbx", "deleted");
    store_->AddFile("p\\data.bin", "0123456789");
    store_->AddFile("p\\empty.bin", "");
  }
  FileSystem& files() { return store_->files(); }

  std::optional<std::string> ReadWhole(const std::string& path, OpenMode mode = OpenMode::kBinary) {
    std::unique_ptr<ReadableFile> file = files().OpenForReading(path, mode);
    if (!file) return std::nullopt;
    std::string all;
    std::uint8_t buffer[5];
    while (std::optional<std::size_t> count = file->Read(buffer)) {
      if (*count == 0) return all;
      all.append(reinterpret_cast<const char*>(buffer), *count);
    }
    return std::nullopt;
  }

  // What the file system says of `path`, on one line: whether it exists, its status, its bytes
  // (in text mode too where they differ), its mapping, and what a search for it finds.
  std::string Look(const std::string& path) {
    std::string line = Escaped(path) + ":";
    if (files().Exists(path)) line += " exists";
    if (std::optional<FileStatus> status = files().Status(path)) {
      line += status->IsDirectory() ? " folder" : " file of " + std::to_string(status->size);
    }
    const std::optional<std::string> bytes = ReadWhole(path);
    if (bytes) line += " \"" + Escaped(*bytes) + "\"";
    if (const auto text = ReadWhole(path, OpenMode::kText); text != bytes) {
      line += " text \"" + Escaped(text.value_or("<none>")) + "\"";
    }
    if (std::unique_ptr<MappedFile> mapped = files().MapReadOnly(path)) {
      const std::string_view map(reinterpret_cast<const char*>(mapped->bytes().data()),
                                 mapped->bytes().size());
      line += map == bytes ? " maps them" : " maps \"" + Escaped(map) + "\"";
    }
    if (std::unique_ptr<FileFinder> finder = files().FindFirst(path)) {
      line += " finds";
      while (std::optional<FindEntry> entry = finder->Next()) {
        line += " " + Escaped(entry->name) +
                (entry->IsDirectory() ? "\\" : "(" + std::to_string(entry->size) + ")");
      }
    }
    return line + "\n";
  }

  std::unique_ptr<StoreUnderTest> store_;
};

// Every implementation says the same of each path, as the golden file shows: separators, case and
// the code page do not matter, ".." is resolved in the text of the path and cannot leave the
// drive, searches take Windows wildcards and list in a fixed order, a search without wildcards
// finds the one entry spelled as stored, long names are found behind their short aliases (a name
// that has the short form itself only by that name), text mode turns CR LF into LF and stops at
// Ctrl-Z, and a mapping holds the bytes a read gives.
TEST_P(FileSystemContractTest, ResolvesPathsAndFindsAsTheGoldenFileShows) {
  for (const char* name : {"Inbox", "Inbox.snm", "trash", "Old.2000", "b.MBX", "a.mbx", "Zeta"}) {
    store_->AddFile(std::string("N\\") + name, "x");
  }
  store_->AddDirectory("N\\Work.sbd");
  store_->AddDirectory("N\\Sub");
  store_->AddFile("Program Files\\Qualcomm\\Eudora Mail\\In box.mbx", "in");
  store_->AddDirectory("Programme alt");
  store_->AddDirectory("PROGRA~3");
  store_->AddFile("t\\a.txt", std::string("a\r\nb\r\rc\n\r\x1A") + "after");
  std::string out;
  for (const char* path : {"C:\\Mail\\KDE.dbx",
                           "c:/mail\\kde.DBX",
                           "C:\\EUDORA\\eudora.ini",
                           "C:\\Mail\\Gel\xF6schte Objekte.dbx",
                           "C:\\MAIL\\GEL\xD6SCHTE OBJEKTE.DBX",
                           "C:\\..\\..\\Mail\\Old\\..\\KDE.dbx",
                           "C:\\Mail\\KDE.dbx\\inner",
                           "C:\\Mail\\missing.dbx",
                           "D:\\Mail\\KDE.dbx",
                           "C:\\MAIL",
                           "C:\\",
                           "",
                           "C:\\N\\*.",
                           "C:/n/*.mbx",
                           "C:\\N\\*",
                           "C:\\N\\*.*",
                           "C:\\N\\INBOX.SNM",
                           "C:\\n\\work.SBD",
                           "C:\\Mail\\*.dbx",
                           "C:\\N\\*.toc",
                           "C:\\Missing\\*",
                           "C:\\N\\",
                           "C:\\PROGRA~1\\QUALCOMM\\EUDORA~1\\INBOX~1.MBX",
                           "C:\\PROGRA~1\\Qualcomm\\EUDORA~1",
                           "C:\\PROGRA~2",
                           "C:\\PROGRA~3",
                           "C:\\PROGRA~4",
                           "C:\\Mail\\KDE~1.DBX",
                           "C:\\Mail\\GEL\xD6SC~1.DBX",
                           "C:\\t\\a.txt",
                           "c:\\P\\data.bin",
                           "C:\\p\\empty.bin",
                           "C:\\p\\none.bin"}) {
    out += Look(path);
  }
  ExpectGolden(out, "platform/file-system-paths.txt");
}

TEST_P(FileSystemContractTest, TextModeReadsLinesAcrossChunks) {
  std::string long_line(4095, 'x');  // puts a CR LF across the reader's 4096-byte chunks
  store_->AddFile("t\\long.txt", long_line + "\r\ny\r\n");
  EXPECT_EQ(ReadWhole("C:\\t\\long.txt", OpenMode::kText), long_line + "\ny\n");

  std::unique_ptr<ReadableFile> file = files().OpenForReading("C:\\t\\long.txt", OpenMode::kText);
  ASSERT_NE(file, nullptr);
  std::string line;
  ASSERT_TRUE(ReadLine(*file, line));
  EXPECT_EQ(line, long_line);
  EXPECT_EQ(file->Tell(), 4097u);  // positions count the bytes of the file, CR included
  ASSERT_TRUE(ReadLine(*file, line));
  EXPECT_EQ(line, "y");
  EXPECT_FALSE(ReadLine(*file, line));
}

TEST_P(FileSystemContractTest, ReadsAtPositions) {
  std::unique_ptr<ReadableFile> file = files().OpenForReading("C:\\p\\DATA.bin");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 10u);
  std::uint8_t buffer[4];
  ASSERT_TRUE(file->Seek(6));
  EXPECT_EQ(file->Read(buffer), 4u);
  EXPECT_EQ(std::string(buffer, buffer + 4), "6789");
  EXPECT_EQ(file->Read(buffer), 0u);
  ASSERT_TRUE(file->Seek(2));
  EXPECT_EQ(file->Read(std::span(buffer, 3)), 3u);
  EXPECT_EQ(file->Tell(), 5u);
  EXPECT_EQ(std::string(buffer, buffer + 3), "234");
  ASSERT_TRUE(file->Seek(100));
  EXPECT_EQ(file->Read(buffer), 0u);

  // One read delivers everything asked for that the file holds, wherever buffers end inside.
  std::string large(200000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 % 251);
  store_->AddFile("p\\large.bin", large);
  std::unique_ptr<ReadableFile> big = files().OpenForReading("C:\\p\\large.bin");
  ASSERT_NE(big, nullptr);
  std::vector<std::uint8_t> chunk(65500);
  ASSERT_EQ(big->Read(chunk), chunk.size());
  chunk.resize(100);
  ASSERT_EQ(big->Read(chunk), 100u);
  EXPECT_EQ(std::string(chunk.begin(), chunk.end()), large.substr(65500, 100));
  chunk.resize(large.size());
  EXPECT_EQ(big->Read(chunk), large.size() - 65600);
  EXPECT_EQ(std::string(chunk.begin(), chunk.begin() + (large.size() - 65600)),
            large.substr(65600));
  // Small reads that jump about, each from its own position.
  for (std::size_t at : {150000u, 4000u, 4090u, 199990u, 8200u}) {
    ASSERT_TRUE(big->Seek(at));
    chunk.resize(10);
    ASSERT_EQ(big->Read(chunk), 10u);
    EXPECT_EQ(std::string(chunk.begin(), chunk.end()), large.substr(at, 10));
  }
}

TEST_P(FileSystemContractTest, WritesAndDeletes) {
  store_->AddDirectory("out");
  std::unique_ptr<WritableFile> out = files().OpenForWriting("C:\\OUT\\msg.tmp");
  ASSERT_NE(out, nullptr);
  const std::uint8_t bytes[] = {'h', 'i', '\r', '\n'};
  EXPECT_TRUE(out->Write(bytes));
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(ReadWhole("C:\\out\\MSG.TMP"), "hi\r\n");
  // Writing to a name that differs only in case replaces the existing file.
  out = files().OpenForWriting("C:\\out\\MSG.TMP");
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(Look("C:\\out\\*"), "C:\\out\\*: finds msg.tmp(0)\n");
  EXPECT_EQ(files().OpenForWriting("C:\\nowhere\\msg.tmp"), nullptr);
  EXPECT_EQ(files().OpenForWriting("C:\\out"), nullptr);

  EXPECT_FALSE(files().Delete("C:\\mail"));
  EXPECT_FALSE(files().Delete("C:\\mail\\nothing"));
  EXPECT_TRUE(files().Delete("C:\\out\\msg.TMP"));
  EXPECT_FALSE(files().Exists("C:\\out\\msg.tmp"));
  EXPECT_FALSE(files().NativePath("C:\\out\\new.tmp").empty());
  EXPECT_TRUE(files().NativePath("C:\\nowhere\\new.tmp").empty());
}

TEST_P(FileSystemContractTest, CopiesFromAReadableFileAtItsPosition) {
  std::string large(150000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 % 251);
  store_->AddFile("p\\large.bin", large);
  std::unique_ptr<ReadableFile> from = files().OpenForReading("C:\\p\\large.bin");
  ASSERT_NE(from, nullptr);
  std::uint8_t head[3];
  ASSERT_EQ(from->Read(head), 3u);  // the copy starts where reading stopped
  std::unique_ptr<WritableFile> out = files().OpenForWriting("C:\\p\\copy.bin");
  ASSERT_NE(out, nullptr);
  const std::uint8_t lead[] = {'>'};
  ASSERT_TRUE(out->Write(lead));  // and follows what was written before it
  std::vector<std::uint8_t> buffer(4096);
  WritableFile::CopyResult copy = out->CopyFrom(*from, 100000, buffer);
  EXPECT_EQ(copy.copied, 100000u);
  EXPECT_FALSE(copy.write_failed);
  EXPECT_EQ(from->Tell(), 100003u);
  // Asked for more than the file holds: the rest, without a write failure.
  copy = out->CopyFrom(*from, 100000, buffer);
  EXPECT_EQ(copy.copied, large.size() - 100003);
  EXPECT_FALSE(copy.write_failed);
  ASSERT_TRUE(out->Close());
  EXPECT_EQ(ReadWhole("C:\\p\\copy.bin"), ">" + large.substr(3));
}

constexpr const char* kStoreNames[] = {"Posix", "Memory", "HeldP", "HeldOut", "HeldT"};

INSTANTIATE_TEST_SUITE_P(
    Implementations, FileSystemContractTest,
    ::testing::Values(StoreFactory([] { return std::make_unique<PosixStore>(); }),
                      StoreFactory([] { return std::make_unique<MemoryStore>(); }),
                      StoreFactory([] { return std::make_unique<HeldStore>("p"); }),
                      StoreFactory([] { return std::make_unique<HeldStore>("out"); }),
                      StoreFactory([] { return std::make_unique<HeldStore>("t"); })),
    [](const auto& info) { return std::string(kStoreNames[info.index]); });

}  // namespace
}  // namespace kv::platform
