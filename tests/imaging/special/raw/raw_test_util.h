#pragma once
// Running the raw decoder's stages over bytes in memory.
#include <atomic>
#include <regex>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/special/raw/raw_reader.h"
#include "imaging/special/raw/raw_state.h"
#include "platform/rtl/streams.h"
#include "tests/support/test_support.h"

namespace rawtest {

// A state over bytes that it keeps alive.
struct TIdentified {
  std::vector<uint8_t> Bytes;
  TCustomMemoryStream Stream;
  std::unique_ptr<TRawDecoderState> S;
  int Result = 1;

  explicit TIdentified(std::vector<uint8_t> bytes, bool fourColour = false)
      : Bytes(std::move(bytes)), Stream(Bytes.data(), int64_t(Bytes.size())) {
    S = std::make_unique<TRawDecoderState>(Stream);
    S->FourColour = fourColour;
    ReadBits(*S, -1);
    Result = IdentifyCamera(*S);
  }
};

struct TDecoded {
  TIEBitmap Bitmap;
  TIOParamsVals Params{nullptr};
  std::atomic<bool> Abort{false};
  TProgressRecord Progress;
  TDecoded() { Progress.AbortFlag = &Abort; }
  const char* Refusal() const { return Progress.Refusal; }
};

inline void Decode(const std::vector<uint8_t>& bytes, TDecoded& d, bool paramsOnly = false) {
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadCameraRawStream(s, &d.Bitmap, d.Params, paramsOnly, d.Progress);
}

inline std::unique_ptr<TRawDecoderState> Load(TCustomMemoryStream& s, const char** reason = nullptr,
                                               TRawLoadOptions options = {}) {
  return RawIdentifyAndLoad(s, options, reason);
}

// ---- reading what LibRaw's tools print ----

inline std::string Field(const std::string& text, const std::string& pattern) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : std::string();
}

// A 16-bit binary PGM as unprocessed_raw writes it.
struct TPgm {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Data;
  size_t Start = 0;
  int At(int r, int c) const {
    const size_t i = Start + (size_t(r) * size_t(Width) + size_t(c)) * 2;
    return Data[i] << 8 | Data[i + 1];
  }
};

inline TPgm ReadPgm(const std::string& path) {
  TPgm p;
  p.Data = qvtest::ReadFileBytes(path);
  std::string head(p.Data.begin(), p.Data.begin() + std::min<size_t>(p.Data.size(), 64));
  std::istringstream in(head);
  std::string magic;
  int maxval = 0;
  in >> magic >> p.Width >> p.Height >> maxval;
  p.Start = size_t(in.tellg()) + 1;
  return p;
}

}  // namespace rawtest
