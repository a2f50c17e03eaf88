#pragma once
// 32-bit Windows PE images (EXE, DLL): their headers and sections, and through
// TPEResourceModule their resource directory as a list of TResourceDetails.
// A module can be written back; only the resource section changes then, every
// other section keeps its place in the file and in memory, so the entry point,
// imports and relocations of the program stay valid.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icons/resource_model.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/byte_order.h"

QV_ASSERT_LITTLE_ENDIAN_HOST();

QV_DECLARE_EXCEPTION(EPEException, Exception);

#pragma pack(push, 1)
struct TImageSectionHeader {
  char Name[8];
  uint32_t VirtualSize;
  uint32_t VirtualAddress;
  uint32_t SizeOfRawData;
  uint32_t PointerToRawData;
  uint32_t PointerToRelocations;
  uint32_t PointerToLinenumbers;
  uint16_t NumberOfRelocations;
  uint16_t NumberOfLinenumbers;
  uint32_t Characteristics;
};
struct TImageDataDirectory {
  uint32_t VirtualAddress;
  uint32_t Size;
};
#pragma pack(pop)
static_assert(sizeof(TImageSectionHeader) == 40);
static_assert(sizeof(TImageDataDirectory) == 8);

constexpr uint32_t IMAGE_SCN_CNT_CODE = 0x00000020;
constexpr uint32_t IMAGE_SCN_CNT_INITIALIZED_DATA = 0x00000040;
constexpr uint32_t IMAGE_SCN_CNT_UNINITIALIZED_DATA = 0x00000080;
constexpr uint32_t IMAGE_SCN_MEM_EXECUTE = 0x20000000;
constexpr int IMAGE_DIRECTORY_ENTRY_RESOURCE = 2;
constexpr int IMAGE_DIRECTORY_ENTRY_SECURITY = 4;

class TPEModule;

class TImageSection : public TObject {
public:
  TImageSection(TPEModule* module, const TImageSectionHeader& header) : FModule(module), FHeader(header) {}
  TImageSectionHeader& Header() { return FHeader; }
  const TImageSectionHeader& Header() const { return FHeader; }
  TMemoryStream& Data() { return FData; }
  int64_t DataSize() const { return const_cast<TMemoryStream&>(FData).Size(); }
  const uint8_t* DataBytes() const { return FData.Memory(); }
  uint32_t UninitializedTail() const { return FUninitializedTail; }
  // How many bytes LoadData took: a section whose data kept that size keeps its header.
  uint64_t LoadedSize() const { return FLoadedSize; }
  bool Loaded() const { return FLoaded; }
  std::string SectionName() const;
  // Copies the section's bytes out of the image being parsed; once only.
  void LoadData(const uint8_t* image, size_t imageSize);

private:
  TPEModule* FModule;
  TImageSectionHeader FHeader;
  TMemoryStream FData;
  uint32_t FUninitializedTail = 0;
  uint64_t FLoadedSize = 0;
  bool FLoaded = false;
};

class TPEModule : public TResourceModule {
public:
  int GetResourceCount() const override { return 0; }
  TResourceDetails* GetResource(int) const override { return nullptr; }
  int IndexOfResource(const TResourceDetails*) const override { return -1; }

  // Parse errors reach the caller as EPEException (a file that cannot be opened
  // as EFOpenError): a module that silently holds half a file helps nobody.
  void LoadFromFile(const std::string& fileName) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToFile(const std::string& fileName) override;
  void SaveToStream(TStream& stream) override;

  virtual void ParseImage(const uint8_t* image, size_t size);
  // Fits the headers to the sections' current data before writing.
  virtual void PrepareImage();

  TImageDataDirectory GetDataDirectory(int index) const;
  void SetDataDirectory(int index, const TImageDataDirectory& dir);
  int DataDirectoryCount() const;
  // The section whose VirtualAddress equals the directory's RVA, or -1.
  int FindDirectorySection(int index) const;
  // The section whose virtual range holds the RVA, or -1.
  int FindSectionOfRva(uint32_t rva) const;
  TImageSection* GetSection(int index) const;
  int GetSectionCount() const { return static_cast<int>(FSections.size()); }

  const std::vector<uint8_t>& DOSHeader() const { return FDOSHeader; }
  const std::vector<uint8_t>& FileHeader() const { return FFileHeader; }
  const std::vector<uint8_t>& OptionalHeader() const { return FOptionalHeader; }
  uint32_t FileAlignment() const;
  uint32_t SectionAlignment() const;

protected:
  uint32_t OptionalValue32(size_t offset) const;
  void SetOptionalValue32(size_t offset, uint32_t value);

  std::vector<uint8_t> FDOSHeader;
  std::vector<uint8_t> FDOSStub;
  std::vector<uint8_t> FFileHeader;
  std::vector<uint8_t> FOptionalHeader;
  std::vector<std::unique_ptr<TImageSection>> FSections;
  std::vector<uint8_t> FHeaderGap;
  std::vector<uint8_t> FOverlay;
  // Raw sizes as read: a section may only grow in the file when it is the last.
  std::vector<uint32_t> FOriginalRawSizes;
};

// The resource list of a PE image: an owning list over the module base.
template <class Base>
class TResourceListOf : public Base {
public:
  int GetResourceCount() const override { return static_cast<int>(FResources.size()); }
  TResourceDetails* GetResource(int index) const override {
    return index >= 0 && index < GetResourceCount() ? FResources[static_cast<size_t>(index)].get() : nullptr;
  }
  void DeleteResource(int index) override {
    if (index < 0 || index >= GetResourceCount()) return;
    TResourceDetails* r = FResources[static_cast<size_t>(index)].get();
    Base::DeleteResource(index);
    // NotifyDeleting may have removed other resources: find this one again.
    const int at = IndexOfResource(r);
    if (at >= 0) FResources.erase(FResources.begin() + at);
  }
  void InsertResource(int index, std::unique_ptr<TResourceDetails> resource) override {
    if (!resource) return;
    if (index < 0 || index > GetResourceCount()) index = GetResourceCount();
    FResources.insert(FResources.begin() + index, std::move(resource));
  }
  int AddResource(std::unique_ptr<TResourceDetails> resource) override {
    if (!resource) return -1;
    FResources.push_back(std::move(resource));
    return GetResourceCount() - 1;
  }
  int IndexOfResource(const TResourceDetails* resource) const override {
    for (size_t i = 0; i < FResources.size(); ++i)
      if (FResources[i].get() == resource) return static_cast<int>(i);
    return -1;
  }
  void SortResources() override {
    std::stable_sort(FResources.begin(), FResources.end(),
                     [](const std::unique_ptr<TResourceDetails>& a, const std::unique_ptr<TResourceDetails>& b) {
                       return CompareResourceDetails(a.get(), b.get()) < 0;
                     });
  }
  void ClearResources() { FResources.clear(); }

protected:
  std::vector<std::unique_ptr<TResourceDetails>> FResources;
};

class TPEResourceModule : public TResourceListOf<TPEModule> {
public:
  int MoveResource(int fromIndex, int toIndex) override;
  void ParseImage(const uint8_t* image, size_t size) override;
  void PrepareImage() override;
  // The section that holds the resource directory, or nil.
  TImageSection* GetResourceSection() const;

private:
  void ParseDirectory(const uint8_t* image, size_t imageSize, TImageSection& section);
  // The section data that the resources in the list make.
  std::vector<uint8_t> BuildResourceSection(const TImageSection& section) const;

  // What the resources made when loaded; while they make the same, the
  // section is written as it was read.
  std::vector<uint8_t> FLoadedResourceTree;
  bool FResourceSectionRebuilt = false;
};

// The PE checksum over a whole image whose CheckSum field lies at checksumOffset
// (that field counts as zero).
uint32_t ComputePEChecksum(const uint8_t* image, size_t size, size_t checksumOffset);
