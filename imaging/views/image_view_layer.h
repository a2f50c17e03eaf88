#pragma once
// TIELayer: one layer of an image view. Layer 0 is the picture itself; the
// view's current bitmap is always the bitmap of its current layer.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_resample.h"
#include "platform/rtl/object.h"

class TImageLibView;
class TStream;

struct TIEMagnify {
  bool Enabled = false;
  double Rate = 2.0;
  uint8_t Shape = 0;   // 0 rectangle, 1 ellipse
  uint8_t Source = 1;  // 0 layer 0, 1 what is drawn below
};

class TIELayer : public TObject {
public:
  // view may be nil (a layer record outside any view). With ownsGiven the given
  // bitmap becomes the layer's; otherwise a new bitmap of its size, format and
  // storage is made (an empty one for no bitmap).
  TIELayer(TImageLibView* view, bool ownsGiven, TIEBitmap* bitmap);
  ~TIELayer() override;
  TIELayer(const TIELayer&) = delete;
  TIELayer& operator=(const TIELayer&) = delete;

  // The defaults of every field except the name, the filter and the GUID.
  void Reset();
  // Display size, content and behaviour of source; rotation, centre and GUID stay.
  void CopyFrom(TIELayer& source);

  TIEBitmap* Bitmap() const { return FBitmap; }
  bool OwnsBitmap() const { return FOwnsBitmap; }
  // Replaces the bitmap; an owned one is freed first.
  void SetBitmap(TIEBitmap* bitmap, bool owns);
  TImageLibView* View() const { return FView; }

  int GetDisplayWidth() const;
  int GetDisplayHeight() const;
  double Rotate() const { return FRotate; }
  // A whole angle that is a multiple of 360 is stored as 0.
  void SetRotate(double angle);
  int ScreenToLayerX(int x);
  int ScreenToLayerY(int y);
  int LayerToScreenX(int x);
  int LayerToScreenY(int y);

  // One layer record: int32 length, GUID, the fields, an optional raw bitmap.
  void SaveToStream(TStream& stream, bool withBitmap);
  void LoadFromStream(TStream& stream);

  // User data of length bytes copied into a block the layer owns (and frees);
  // length 0 clears it.
  void SetUserDataCopy(const uint8_t* data, int32_t length);

  const std::array<uint8_t, 16>& GUID() const { return FGUID; }
  TIEBitmap* Cache() const { return FCache.get(); }
  void DropCache() { FCache.reset(); }
  std::unique_ptr<TIEBitmap>& CacheSlot() { return FCache; }

  int32_t Width = 0, Height = 0;  // display size; 0 means the bitmap's own
  bool Visible = true;
  bool VisibleBox = true;
  int32_t Transparency = 255;
  int32_t PosX = 0, PosY = 0;
  int32_t ScreenRect[4] = {0, 0, 0, 0};  // x1, y1, x2, y2
  bool Cropped = false;
  bool Locked = false;
  bool Selectable = true;
  TIEMagnify Magnify;
  uint8_t Operation = 0;
  void* UserData = nullptr;
  int32_t UserDataLen = 0;
  TResampleFilter ResampleFilter = rfNone;
  bool UseResampleFilter = false;
  std::string Name;
  bool IsMask = false;
  int32_t DrawnRects[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  int32_t Outline[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  bool DrawOuter = false;
  double RotationCentreX = 0.5, RotationCentreY = 0.5;

private:
  void FreeUserData();
  TImageLibView* FView;
  TIEBitmap* FBitmap = nullptr;
  std::unique_ptr<TIEBitmap> FOwnedBitmap;
  bool FOwnsBitmap = true;
  std::unique_ptr<TIEBitmap> FCache;
  double FRotate = 0;
  std::array<uint8_t, 16> FGUID{};
  // User data we allocated on load, freed with the layer; a reference restored
  // from a record is never freed here.
  std::unique_ptr<uint8_t[]> FUserDataStore;
};
