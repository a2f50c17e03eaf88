#pragma once
// Resource details that understand picture resources: bitmaps (type 2),
// bitmaps kept as whole BMP files, icon and cursor images (types 3 and 1) and
// the groups that list those images (types 14 and 12). They report the size
// and pixel format of an image, turn the resource into a picture and back,
// write the contents of a new resource, and keep groups and images in step
// when either is deleted from its module.
#include <cstdint>
#include <string>

#include "icons/resource_model.h"
#include "platform/graphics/dib_types.h"
#include "platform/graphics/graphics_bitmap.h"

class TPicture;

// What new picture resources are made of; process-wide, changed by the program.
struct TGraphicsResourceDefaults {
  int IconWidth = 32;
  int IconHeight = 32;
  TPixelFormat IconPixelFormat = pf4bit;
  int16_t CursorHotspotX = 16;
  int16_t CursorHotspotY = 16;
  int BitmapWidth = 128;
  int BitmapHeight = 96;
  TPixelFormat BitmapPixelFormat = pf24bit;
};
TGraphicsResourceDefaults& GraphicsResourceDefaults();

class TGraphicsResourceDetails : public TResourceDetails {
public:
  using TResourceDetails::TResourceDetails;

  virtual int GetHeight() = 0;
  virtual TPixelFormat GetPixelFormat() = 0;
  virtual int GetWidth() = 0;
  virtual void GetImage(TPicture* picture) = 0;
  // Empties the data and lets the picture's graphic save itself into it.
  virtual void SetImage(TPicture* picture);
};

// A DIB without its file header (type 2).
class TBitmapResourceDetails : public TGraphicsResourceDetails {
public:
  using TGraphicsResourceDetails::TGraphicsResourceDetails;
  static const TResourceDetailsClass& Class();

  int GetHeight() override;
  TPixelFormat GetPixelFormat() override;
  int GetWidth() override;
  void GetImage(TPicture* picture) override;
  void SetImage(TPicture* picture) override;
  void FillDefaultData() override;

protected:
  // Where the info header starts in the data.
  virtual int64_t InfoHeaderOffset() const { return 0; }
  BITMAPINFOHEADER InfoHeader();
  // Loads a whole BMP file into the picture's bitmap, then repairs the pixel
  // format of RLE data.
  void LoadBitmapFile(TPicture* picture, TStream& file);
};

// A bitmap kept as a whole BMP file (type "DIB", or any data that is one).
class TDIBResourceDetails : public TBitmapResourceDetails {
public:
  using TBitmapResourceDetails::TBitmapResourceDetails;
  static const TResourceDetailsClass& Class();
  // "BM", both reserved words 0 and an info header of 40, 108 or 124 bytes.
  static bool ClaimsData(size_t size, const uint8_t* bytes);

  void GetImage(TPicture* picture) override;
  void SetImage(TPicture* picture) override;
  void FillDefaultData() override;

protected:
  int64_t InfoHeaderOffset() const override { return sizeof(BITMAPFILEHEADER); }
};

// One image of an icon or cursor: the DIB of an icon image (height doubled,
// colour rows, mask rows) or PNG data; a cursor's data begins with its hotspot.
class TIconCursorResourceDetails : public TGraphicsResourceDetails {
public:
  using TGraphicsResourceDetails::TGraphicsResourceDetails;

  int GetHeight() override;
  TPixelFormat GetPixelFormat() override;
  int GetWidth() override;
  void GetImage(TPicture* picture) override;
  // The picture must hold a TExIcon or TExCursor; its current image becomes
  // the data.
  void SetImage(TPicture* picture) override;
  void FillDefaultData() override;
  // Takes the image out of the first group of its module that lists it.
  void NotifyDeleting() override;

  virtual bool IsCursor() const = 0;

protected:
  int64_t HeaderOffset() const { return IsCursor() ? 4 : 0; }
  BITMAPINFOHEADER InfoHeader();
};

class TIconResourceDetails : public TIconCursorResourceDetails {
public:
  using TIconCursorResourceDetails::TIconCursorResourceDetails;
  static const TResourceDetailsClass& Class();
  bool IsCursor() const override { return false; }
};

class TCursorResourceDetails : public TIconCursorResourceDetails {
public:
  using TIconCursorResourceDetails::TIconCursorResourceDetails;
  static const TResourceDetailsClass& Class();
  bool IsCursor() const override { return true; }
};

// A group directory: reserved 0, type (1 icon, 2 cursor), count, then count
// entries of 14 bytes whose last word is the numeric name of an image resource
// of the group's image type ("3" for groups of type "14", "1" for "12").
class TIconCursorGroupResourceDetails : public TResourceDetails {
public:
  using TResourceDetails::TResourceDetails;

  // The count of the head, but no more entries than the data holds.
  int GetImageCount();
  // The image of entry n in the module, or nil.
  TIconCursorResourceDetails* GetImageResource(int n);
  bool ContainsImage(const TIconCursorResourceDetails* image);
  // Makes a new default image in the module and a group of that one image.
  void FillDefaultData() override;
  // Deletes the group's images from the module first.
  void NotifyDeleting() override;

  bool Deleting() const { return FDeleting; }
  virtual bool IsCursorGroup() const = 0;
  // The type text of the group's images.
  std::string ImageType() const { return IsCursorGroup() ? "1" : "3"; }
  // Removes entry n: the entries after it move up and the count drops.
  void RemoveEntry(int n);
  // The index of the first entry that names the id, or -1.
  int IndexOfId(int64_t id);

private:
  bool FDeleting = false;
};

class TIconGroupResourceDetails : public TIconCursorGroupResourceDetails {
public:
  using TIconCursorGroupResourceDetails::TIconCursorGroupResourceDetails;
  static const TResourceDetailsClass& Class();
  bool IsCursorGroup() const override { return false; }
};

class TCursorGroupResourceDetails : public TIconCursorGroupResourceDetails {
public:
  using TIconCursorGroupResourceDetails::TIconCursorGroupResourceDetails;
  static const TResourceDetailsClass& Class();
  bool IsCursorGroup() const override { return true; }
};

// Registers the six classes with the resource-details registry (bitmap, DIB,
// icon group, cursor group, icon, cursor) and the icon and cursor picture
// classes; a second call does nothing. The unregistration undoes both.
void RegisterGraphicsResourceClasses();
void UnregisterGraphicsResourceClasses();
