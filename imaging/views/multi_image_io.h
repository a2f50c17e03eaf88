#pragma once
// TImageLibMIO: the thumbnail grid's non-visual companion. It keeps one
// parameter set per entry of the attached grid, in the same order, so each
// picture keeps the file parameters it was read with, and it inserts pictures
// that acquisition hands it into the grid.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/core/ie_progress.h"
#include "imaging/io/acquire_params.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/object.h"

class TIEBitmap;
class TIEView;
class TImageLibMView;
class TIOParamsVals;

using TIEAcquireBitmapEvent = std::function<void(TObject* sender, TIEBitmap* bitmap, bool& handled)>;
using TIEAfterAcquireBitmapEvent = std::function<void(TObject* sender, int index)>;

class TImageLibMIO : public TComponent {
public:
  explicit TImageLibMIO(TComponent* owner);
  ~TImageLibMIO() override;

  TIEView* AttachedMView() const { return FAttachedMView; }
  void SetAttachedMView(TIEView* view);

  TIOParamsVals* ParamsAt(int index);
  int ParamsCount() const { return static_cast<int>(FParams.size()); }
  void InsertParams(int index);
  void DeleteParams(int index);
  void MoveParams(int index, int newIndex);
  void ExchangeParams(int a, int b);

  virtual void DoFinishWork();
  virtual void DoAcquireBitmap(TIEBitmap* bitmap, TIOParamsVals*& params, int dpiX, int dpiY);
  virtual void DoAcquireClose();
  virtual TIEWia* GetWIAParams();
  bool WIAProgress(int percentage);

  // ---- settings ----
  uint8_t MsgLanguage = 0;  // msSystem
  uint8_t PreviewsParams = 0;
  TFont* PreviewFont() { return &FPreviewFont; }
  void SetPreviewFont(TFont* font) { FPreviewFont.Assign(font); }
  bool PreviewFontEnabled = false;
  bool AutoAdjustDPI = false;
  bool FilteredAdjustDPI = false;
  bool SimplifiedParamsDialogs = true;
  uint8_t DialogsMeasureUnit = 0;  // ieduInches
  std::string ImageLibVersion() const { return "4.3.0"; }
  int AcquireInsertPosition() const { return FInsertPosition; }
  void SetAcquireInsertPosition(int v) { FInsertPosition = v; }
  bool Acquiring() const { return FAcquiring; }
  void SetAcquiring(bool v) { FAcquiring = v; }
  bool Aborting = false;
  TIEAcquireParams* AcquireParams() { return FAcquireParams; }
  TIETwainParams* TwainParams() { return FTwainParams; }
  TIEDcimAcquire* DcimAcquire() { return FDcimAcquire; }
  TIOPrintPreviewParams& PrintPreviewParams() { return FPrintPreviewParams; }

  TIEProgressEvent OnProgress;
  TIEAcquireBitmapEvent OnAcquireBitmap;
  TNotifyEvent OnAcquireClose;
  TIEAfterAcquireBitmapEvent OnAfterAcquireBitmap;
  TNotifyEvent OnFinishWork;
  TNotifyEvent OnDoPreviews;

protected:
  void Notification(TComponent* component, TOperation operation) override;

private:
  void Unregister();
  void OnViewChanged(TIEView* view, int kind);
  TImageLibMView* Grid();

  std::vector<std::unique_ptr<TIOParamsVals>> FParams;
  TIEView* FAttachedMView = nullptr;
  void* FChangeHandle = nullptr;
  TIEAcquireParams* FAcquireParams = nullptr;  // owned as components
  TIETwainParams* FTwainParams = nullptr;
  TIEDcimAcquire* FDcimAcquire = nullptr;
  std::unique_ptr<TIEWia> FWia;
  TFont FPreviewFont;
  TIOPrintPreviewParams FPrintPreviewParams;
  int FInsertPosition = 0;
  bool FAcquiring = false;
};
