#include "imaging/views/multi_image_io.h"

#include <algorithm>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/views/thumb_grid.h"

TImageLibMIO::TImageLibMIO(TComponent* owner) : TComponent(owner) {
  FAcquireParams = new TIEAcquireParams(this);
  FTwainParams = new TIETwainParams(this);
  FDcimAcquire = new TIEDcimAcquire(this);
}

TImageLibMIO::~TImageLibMIO() {
  Unregister();
  while (!FParams.empty()) FParams.pop_back();
}

TImageLibMView* TImageLibMIO::Grid() { return dynamic_cast<TImageLibMView*>(FAttachedMView); }

void TImageLibMIO::Unregister() {
  if (FAttachedMView) {
    FAttachedMView->RemoveBitmapChangeHandler(FChangeHandle);
    FAttachedMView->RemoveFreeNotification(this);
  }
  FChangeHandle = nullptr;
  FAttachedMView = nullptr;
}

void TImageLibMIO::SetAttachedMView(TIEView* view) {
  Unregister();
  FAttachedMView = view;
  if (!view) return;
  view->FreeNotification(this);
  FChangeHandle = view->AddBitmapChangeHandler(
      [this](TObject*, TIEViewLink* v, int kind) { OnViewChanged(dynamic_cast<TIEView*>(v), kind); }, this);
  if (TImageLibMView* grid = Grid())
    while (ParamsCount() < grid->ImageCount()) FParams.push_back(std::make_unique<TIOParamsVals>(nullptr));
}

void TImageLibMIO::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == FAttachedMView) Unregister();
}

void TImageLibMIO::OnViewChanged(TIEView* view, int kind) {
  (void)view;
  if (kind == 1) {
    // The grid is going away: its handler list is being emptied already.
    FChangeHandle = nullptr;
    FAttachedMView = nullptr;
    return;
  }
  TImageLibMView* grid = Grid();
  if (!grid) return;
  switch (grid->LastChange()) {
    case 1: InsertParams(grid->LastChangeIndex()); break;
    case 2: DeleteParams(grid->LastChangeIndex()); break;
    case 3: MoveParams(grid->LastChangeIndex(), grid->LastChangeIndex2()); break;
    case 4: ExchangeParams(grid->LastChangeIndex(), grid->LastChangeIndex2()); break;
    default: break;
  }
}

TIOParamsVals* TImageLibMIO::ParamsAt(int index) {
  if (index < 0 || index >= ParamsCount()) return nullptr;
  return FParams[static_cast<size_t>(index)].get();
}

void TImageLibMIO::InsertParams(int index) {
  auto p = std::make_unique<TIOParamsVals>(nullptr);
  if (!FParams.empty()) {
    const int from = index >= 0 && index < ParamsCount() ? index : ParamsCount() - 1;
    p->AssignSaveOptions(FParams[static_cast<size_t>(from)].get());
  }
  if (index >= 0 && index < ParamsCount()) FParams.insert(FParams.begin() + index, std::move(p));
  else FParams.push_back(std::move(p));
}

void TImageLibMIO::DeleteParams(int index) {
  if (index >= 0 && index < ParamsCount()) FParams.erase(FParams.begin() + index);
}

void TImageLibMIO::MoveParams(int index, int newIndex) {
  if (index < 0 || index >= ParamsCount() || newIndex < 0 || index == newIndex) return;
  auto p = std::move(FParams[static_cast<size_t>(index)]);
  FParams.erase(FParams.begin() + index);
  if (newIndex >= ParamsCount()) FParams.push_back(std::move(p));
  else FParams.insert(FParams.begin() + newIndex, std::move(p));
}

void TImageLibMIO::ExchangeParams(int a, int b) {
  if (a < 0 || b < 0 || a >= ParamsCount() || b >= ParamsCount()) return;
  std::swap(FParams[static_cast<size_t>(a)], FParams[static_cast<size_t>(b)]);
}

void TImageLibMIO::DoFinishWork() {
  if (OnProgress) OnProgress(this, 100);
  if (OnFinishWork) OnFinishWork(this);
}

void TImageLibMIO::DoAcquireBitmap(TIEBitmap* bitmap, TIOParamsVals*& params, int dpiX, int dpiY) {
  bool handled = false;
  if (OnAcquireBitmap) OnAcquireBitmap(this, bitmap, handled);
  TImageLibMView* grid = Grid();
  if (handled || !grid || !bitmap) return;
  FInsertPosition = std::clamp(FInsertPosition, 0, grid->ImageCount());
  const int at = FInsertPosition;
  grid->InsertEntry(at);
  params = ParamsAt(at);
  if (params && dpiX != 0 && dpiY != 0) {
    params->SetDpiX(dpiX);
    params->SetDpiY(dpiY);
  }
  std::unique_ptr<TIEBitmap> square;
  if (AutoAdjustDPI && params) square = ResampleToSquareDPI(*bitmap, *params, FilteredAdjustDPI);
  grid->SetImage(at, square ? square.get() : bitmap);
  grid->SetImageDelayTime(at, 100);
  if (OnAfterAcquireBitmap) OnAfterAcquireBitmap(this, at);
  ++FInsertPosition;
}

void TImageLibMIO::DoAcquireClose() {
  FAcquiring = false;
  if (OnAcquireClose) OnAcquireClose(this);
}

TIEWia* TImageLibMIO::GetWIAParams() {
  if (!FWia) {
    FWia = std::make_unique<TIEWia>(this);
    FWia->OnProgress = [this](TObject*, int percentage) { return WIAProgress(percentage); };
  }
  return FWia.get();
}

bool TImageLibMIO::WIAProgress(int percentage) {
  if (OnProgress) OnProgress(this, percentage);
  return !Aborting;
}
