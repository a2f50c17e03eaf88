#include "imaging/core/ie_quantizer.h"

int32_t QuantizerMethod = -1;
int32_t QuantizerQuality = -1;
