// libFuzzer target: the text readers: string lists (lines, comma and delimited
// text, name=value pairs), INI files and form language files.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "base/form_texts.h"
#include "fuzz_support.h"
#include "platform/rtl/inifiles.h"
#include "platform/rtl/strings.h"

namespace {

// A form of a few components for the language file loader to fill.
class TFuzzForm : public TComponent {
public:
  TFuzzForm() : TComponent(nullptr) {
    SetName("Form1");
    for (const char* name : {"Button1", "Label1", "RadioGroup1", "ComboBox1", "Edit1"}) {
      auto* c = new TComponent(this);
      c->SetName(name);
    }
  }
};

void InstallAccess() {
  TFormTextAccess access;
  access.RoleOf = [](TComponent* c) {
    const std::string& n = c->Name();
    if (n.rfind("Button", 0) == 0) return ftrButton;
    if (n.rfind("Label", 0) == 0) return ftrCaptioned;
    if (n.rfind("Radio", 0) == 0) return ftrRadioGroup;
    if (n.rfind("Combo", 0) == 0) return ftrComboBox;
    return ftrControl;
  };
  access.SetCaption = [](TComponent*, const std::string&) {};
  access.SetHint = [](TComponent*, const std::string&) {};
  access.SetItems = [](TComponent*, const std::vector<std::string>&) {};
  SetFormTextAccess(access);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool installed = (InstallAccess(), true);
  (void)installed;
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    TStringList list;
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    list.LoadFromStream(stream);
    for (int i = 0; i < list.Count() && i < 64; ++i) (void)list.ValueFromIndex(i), (void)list.Names(i);
    TStringList again;
    again.SetCommaText(list.CommaText());
    TStringList delimited;
    delimited.SetDelimiter(';');
    delimited.SetDelimitedText(text);
  } catch (const Exception&) {
  }
  const std::string ini = qvfuzz::InputFile(data, size, ".ini");
  try {
    TIniFile file(ini);
    TStringList sections, values;
    file.ReadSections(&sections);
    for (int i = 0; i < sections.Count() && i < 16; ++i) {
      file.ReadSectionValues(sections[i], &values);
      for (int k = 0; k < values.Count() && k < 16; ++k) {
        (void)file.ReadInteger(sections[i], values.Names(k), 0);
        (void)file.ReadFloat(sections[i], values.Names(k), 0);
      }
    }
  } catch (const Exception&) {
  }
  const std::string lng = qvfuzz::InputFile(data, size, ".lng");
  try {
    TFuzzForm form;
    TranslateFormFromFile(lng, &form);
  } catch (const Exception&) {
  }
  return 0;
}
