#pragma once
// Translated form texts from language files. The program selects no language,
// so TranslateForm stays inactive and every form keeps its own texts; the
// loader itself reads a file into any form.
//
// The loader works on a form's component tree and reaches the controls through
// TFormTextAccess, which the forms layer registers: it tells which kind of
// control a component is and sets captions, hints and item lists.
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/object.h"

enum TFormTextRole : uint8_t {
  ftrNone,        // not a control: the file's texts do not apply
  ftrControl,     // any other control: the hint only
  ftrCaptioned,   // menu item, label, check box, group box, static text, tab sheet: caption and hint
  ftrButton,      // button, speed button, image button: caption and hint, and a default caption by name
  ftrRadioGroup,  // items, caption and hint
  ftrComboBox,    // items and hint
};

struct TFormTextAccess {
  std::function<TFormTextRole(TComponent* component)> RoleOf;
  std::function<void(TComponent* component, const std::string& caption)> SetCaption;
  std::function<void(TComponent* component, const std::string& hint)> SetHint;
  std::function<void(TComponent* component, const std::vector<std::string>& items)> SetItems;
};

// Installs the forms layer's access; an empty access makes the loader do nothing.
void SetFormTextAccess(const TFormTextAccess& access);
const TFormTextAccess& FormTextAccess();

// The selected language; empty, and never set by this program.
std::string& LanguageName();

// Applies "Language\<name>.lng" beside the program when a language is selected.
void TranslateForm(TComponent* form);
// Applies one language file to a form; nothing happens when the file does not exist.
void TranslateFormFromFile(const std::string& fileName, TComponent* form);
