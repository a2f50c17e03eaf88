// Shortcut texts as menus show them ("Ctrl+S", "Shift+Del", "Num +").
#include <cctype>
#include <string>

#include "platform/ui/messages.h"

namespace {

std::string KeyName(WORD key) {
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return std::string(1, static_cast<char>(key));
  if (key >= VK_F1 && key <= VK_F1 + 23) return "F" + std::to_string(key - VK_F1 + 1);
  if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) return "Num " + std::to_string(key - VK_NUMPAD0);
  switch (key) {
    case VK_BACK: return "BkSp";
    case VK_TAB: return "Tab";
    case VK_RETURN: return "Enter";
    case VK_ESCAPE: return "Esc";
    case VK_SPACE: return "Space";
    case VK_PRIOR: return "PgUp";
    case VK_NEXT: return "PgDn";
    case VK_END: return "End";
    case VK_HOME: return "Home";
    case VK_LEFT: return "Left";
    case VK_UP: return "Up";
    case VK_RIGHT: return "Right";
    case VK_DOWN: return "Down";
    case VK_INSERT: return "Ins";
    case VK_DELETE: return "Del";
    case VK_MULTIPLY: return "Num *";
    case VK_ADD: return "Num +";
    case VK_SUBTRACT: return "Num -";
    case VK_DECIMAL: return "Num Del";
    case VK_DIVIDE: return "Num /";
    case 0xBB: return "=";
    case 0xBC: return ",";
    case 0xBD: return "-";
    case 0xBE: return ".";
    default: return "";
  }
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

std::string ShortCutToText(TShortCut shortCut) {
  std::string name = KeyName(static_cast<WORD>(shortCut & 0xFF));
  if (name.empty()) return "";
  std::string prefix;
  if (shortCut & scShift) prefix += "Shift+";
  if (shortCut & scCtrl) prefix += "Ctrl+";
  if (shortCut & scAlt) prefix += "Alt+";
  return prefix + name;
}

TShortCut TextToShortCut(const std::string& text) {
  TShortCut shift = 0;
  std::string rest = text;
  for (;;) {
    if (rest.size() > 6 && EqualNoCase(rest.substr(0, 6), "Shift+")) { shift |= scShift; rest = rest.substr(6); continue; }
    if (rest.size() > 5 && EqualNoCase(rest.substr(0, 5), "Ctrl+")) { shift |= scCtrl; rest = rest.substr(5); continue; }
    if (rest.size() > 4 && EqualNoCase(rest.substr(0, 4), "Alt+")) { shift |= scAlt; rest = rest.substr(4); continue; }
    break;
  }
  if (rest.empty()) return 0;
  for (int key = 1; key < 256; ++key)
    if (EqualNoCase(KeyName(static_cast<WORD>(key)), rest)) return static_cast<TShortCut>(key | shift);
  return 0;
}
