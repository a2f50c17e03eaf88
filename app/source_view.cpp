#include "app/source_view.h"

#include <algorithm>
#include <cmath>

#include "app/picture_transfer.h"
#include "base/toolbox/image_conversion.h"
#include "imaging/io/image_lib_io.h"
#include "platform/graphics/graphics_bitmap.h"

namespace {

constexpr int kCheckSize = 8;
// The chessboard's two colours: white and the grey of a dialog face.
constexpr uint8_t kCheckGrey[3] = {200, 208, 212};  // blue, green, red

// Composites a pf32bit picture over the chessboard into a pf24bit bitmap; the
// squares are counted from the picture's own corner so they stay put while it
// is redrawn.
void FlattenOnChessboard(TBitmap& picture, TBitmap& target) {
  const int w = picture.Width(), h = picture.Height();
  target.SetPixelFormat(pf24bit);
  target.SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    const auto* s = static_cast<const uint8_t*>(picture.ScanLine(y));
    auto* t = static_cast<uint8_t*>(target.ScanLine(y));
    for (int x = 0; x < w; ++x) {
      const bool grey = ((x / kCheckSize) + (y / kCheckSize)) & 1;
      const unsigned a = s[x * 4 + 3];
      for (int c = 0; c < 3; ++c) {
        const unsigned under = grey ? kCheckGrey[c] : 255u;
        t[x * 3 + c] = uint8_t((s[x * 4 + c] * a + under * (255 - a) + 127) / 255);
      }
    }
  }
}

}  // namespace

TSourceView::TSourceView(TComponent* owner) : TCustomControl(owner), FBitmap(std::make_unique<TIEBitmap>()) {
  SetColor(clWhite);
  SetTabStop(true);
}

TSourceView::~TSourceView() = default;

TImageLibIO* TSourceView::GetIO() {
  if (!FIO) {
    FIO = new TImageLibIO(this);
    FIO->AttachBitmap(FBitmap.get());
  }
  return FIO;
}

bool TSourceView::IsEmptyBitmap() { return FBitmap->Width() <= 1 && FBitmap->Height() <= 1; }

void TSourceView::Update() {
  const TRect whole{0, 0, FBitmap->Width(), FBitmap->Height()};
  if (FSelected && (FSelection.right > whole.right || FSelection.bottom > whole.bottom)) FSelected = false;
  FDisplayStale = true;
  if (FAutoFit)
    Fit();
  else
    Invalidate();
}

void TSourceView::SetAutoFit(bool value) {
  FAutoFit = value;
  if (value) Fit();
}

void TSourceView::Fit() {
  const int w = FBitmap->Width(), h = FBitmap->Height();
  if (w <= 0 || h <= 0 || ClientWidth() <= 0 || ClientHeight() <= 0) {
    FZoom = 100;
  } else {
    FZoom = std::min(100.0 * ClientWidth() / w, 100.0 * ClientHeight() / h);
  }
  FDisplayStale = true;
  Invalidate();
}

void TSourceView::SetZoom(double percent) {
  FZoom = std::clamp(percent, 1.0, 6400.0);
  FAutoFit = false;
  FDisplayStale = true;
  Invalidate();
}

void TSourceView::SetEnableAlphaChannel(bool value) {
  FEnableAlphaChannel = value;
  FDisplayStale = true;
  Invalidate();
}

TRect TSourceView::PictureRect() const {
  const int w = std::max(1, int(std::lround(FBitmap->Width() * FZoom / 100)));
  const int h = std::max(1, int(std::lround(FBitmap->Height() * FZoom / 100)));
  const int left = std::max(0, (Width() - w) / 2), top = std::max(0, (Height() - h) / 2);
  return TRect{left, top, left + w, top + h};
}

int TSourceView::ScreenToBitmapX(int x) const { return int(std::floor((x - PictureRect().left) * 100.0 / FZoom)); }
int TSourceView::ScreenToBitmapY(int y) const { return int(std::floor((y - PictureRect().top) * 100.0 / FZoom)); }
int TSourceView::BitmapToScreenX(int x) const { return PictureRect().left + int(std::lround(x * FZoom / 100)); }
int TSourceView::BitmapToScreenY(int y) const { return PictureRect().top + int(std::lround(y * FZoom / 100)); }

void TSourceView::Select(int x1, int y1, int x2, int y2) {
  const int w = FBitmap->Width(), h = FBitmap->Height();
  int bx1 = std::clamp(ScreenToBitmapX(std::min(x1, x2)), 0, w);
  int by1 = std::clamp(ScreenToBitmapY(std::min(y1, y2)), 0, h);
  int bx2 = std::clamp(ScreenToBitmapX(std::max(x1, x2)), 0, w);
  int by2 = std::clamp(ScreenToBitmapY(std::max(y1, y2)), 0, h);
  FSelected = bx2 > bx1 && by2 > by1;
  FSelection = FSelected ? TRect{bx1, by1, bx2, by2} : TRect{};
  Invalidate();
}

void TSourceView::Deselect() {
  FSelected = false;
  FSelection = TRect{};
  Invalidate();
}

void TSourceView::CopySelectionToIEBitmap(TIEBitmap& target) {
  if (!FSelected) {
    target.Assign(FBitmap.get());
    return;
  }
  const int w = FSelection.right - FSelection.left, h = FSelection.bottom - FSelection.top;
  target.Allocate(w, h, FBitmap->PixelFormat());
  FBitmap->CopyPaletteTo(&target);
  FBitmap->CopyRectTo(target, FSelection.left, FSelection.top, w, h, 0, 0);
  if (FBitmap->HasAlphaChannel()) {
    TIEBitmap* alpha = target.AlphaChannel();
    FBitmap->AlphaChannel()->CopyRectTo(*alpha, FSelection.left, FSelection.top, w, h, 0, 0);
    alpha->CheckFull();
  }
}

void TSourceView::CopySelectionToBitmap(TBitmap& target) {
  TIEBitmap part;
  CopySelectionToIEBitmap(part);
  part.RemoveAlphaChannel();
  part.CopyToTBitmap(target);
}

void TSourceView::BuildDisplay() {
  FDisplayStale = false;
  FDisplay.reset();
  if (FBitmap->IsEmpty()) return;
  const TRect r = PictureRect();
  TBitmap picture;
  IEBitmapToBitmap32(*FBitmap, picture);
  if (picture.PixelFormat() != pf32bit || !FEnableAlphaChannel) {
    picture.SetPixelFormat(pf24bit);
    picture.SetPixelFormat(pf32bit);
    for (int y = 0; y < picture.Height(); ++y) {
      auto* row = static_cast<uint32_t*>(picture.ScanLine(y));
      for (int x = 0; x < picture.Width(); ++x) row[x] |= 0xFF000000u;
    }
  }
  TBitmap sized;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w == picture.Width() && h == picture.Height()) {
    sized.Assign(&picture);
  } else {
    // Shrinking is smoothed; enlarging keeps the pixels square, as a user
    // expects when looking at an icon close up.
    const TIconResampleFilter filter = w < picture.Width() ? irfTriangle : irfNone;
    ConvertImage(&picture, nullptr, &sized, nullptr, pf32bit, w, h, 1, 0, false, filter, nullptr, false);
  }
  FDisplay = std::make_unique<TBitmap>();
  FlattenOnChessboard(sized, *FDisplay);
}

void TSourceView::Paint() {
  TCanvas* c = Canvas();
  c->Brush()->SetColor(Color());
  c->FillRect(TRect{0, 0, Width(), Height()});
  if (FDisplayStale) BuildDisplay();
  if (!FDisplay) return;
  const TRect r = PictureRect();
  c->Draw(r.left, r.top, FDisplay.get());
  if (!FSelected) return;
  const TRect s{BitmapToScreenX(FSelection.left), BitmapToScreenY(FSelection.top),
                BitmapToScreenX(FSelection.right), BitmapToScreenY(FSelection.bottom)};
  // A white frame under a dotted black one shows on light and dark pictures.
  c->Brush()->SetStyle(bsClear);
  c->Pen()->SetStyle(psSolid);
  c->Pen()->SetColor(clWhite);
  c->Rectangle(s);
  c->Pen()->SetStyle(psDot);
  c->Pen()->SetColor(clBlack);
  c->Rectangle(s);
  c->Pen()->SetStyle(psSolid);
  c->Brush()->SetStyle(bsSolid);
}

void TSourceView::Resize() {
  TCustomControl::Resize();
  if (FAutoFit) Fit();
}

void TSourceView::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseDown(button, shift, x, y);
  if (button != mbLeft || FBitmap->IsEmpty()) return;
  // A selection starts inside the picture, at the nearest point to the press.
  const TRect r = PictureRect();
  FDragging = true;
  FDragStart = TPoint{std::clamp(x, int(r.left), int(r.right)), std::clamp(y, int(r.top), int(r.bottom))};
  Deselect();
}

void TSourceView::DragTo(int x, int y) {
  const TRect r = PictureRect();
  x = std::clamp(x, int(r.left), int(r.right));
  y = std::clamp(y, int(r.top), int(r.bottom));
  if (FKeepSquare) {
    // The square grows with the longer side of the drag but stays inside the picture.
    const int roomX = x < FDragStart.x ? FDragStart.x - r.left : r.right - FDragStart.x;
    const int roomY = y < FDragStart.y ? FDragStart.y - r.top : r.bottom - FDragStart.y;
    const int side = std::min({std::max(std::abs(x - FDragStart.x), std::abs(y - FDragStart.y)), roomX, roomY});
    x = FDragStart.x + (x < FDragStart.x ? -side : side);
    y = FDragStart.y + (y < FDragStart.y ? -side : side);
  }
  Select(FDragStart.x, FDragStart.y, x, y);
  if (FKeepSquare && FSelected) {
    // Rounding to picture pixels may leave one side a pixel longer.
    const int side = std::min(FSelection.right - FSelection.left, FSelection.bottom - FSelection.top);
    FSelection.right = FSelection.left + side;
    FSelection.bottom = FSelection.top + side;
  }
}

void TSourceView::MouseMove(TShiftState shift, int x, int y) {
  TCustomControl::MouseMove(shift, x, y);
  if (FDragging) DragTo(x, y);
}

void TSourceView::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseUp(button, shift, x, y);
  if (!FDragging || button != mbLeft) return;
  FDragging = false;
  DragTo(x, y);
  if (OnSelectionChange) OnSelectionChange(this);
}
