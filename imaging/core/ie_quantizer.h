#pragma once
// Palettes for library bitmaps: the bitmap's own palette, a grey ramp, the
// exact colours of a picture that has few enough, or a reduced palette from
// variance-based box splitting or a self-organising network (NeuQuant).
#include <cstdint>

// The palette quantiser's library-wide settings; the input and output
// framework's start-up sets both to -1 again.
// QuantizerMethod: -1 automatic (box splitting below 128 colours, else the
// network), 0 the network, 1 box splitting; any other value means the network.
extern int32_t QuantizerMethod;
// QuantizerQuality: -1 automatic (the network's sampling factor follows the
// pixel count), else 0..100.
extern int32_t QuantizerQuality;
