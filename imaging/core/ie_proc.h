#pragma once
// TImageLibProc: the library's image-processing component. It works on one
// TIEBitmap (a view's, a caller's or its own), runs every operation inside one
// frame (format check, undo entry, work, refresh of the owner) and keeps an
// undo and a redo stack of snapshots.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_progress.h"
#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_view_link.h"
#include "platform/rtl/object.h"
#include "platform/rtl/tset.h"
#include "platform/win/win_types.h"

class TIEMask;
class TImage;
class TStream;

// What a single-image view with a selection and layers offers the processing
// component beyond TIEViewLink. A view that implements both is used for the
// selection, layer and whole-content undo entries.
class TIELayeredViewLink {
public:
  virtual ~TIELayeredViewLink() = default;
  virtual TIEMask* SelectionMask() = 0;
  virtual bool Selected() = 0;
  virtual std::vector<POINT> SelectionPolygon() = 0;
  virtual void SaveSelectionToStream(TStream& stream) = 0;
  virtual void LoadSelectionFromStream(TStream& stream) = 0;
  virtual int GetLayersCount() = 0;
  virtual TIEBitmap* LayerBitmap(int index) = 0;
  virtual std::array<uint8_t, 16> LayerGUID(int index) = 0;
  virtual int CurrentLayer() = 0;
  // One layer record: its 32-bit length (counting the whole record), its GUID,
  // then the layer's state and, with withBitmap, its bitmap.
  virtual void SaveLayerToStream(int index, TStream& stream, bool withBitmap) = 0;
  virtual void LoadLayerFromStream(int index, TStream& stream) = 0;
  virtual void SaveLayersToStream(TStream& stream, int code) = 0;
  // False, the layers as they were, when the stream does not hold whole layers.
  virtual bool LoadLayersFromStream(TStream& stream) = 0;
};

// What a vector view offers beyond TIELayeredViewLink: its objects alone, and
// its layers with its objects, to and from a stream. Such a view implements
// both; the processing component uses it for the object and whole-content
// undo entries.
class TIEVectViewLink {
public:
  virtual ~TIEVectViewLink() = default;
  // Each says whether it saved or loaded; a load that fails changes nothing.
  virtual bool SaveObjectsToStream(TStream& stream, int which) = 0;
  virtual bool LoadObjectsFromStream(TStream& stream, bool append) = 0;
  virtual bool SaveAllToStream(TStream& stream, int which) = 0;
  virtual bool LoadAllFromStream(TStream& stream) = 0;
};

enum TIEUndoSource : uint8_t {
  ieuImage = 1,
  ieuSelection = 2,
  ieuObject = 3,
  ieuLayer = 4,
  ieuLayerAndBitmap = 5,
  ieuFullReserved = 6,
};

using TIESaveUndoEvent = std::function<void(TObject* sender, TIEUndoSource source)>;
using TIEFormatSet = TSet<TIEBitmapFormat>;

// Readers of the input and output layer that paste can use; unset, the
// clipboard's PNG data is passed over. Returns true when bitmap was read.
extern std::function<bool(TIEBitmap& bitmap, const void* data, size_t size)> IEPasteLoadPNG;
// Likewise for an enhanced metafile on the clipboard, drawn at its own size
// with alpha; the handle stays the clipboard's. Unset, metafiles are passed over.
extern std::function<bool(TIEBitmap& bitmap, HANDLE metafile)> IEPasteRenderMetafile;

// The id of the first format on the open clipboard whose registered name is
// name (without regard to case), else 0.
unsigned FindClipboardFormatByName(const std::string& name);

// Target size of a resample (both sides negative: no change; -1 keeps the
// aspect of the other side; 0 the source's side; other negatives their
// absolute value; fit scales the source into the box).
void ComputeResampleSize(int& width, int& height, int sourceWidth, int sourceHeight, bool fit);
// The inclusive rectangle of pixels with alpha above 0 (the whole image without
// an alpha channel); false when every pixel is transparent.
bool GetOpaqueBounds(TIEBitmap& bitmap, RECT& bounds);

// ie24RGB only (other formats are left alone): every pixel becomes its entry
// of an n-colour palette (palette, when given, receives the n entries);
// 8 x 8 ordered dithering to ie1g; progress after each row.
void QuantizeToColors(TIEBitmap& bitmap, int n, TRGB* palette, TObject* sender, const TIEProgressEvent& progress);
void DitherToBW(TIEBitmap& bitmap, TObject* sender, const TIEProgressEvent& progress);

// Every pixel of an ie24RGB bitmap whose alpha is 0 takes pixel; other formats
// are left alone.
void FillTransparentPixels(TIEBitmap& bitmap, TRGB pixel);
// Transparent rounded corners of the given radii along a cubic curve, the
// alpha channel's Full flag recomputed; nothing for an empty image or radius 0.
void RoundImageCorners(TIEBitmap& bitmap, int rx, int ry);

class TImageLibProc : public TComponent {
public:
  explicit TImageLibProc(TComponent* owner);
  ~TImageLibProc() override;
  static std::unique_ptr<TImageLibProc> CreateForBitmap(TIEBitmap* bitmap);

  // ---- attachment ----
  TIEViewLink* AttachedImageLib() const { return FAttachedImageLib; }
  void SetAttachedImageLib(TIEViewLink* view);
  // A framework image control whose picture bitmap is processed; attaching it
  // forgets a view, and nil empties the working bitmap.
  TImage* AttachedTImage() const { return FAttachedTImage; }
  void SetAttachedTImage(TImage* image);
  void AttachBitmap(TIEBitmap* bitmap);
  void UseBitmap(TIEBitmap* bitmap);
  TIEBitmap* GetIEBitmap() const { return FBitmap; }

  // ---- settings ----
  bool AutoUndo() const { return FAutoUndo; }
  void SetAutoUndo(bool v) { FAutoUndo = v; }
  int32_t UndoLimit() const { return FUndoLimit; }
  void SetUndoLimit(int32_t v) { FUndoLimit = v; }
  bool AutoConvertFormat() const { return FAutoConvertFormat; }
  void SetAutoConvertFormat(bool v) { FAutoConvertFormat = v; }
  uint32_t Background() const;
  void SetBackground(uint32_t color);
  int32_t GetDpiX() const;
  int32_t GetDpiY() const;
  std::string ImageLibVersion() const;

  TIEProgressEvent OnProgress;
  TNotifyEvent OnFinishWork;
  TIESaveUndoEvent OnSaveUndo;

  // ---- undo and redo (positions count from the newest entry) ----
  bool CanUndo() const { return !FUndo.empty(); }
  bool CanRedo() const { return !FRedo.empty(); }
  int UndoCount() const { return int(FUndo.size()); }
  int RedoCount() const { return int(FRedo.size()); }
  std::string GetUndoCaption(int position) const;
  std::string GetRedoCaption(int position) const;
  // Counted from the OLDEST entry; 0 outside the stack.
  int GetUndoKind(int index) const;
  void SaveUndo(TIEUndoSource kind = ieuImage);
  void SaveUndoCaptioned(const std::string& caption, TIEUndoSource kind = ieuImage);
  void SaveRedo(TIEUndoSource kind = ieuImage);
  void SaveRedoCaptioned(const std::string& caption, TIEUndoSource kind = ieuImage);
  void DiscardLastUndo();
  void DiscardLastRedo();
  void DiscardUndoAt(int position);
  void ClearAllUndo() { FUndo.clear(); }
  void ClearAllRedo() { FRedo.clear(); }
  // Restores an entry; it stays on its stack.
  void Undo(bool saveRedo = false) { UndoAt(0, saveRedo); }
  void UndoAt(int position, bool saveRedo = false);
  void Redo() { RedoAt(0); }
  void RedoAt(int position);

  // ---- the operation frame ----
  bool PrepareBitmap(const TIEFormatSet& allowed = {});
  bool EnsurePixelFormat(const TIEFormatSet& allowed);
  void Update();
  void DoFinishWork();
  // Selection rectangle (exclusive ends) and mask of the attached view; false
  // without a view or without a selection.
  bool GetSelectionInfo(int& x1, int& y1, int& x2, int& y2, TIEMask*& mask);
  // The frame of the operations that honour the selection: saves the undo
  // entry, checks the format and hands out the bitmap to work on with its
  // rectangle (exclusive ends) -- the working bitmap itself, or a copy of the
  // selection's box that EndImageProcessing writes back through the mask.
  // work is nil when the operation cannot run.
  struct TImageProcessing {
    TIEBitmap* work = nullptr;
    std::unique_ptr<TIEBitmap> box;
    TIEMask* mask = nullptr;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  };
  TImageProcessing BeginImageProcessing(const TIEFormatSet& allowed, const std::string& caption);
  void EndImageProcessing(TImageProcessing& processing);

  // ---- operations ----
  void Flip(int direction);
  // Degrees, counter-clockwise; background -1 is the component's Background.
  void Rotate(double angle, bool antiAlias = false, int quality = 0, int64_t background = -1);
  void Clear();
  // color packed red << 16 | green << 8 | blue; both honour the selection.
  void Fill(uint32_t color);
  void ConvertToGray();
  bool CopyImageToClipboard(bool withRaw = true);
  bool CopySelectionToClipboard(bool withRaw = true);
  void PasteFromClipboard();
  // n < 3: black and white (dithered, or the bitmap's own threshold
  // conversion); 3..1024: at most n colours in 24 bits; more: no change.
  void ConvertTo(int n, bool useThreshold = false);
  // As ConvertTo; palette receives at most n colours used.
  void ConvertToPalette(int n, TRGB* palette, bool useThreshold = false);
  void ImageResize(int newWidth, int newHeight, int hAlign = 0, int vAlign = 0, int alpha = 255);
  void Resample(int newWidth, int newHeight, TResampleFilter filter = rfNone, bool fit = false);
  void ResampleTo(TIEBitmap& target, int newWidth, int newHeight, TResampleFilter filter = rfNone, bool fit = false);
  void Crop(int x1, int y1, int x2, int y2);
  void CropToRect(const RECT& rect) { Crop(rect.left, rect.top, rect.right, rect.bottom); }
  void CropTransparentBorder();

private:
  struct TUndoEntry {
    TIEUndoSource kind;
    std::string caption;
    std::unique_ptr<TIEBitmap> image;    // kind 1
    std::unique_ptr<TStream> stream;     // other kinds
  };
  using TStack = std::vector<TUndoEntry>;

  void Notification(TComponent* component, TOperation operation) override;
  void Detach();
  void DetachTImage();
  void UseOwnBitmap();
  void WrapAttachedTBitmap();
  TIELayeredViewLink* Layered() const;
  TIEVectViewLink* Vect() const;
  bool MakeEntry(TIEUndoSource kind, TUndoEntry& entry);
  bool Push(TStack& stack, TIEUndoSource kind);
  bool SaveUndoEntry(TIEUndoSource kind);
  void Restore(TUndoEntry& entry);
  void RestoreLayerRecords(TStream& stream, TIELayeredViewLink& view);
  bool CanSnapshot();
  void ReduceColors(int n, TRGB* palette, bool useThreshold, const std::string& caption);

  bool FAutoUndo;
  bool FAutoConvertFormat = true;
  int32_t FUndoLimit = 1;
  uint32_t FOwnBackground = 0;
  TIEViewLink* FAttachedImageLib = nullptr;
  void* FChangeHandle = nullptr;
  TIEBitmap* FBitmap = nullptr;
  std::unique_ptr<TIEBitmap> FOwnBitmap;
  TImage* FAttachedTImage = nullptr;
  TBitmap* FAttachedTBitmap = nullptr;  // the image's picture bitmap, wrapped by FOwnBitmap
  TStack FUndo, FRedo;
};
