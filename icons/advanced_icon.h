#pragma once
// TAdvancedIcon: a Windows icon or cursor of any number of images, held in a
// TSubIconList that owns them. ICO and CUR reading and writing live in
// ico_file.cpp.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icons/sub_icon.h"
#include "platform/graphics/graphics_types.h"

class TBitmap;
class TPicture;
class TAdvancedIcon;
class TIconList;
class TReader;
class TWriter;
struct TResourceId;

// The order of Sort: the deeper image first, then the wider (a Mac
// high-resolution element counts one pixel narrower).
int CompareSubIconsForSort(TSubIcon* a, TSubIcon* b);

class TSubIconList : public TObject {
public:
  TSubIconList() = default;
  ~TSubIconList() override { Clear(); }

  // An icon holds at most this many images, as the 16-bit count of a file.
  static constexpr int kMaxImages = 65535;

  int Count() const { return static_cast<int>(FItems.size()); }
  int Capacity() const { return FCapacity; }
  void SetCapacity(int n);
  // Appends; raises EListError "Too many images in icon" past kMaxImages.
  void Add(std::unique_ptr<TSubIcon> image);
  void Insert(int index, std::unique_ptr<TSubIcon> image);
  void Delete(int index) { RemoveAt(index, true); }
  // Takes the image out; when free is false the caller gets it back.
  std::unique_ptr<TSubIcon> RemoveAt(int index, bool free);
  void Move(int from, int to);
  void TakeImage(TAdvancedIcon* icon, int index);
  void TakeAllImages(TAdvancedIcon* icon);
  TSubIcon* GetItem(int index) const;
  TSubIcon* operator[](int index) const { return GetItem(index); }
  void Clear();
  void Sort();

  // Builds a TFileIconImage from a DIB (colour stream at its header, mask stream
  // at 1-bit rows or nil) and appends it. available: bytes of the colour
  // stream from the header on.
  TSubIcon* AddDIB(TStream& colour, TStream* mask, uint8_t fillByte, int64_t available);
  TSubIcon* AddBitmap(TBitmap* bitmap, TBitmap* mask, uint8_t byte);
  // Adds an image of a bitmap of 1, 4, 8, 16, 24 or 32 bits with the given
  // AND-mask rows (bottom-up, of its size), or rows of the fill byte.
  TSubIcon* AddBitmapRows(TBitmap& source, const uint8_t* maskRows, uint8_t fillByte);
  void ReplaceWithBitmap(TBitmap* bitmap, TBitmap* mask, int index, uint8_t byte);

  int FindBestIndex(int width, int height, int depth) const;
  int IndexOfImage(int width, int height, int depth) const;

private:
  void Grow(size_t needed);
  std::vector<std::unique_ptr<TSubIcon>> FItems;
  int FCapacity = 0;
};

class TAdvancedIcon : public TPersistent {
public:
  TAdvancedIcon();
  ~TAdvancedIcon() override;

  virtual std::unique_ptr<TAdvancedIcon> Create() const { return std::make_unique<TAdvancedIcon>(); }
  void Assign(TPersistent* source) override;

  TSubIconList& Images() { return *FImages; }
  const TSubIconList& Images() const { return *FImages; }
  int Count() const { return FImages->Count(); }
  void Clear() { FImages->Clear(); }

  TSubIcon* GetBestImage(int width, int height, int depth);
  HICON GetBestHandle(int width, int height, int depth);
  TSubIcon* FindImage(int width, int height, int depth);
  void GetMaxDimensions(int& width, int& height, int& depth);
  void ReleaseHandles();

  // ICO and CUR data (ico_file.cpp).
  bool ReadDirectoryHeader(TStream& stream, int& count);
  bool ReadCursorDirectoryHeader(TStream& stream, TIconDirHeader& header);
  bool LoadFromFile(const std::string& fileName);
  bool LoadFromStream(TStream& stream);
  bool LoadCursorFromStream(TStream& stream);
  bool ReadEmbeddedIcon(TStream& stream);
  bool ReadEmbeddedCursor(TStream& stream);
  void SaveToStream(TStream& stream);
  void SaveToFile(const std::string& fileName);
  void SaveCursorToStream(TStream& stream);
  void SaveCursorToFile(const std::string& fileName);
  // Why the last ICO or CUR read refused the data or passed an entry over (the
  // first rule that fired); "" when it read every entry.
  const std::string& LastRefusal() const { return FLastRefusal; }
  // Scans an animated cursor file for the images of its frames: into this icon,
  // or with a list, one new icon per frame appended to it. A frame limit above 0
  // stops the scan at that many images (icons with a list). True when any were
  // added (animated_cursor.cpp).
  bool LoadFromAniFile(const std::string& fileName, int frameLimit, TIconList* list);

  // Module resources, the clipboard and component streams (icon_resources.cpp).
  // The module loaders append to the icon; true when the group's header is valid.
  bool LoadFromModuleResource(HMODULE module, const TResourceId& name);
  bool LoadFromModuleResource(HMODULE module, const char* name);  // MAKEINTRESOURCE or a name
  bool LoadFromPEResource(const TResourceModule& module, const std::string& name);
  bool LoadCursorFromModuleResource(HMODULE module, const TResourceId& name);
  bool LoadCursorFromModuleResource(HMODULE module, const char* name);
  // True when the private icon format was on the clipboard and gave images.
  bool PasteIconFormat();
  void PasteFromClipboard();
  void WriteToFiler(TWriter& writer) const;
  void ReadFromFiler(TReader& reader);

private:
  std::unique_ptr<TSubIconList> FImages;
  std::string FLastRefusal;
};

// Renders the best image for the request into a new bitmap and gives it to the
// picture; an icon without images gives an empty bitmap.
void DrawBestIconImage(TPicture* picture, TAdvancedIcon* icon, int width, int height, int depth, TColor background);

class TAdvancedCursor : public TAdvancedIcon {
public:
  std::unique_ptr<TAdvancedIcon> Create() const override { return std::make_unique<TAdvancedCursor>(); }
};
