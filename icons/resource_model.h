#pragma once
// The Windows resources of one container (a PE image or a RES file) as a list
// of TResourceDetails that each own a copy of their bytes. Types and names are
// text: a numeric identifier is its decimal text.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"

class TResourceModule;
class TResourceDetails;

// A class of resource details, as the registry holds it: its class operations
// and its constructor.
struct TResourceDetailsClass {
  std::string typeName = "0";
  bool (*claimsRCData)(const std::string& name, size_t size, const uint8_t* bytes) = nullptr;
  bool (*claimsData)(size_t size, const uint8_t* bytes) = nullptr;
  std::unique_ptr<TResourceDetails> (*create)(TResourceModule* module, uint32_t language, const std::string& name,
                                              const std::string& type, size_t size, const uint8_t* bytes) = nullptr;
};

class TResourceDetails : public TObject {
public:
  TResourceDetails(TResourceModule* module, uint32_t language, std::string name, std::string type, size_t size,
                   const uint8_t* bytes);
  ~TResourceDetails() override = default;

  // The class record of plain resource details.
  static const TResourceDetailsClass& Class();

  virtual void FillDefaultData() {}
  virtual void NotifyDeleting() {}
  void Rename(const std::string& newName);
  // Empties the data and copies the whole of the stream into it.
  void ReplaceData(TStream& stream);

  TResourceModule* Module() const { return FModule; }
  TMemoryStream& Data() { return FData; }
  uint32_t CodePage() const { return FCodePage; }
  void SetCodePage(uint32_t v) { FCodePage = v; }
  uint32_t Language() const { return FLanguage; }
  const std::string& Name() const { return FName; }
  const std::string& ResourceType() const { return FType; }
  bool NameIsText() const { return FNameIsText; }
  void SetNameIsText(bool v) { FNameIsText = v; }
  uint16_t MemoryFlags() const { return FMemoryFlags; }
  void SetMemoryFlags(uint16_t v) { FMemoryFlags = v; }
  uint32_t DataVersion() const { return FDataVersion; }
  void SetDataVersion(uint32_t v) { FDataVersion = v; }
  uint32_t Version() const { return FVersion; }
  void SetVersion(uint32_t v) { FVersion = v; }
  uint32_t Characteristics() const { return FCharacteristics; }
  void SetCharacteristics(uint32_t v) { FCharacteristics = v; }
  bool Modified() const { return FModified; }
  void SetModified(bool v) { FModified = v; }

private:
  TResourceModule* FModule;
  TMemoryStream FData;
  uint32_t FCodePage = 0;
  uint32_t FLanguage;
  std::string FName;
  std::string FType;
  bool FNameIsText = false;
  uint16_t FMemoryFlags = 0;
  uint32_t FDataVersion = 0;
  uint32_t FVersion = 0;
  uint32_t FCharacteristics = 0;
  bool FModified = false;
};

class TResourceModule : public TObject {
public:
  ~TResourceModule() override = default;

  virtual int GetResourceCount() const = 0;
  virtual TResourceDetails* GetResource(int index) const = 0;
  virtual void DeleteResource(int index);
  virtual void InsertResource(int index, std::unique_ptr<TResourceDetails> resource) {}
  // The index the resource got, or -1 when the container keeps nothing.
  virtual int AddResource(std::unique_ptr<TResourceDetails> resource) { return -1; }
  virtual int IndexOfResource(const TResourceDetails* resource) const = 0;
  virtual int MoveResource(int fromIndex, int toIndex) { return -1; }
  virtual void SaveToStream(TStream& stream);
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToFile(const std::string& fileName);
  virtual void LoadFromFile(const std::string& fileName);
  virtual void SortResources() {}

  void ClearModified();
  bool Modified() const { return FModified; }
  TResourceDetails* FindByTypeAndName(const std::string& type, const std::string& name) const;

protected:
  bool FModified = false;
};

// New resource details of the registered class that fits type and bytes; never nil.
std::unique_ptr<TResourceDetails> CreateResourceDetailsByType(TResourceModule* module, uint32_t language,
                                                              const std::string& name, const std::string& type,
                                                              size_t size, const uint8_t* bytes);
// A new empty resource of a class's own type (its default data filled in).
std::unique_ptr<TResourceDetails> CreateNewResource(const TResourceDetailsClass& cls, TResourceModule* module,
                                                    uint32_t language, const std::string& name);
// The same, appended to the module (or put at index); the result belongs to the
// module and is nil when the module keeps nothing.
TResourceDetails* CreateNewResourceIn(const TResourceDetailsClass& cls, TResourceModule& module, uint32_t language,
                                      const std::string& name, int index = -1);

void RegisterResourceDetailsClass(const TResourceDetailsClass* cls);
void UnregisterResourceDetailsClass(const TResourceDetailsClass* cls);

std::string NextResourceName(const TResourceModule* module, const std::string& type);
// The value of a non-empty text of the digits 0-9 only, else -1.
int64_t ResourceNameToNumber(const std::string& text);
int CompareResourceDetails(const TResourceDetails* a, const TResourceDetails* b);
