#include "imaging/io/ie_filters.h"

TIEFilterSlots& IEFilters() {
  static TIEFilterSlots slots;
  return slots;
}

void SetTempLayeredViewFactory(TImageFileType code, TIETempLayeredViewFactory factory) {
  if (code < ioIEV || code > ioALL) return;
  IEFilters().TempLayeredViews[code - ioIEV] = std::move(factory);
}

std::unique_ptr<TIETempLayeredView> MakeTempLayeredView(TImageFileType code) {
  if (code < ioIEV || code > ioALL) return nullptr;
  const TIETempLayeredViewFactory& factory = IEFilters().TempLayeredViews[code - ioIEV];
  return factory ? factory(code) : nullptr;
}
