#include "platform/ui/img_list.h"

#include <algorithm>

#include "platform/rtl/exceptions.h"

namespace {

// The colour of a pixel of any bitmap, through its canvas.
COLORREF PixelOf(TBitmap* bitmap, int x, int y) {
  return static_cast<COLORREF>(bitmap->Canvas()->Pixels(x, y)) & 0xFFFFFF;
}

bool MaskTransparent(TBitmap* mask, int x, int y, const void*) {
  return mask && x < mask->Width() && y < mask->Height() && PixelOf(mask, x, y) != 0;
}

bool ColourTransparent(TBitmap* image, int x, int y, const void* key) {
  return PixelOf(image, x, y) == *static_cast<const COLORREF*>(key);
}

}  // namespace

TCustomImageList::TCustomImageList(TComponent* owner) : TComponent(owner) {}

void TCustomImageList::SetWidth(int value) {
  if (value == FWidth || value <= 0) return;
  FWidth = value;
  Clear();
}

void TCustomImageList::SetHeight(int value) {
  if (value == FHeight || value <= 0) return;
  FHeight = value;
  Clear();
}

void TCustomImageList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EInvalidOperation("Invalid ImageList Index");
}

void TCustomImageList::Changed() {
  if (OnChange) OnChange(this);
}

TCustomImageList::Pixels TCustomImageList::FromBitmap(TBitmap* image, int left,
                                                      bool (*transparent)(TBitmap*, int, int, const void*),
                                                      const void* arg) {
  Pixels p(static_cast<size_t>(FWidth) * FHeight * 4, 0);
  bool hasAlpha = image->PixelFormat() == pf32bit && image->AlphaFormat() != afIgnored;
  for (int y = 0; y < FHeight && y < image->Height(); ++y) {
    const uint8_t* row = hasAlpha ? static_cast<const uint8_t*>(image->ScanLine(y)) : nullptr;
    for (int x = 0; x < FWidth && left + x < image->Width(); ++x) {
      uint8_t* d = &p[(static_cast<size_t>(y) * FWidth + x) * 4];
      if (row) {
        const uint8_t* s = row + (left + x) * 4;
        std::copy(s, s + 4, d);
        continue;
      }
      COLORREF c = PixelOf(image, left + x, y);
      bool clear = transparent(transparent == MaskTransparent ? static_cast<TBitmap*>(const_cast<void*>(arg)) : image,
                               left + x, y, arg);
      d[0] = GetBValue(c);
      d[1] = GetGValue(c);
      d[2] = GetRValue(c);
      d[3] = clear ? 0 : 255;
    }
  }
  return p;
}

TCustomImageList::Pixels TCustomImageList::FromIcon(TIcon* icon) {
  // Draws the icon onto two backgrounds: where they differ, the icon is see-through.
  TBitmap black, white;
  for (TBitmap* b : {&black, &white}) {
    b->SetPixelFormat(pf24bit);
    b->SetSize(FWidth, FHeight);
    b->Canvas()->Brush()->SetColor(b == &black ? clBlack : clWhite);
    b->Canvas()->FillRect(Rect(0, 0, FWidth, FHeight));
    b->Canvas()->StretchDraw(Rect(0, 0, FWidth, FHeight), icon);
  }
  Pixels p(static_cast<size_t>(FWidth) * FHeight * 4, 0);
  for (int y = 0; y < FHeight; ++y) {
    for (int x = 0; x < FWidth; ++x) {
      COLORREF k = PixelOf(&black, x, y), w = PixelOf(&white, x, y);
      int alpha = 255 - (GetRValue(w) - GetRValue(k));
      alpha = std::clamp(alpha, 0, 255);
      uint8_t* d = &p[(static_cast<size_t>(y) * FWidth + x) * 4];
      auto un = [&](int c) { return alpha ? static_cast<uint8_t>(std::min(255, c * 255 / alpha)) : 0; };
      d[0] = un(GetBValue(k));
      d[1] = un(GetGValue(k));
      d[2] = un(GetRValue(k));
      d[3] = static_cast<uint8_t>(alpha);
    }
  }
  return p;
}

int TCustomImageList::Add(TBitmap* image, TBitmap* mask) {
  if (!image || image->Empty()) return -1;
  int first = Count();
  for (int left = 0; left + FWidth <= std::max(image->Width(), FWidth); left += FWidth) {
    FImages.push_back(FromBitmap(image, left, MaskTransparent, mask));
    if (image->Width() <= FWidth) break;
  }
  Changed();
  return first;
}

int TCustomImageList::AddMasked(TBitmap* image, TColor maskColor) {
  if (!image || image->Empty()) return -1;
  COLORREF key = static_cast<COLORREF>(ColorToRGB(maskColor == clDefault ? image->TransparentColor() : maskColor)) & 0xFFFFFF;
  int first = Count();
  for (int left = 0; left + FWidth <= std::max(image->Width(), FWidth); left += FWidth) {
    FImages.push_back(FromBitmap(image, left, ColourTransparent, &key));
    if (image->Width() <= FWidth) break;
  }
  Changed();
  return first;
}

int TCustomImageList::AddIcon(TIcon* icon) {
  if (!icon || icon->Empty()) return -1;
  FImages.push_back(FromIcon(icon));
  Changed();
  return Count() - 1;
}

void TCustomImageList::Replace(int index, TBitmap* image, TBitmap* mask) {
  CheckIndex(index);
  FImages[index] = FromBitmap(image, 0, MaskTransparent, mask);
  Changed();
}

void TCustomImageList::ReplaceMasked(int index, TBitmap* image, TColor maskColor) {
  CheckIndex(index);
  COLORREF key = static_cast<COLORREF>(ColorToRGB(maskColor)) & 0xFFFFFF;
  FImages[index] = FromBitmap(image, 0, ColourTransparent, &key);
  Changed();
}

void TCustomImageList::ReplaceIcon(int index, TIcon* icon) {
  // -1 adds, as the framework allows.
  if (index == -1) {
    AddIcon(icon);
    return;
  }
  CheckIndex(index);
  FImages[index] = FromIcon(icon);
  Changed();
}

void TCustomImageList::Delete(int index) {
  CheckIndex(index);
  FImages.erase(FImages.begin() + index);
  Changed();
}

void TCustomImageList::Clear() {
  FImages.clear();
  Changed();
}

void TCustomImageList::Move(int curIndex, int newIndex) {
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  Pixels p = std::move(FImages[curIndex]);
  FImages.erase(FImages.begin() + curIndex);
  FImages.insert(FImages.begin() + newIndex, std::move(p));
  Changed();
}

void TCustomImageList::Draw(TCanvas* canvas, int x, int y, int index, bool enabled) {
  if (index < 0 || index >= Count() || !canvas) return;
  const Pixels& src = FImages[index];
  // Blends through a premultiplied 32-bit bitmap, so the canvas's clipping and origin apply.
  TBitmap tmp;
  tmp.SetPixelFormat(pf32bit);
  tmp.SetSize(FWidth, FHeight);
  for (int row = 0; row < FHeight; ++row) {
    uint8_t* d = static_cast<uint8_t*>(tmp.ScanLine(row));
    const uint8_t* s = &src[static_cast<size_t>(row) * FWidth * 4];
    for (int col = 0; col < FWidth; ++col, d += 4, s += 4) {
      int b = s[0], g = s[1], r = s[2], a = s[3];
      if (!enabled) {
        // Greyed: the brightness lifted towards the button face, alpha halved.
        int l = (r * 30 + g * 59 + b * 11) / 100;
        l = 128 + l / 2;
        r = g = b = l;
        a = a / 2;
      }
      d[0] = static_cast<uint8_t>(b * a / 255);
      d[1] = static_cast<uint8_t>(g * a / 255);
      d[2] = static_cast<uint8_t>(r * a / 255);
      d[3] = static_cast<uint8_t>(a);
    }
  }
  tmp.SetAlphaFormat(afPremultiplied);
  canvas->Draw(x, y, &tmp);
}

void TCustomImageList::GetBitmap(int index, TBitmap* image) {
  if (!image || index < 0 || index >= Count()) return;
  image->SetPixelFormat(pf24bit);
  image->SetSize(FWidth, FHeight);
  image->Canvas()->Brush()->SetColor(FBkColor == clNone ? clWhite : FBkColor);
  image->Canvas()->FillRect(Rect(0, 0, FWidth, FHeight));
  Draw(image->Canvas(), 0, 0, index, true);
}

void TCustomImageList::GetIcon(int index, TIcon* icon) {
  if (!icon || index < 0 || index >= Count()) return;
  const Pixels& src = FImages[index];
  TBitmap colour, mask;
  colour.SetPixelFormat(pf32bit);
  colour.SetSize(FWidth, FHeight);
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(FWidth, FHeight);
  for (int row = 0; row < FHeight; ++row) {
    uint8_t* d = static_cast<uint8_t*>(colour.ScanLine(row));
    std::copy(&src[static_cast<size_t>(row) * FWidth * 4], &src[static_cast<size_t>(row + 1) * FWidth * 4], d);
    for (int col = 0; col < FWidth; ++col)
      mask.Canvas()->SetPixels(col, row, src[(static_cast<size_t>(row) * FWidth + col) * 4 + 3] ? clBlack : clWhite);
  }
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = colour.Handle();
  info.hbmMask = mask.Handle();
  HICON h = CreateIconIndirect(&info);
  if (h) icon->SetHandle(h);
}
