#pragma once
// Builds small DICOM files for the reader's tests: explicit or implicit VR,
// little- or big-endian, with sequences, items and encapsulated pixel data.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"

namespace qvtest {

using Bytes = std::vector<uint8_t>;

class TDicomWriter {
public:
  // With a preamble and group 2 naming the transfer syntax; the syntax
  // decides the encoding of what follows (implicit, explicit, big-endian).
  explicit TDicomWriter(const std::string& transferSyntax, bool preamble = true);

  TDicomWriter& Element(uint16_t group, uint16_t element, const char* vr, const Bytes& value);
  TDicomWriter& US(uint16_t group, uint16_t element, uint16_t v);
  TDicomWriter& Text(uint16_t group, uint16_t element, const char* vr, std::string text);
  TDicomWriter& Words(uint16_t group, uint16_t element, const char* vr, const std::vector<uint16_t>& words);
  // An element of undefined length (a sequence, or encapsulated pixel data).
  TDicomWriter& Undefined(uint16_t group, uint16_t element, const char* vr);
  TDicomWriter& Item(uint32_t length = 0xFFFFFFFF);
  TDicomWriter& ItemEnd();
  TDicomWriter& SequenceEnd();
  TDicomWriter& Raw(const Bytes& bytes);
  // The usual picture description of group 0028.
  TDicomWriter& Picture(int columns, int rows, int bitsAllocated, int bitsStored, const char* photometric,
                        int samples = 1, int pixelRepresentation = 0);
  // Encapsulated pixel data: offset table (empty when not given) and fragments.
  TDicomWriter& Encapsulated(const std::vector<Bytes>& fragments, const std::vector<uint32_t>& offsets = {});
  const Bytes& Data() const { return FOut; }

private:
  void Tag(uint16_t group, uint16_t element);
  void Length(uint16_t group, const char* vr, uint32_t length);
  void Put16(uint16_t v, bool big);
  void Put32(uint32_t v, bool big);
  Bytes FOut;
  bool FExplicit = true, FBig = false;
};

struct TDicomRead {
  std::unique_ptr<TIEBitmap> bitmap = std::make_unique<TIEBitmap>();
  std::unique_ptr<TIOParamsVals> params = std::make_unique<TIOParamsVals>(nullptr);
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  TDicomRead() { progress.AbortFlag = &abort; }
  std::string Refusal() const { return progress.Refusal ? progress.Refusal : ""; }
};

void ReadDicomBytes(const Bytes& file, TDicomRead& r, bool paramsOnly = false);

// Packs the RLE segments of a frame (PackBits, literal runs only when asked).
Bytes RleFrame(const std::vector<Bytes>& segments);

}  // namespace qvtest
