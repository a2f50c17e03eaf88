#pragma once
// Running the raw decoder's stages over bytes in memory.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/special/raw/raw_reader.h"
#include "imaging/special/raw/raw_state.h"
#include "platform/rtl/streams.h"

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

}  // namespace rawtest
