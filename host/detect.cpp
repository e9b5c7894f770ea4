#include "host/detect.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "host/exit_codes.h"
#include "host/filter_walk.h"
#include "host/output_files.h"
#include "platform/posix/posix_file_system.h"
#include "res/dialogs.h"
#include "ui/scripted_ui.h"

namespace kv::host {
namespace {

using Json = nlohmann::ordered_json;

// More attachments than one message carries; the count bounds a filter that never says "no more".
constexpr int kMaxAttachments = 10000;

// The folder the location dialog last showed, from the scripted front's transcript.
std::string LastProposal(const ui::ScriptedUserInterface& ui) {
  const std::string shown = "shown " + std::to_string(res::IDC_LOCATION) + ": ";
  std::string proposal;
  for (const std::string& event : ui.transcript()) {
    if (event.starts_with(shown)) proposal = event.substr(shown.size());
  }
  return proposal;
}

bool Asked(const ui::ScriptedUserInterface& ui, std::string_view prefix) {
  for (const std::string& event : ui.transcript()) {
    if (event.starts_with(prefix)) return true;
  }
  return false;
}

// Why a filter found nothing, in the terms of what it did.
std::string NotFoundReason(const ui::ScriptedUserInterface& ui, const std::string& store,
                           bool has_discovery) {
  if (Asked(ui, "message: ")) return "the store at " + store + " could not be read";
  if (Asked(ui, "dialog " + std::to_string(res::IDD_LOCATION))) {
    return store.empty() ? "no store is named in the registry or its files"
                         : "the store at " + store + " was not accepted";
  }
  if (!has_discovery && !Asked(ui, "dialog ")) return "this filter has no store reader yet";
  return "no store found";
}

platform::PosixFileSystem MakeFiles(const CommandLine& line, const OldSystem& system) {
  platform::PosixFileSystem::Options options;
  options.code_page = line.code_page;
  options.drive_map = system.drives;
  for (const auto& [drive, folder] : line.drives) options.drive_map[drive] = folder;
  return platform::PosixFileSystem(options);
}

void PrintText(std::FILE* out, const DetectResult& result, bool first_of_user) {
  if (first_of_user) {
    std::string heading = result.user.empty() ? "registry" : result.user;
    if (!result.profile.empty()) heading += " (" + result.profile + ")";
    std::fprintf(out, "%s\n", heading.c_str());
  }
  if (result.found) {
    std::fprintf(out, "  %-9s %s: %zu folder%s, %zu message%s\n", result.filter.c_str(),
                 result.store.c_str(), result.folders, result.folders == 1 ? "" : "s",
                 result.messages, result.messages == 1 ? "" : "s");
    if (!result.local_path.empty()) {
      std::fprintf(out, "  %-9s   on this machine: %s\n", "", result.local_path.c_str());
    }
  } else {
    std::fprintf(out, "  %-9s nothing found\n", result.filter.c_str());
  }
  for (const std::string& problem : result.problems) {
    std::fprintf(out, "  %-9s   %s\n", "", problem.c_str());
  }
}

Json ResultJson(const DetectResult& result) {
  Json entry;
  entry["user"] = result.user;
  entry["profile"] = result.profile;
  entry["filter"] = result.filter;
  entry["found"] = result.found;
  entry["store"] = result.store.empty() ? Json(nullptr) : Json(result.store);
  entry["local_path"] = result.local_path.empty() ? Json(nullptr) : Json(result.local_path);
  entry["folders"] = result.folders;
  entry["messages"] = result.messages;
  entry["problems"] = result.problems;
  return entry;
}

}  // namespace

DetectResult DetectStore(const FilterClass& filter_class, OldSystem& system,
                         platform::FileSystem& files, platform::TempFiles& temp,
                         platform::CodePage& code_page, ForwardingDiagnostics& registry_reports,
                         const std::optional<std::string>& location) {
  DetectResult result;
  result.filter = std::string(filter_class.short_name);
  platform::DiagnosticLog log;
  registry_reports.set_target(&log);
  ui::ScriptedUserInterface ui;
  ui.set_report_unanswered(false);
  if (location) {
    ui.AnswerLocation(*location);
  } else {
    ui.AcceptProposedLocation();
  }
  // Empty folders count too: the folder dialog's check box is cleared.
  ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{std::nullopt, false});
  ui.AnswerMessageBox(platform::kIdNo);
  platform::Services services{*system.registry, files, temp, system.environment,
                              code_page,        ui,    log};

  std::string store = location                           ? *location
                      : filter_class.discover != nullptr ? filter_class.discover(services)
                                                         : std::string();
  std::set<std::string> folders;
  std::unique_ptr<ImportFilter> filter = filter_class.create(services);
  // Every file the filter handed over for the item that lies in the temporary folder is removed:
  // the whole message (code 11), or the parts of a message taken apart (body, HTML, unknown type,
  // attachments). Files elsewhere, such as attachments kept in the store, stay.
  auto remove_handed_over = [&](const AutomationString& named) {
    std::optional<std::string> path = LocalMessagePath(named, files, code_page);
    if (path && IsInsideFolder(*path, temp.TempPath())) RemoveHandedOverFile(*path);
  };
  WalkOutcome outcome = WalkFilter(*filter, [&](const WalkItem& item) {
    folders.insert(item.folder.value_or(""));
    bool folder_item = (item.status & kItemIsFolder) != 0 ||
                       (item.message_file && *item.message_file == kEmptyFolderMarker);
    if (folder_item) return true;
    ++result.messages;
    remove_handed_over(item.message_file);
    for (SubItemCode code : {kSubItemBodyFile, kSubItemHtmlFile, kSubItemUnknownTypeFile}) {
      remove_handed_over(filter->GetSubItem(code));
    }
    for (int i = 0; i < kMaxAttachments; ++i) {
      AutomationString attachment = filter->GetSubItem(kSubItemNextAttachment);
      if (!attachment || attachment->empty()) break;
      remove_handed_over(attachment);
    }
    return true;
  });
  filter.reset();
  registry_reports.set_target(nullptr);

  if (store.empty()) store = LastProposal(ui);
  result.found = outcome != WalkOutcome::kStoreNotFound;
  result.store = code_page.ToUtf8(store);
  if (!store.empty()) {
    std::string native = files.NativePath(store);
    std::error_code error;
    if (!native.empty() && std::filesystem::is_directory(native, error)) result.local_path = native;
  }
  result.folders = folders.size();
  if (!result.found) {
    result.problems.push_back(
        code_page.ToUtf8(NotFoundReason(ui, store, filter_class.discover != nullptr)));
  }
  for (const platform::Diagnostic& diagnostic : log.entries()) {
    result.problems.push_back(code_page.ToUtf8(platform::FormatDiagnostic(diagnostic)));
  }
  return result;
}

int RunDetect(const CommandLine& line, platform::CodePage& code_page, platform::TempFiles& temp,
              const CommandStreams& streams) {
  ForwardingDiagnostics registry_reports;
  std::vector<OldSystem> systems;
  std::vector<std::string> profile_folders;
  if (line.disk) {
    std::error_code error;
    if (!std::filesystem::is_directory(*line.disk, error)) {
      std::fprintf(streams.err, "kvimport: --disk %s is not a folder\n", line.disk->c_str());
      return kExitUsage;
    }
    OldDisk disk = ExamineOldDisk(*line.disk);
    std::string choose_error;
    const UserProfile* chosen = nullptr;
    if (line.user || disk.profiles.empty()) {
      chosen = ChooseProfile(disk, line.user, choose_error);
      if (chosen == nullptr) {
        std::fprintf(streams.err, "kvimport: %s\n", choose_error.c_str());
        return disk.profiles.empty() ? kExitStoreNotFound : kExitUsage;
      }
    }
    for (const UserProfile& profile : disk.profiles) {
      if (chosen != nullptr && chosen != &profile) continue;
      systems.push_back(OpenProfile(disk, profile, code_page, registry_reports));
      profile_folders.push_back(profile.windows_folder);
    }
  } else {
    std::string error;
    std::optional<OldSystem> system = OpenOldSystem(line, code_page, registry_reports, error);
    if (!system) {
      std::fprintf(streams.err, "kvimport: %s\n", error.c_str());
      return kExitUsage;
    }
    systems.push_back(std::move(*system));
    profile_folders.push_back("");
  }

  bool any_found = false;
  for (std::size_t i = 0; i < systems.size(); ++i) {
    OldSystem& system = systems[i];
    for (const std::string& note : system.notes) {
      std::fprintf(streams.err, "kvimport: %s\n", note.c_str());
    }
    bool first = true;
    for (const FilterClass& filter_class : FilterClasses()) {
      if (!line.filter.empty() && FindFilterClass(line.filter) != &filter_class) continue;
      platform::PosixFileSystem files = MakeFiles(line, system);
      std::vector<std::optional<std::string>> locations = {std::nullopt};
      if (!system.registry_readable) {
        locations.clear();
        for (const std::string& folder :
             WellKnownStoreFolders(filter_class.short_name, files, system.environment)) {
          locations.push_back(folder);
        }
      }
      std::vector<DetectResult> results;
      for (const std::optional<std::string>& location : locations) {
        results.push_back(
            DetectStore(filter_class, system, files, temp, code_page, registry_reports, location));
      }
      if (results.empty()) {
        DetectResult none;
        none.filter = std::string(filter_class.short_name);
        none.problems.push_back("no store in the folders where it is kept by default");
        results.push_back(none);
      }
      for (DetectResult& result : results) {
        result.user = system.user;
        result.profile = profile_folders[i];
        any_found = any_found || result.found;
        if (line.json) {
          std::string text =
              ResultJson(result).dump(-1, ' ', false, Json::error_handler_t::replace);
          std::fprintf(streams.out, "%s\n", text.c_str());
        } else {
          PrintText(streams.out, result, first);
        }
        first = false;
      }
    }
  }
  if (!line.json && any_found && line.disk) {
    std::fprintf(streams.out,
                 "\nImport a store with: kvimport import --disk %s --user NAME --filter F "
                 "--to maildir:PATH\n",
                 line.disk->c_str());
  }
  std::fflush(streams.out);
  return any_found ? kExitOk : kExitStoreNotFound;
}

}  // namespace kv::host
