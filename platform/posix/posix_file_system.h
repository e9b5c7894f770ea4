#pragma once
// The file system on Linux: Windows-style paths in the store's code page are translated onto the
// copied store, component by component:
//   - "\" and "/" both separate; "." and ".." are resolved before anything is looked up;
//   - "X:" at the start is replaced by the folder the drive map gives for X (a drive without a
//     mapping makes the path fail); a path starting with a separator is a Linux absolute path;
//     anything else is relative to the working folder;
//   - each component is looked up as its exact bytes, then converted from the code page to UTF-8,
//     then among the folder's entries without regard to case (ASCII and the Latin letters of
//     U+00C0-U+017F); when several entries qualify the one first in byte order is taken;
//     failing all that, a short alias such as "PROGRA~1" is matched to a long name
//     (MatchShortNameAlias).
// Names returned by FindFirst are converted back from UTF-8 to the code page (a name on disk that
// is not valid UTF-8 is returned as it is). Files are opened for reading only, with O_RDONLY;
// only OpenForWriting and Delete change anything, and only what they are given.
//
// A folder's listing, once read to look for a name not spelled as on disk, is kept for a second
// (kListingLifetime), so that a file made again and again under one name in one folder (a
// temporary message file) costs no listing each time. OpenForWriting and Delete keep a kept
// listing current; a name that differs only in case from one made by other means in that second
// is found once the second is over. At most kMaxListings folders are kept.

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/iconv_code_page.h"

namespace kv::platform {

class PosixFileSystem final : public FileSystem {
 public:
  struct Options {
    // Drive letter (upper case) to the Linux folder that stands for the drive's root.
    std::map<char, std::string> drive_map;
    // The code page store paths are written in, as iconv names it.
    std::string code_page = "WINDOWS-1252";
  };

  PosixFileSystem();
  explicit PosixFileSystem(Options options);

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path,
                                               OpenMode mode = OpenMode::kBinary) override;
  // Creates or truncates the file (mode 0600); a missing last component is created under its
  // UTF-8 name.
  std::unique_ptr<WritableFile> OpenForWriting(const std::string& path) override;
  // mmap of the whole file; an empty file gives an empty view without a mapping.
  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override;
  std::unique_ptr<FileFinder> FindFirst(const std::string& pattern) override;
  bool Exists(const std::string& path) override;
  std::optional<FileStatus> Status(const std::string& path) override;
  bool Delete(const std::string& path) override;
  // The translated Linux path; for a missing last component, its UTF-8 name in the resolved
  // folder. Empty when the folder cannot be resolved.
  std::string NativePath(const std::string& path) override;

 private:
  // The Linux path of `path`; with `allow_missing_last` a last component that matches nothing
  // is taken as its UTF-8 form. nullopt when the path does not resolve.
  std::optional<std::string> Translate(const std::string& path, bool allow_missing_last);
  // The entry of `folder` that `component` names, as the Linux name; nullopt when none does.
  // `spelled_missing`: the caller found no entry spelled exactly as `component`.
  std::optional<std::string> ResolveComponent(const std::string& folder,
                                              const std::string& component,
                                              bool spelled_missing = false);
  // A name on disk in the store's code page.
  std::string NameInCodePage(const std::string& name_on_disk);

  struct Listing {
    std::chrono::steady_clock::time_point read;
    std::vector<std::string> names;  // as on disk, in listing order
    // Each case-folded name (FoldName) with the first, in byte order, of the names folding to it.
    std::map<std::u32string, std::string> folded;
  };
  // The listing of `folder`, read again when older than kListingLifetime; null when the folder
  // cannot be listed.
  const Listing* ListingOf(const std::string& folder);
  // Keeps a kept listing of the folder of `linux_path` current after the file was made or removed.
  void NoteCreated(const std::string& linux_path);
  void NoteDeleted(const std::string& linux_path);

  Options options_;
  IconvCodePage code_page_;
  std::unordered_map<std::string, Listing> listings_;  // by folder, as FolderKey gives it
};

}  // namespace kv::platform
