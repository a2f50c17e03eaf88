// The one live use of the vector view: a vector-objects or layers-and-objects
// file opened through the input/output component is drawn into a picture by
// a temporary view.
#include <algorithm>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_streams.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "imaging/io/ie_filters.h"
#include "platform/graphics/graphics_bitmap.h"

namespace {

// The largest picture an object file is drawn into.
constexpr int64_t kMaxSide = 32768;
constexpr int64_t kMaxPixels = int64_t(1) << 27;

void MoveAllObjects(TImageLibVect& vect, int dx, int dy) {
  for (int i = 0; i < vect.ObjectsCount(); ++i) {
    TIEVObject* r = vect.GetObjectRec(vect.GetObjFromIndex(i));
    if (r == nullptr) continue;
    r->X1 += dx;
    r->X2 += dx;
    r->Y1 += dy;
    r->Y2 += dy;
    for (TPoint& p : r->AnglePoints)
      if (p.x != kIEVUnsetPoint) {
        p.x += dx;
        p.y += dy;
      }
  }
}

bool RenderObjectFile(TStream& stream, TImageFileType type, TIEBitmap& out, std::string& reason) {
  TImageLibVect vect(nullptr);
  const bool loaded = type == ioIEV ? vect.LoadObjectsFromStream(stream, false) : vect.LoadAllFromStream(stream);
  if (!loaded) {
    reason = vect.LastLoadError();
    return false;
  }
  TRect extent = vect.GetObjectsExtent();
  if (vect.ObjectsCount() == 0) {
    reason = "the file holds no objects";
    return false;
  }
  auto fits = [&](const TRect& r) {
    const int64_t w = int64_t(r.right) - r.left, h = int64_t(r.bottom) - r.top;
    return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && w * h <= kMaxPixels;
  };
  if (!fits(extent)) {
    reason = "the objects reach too far for a picture";
    return false;
  }
  // What the objects really touch (thick pens, arrow heads, labels, ruler
  // texts) can reach past their corners: the picture grows to hold it. A
  // drawing at the corners' size tells how far.
  TBitmap scratch;
  scratch.SetPixelFormat(pf24bit);
  scratch.SetSize(extent.right, extent.bottom);
  vect.DrawObjectsToBitmap(true, scratch, nullptr, -1, IEV_ALL_OBJECTS, false);
  const TRect drawn = vect.GetDrawnExtent();
  if (drawn.right > drawn.left) {
    extent.left = std::min(extent.left, drawn.left);
    extent.top = std::min(extent.top, drawn.top);
    extent.right = std::max(extent.right, drawn.right);
    extent.bottom = std::max(extent.bottom, drawn.bottom);
  }
  const int64_t w = int64_t(extent.right) - extent.left, h = int64_t(extent.bottom) - extent.top;
  if (w <= 0 || h <= 0) {
    reason = "the objects cover no pixel";
    return false;
  }
  if (w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) {
    reason = "the objects reach too far for a picture";
    return false;
  }
  if (extent.left != 0 || extent.top != 0) MoveAllObjects(vect, -extent.left, -extent.top);
  TIEBitmap* back = vect.GetIEBitmap();
  if (back == nullptr || !back->Allocate(static_cast<int>(w), static_cast<int>(h), ie24RGB)) {
    reason = "no memory for the picture";
    return false;
  }
  back->Fill(0xFFFFFF);
  back->AlphaChannel()->Fill(0);
  back->AlphaChannel()->SetFull(false);
  vect.CopyAllObjectsToBack(true, true, true);
  out.Assign(back);
  return true;
}

// The view a vector-objects or layers-and-objects load goes through when no
// vector view is attached: it draws the objects into a picture.
class TTempObjectView : public TIETempLayeredView {
public:
  explicit TTempObjectView(TImageFileType type) : FType(type) {}
  bool LoadLayeredFile(const std::wstring& name) override {
    try {
      TIEWideFileStream file(name, 0x20);
      return LoadLayeredStream(file);
    } catch (const Exception&) {
      return false;
    }
  }
  bool LoadLayeredStream(TStream& stream) override {
    TIEBitmap picture;
    std::string reason;
    bool ok = false;
    try {
      ok = RenderObjectFile(stream, FType, picture, reason);
    } catch (const Exception&) {
      ok = false;
    }
    if (!ok || picture.Width() <= 0 || picture.Height() <= 0) return false;
    FPicture.Assign(&picture);
    return true;
  }
  TIEBitmap& LayeredPicture() override { return FPicture; }

private:
  TImageFileType FType;
  TIEBitmap FPicture;
};

}  // namespace

void RegisterVectorObjectFormats() {
  TIEFilterSlots& f = IEFilters();
  f.IsIEVStream = [](TStream& s) { return TImageLibVect::IsIEVStream(s); };
  f.IsALLStream = [](TStream& s) { return TImageLibVect::IsALLStream(s); };
  for (TImageFileType type : {ioIEV, ioALL})
    SetTempLayeredViewFactory(type, [](TImageFileType code) { return std::make_unique<TTempObjectView>(code); });
}
