#pragma once
// The metadata pass over CIFF (Canon CRW) files.
#include "imaging/special/raw/raw_state.h"

class TIOParamsVals;

// Stores texts, pixel dimensions, the maker-note records and the smallest
// JPEG preview into params; a stream that is not a CIFF file leaves them as
// they were. Returns false in every case (nothing depends on it).
bool ReadCIFFMetadata(TRawDecoderState& s, TIOParamsVals& params);
