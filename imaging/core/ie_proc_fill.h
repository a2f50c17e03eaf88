#pragma once
// Pixel-level routines of the processing unit: filling a rectangle, turning it
// grey, the grey histogram and mean colour of a bitmap of any format, and the
// reduction of any format to 1 bit by a fixed, mean or maximum-entropy cut.
// Colours here are packed red << 16 | green << 8 | blue.
#include <array>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_progress.h"

// Fills columns x1..x2-1 of rows y1..y2-1 (clipped to the image). ie1g takes
// white where the colour's grey is 128 or more, black below; ie8g the grey;
// ie24RGB the colour; other formats their own form of it.
void FillBitmapRect(TIEBitmap& bitmap, int x1, int y1, TObject* sender, const TIEProgressEvent& progress,
                    uint32_t color, int y2, int x2);

// ie24RGB only: each pixel of the rectangle (as FillBitmapRect's) becomes its grey.
void ConvertRectToGray(TIEBitmap& bitmap, int x1, int y1, int y2, int x2, TObject* sender,
                       const TIEProgressEvent& progress);

// 256 counts of grey levels; a 1-bit image counts into bins 0 (black) and 1 (white).
std::array<int64_t, 256> GetGrayHistogram(TIEBitmap& bitmap);

// The mean red, green and blue (each row's mean, then the mean of the rows);
// (128, 128, 128) when the pixels cannot be read.
TRGB GetAverageColor(TIEBitmap& bitmap);

// The cut between black and white that maximises the entropy of the two grey
// histograms either side of it; -1 when no cut gives a gain (a uniform image,
// or one of two grey levels).
int MaxEntropyThreshold(TIEBitmap& bitmap);

// Fills destination, ie1g of the source's size, with white where a pixel's grey
// is at least threshold and black below. Threshold -1 is the grey of the mean
// colour, -2 the maximum-entropy cut (the mean when there is none). A 1-bit
// source is copied unchanged. Mismatched sizes do nothing.
void ConvertToBWThreshold(TIEBitmap& source, TIEBitmap& destination, int threshold, TObject* sender,
                          const TIEProgressEvent& progress);

// ie24RGB only: the picture is reduced in place to ie1g by ConvertToBWThreshold.
void ThresholdToBW(TIEBitmap& bitmap, int threshold, TObject* sender, const TIEProgressEvent& progress);
