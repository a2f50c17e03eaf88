#pragma once
// The framework's graphics unit: colours, pens, brushes, fonts, canvases and the
// picture classes with their registry (bitmaps, icons and metafiles).
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_graphic.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/graphics/graphics_types.h"
