// Bandwidth of the library bitmap's bulk operations on a 6000 x 4000 picture,
// beside a plain memcpy of the same bytes (the floor any of them can reach).
// Compare the bytes_per_second columns: fill and copy should come close to the
// memcpy figure in memory; the file-backed rows pay one read and one write each.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_orientation.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

std::unique_ptr<TIEBitmap> Picture(TIEBitmapFormat format, TIEStorageLocation where) {
  auto b = std::make_unique<TIEBitmap>();
  b->SetMemoryLimit(where == ieFile ? 0 : INT64_MAX / 2);
  b->SetLocation(where);
  b->Allocate(kWidth, kHeight, format);
  b->Fill(0x336699);
  return b;
}

void SetBytes(benchmark::State& state, int64_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

void BM_MemcpyFloor(benchmark::State& state) {
  const size_t bytes = size_t(kWidth) * 3 * kHeight;
  std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state, static_cast<int64_t>(bytes));
}

void BM_Fill(benchmark::State& state) {
  const auto format = static_cast<TIEBitmapFormat>(state.range(0));
  const auto where = static_cast<TIEStorageLocation>(state.range(1));
  auto b = Picture(format, where);
  double v = 0;
  for (auto _ : state) {
    b->Fill(format == ie8g ? 77 : 0x102030 + v);
    v += 1;
  }
  SetBytes(state, b->RowLen() * b->Height());
}

void BM_Assign(benchmark::State& state) {
  const auto where = static_cast<TIEStorageLocation>(state.range(0));
  auto src = Picture(ie24RGB, where);
  auto dst = Picture(ie24RGB, where);
  for (auto _ : state) dst->Assign(src.get());
  SetBytes(state, src->RowLen() * src->Height());
}

// Moving the storage between memory and a temporary file and back.
void BM_LocationRoundTrip(benchmark::State& state) {
  auto b = Picture(ie24RGB, ieMemory);
  for (auto _ : state) {
    b->SetMemoryLimit(0);
    b->SetLocation(ieFile);
    b->SetMemoryLimit(INT64_MAX / 2);
    b->SetLocation(ieMemory);
  }
  SetBytes(state, 2 * b->RowLen() * b->Height());
}

void BM_QuarterTurn(benchmark::State& state) {
  auto b = Picture(ie24RGB, ieMemory);
  for (auto _ : state) ApplyExifOrientation(*b, 6);
  SetBytes(state, b->RowLen() * b->Height());
}

}  // namespace

BENCHMARK(BM_MemcpyFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fill)
    ->Args({ie24RGB, ieMemory})
    ->Args({ie32RGB, ieMemory})
    ->Args({ie8g, ieMemory})
    ->Args({ie24RGB, ieFile})
    ->Args({ie32RGB, ieFile})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Assign)->Arg(ieMemory)->Arg(ieFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocationRoundTrip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuarterTurn)->Unit(benchmark::kMillisecond);
