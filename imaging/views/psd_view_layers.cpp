#include "imaging/views/psd_view_layers.h"

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/psd_filter.h"
#include "imaging/io/ie_filters.h"
#include "imaging/views/image_view_layer.h"
#include "platform/rtl/lists.h"

void ReadPSDViewLayers(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, TList* layers, bool loadLayers,
                       TProgressRecord& progress) {
  TPSDLayerList records;
  ReadPSDStream(stream, bitmap, params, layers ? &records : nullptr, loadLayers, progress);
  if (!layers) return;
  for (TPSDLayerRecord& r : records) {
    auto* layer = new TIELayer(nullptr, true, r.Owned.release());
    layer->PosX = r.PosX, layer->PosY = r.PosY;
    layer->Transparency = r.Transparency;
    layer->Visible = r.Visible;
    layer->Cropped = r.Cropped;
    layer->IsMask = r.IsMask;
    layer->Name = r.Name;
    layers->Add(layer);
  }
}

void WritePSDViewLayers(TStream& stream, TIOParamsVals& params, TProgressRecord& progress, TList* layers,
                        TIEBitmap* bitmap) {
  TPSDLayerList records;
  for (int i = 0; layers && i < layers->Count(); ++i) {
    const auto* layer = static_cast<const TIELayer*>(layers->Get(i));
    TPSDLayerRecord r;
    r.Bitmap = layer->Bitmap();
    r.PosX = layer->PosX, r.PosY = layer->PosY;
    r.Transparency = layer->Transparency;
    r.Visible = layer->Visible;
    r.Cropped = layer->Cropped;
    r.IsMask = layer->IsMask;
    r.Name = layer->Name;
    r.DisplayWidth = layer->GetDisplayWidth(), r.DisplayHeight = layer->GetDisplayHeight();
    r.ResampleFilter = layer->ResampleFilter, r.UseResampleFilter = layer->UseResampleFilter;
    records.push_back(std::move(r));
  }
  WritePSDStream(stream, params, progress, &records, bitmap);
}

void RegisterPSDViewLayers() {
  IEFilters().ReadPSDStream = ReadPSDViewLayers;
  IEFilters().WritePSDStream = WritePSDViewLayers;
}
