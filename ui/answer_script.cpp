#include "ui/answer_script.h"

#include <charconv>
#include <functional>
#include <vector>

#include "platform/user_interface.h"

namespace kv::ui {
namespace {

using Answer = std::function<void(ScriptedUserInterface&)>;

std::optional<int> ParseButton(std::string_view word) {
  if (word == "ok") return platform::kIdOk;
  if (word == "cancel") return platform::kIdCancel;
  if (word == "yes") return platform::kIdYes;
  if (word == "no") return platform::kIdNo;
  int code = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), code);
  if (error != std::errc() || end != word.data() + word.size() || word.empty()) return std::nullopt;
  return code;
}

std::optional<std::string> OptionalPath(std::string_view argument) {
  if (argument.empty()) return std::nullopt;
  return std::string(argument);
}

// The answer one line stands for; nullopt with `problem` set when the line is not understood.
std::optional<Answer> ParseLine(std::string_view word, std::string_view argument, bool has_argument,
                                std::string& problem) {
  auto needs_argument = [&]() {
    if (!argument.empty()) return true;
    problem = "\"" + std::string(word) + "\" needs an argument";
    return false;
  };
  auto takes_none = [&]() {
    if (!has_argument) return true;
    problem = "\"" + std::string(word) + "\" takes no argument";
    return false;
  };
  const std::string text(argument);
  if (word == "location") {
    if (!needs_argument()) return std::nullopt;
    return [text](ScriptedUserInterface& ui) { ui.AnswerLocation(text); };
  }
  if (word == "location-cancel") {
    if (!takes_none()) return std::nullopt;
    return [](ScriptedUserInterface& ui) { ui.AnswerLocation(std::nullopt); };
  }
  if (word == "folders" || word == "folders-keep-empty") {
    const ScriptedUserInterface::FolderAnswer answer{OptionalPath(argument), word == "folders"};
    return [answer](ScriptedUserInterface& ui) { ui.AnswerFolderDialog(answer); };
  }
  if (word == "folders-cancel") {
    if (!takes_none()) return std::nullopt;
    return [](ScriptedUserInterface& ui) { ui.AnswerFolderDialog(std::nullopt); };
  }
  if (word == "message") {
    std::optional<int> button = ParseButton(argument);
    if (!button) {
      problem = "\"" + text + "\" is not a button (ok, cancel, yes, no or a number)";
      return std::nullopt;
    }
    return [code = *button](ScriptedUserInterface& ui) { ui.AnswerMessageBox(code); };
  }
  if (word == "browse") {
    if (!needs_argument()) return std::nullopt;
    return [text](ScriptedUserInterface& ui) { ui.AnswerBrowse(text); };
  }
  if (word == "browse-cancel") {
    if (!takes_none()) return std::nullopt;
    return [](ScriptedUserInterface& ui) { ui.AnswerBrowse(std::nullopt); };
  }
  problem = "unknown answer \"" + std::string(word) + "\"";
  return std::nullopt;
}

}  // namespace

std::optional<AnswerScriptError> LoadAnswerScript(std::string_view script,
                                                  ScriptedUserInterface& ui) {
  std::vector<Answer> answers;
  int number = 0;
  while (!script.empty()) {
    ++number;
    const std::size_t end = script.find('\n');
    std::string_view line = script.substr(0, end);
    script = end == std::string_view::npos ? std::string_view() : script.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;

    const std::size_t blank = line.find(' ');
    const bool has_argument = blank != std::string_view::npos;
    const std::string_view word = line.substr(0, blank);
    const std::string_view argument = has_argument ? line.substr(blank + 1) : std::string_view();
    std::string problem;
    std::optional<Answer> answer = ParseLine(word, argument, has_argument, problem);
    if (!answer) return AnswerScriptError{number, problem};
    answers.push_back(std::move(*answer));
  }
  for (const Answer& answer : answers) answer(ui);
  return std::nullopt;
}

}  // namespace kv::ui
