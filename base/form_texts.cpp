#include "base/form_texts.h"

#include <map>

#include "base/app_messages.h"
#include "base/path_utils.h"
#include "base/text_utils.h"
#include "platform/rtl/strings.h"
#include "platform/rtl/sysutils.h"

namespace {

TFormTextAccess& Access() {
  static TFormTextAccess access;
  return access;
}

struct TFormSection {
  std::string Caption;
  std::map<std::string, std::string> Values;  // lower-cased component name -> value
};

// The form's section: from "[<class name without its first letter>]" to the
// first empty line or the end of the file.
TFormSection ReadSection(const TStringList& lines, const std::string& header) {
  TFormSection section;
  int i = 0;
  while (i < lines.Count() && Trim(lines[i]) != header) ++i;
  for (++i; i < lines.Count(); ++i) {
    const std::string line = Trim(lines[i]);
    const size_t eq = line.find('=');
    if (LowerCase(line).rfind("caption", 0) == 0) {
      section.Caption = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
      continue;
    }
    if (line.empty()) break;
    if (eq == std::string::npos) continue;
    // The first line for a name counts.
    section.Values.emplace(LowerCase(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1)));
  }
  return section;
}

void SplitCaptionHint(const std::string& text, std::string& caption, std::string& hint) {
  const size_t bar = text.find('|');
  if (bar == std::string::npos) {
    caption.clear();
    hint = text;
    return;
  }
  caption = text.substr(0, bar);
  hint = text.substr(bar + 1);
}

// "items!||caption|hint", the items separated by "!".
void SplitItemsValue(const std::string& value, std::vector<std::string>& items, std::string& caption,
                     std::string& hint) {
  const size_t mark = value.find("!||");
  const std::string itemText = value.substr(0, mark);
  TStringList list;
  SplitToStrings(itemText, '!', &list);
  items.clear();
  for (int i = 0; i < list.Count(); ++i) items.push_back(list[i]);
  caption.clear();
  hint.clear();
  if (mark != std::string::npos) SplitCaptionHint(value.substr(mark + 3), caption, hint);
}

const char* DefaultButtonCaption(const std::string& lowerName) {
  if (lowerName == "btok") return AppMessages.ButtonOK;
  if (lowerName == "btcancel") return AppMessages.ButtonCancel;
  if (lowerName == "btapply") return AppMessages.ButtonApply;
  if (lowerName == "bthelp") return AppMessages.ButtonHelp;
  return nullptr;
}

void ApplyValue(const TFormTextAccess& access, TComponent* c, TFormTextRole role, const std::string& value) {
  std::string caption, hint;
  switch (role) {
    case ftrNone: return;
    case ftrRadioGroup:
    case ftrComboBox: {
      std::vector<std::string> items;
      SplitItemsValue(value, items, caption, hint);
      if (access.SetItems) access.SetItems(c, items);
      if (role == ftrRadioGroup && !caption.empty() && access.SetCaption) access.SetCaption(c, caption);
      break;
    }
    case ftrControl:
    case ftrCaptioned:
    case ftrButton:
      SplitCaptionHint(value, caption, hint);
      if (role != ftrControl && !caption.empty() && access.SetCaption) access.SetCaption(c, caption);
      break;
  }
  if (!hint.empty() && access.SetHint) access.SetHint(c, hint);
}

}  // namespace

void SetFormTextAccess(const TFormTextAccess& access) { Access() = access; }
const TFormTextAccess& FormTextAccess() { return Access(); }

std::string& LanguageName() {
  static std::string name;
  return name;
}

void TranslateForm(TComponent* form) {
  if (LanguageName().empty()) return;
  const std::string fileName = GetApplicationDir() + "Language" + "\\" + LanguageName() + ".lng";
  if (FileExists(fileName)) TranslateFormFromFile(fileName, form);
}

void TranslateFormFromFile(const std::string& fileName, TComponent* form) {
  const TFormTextAccess& access = Access();
  if (!form || !access.RoleOf || !FileExists(fileName)) return;
  TStringList lines;
  lines.LoadFromFile(fileName);
  const std::string className = form->ClassName();
  const TFormSection section = ReadSection(lines, "[" + className.substr(className.empty() ? 0 : 1) + "]");
  if (!section.Caption.empty() && access.SetCaption) access.SetCaption(form, section.Caption);
  for (int i = 0; i < form->ComponentCount(); ++i) {
    TComponent* c = form->Components(i);
    const TFormTextRole role = access.RoleOf(c);
    const std::string name = LowerCase(c->Name());
    const auto found = section.Values.find(name);
    if (found != section.Values.end()) {
      ApplyValue(access, c, role, found->second);
    } else if (role == ftrButton) {
      if (const char* text = DefaultButtonCaption(name); text && access.SetCaption) access.SetCaption(c, text);
    }
  }
}
