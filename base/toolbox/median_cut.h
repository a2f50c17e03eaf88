#pragma once
// The median-cut colour quantiser of the fast 8-bit bitmap: colours fall into
// 5-bit cells, boxes of occupied cells are split at the middle of their longest
// side until there are enough of them, and each box's middle is its colour.
#include <cstdint>

#include "base/toolbox/pixel_rows.h"
#include "platform/graphics/dib_types.h"

// Reduces 24-bit rows (blue, green, red) to 8-bit indexes into table. Rows are
// taken in the order of the view (memory order of the bitmap). Mode 2 diffuses
// the error along serpentine rows; any other non-zero mode maps each colour to
// its box. Entries of table beyond the boxes keep their content. The colour
// count is taken into 2..256. Returns the number of boxes.
int MedianCutQuantize(const TPixelRows& source, const TPixelRows& target, RGBQUAD* table, int mode,
                      int colourCount);

// Grey indexes (blue + green + red) div 3 and the grey ramp as table.
void GrayQuantize(const TPixelRows& source, const TPixelRows& target, RGBQUAD* table);
