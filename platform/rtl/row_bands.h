#pragma once
// Work over the rows of a picture split into bands, one band per worker
// thread. The threads stay parked between runs: a screen's worth of drawing or
// copying takes a millisecond or two, and starting and joining a thread per
// band each time cost a good share of that.
#include <cstddef>
#include <functional>

using TRowBandWork = std::function<void(int firstRow, int lastRow, int worker)>;

// The rows of worker `index` of `workers` over rows 0..rowCount-1: rowCount div
// workers each, the last worker the rest (4 workers and 10 rows give 2, 2, 2
// and 4).
void RowBand(int rowCount, int workers, int index, int& firstRow, int& lastRow);

// Runs work over rows 0..rowCount-1 in `workers` bands on the parked threads
// and returns when all have finished, raising the exception of the first band
// (by worker) that failed. False, with nothing run, when the threads are busy
// with another run (a band that starts bands of its own, or another thread's
// run) or no more threads can be had: the caller then does the work another way.
bool RunRowBandsOnCrew(int workers, int rowCount, const TRowBandWork& work);

// Runs work(firstRow, lastRow) over rows 0..rowCount-1 of a copy that moves
// about `bytes` bytes in all: in bands on the parked threads when it is big
// enough to be worth them (a copy the size of a window is bound by memory,
// which one core cannot fill), else on the calling thread at once. Bands
// must write rows of their own only.
void RunCopyBands(size_t bytes, int rowCount, const std::function<void(int firstRow, int lastRow)>& work);

// When above 0, the processor count RowBandProcessors gives (tests run the
// banded passes with 1, 2, 3 ... workers).
extern int RowBandProcessorOverride;
// The logical processors of the machine, or the override.
int RowBandProcessors();
