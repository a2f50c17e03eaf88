#pragma once
// CIE L*a*b* to the screen's red, green and blue, shared by every picture that
// meets Lab samples (PSD documents, the colour manager's rows).
#include <cstdint>

// L in 0..100, a and b signed. Writes blue, green, red (a bitmap's byte order),
// each rounded (halves to even) and held to 0..255.
void LabToBgr(double L, double a, double b, uint8_t* bgr);
