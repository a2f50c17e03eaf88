#include "imaging/extras/vector/vect_object.h"

#include <mutex>
#include <typeindex>

#include "platform/win/clipboard.h"

const char* IEUnitName(int unit) {
  static const char* const kNames[kIEUnitCount] = {"pixels",  "inches",     "km",   "mt",    "cm",   "mm",
                                                   "microns", "nanometers", "feet", "yards", "miles"};
  return unit >= 0 && unit < kIEUnitCount ? kNames[unit] : "";
}

double IEUnitFactor(int unit, double dpi) {
  if (unit == ieuPIXELS) return 1.0;
  if (!(dpi > 0)) dpi = 1;
  switch (unit) {
    case ieuINCHES: return 1 / dpi;
    case ieuKM: return 2.54 / dpi / 100000;
    case ieuMETERS: return 2.54 / dpi / 100;
    case ieuCENTIMETERS: return 2.54 / dpi;
    case ieuMILLIMETERS: return 2.54 / dpi * 10;
    case ieuMICRONS: return 2.54 / dpi * 10000;
    case ieuNANOMETERS: return 2.54 / dpi * 10000000;
    case ieuFEET: return 1 / dpi / 12;
    case ieuYARDS: return 1 / dpi / 36;
    case ieuMILES: return 1 / dpi / 63360;
    default: return 1.0;
  }
}

uint8_t IEVFontQualityValue(int fontQuality) {
  static const uint8_t kQuality[7] = {ANTIALIASED_QUALITY, CLEARTYPE_QUALITY, 6, DEFAULT_QUALITY,
                                      DRAFT_QUALITY,       NONANTIALIASED_QUALITY, PROOF_QUALITY};
  return fontQuality >= 0 && fontQuality < 7 ? kQuality[fontQuality] : DEFAULT_QUALITY;
}

TIEVObject::TIEVObject() = default;
TIEVObject::~TIEVObject() = default;

// ---- the extended-object registry ----

namespace {

struct RegistryEntry {
  std::string name;
  std::type_index type;
  TIEVCustomObjectFactory factory;
};

struct VectUnit {
  std::mutex lock;
  std::unique_ptr<std::vector<RegistryEntry>> registry;
  UINT clipboardFormat = 0;
  std::array<uint16_t, 12> shortcuts{};
};

VectUnit& Unit() {
  static VectUnit unit;
  return unit;
}

}  // namespace

void RegisterExtendedObjectClass(const std::string& name, const std::type_info& type, TIEVCustomObjectFactory factory) {
  VectUnit& u = Unit();
  std::lock_guard<std::mutex> guard(u.lock);
  if (!u.registry) u.registry = std::make_unique<std::vector<RegistryEntry>>();
  u.registry->push_back(RegistryEntry{name, std::type_index(type), std::move(factory)});
}

std::unique_ptr<TIEVCustomObject> CreateExtendedObject(const std::string& name) {
  VectUnit& u = Unit();
  TIEVCustomObjectFactory factory;
  {
    std::lock_guard<std::mutex> guard(u.lock);
    if (!u.registry) return nullptr;
    for (const RegistryEntry& e : *u.registry)
      if (e.name == name) {
        factory = e.factory;
        break;
      }
  }
  return factory ? factory() : nullptr;
}

std::string GetExtendedObjectClassName(const TIEVCustomObject& object) {
  VectUnit& u = Unit();
  std::lock_guard<std::mutex> guard(u.lock);
  if (!u.registry) return {};
  const std::type_index type(typeid(object));
  for (const RegistryEntry& e : *u.registry)
    if (e.type == type) return e.name;
  return {};
}

void InitVectUnit() {
  VectUnit& u = Unit();
  u.clipboardFormat = RegisterClipboardFormat("IMAGELIB VECT");
  // Ctrl with L E R J C X V F B I U G, the order of the editor's actions.
  const char keys[12] = {'L', 'E', 'R', 'J', 'C', 'X', 'V', 'F', 'B', 'I', 'U', 'G'};
  for (int i = 0; i < 12; ++i) u.shortcuts[i] = static_cast<uint16_t>(0x4000 | keys[i]);
  std::lock_guard<std::mutex> guard(u.lock);
  u.registry = std::make_unique<std::vector<RegistryEntry>>();
}

void DoneVectUnit() {
  VectUnit& u = Unit();
  std::lock_guard<std::mutex> guard(u.lock);
  u.registry.reset();
}

UINT VectClipboardFormat() { return Unit().clipboardFormat; }

const std::array<uint16_t, 12>& VectEditorShortcuts() { return Unit().shortcuts; }
