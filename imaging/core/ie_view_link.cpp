#include "imaging/core/ie_view_link.h"

int32_t gDefaultDPIX = 300;
int32_t gDefaultDPIY = 300;
