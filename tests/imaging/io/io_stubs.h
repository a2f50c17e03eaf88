#pragma once
// Stand-ins for the format filters and for a view, so the input/output
// component's frame can be checked without any real codec.
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_types.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/ie_filters.h"
#include "platform/rtl/object.h"

class TIEBitmap;

namespace qvtest {

struct StubFilters {
  enum Mode { Succeed, Abort, Throw };
  Mode mode = Succeed;
  int reads = 0;
  int writes = 0;
  bool lastParamsOnly = false;
  TIEBitmapFormat writtenFormat = ieNoFormat;
  bool writtenMask = false;
  int readDpiX = 0;
  int readDpiY = 0;
  int width = 4;
  int height = 3;
  std::string payload = "PAYLOAD";
  std::vector<std::pair<int, int>> icoSizes;
  int64_t pcxLength = -1;

  // Fills every reader and writer slot with the stub (restore with FilterSlotsScope).
  void Install();
  void Read(TIEBitmap* bitmap, TIOParamsVals& params, TProgressRecord& progress, TIEMaskOut* mask, bool paramsOnly);
  void Write(TStream& stream, TIEBitmap& bitmap, TIEMask* mask, TProgressRecord& progress);
};

// A view as the components see it.
class FakeView : public TComponent, public TIEViewLink {
public:
  explicit FakeView(TIEViewKind kind = ievkImageView);
  ~FakeView() override;
  TComponent* ViewComponent() override { return this; }
  TIEViewKind ViewKind() const override { return FKind; }
  TBitmap* GetBitmap() override { return nullptr; }
  TIEBitmap* GetIEBitmap() override { return FBitmap.get(); }
  void* AddBitmapChangeHandler(TIEBitmapChangeEvent callback, TObject* data) override;
  void RemoveBitmapChangeHandler(void* handle) override;
  void Update() override { ++updates; }
  void ImageChange() override { ++imageChanges; }
  int32_t DpiX() const override { return FDpiX; }
  int32_t DpiY() const override { return FDpiY; }
  void SetDpiX(int32_t v) override {
    ++dpiCalls;
    if (v != 0) FDpiX = v;
  }
  void SetDpiY(int32_t v) override {
    if (v != 0) FDpiY = v;
  }
  void LockUpdate() override { ++locks; }
  void UnlockUpdateNoRefresh() override { --locks; }
  uint32_t Background() const override { return FBackground; }
  void SetBackground(uint32_t c) override { FBackground = c; }
  void SaveLayersToFile(const std::string& name) override { savedLayers = name; }
  void SaveAllToFile(const std::string& name) override { savedAll = name; }
  // Replaces the shown bitmap and tells the handlers.
  void ChangeBitmap();

  int updates = 0, imageChanges = 0, dpiCalls = 0, locks = 0;
  std::string savedLayers, savedAll;

private:
  struct Handler {
    TIEBitmapChangeEvent callback;
    TObject* data;
  };
  TIEViewKind FKind;
  std::unique_ptr<TIEBitmap> FBitmap;
  std::vector<std::unique_ptr<Handler>> FHandlers;
  int32_t FDpiX = 96, FDpiY = 96;
  uint32_t FBackground = 0x00112233;
};

}  // namespace qvtest
