#include "platform/graphics/graphics_graphic.h"

#include <map>
#include <mutex>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace {

std::mutex& KnownClassesLock() {
  static std::mutex m;
  return m;
}

std::map<std::type_index, TGraphicClass>& KnownClasses() {
  static std::map<std::type_index, TGraphicClass> classes;
  return classes;
}

}  // namespace

void TGraphicClass::Remember(const TGraphicClass& c) {
  std::lock_guard<std::mutex> lock(KnownClassesLock());
  KnownClasses().emplace(c.FType, c);
}

bool TGraphicClass::InheritsFrom(const TGraphicClass& base) const {
  if (!FCreate || !base) return false;
  if (*this == base) return true;
  std::unique_ptr<TGraphic> probe = FCreate();
  return base.IsInstance(probe.get());
}

TGraphicClass GraphicClassOf(const TGraphic* graphic) {
  if (!graphic) return {};
  std::lock_guard<std::mutex> lock(KnownClassesLock());
  auto it = KnownClasses().find(std::type_index(typeid(*graphic)));
  return it == KnownClasses().end() ? TGraphicClass() : it->second;
}

void TGraphic::SetSize(int width, int height) {
  SetWidth(width);
  SetHeight(height);
}

void TGraphic::SetModified(bool value) {
  if (value) {
    Changed(this);
  } else {
    FModified = false;
  }
}

void TGraphic::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  Changed(this);
}

void TGraphic::Changed(TObject* sender) {
  FModified = true;
  if (OnChange) OnChange(this);
}

void TGraphic::Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                        const TRect& rect, const std::string& msg) {
  if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, rect, msg);
}

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

void TGraphic::LoadFromClipboardFormat(WORD, HANDLE, HPALETTE) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::SaveToClipboardFormat(WORD&, HANDLE&, HPALETTE&) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

bool TGraphic::Equals(TGraphic* other) {
  if (!other) return false;
  if (other == this) return true;
  if (typeid(*this) != typeid(*other)) return false;
  if (Empty() || other->Empty()) return Empty() && other->Empty();
  TMemoryStream a, b;
  SaveToStream(a);
  other->SaveToStream(b);
  return a.Size() == b.Size() && std::equal(a.Memory(), a.Memory() + a.Size(), b.Memory());
}
