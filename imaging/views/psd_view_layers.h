#pragma once
// Photoshop layers as the views' layers: the PSD filter hands over plain
// layer records, and these turn them into TIELayer objects and back. They
// take the input/output component's PSD slots, so that a view's layer list
// passed to a load or save holds TIELayer pointers.
class TIEBitmap;
class TIOParamsVals;
class TList;
class TStream;
struct TProgressRecord;

// Appends one new TIELayer (no view, owned by the caller) per layer read.
void ReadPSDViewLayers(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, TList* layers, bool loadLayers,
                       TProgressRecord& progress);
// Writes bitmap as the merged image and the TIELayer objects of layers (or nil).
void WritePSDViewLayers(TStream& stream, TIOParamsVals& params, TProgressRecord& progress, TList* layers,
                        TIEBitmap* bitmap);
// Puts the two above into the PSD slots; call after RegisterFormatFilters.
void RegisterPSDViewLayers();
