#include "imaging/views/image_view_layer.h"

#include <cmath>
#include <cstring>
#include <random>

#include "imaging/core/ie_raw_stream.h"
#include "imaging/views/image_view.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"

namespace {

std::array<uint8_t, 16> NewGUID() {
  static std::random_device seed;
  static std::mt19937_64 generator(seed());
  std::array<uint8_t, 16> g{};
  uint64_t a = generator(), b = generator();
  for (int i = 0; i < 8; ++i) {
    g[size_t(i)] = uint8_t(a >> (8 * i));
    g[size_t(i + 8)] = uint8_t(b >> (8 * i));
  }
  g[6] = uint8_t((g[6] & 0x0F) | 0x40);  // a random (version 4) identifier
  g[8] = uint8_t((g[8] & 0x3F) | 0x80);
  return g;
}

}  // namespace

TIELayer::TIELayer(TImageLibView* view, bool ownsGiven, TIEBitmap* bitmap) : FView(view), FGUID(NewGUID()) {
  if (ownsGiven && bitmap) {
    FOwnedBitmap.reset(bitmap);
    FBitmap = bitmap;
  } else {
    FOwnedBitmap = std::make_unique<TIEBitmap>();
    FBitmap = FOwnedBitmap.get();
    if (bitmap) {
      FBitmap->SetLocation(bitmap->Location());
      if (!bitmap->IsEmpty()) FBitmap->Allocate(bitmap->Width(), bitmap->Height(), bitmap->PixelFormat());
    }
  }
  FOwnsBitmap = true;
  Reset();
}

TIELayer::~TIELayer() { FreeUserData(); }

void TIELayer::FreeUserData() {
  FUserDataStore.reset();
  UserData = nullptr;
  UserDataLen = 0;
}

void TIELayer::SetUserDataCopy(const uint8_t* data, int32_t length) {
  FreeUserData();
  if (!data || length <= 0) return;
  FUserDataStore = std::make_unique<uint8_t[]>(size_t(length));
  std::memcpy(FUserDataStore.get(), data, size_t(length));
  UserData = FUserDataStore.get();
  UserDataLen = length;
}

void TIELayer::Reset() {
  Visible = true;
  VisibleBox = true;
  Transparency = 255;
  PosX = PosY = 0;
  for (int32_t& v : ScreenRect) v = 0;
  Width = Height = 0;
  Cropped = false;
  Selectable = true;
  Locked = false;
  Magnify = TIEMagnify{};
  Operation = 0;
  FreeUserData();
  IsMask = false;
  DrawOuter = false;
  for (int32_t& v : DrawnRects) v = 0;
  for (int32_t& v : Outline) v = 0;
  FRotate = 0;
  RotationCentreX = RotationCentreY = 0.5;
}

void TIELayer::CopyFrom(TIELayer& source) {
  Width = source.Width;
  Height = source.Height;
  FBitmap->Assign(source.FBitmap);
  Visible = source.Visible;
  VisibleBox = source.VisibleBox;
  Selectable = source.Selectable;
  Transparency = source.Transparency;
  PosX = source.PosX;
  PosY = source.PosY;
  for (int i = 0; i < 4; ++i) ScreenRect[i] = source.ScreenRect[i];
  Cropped = source.Cropped;
  Locked = source.Locked;
  Magnify = source.Magnify;
  Operation = source.Operation;
  // The reference only: the data stays with the source, which frees it.
  FUserDataStore.reset();
  UserData = source.UserData;
  UserDataLen = 0;
  ResampleFilter = source.ResampleFilter;
  UseResampleFilter = source.UseResampleFilter;
  Name = source.Name;
  IsMask = source.IsMask;
  DrawOuter = source.DrawOuter;
}

void TIELayer::SetBitmap(TIEBitmap* bitmap, bool owns) {
  if (bitmap == FBitmap) {
    FOwnsBitmap = owns;
    if (!owns) FOwnedBitmap.release();
    return;
  }
  FOwnedBitmap.reset();
  FBitmap = bitmap;
  FOwnsBitmap = owns;
  if (owns) FOwnedBitmap.reset(bitmap);
  FCache.reset();
}

int TIELayer::GetDisplayWidth() const { return Width != 0 ? Width : (FBitmap ? FBitmap->Width() : 0); }
int TIELayer::GetDisplayHeight() const { return Height != 0 ? Height : (FBitmap ? FBitmap->Height() : 0); }

void TIELayer::SetRotate(double angle) {
  if (angle == std::trunc(angle) && static_cast<int64_t>(Round(angle)) % 360 == 0) angle = 0;
  FRotate = angle;
}

int TIELayer::ScreenToLayerX(int x) {
  const int dw = GetDisplayWidth();
  if (dw == 0 || !FView) return 0;
  const double z = FView->ZoomX() / 100.0;
  return int(Round(FView->ScreenToBitmapX(x - int(Round(PosX * z))) * double(FBitmap->Width()) / dw));
}

int TIELayer::ScreenToLayerY(int y) {
  const int dh = GetDisplayHeight();
  if (dh == 0 || !FView) return 0;
  const double z = FView->ZoomY() / 100.0;
  return int(Round(FView->ScreenToBitmapY(y - int(Round(PosY * z))) * double(FBitmap->Height()) / dh));
}

int TIELayer::LayerToScreenX(int x) {
  if (!FView || FBitmap->Width() == 0) return 0;
  const double z = FView->ZoomX() / 100.0;
  return FView->BitmapToScreenX(int(Round(GetDisplayWidth() * double(x) / FBitmap->Width()))) +
         int(Round(PosX * z));
}

int TIELayer::LayerToScreenY(int y) {
  if (!FView || FBitmap->Height() == 0) return 0;
  const double z = FView->ZoomY() / 100.0;
  return FView->BitmapToScreenY(int(Round(GetDisplayHeight() * double(y) / FBitmap->Height()))) +
         int(Round(PosY * z));
}

namespace {

void WriteBool(TStream& s, bool v) { s.WriteValue<uint8_t>(v ? 1 : 0); }
bool ReadBool(TStream& s) { return s.ReadValue<uint8_t>() != 0; }

}  // namespace

void TIELayer::SaveToStream(TStream& stream, bool withBitmap) {
  const int64_t start = stream.Position();
  stream.WriteValue<int32_t>(0);
  stream.WriteBuffer(FGUID.data(), 16);
  stream.WriteValue<int32_t>(Width);
  stream.WriteValue<int32_t>(Height);
  WriteBool(stream, Visible);
  WriteBool(stream, VisibleBox);
  WriteBool(stream, Selectable);
  stream.WriteValue<int32_t>(Transparency);
  stream.WriteValue<int32_t>(PosX);
  stream.WriteValue<int32_t>(PosY);
  for (int32_t v : ScreenRect) stream.WriteValue<int32_t>(v);
  WriteBool(stream, Cropped);
  WriteBool(stream, Locked);
  uint8_t magnify[24] = {};
  magnify[0] = Magnify.Enabled ? 1 : 0;
  std::memcpy(magnify + 8, &Magnify.Rate, 8);
  magnify[16] = Magnify.Shape;
  magnify[17] = Magnify.Source;
  stream.WriteBuffer(magnify, 24);
  stream.WriteValue<uint8_t>(Operation);
  // The reference as the 32-bit value the record has room for.
  stream.WriteValue<uint32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(UserData)));
  stream.WriteValue<uint8_t>(ResampleFilter);
  WriteBool(stream, UseResampleFilter);
  stream.WriteValue<int32_t>(static_cast<int32_t>(Name.size()));
  if (!Name.empty()) stream.WriteBuffer(Name.data(), static_cast<int64_t>(Name.size()));
  WriteBool(stream, IsMask);
  WriteBool(stream, DrawOuter);
  stream.WriteValue<double>(FRotate);
  stream.WriteValue<double>(RotationCentreX);
  stream.WriteValue<double>(RotationCentreY);
  WriteBool(stream, withBitmap);
  if (withBitmap) SaveRawToStream(*FBitmap, stream);
  const int64_t end = stream.Position();
  stream.SetPosition(start);
  stream.WriteValue<int32_t>(static_cast<int32_t>(end - start));
  stream.SetPosition(end);
}

void TIELayer::LoadFromStream(TStream& stream) {
  // Read into a copy first, so a short record changes nothing.
  stream.ReadValue<int32_t>();
  std::array<uint8_t, 16> guid{};
  stream.ReadBuffer(guid.data(), 16);
  TIELayer r(nullptr, false, nullptr);
  r.Width = stream.ReadValue<int32_t>();
  r.Height = stream.ReadValue<int32_t>();
  r.Visible = ReadBool(stream);
  r.VisibleBox = ReadBool(stream);
  r.Selectable = ReadBool(stream);
  r.Transparency = stream.ReadValue<int32_t>();
  r.PosX = stream.ReadValue<int32_t>();
  r.PosY = stream.ReadValue<int32_t>();
  for (int32_t& v : r.ScreenRect) v = stream.ReadValue<int32_t>();
  r.Cropped = ReadBool(stream);
  r.Locked = ReadBool(stream);
  uint8_t magnify[24];
  stream.ReadBuffer(magnify, 24);
  r.Magnify.Enabled = magnify[0] != 0;
  std::memcpy(&r.Magnify.Rate, magnify + 8, 8);
  r.Magnify.Shape = magnify[16];
  r.Magnify.Source = magnify[17];
  r.Operation = stream.ReadValue<uint8_t>();
  stream.ReadValue<uint32_t>();  // a reference of the writing process: meaningless here
  r.ResampleFilter = static_cast<TResampleFilter>(stream.ReadValue<uint8_t>());
  r.UseResampleFilter = ReadBool(stream);
  const int32_t nameLength = stream.ReadValue<int32_t>();
  if (nameLength < 0 || nameLength > stream.Remaining()) throw EReadError("Stream read error");
  r.Name.resize(size_t(nameLength));
  if (nameLength > 0) stream.ReadBuffer(r.Name.data(), nameLength);
  r.IsMask = ReadBool(stream);
  r.DrawOuter = ReadBool(stream);
  r.FRotate = stream.ReadValue<double>();
  r.RotationCentreX = stream.ReadValue<double>();
  r.RotationCentreY = stream.ReadValue<double>();
  const bool hasBitmap = ReadBool(stream);
  if (hasBitmap) {
    TIEBitmap loaded;
    if (!LoadRawFromStream(loaded, stream)) throw EReadError("Stream read error");
    FBitmap->Assign(&loaded);
  }
  FGUID = guid;
  Width = r.Width;
  Height = r.Height;
  Visible = r.Visible;
  VisibleBox = r.VisibleBox;
  Selectable = r.Selectable;
  Transparency = r.Transparency;
  PosX = r.PosX;
  PosY = r.PosY;
  for (int i = 0; i < 4; ++i) ScreenRect[i] = r.ScreenRect[i];
  Cropped = r.Cropped;
  Locked = r.Locked;
  Magnify = r.Magnify;
  Operation = r.Operation;
  ResampleFilter = r.ResampleFilter;
  UseResampleFilter = r.UseResampleFilter;
  Name = r.Name;
  IsMask = r.IsMask;
  DrawOuter = r.DrawOuter;
  FRotate = r.FRotate;
  RotationCentreX = r.RotationCentreX;
  RotationCentreY = r.RotationCentreY;
  FCache.reset();
}
