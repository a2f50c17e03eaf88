#include "icons/icon_list.h"

#include "platform/rtl/sysutils.h"

TIconList::~TIconList() { Clear(); }

void TIconList::Clear() {
  for (int i = 0; i < Count(); ++i) {
    std::unique_ptr<TObject> owned(Objects(i));
    PutObject(i, nullptr);
  }
  TStringList::Clear();
}

void TIconList::Delete(int index) {
  if (index >= 0 && index < Count()) {
    std::unique_ptr<TObject> owned(Objects(index));
    PutObject(index, nullptr);
  }
  TStringList::Delete(index);
}

void TIconList::AddIcon(const std::string& name, std::unique_ptr<TAdvancedIcon> icon) {
  if (!icon) return;
  const std::string text = name.empty() ? Format("Icon %000d", Count() + 1) : name;
  AddObject(text, icon.get());
  icon.release();  // the list owns it now
}

TAdvancedIcon* TIconList::GetIconObject(int index) const { return dynamic_cast<TAdvancedIcon*>(Objects(index)); }

std::unique_ptr<TAdvancedIcon> TIconList::ReleaseIcon(int index) {
  std::unique_ptr<TAdvancedIcon> icon(GetIconObject(index));
  PutObject(index, nullptr);
  return icon;
}

void TIconList::TakeEntries(TIconList& source) {
  for (int i = 0; i < source.Count(); ++i) {
    TObject* obj = source.Objects(i);
    source.PutObject(i, nullptr);
    AddObject(source.Strings(i), obj);
  }
  source.Clear();
}

void TIconList::DefineProperties(TFiler* filer) {
  TStringList::DefineProperties(filer);
  filer->DefineProperty(
      "ICONS", [this](TReader* r) { ReadIcons(r); }, [this](TWriter* w) { WriteIcons(w); }, Count() > 0);
}

void TIconList::WriteIcons(TWriter* writer) {
  writer->WriteInteger(int32_t{0});
  writer->WriteInteger(int32_t{1});
  writer->WriteInteger(int32_t(Count()));
  for (int i = 0; i < Count(); ++i) {
    writer->WriteString(Strings(i));
    if (TAdvancedIcon* icon = GetIconObject(i))
      icon->WriteToFiler(*writer);
    else
      TAdvancedIcon().WriteToFiler(*writer);
  }
  writer->WriteInteger(int32_t{0});
}

void TIconList::ReadIcons(TReader* reader) {
  reader->ReadInteger();
  reader->ReadInteger();
  const int32_t count = reader->ReadInteger();
  Clear();
  for (int32_t i = 0; i < count; ++i) {
    const std::string name = reader->ReadString();
    auto icon = std::make_unique<TAdvancedIcon>();
    icon->ReadFromFiler(*reader);
    AddIcon(name, std::move(icon));
  }
  reader->ReadInteger();
}
