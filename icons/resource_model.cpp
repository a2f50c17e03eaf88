#include "icons/resource_model.h"

#include <algorithm>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"

namespace {

std::vector<const TResourceDetailsClass*>& Registry() {
  static std::vector<const TResourceDetailsClass*> registry;
  return registry;
}

std::unique_ptr<TResourceDetails> CreatePlain(TResourceModule* module, uint32_t language, const std::string& name,
                                              const std::string& type, size_t size, const uint8_t* bytes) {
  return std::make_unique<TResourceDetails>(module, language, name, type, size, bytes);
}

// Types and names compare alike: names before identifiers, identifiers by
// value, names without regard to case.
int CompareIds(const std::string& a, const std::string& b) {
  const int64_t na = ResourceNameToNumber(a), nb = ResourceNameToNumber(b);
  if (na >= 0 && nb >= 0) return na < nb ? -1 : (na > nb ? 1 : 0);
  if (na >= 0) return 1;
  if (nb >= 0) return -1;
  return CompareText(a, b);
}

}  // namespace

TResourceDetails::TResourceDetails(TResourceModule* module, uint32_t language, std::string name, std::string type,
                                   size_t size, const uint8_t* bytes)
    : FModule(module), FLanguage(language), FName(std::move(name)), FType(std::move(type)) {
  if (size && bytes) FData.WriteBuffer(bytes, static_cast<int64_t>(size));
  FData.SetPosition(0);
}

const TResourceDetailsClass& TResourceDetails::Class() {
  static const TResourceDetailsClass cls{"0", nullptr, nullptr, &CreatePlain};
  return cls;
}

void TResourceDetails::Rename(const std::string& newName) {
  FName = newName;
  FModified = true;
}

void TResourceDetails::ReplaceData(TStream& stream) {
  FData.Clear();
  stream.SetPosition(0);
  FData.CopyFrom(stream, stream.Size());
  FData.SetPosition(0);
}

void TResourceModule::DeleteResource(int index) {
  FModified = true;
  if (TResourceDetails* r = GetResource(index)) r->NotifyDeleting();
}

void TResourceModule::SaveToStream(TStream&) { throw Exception("Module doesn't support streaming"); }
void TResourceModule::LoadFromStream(TStream&) { throw Exception("Module doesn't support streaming"); }

void TResourceModule::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
  ClearModified();
}

void TResourceModule::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
  LoadFromStream(file);
}

void TResourceModule::ClearModified() {
  FModified = false;
  for (int i = 0; i < GetResourceCount(); ++i) GetResource(i)->SetModified(false);
}

TResourceDetails* TResourceModule::FindByTypeAndName(const std::string& type, const std::string& name) const {
  for (int i = 0; i < GetResourceCount(); ++i) {
    TResourceDetails* r = GetResource(i);
    if (r->ResourceType() == type && r->Name() == name) return r;
  }
  return nullptr;
}

void RegisterResourceDetailsClass(const TResourceDetailsClass* cls) { Registry().push_back(cls); }

void UnregisterResourceDetailsClass(const TResourceDetailsClass* cls) {
  auto& r = Registry();
  r.erase(std::remove(r.begin(), r.end(), cls), r.end());
}

std::unique_ptr<TResourceDetails> CreateResourceDetailsByType(TResourceModule* module, uint32_t language,
                                                              const std::string& name, const std::string& type,
                                                              size_t size, const uint8_t* bytes) {
  // A class that fails while it is asked or while it builds is passed over.
  if (!type.empty() && type[0] >= '0' && type[0] <= '9') {
    try {
      for (const TResourceDetailsClass* cls : Registry()) {
        if (cls->typeName != type) continue;
        if (type == "10" && !(cls->claimsRCData && cls->claimsRCData(name, size, bytes))) continue;
        if (cls->create) return cls->create(module, language, name, type, size, bytes);
      }
    } catch (const Exception&) {
    }
  }
  try {
    for (const TResourceDetailsClass* cls : Registry())
      if (cls->claimsData && cls->claimsData(size, bytes) && cls->create)
        return cls->create(module, language, name, type, size, bytes);
  } catch (const Exception&) {
  }
  return CreatePlain(module, language, name, type, size, bytes);
}

std::unique_ptr<TResourceDetails> CreateNewResource(const TResourceDetailsClass& cls, TResourceModule* module,
                                                    uint32_t language, const std::string& name) {
  auto r = (cls.create ? cls.create : &CreatePlain)(module, language, name, cls.typeName, 0, nullptr);
  r->FillDefaultData();
  return r;
}

TResourceDetails* CreateNewResourceIn(const TResourceDetailsClass& cls, TResourceModule& module, uint32_t language,
                                      const std::string& name, int index) {
  auto r = (cls.create ? cls.create : &CreatePlain)(&module, language, name, cls.typeName, 0, nullptr);
  TResourceDetails* raw = r.get();
  if (index < 0) {
    if (module.AddResource(std::move(r)) < 0) return nullptr;
  } else {
    module.InsertResource(index, std::move(r));
    if (module.IndexOfResource(raw) < 0) return nullptr;
  }
  raw->FillDefaultData();
  return raw;
}

std::string NextResourceName(const TResourceModule* module, const std::string& type) {
  int64_t largest = 0;
  for (int i = 0; i < module->GetResourceCount(); ++i) {
    const TResourceDetails* r = module->GetResource(i);
    if (r->ResourceType() == type) largest = std::max(largest, ResourceNameToNumber(r->Name()));
  }
  return std::to_string(largest + 1);
}

int64_t ResourceNameToNumber(const std::string& text) {
  if (text.empty() || text.size() > 18) return -1;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

int CompareResourceDetails(const TResourceDetails* a, const TResourceDetails* b) {
  const int byType = CompareIds(a->ResourceType(), b->ResourceType());
  return byType != 0 ? byType : CompareIds(a->Name(), b->Name());
}
