#pragma once
// A bilevel bitmap as one block of CCITT fax codes, for the page writers that
// embed fax data (PostScript and PDF).
#include <cstdint>
#include <vector>

class TIEBitmap;
struct TProgressRecord;

// Group 4 codes for k < 0; Group 3 two-dimensional codes (the first row one-
// dimensional, every later row two-dimensional) for k > 0. The ie1g rows go to
// the coder as they are: their set bits (white) become the coded "black", so
// readers decode them with BlackIs1 true. Stops when the progress is aborted.
std::vector<uint8_t> EncodeFaxBitmap(TIEBitmap& bitmap, int k, TProgressRecord& progress);
