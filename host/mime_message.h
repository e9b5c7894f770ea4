#pragma once
// Rebuilding a whole MIME message from a message a filter hands over in pieces (the Eudora filter):
// header values, the body text, an HTML part, a rich-text file and attachment files, written as one
// RFC 5322 message (GMime formats the header blocks) with CR LF line ends, or LF when asked.
//
// Structure: the body as text/plain, with the HTML part as its text/html alternative (alone when
// the body holds nothing but blanks); images embedded in the HTML (the "Embedded Content:" lines of
// the body) as related parts of the HTML when it refers to them, else as attachments; then the
// rich-text file and every attachment file as base64 attachments, and a short text part naming
// the attachments that could not be found. Texts keep their bytes: their charset is us-ascii for
// plain ASCII, utf-8 for valid UTF-8, else the store's code page. Only a text that is the whole
// message gains a line end at its end when it has none, since every line of a message ends in one.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/held_temp_files.h"

namespace kv::host {

// What a filter hands over for one message when it takes it apart. Texts are UTF-8 as the filter
// interface gives them; paths may name files on the original PC.
struct MessageParts {
  std::string from, to, subject, date, cc, bcc, return_path, sender;
  std::string body_file;                 // code 4
  std::string html_file;                 // code 30
  std::string rich_file;                 // code 31
  std::vector<std::string> attachments;  // code 600, in order; may name the HTML and rich files
};

// Finds the files a store's messages name. An attachment path names a file on the original PC
// ("C:\Program Files\Eudora\Attach\report.doc"): it is tried as a local path, then through the file
// system's translation (the drive map, names in any case), then by its file name in the store's
// attachment folders ("attach" and "Embedded" below the store, in any case).
class AttachmentFinder {
 public:
  AttachmentFinder(platform::FileSystem& files, platform::CodePage& code_page,
                   std::filesystem::path store_folder);

  // The local path of the file `path` (UTF-8) names; nullopt when none is found.
  std::optional<std::filesystem::path> Find(std::string_view path) const;
  // The local path of an embedded image named `name`: in the "Embedded" folder, else like Find.
  std::optional<std::filesystem::path> FindEmbedded(std::string_view name) const;

 private:
  std::optional<std::filesystem::path> FindByName(std::string_view name,
                                                  std::string_view folder) const;

  // The entries of the store's folders named like `folder` (in any case), listed on first use and
  // kept: the store does not change while it is imported, and a message may name many files.
  struct ListedFolder {
    std::filesystem::path path;
    std::vector<std::string> names;
  };
  const std::vector<ListedFolder>& Listed(std::string_view folder) const;

  platform::FileSystem& files_;
  platform::CodePage& code_page_;
  std::filesystem::path store_folder_;
  mutable std::map<std::string, std::vector<ListedFolder>, std::less<>> listed_;
};

// The charset name a MIME header gives for the store's code page (an iconv name):
// "WINDOWS-1252" and "CP1252" give "windows-1252", others are lower-cased.
std::string MimeCharsetName(std::string_view code_page);

// The charset of a text's bytes: "us-ascii", "utf-8", or `code_page_charset`.
std::string TextCharset(std::string_view bytes, const std::string& code_page_charset);

// One "Embedded Content: NAME: 00000001,HASH,..." line of a body: the image file's name and the
// number that ties it to its "cid:" reference in the HTML.
struct EmbeddedContent {
  std::string name;
  std::uint32_t reference = 0;
};
std::vector<EmbeddedContent> EmbeddedContentLines(std::string_view body);

// The number an embedded image's line gives for the HTML reference "cid:`content_id`": the bytes
// of `content_id` taken as one big-endian number modulo 2^31 - 19, plus 1.
std::uint32_t ContentIdReference(std::string_view content_id);

struct MimeBuildOptions {
  std::string code_page_charset = "windows-1252";  // MimeCharsetName of the store's code page
  // The store's code page. With it, a header value whose bytes in the store were UTF-8 (which the
  // filter, converting from the code page, hands over garbled) is taken back as UTF-8, by the
  // charset rule of the texts.
  platform::CodePage* code_page = nullptr;
  // LF line ends, as a Maildir or an mbox file holds them, instead of CR LF.
  bool unix_line_ends = false;
  // The filter's temporary files held in memory, read from there without a copy.
  const platform::HeldTempFiles* held = nullptr;
};

struct MimeBuildResult {
  bool written = false;
  std::string error;                 // why the message could not be written
  std::vector<std::string> missing;  // attachment paths and embedded images not found
};

// Writes the message `parts` describe to the new local file `output` (created or truncated).
// Missing attachments are named in the message and in the result; an unreadable body or HTML file
// counts as empty and is named too.
MimeBuildResult WriteMimeMessage(const MessageParts& parts, const AttachmentFinder& finder,
                                 const MimeBuildOptions& options,
                                 const std::filesystem::path& output);
// The same into `fd`, a new empty file open for writing, which it takes over and closes; `output`
// names the file in the error.
MimeBuildResult WriteMimeMessage(const MessageParts& parts, const AttachmentFinder& finder,
                                 const MimeBuildOptions& options, int fd,
                                 const std::filesystem::path& output);
// The same into `file`, new and open for writing, which it closes; `output` names it in the error.
MimeBuildResult WriteMimeMessage(const MessageParts& parts, const AttachmentFinder& finder,
                                 const MimeBuildOptions& options, platform::WritableFile& file,
                                 const std::string& output);

}  // namespace kv::host
