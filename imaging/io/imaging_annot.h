#pragma once
// Wang imaging annotations of a TIFF page (tag 32932): lines, rectangles, texts,
// notes and embedded pictures, kept in the record layout of the block so that
// they can be written back.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/object.h"

class TIEBitmap;
class TIOParamsVals;

constexpr int kWangAttributeSize = 164;
// Offset of the font height (the first field of the LOGFONT) in the attributes.
constexpr int kWangFontHeightOffset = 48;

class TIEImagingObject : public TObject {
public:
  TIEImagingObject();
  ~TIEImagingObject() override;
  uint8_t Attributes[kWangAttributeSize] = {};
  std::vector<std::pair<int32_t, int32_t>> Points;
  std::string Text;
  std::unique_ptr<TIEBitmap> Image;

  uint32_t MarkType() const;
  int32_t FontHeight() const;
  void SetMarkType(uint32_t type);
  void SetFontHeight(int32_t height);
};

class TIEImagingAnnot : public TObject {
public:
  explicit TIEImagingAnnot(TIOParamsVals* parent = nullptr) : FParent(parent) {}
  TIOParamsVals* Parent() const { return FParent; }
  int Count() const { return static_cast<int>(FObjects.size()); }
  TIEImagingObject& Objects(int i) { return *FObjects.at(i); }
  TIEImagingObject& Add();
  void Clear() { FObjects.clear(); }
  void Assign(const TIEImagingAnnot* other);
  bool UserChanged() const { return FUserChanged; }
  void SetUserChanged(bool v) { FUserChanged = v; }

private:
  TIOParamsVals* FParent;
  std::vector<std::unique_ptr<TIEImagingObject>> FObjects;
  bool FUserChanged = false;
};

// Appends the objects of a block. Every size in the block is held to the bytes
// that are there; unknown records are stepped over by their size.
void LoadImagingAnnot(TIEImagingAnnot& annotations, const uint8_t* data, int64_t length);
// The block of every object; empty when there are none.
std::vector<uint8_t> SaveImagingAnnot(TIEImagingAnnot& annotations);
