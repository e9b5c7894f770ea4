#include "res/resource_script.h"

#include <cstdio>

#include "res/dialogs.h"
#include "res/strings.h"

namespace kv::res {
namespace {

// Win32 control classes and the style bits each kind of control carries.
constexpr unsigned kBsPushButton = 0x0;
constexpr unsigned kBsDefPushButton = 0x1;
constexpr unsigned kBsAutoCheckBox = 0x3;
constexpr unsigned kBsGroupBox = 0x7;
constexpr unsigned kSsLeft = 0x0;
constexpr unsigned kEsLeft = 0x0;

struct ControlClass {
  std::string_view window_class;
  unsigned style;
};

ControlClass ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kGroupBox:
      return {"Button", kBsGroupBox};
    case ControlKind::kStatic:
      return {"Static", kSsLeft | kGroup};
    case ControlKind::kEdit:
      return {"Edit", kEsLeft | kTabStop};
    case ControlKind::kPushButton:
      return {"Button", kBsPushButton | kTabStop};
    case ControlKind::kDefaultPushButton:
      return {"Button", kBsDefPushButton | kTabStop};
    case ControlKind::kAutoCheckBox:
      return {"Button", kBsAutoCheckBox | kTabStop};
    case ControlKind::kTreeView:
      return {"SysTreeView32", kTabStop};
  }
  return {"Static", 0};
}

std::string Hex(unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", value);
  return buffer;
}

void WriteDialog(std::string& out, const DialogTemplate& dialog) {
  out += std::to_string(dialog.id) + " DIALOG 0, 0, " + std::to_string(dialog.width) + ", " +
         std::to_string(dialog.height) + "\n";
  out += "STYLE " + Hex(dialog.style | kPopup) + "\n";
  out += "CAPTION " + QuoteResourceString(dialog.caption) + "\n";
  out += "FONT " + std::to_string(kDialogFontPoints) + ", " + QuoteResourceString(kDialogFontName) +
         "\n";
  out += "BEGIN\n";
  for (const DialogControl& control : dialog.controls) {
    ControlClass control_class = ClassOf(control.kind);
    out += "  CONTROL " + QuoteResourceString(control.text) + ", " + std::to_string(control.id) +
           ", " + QuoteResourceString(control_class.window_class) + ", " +
           Hex(kChildStyle | control_class.style | control.style) + ", " +
           std::to_string(control.x) + ", " + std::to_string(control.y) + ", " +
           std::to_string(control.width) + ", " + std::to_string(control.height) + "\n";
  }
  out += "END\n\n";
}

}  // namespace

std::string QuoteResourceString(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        quoted += "\"\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      default:
        quoted += c;
    }
  }
  return quoted + "\"";
}

std::string ResourceScript(std::string_view bitmap_file) {
  std::string out =
      "// The server's resources, generated from res/strings.cpp and res/dialogs.cpp by\n"
      "// res/tools/make_resource_script.cpp. Do not edit: change the tables instead.\n\n"
      "LANGUAGE 0x09, 0x01\n\n";  // LANG_ENGLISH, SUBLANG_ENGLISH_US
  out += "STRINGTABLE\nBEGIN\n";
  for (const StringEntry& entry : StringTable()) {
    out += "  " + std::to_string(entry.id) + ", " + QuoteResourceString(entry.text) + "\n";
  }
  out += "END\n\n";
  out += std::to_string(IDB_FOLDERS) + " BITMAP " + QuoteResourceString(bitmap_file) + "\n\n";
  for (const DialogTemplate& dialog : DialogTemplates()) WriteDialog(out, dialog);
  return out;
}

}  // namespace kv::res
