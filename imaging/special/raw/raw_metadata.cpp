// The metadata pass over Canon CIFF files: texts, image size, two maker-note
// records and the smallest embedded JPEG preview, stored into the parameter
// set. Every read position is checked against the stream first.
#include <algorithm>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/exif_block.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/special/raw/raw_metadata.h"
#include "platform/rtl/streams.h"

namespace {

constexpr int kDeepestHeap = 8;

struct TNoteRecord {
  uint16_t Tag;
  std::vector<uint8_t> Data;
};

struct TCiffPass {
  TRawDecoderState& S;
  TIOParamsVals& Params;
  std::vector<TNoteRecord> Notes;
  int64_t BestAt = -1, BestLength = 0;
  int32_t BestWidth = 0x7FFFFFFE, BestHeight = 0x7FFFFFFE;
  int Depth = 0;

  std::string Text(int64_t at, int64_t n) {
    std::string t;
    S.In.Seek(at);
    for (int64_t i = 0; i < n; ++i) {
      const int c = S.In.GetQuiet();
      if (c <= 0) break;
      t.push_back(char(c));
    }
    return t;
  }

  std::vector<uint8_t> Bytes(int64_t at, int64_t n) {
    n = std::clamp<int64_t>(n, 0, S.In.Size() - at);
    std::vector<uint8_t> b(size_t(std::max<int64_t>(n, 0)));
    S.In.Seek(at);
    S.In.Read(b.data(), int64_t(b.size()));
    return b;
  }

  void Preview(int64_t at, int64_t length) {
    std::vector<uint8_t> jpeg = Bytes(at, length);
    if (jpeg.empty()) return;
    TCustomMemoryStream m(jpeg.data(), int64_t(jpeg.size()));
    TIEBitmap scratch;
    auto io = TImageLibIO::CreateForBitmap(&scratch);
    if (io->ReadParamsFromStreamAsType(m, ioJPEG) != ioJPEG || io->Aborting()) return;
    const int32_t w = io->Params().Width, h = io->Params().Height;
    if (w < BestWidth && h < BestHeight) {
      BestWidth = w, BestHeight = h;
      BestAt = at, BestLength = int64_t(jpeg.size());
    }
  }

  void Heap(int64_t s, int64_t n) {
    if (Depth >= kDeepestHeap) return;
    const int64_t size = S.In.Size();
    if (s + n - 4 < 0 || s + n - 4 + 4 > size) return;
    S.In.Seek(s + n - 4);
    const int64_t dir = s + RawGet4(S);
    if (dir < 0 || dir + 2 > size) return;
    ++Depth;
    S.In.Seek(dir);
    const int count = std::min<int>(RawGet2(S), 256);
    for (int i = 0; i < count; ++i) {
      const int64_t entry = dir + 2 + 10 * int64_t(i);
      if (entry + 10 > size) break;
      S.In.Seek(entry);
      const uint16_t t = RawGet2(S);
      int64_t len = RawGet4(S);
      int64_t at = int64_t(RawGet4(S)) + s;
      if (t >= 0x4000) {
        at = entry + 2;
        len = 8;
      }
      if (at >= size || at < 0) break;
      switch (t & 0x3FFF) {
        case 0x0805: Params.ExifImageDescription = Text(at, len); break;
        case 0x080A: {
          Params.ExifMake = Text(at, len);
          const int64_t next = at + int64_t(Params.ExifMake.size()) + 1;
          Params.ExifModel = Text(next, std::max<int64_t>(len - (next - at), 0));
          break;
        }
        case 0x080B: Params.ExifSoftware = Text(at, len); break;
        case 0x102A: Notes.push_back({4, Bytes(at, len)}); break;
        case 0x102D: Notes.push_back({1, Bytes(at, len)}); break;
        case 0x1810:
          S.In.Seek(at);
          Params.SetEXIFPixelXDimension(int32_t(RawGet4(S)));
          Params.SetEXIFPixelYDimension(int32_t(RawGet4(S)));
          break;
        case 0x2007:
        case 0x2008: Preview(at, len); break;
        case 0x2800:
        case 0x2807:
        case 0x3000:
        case 0x3002:
        case 0x3003:
        case 0x3004:
        case 0x300A:
        case 0x300B: Heap(at, len); break;
        default: break;
      }
    }
    --Depth;
  }
};

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + size_t(k)] = uint8_t(v >> (8 * k));
}

// The kept records as a little-endian maker note: a count, 12-byte entries of
// SHORT values, then each record's data.
void StoreCiffMakerNote(TIOParamsVals& params, const std::vector<TNoteRecord>& notes) {
  if (!params.ExifMakerNote) params.ExifMakerNote = std::make_unique<TIETagsHandler>();
  TIETagsHandler& h = *params.ExifMakerNote;
  h.Clear();
  size_t total = 2 + 12 * notes.size();
  for (const TNoteRecord& r : notes) total += r.Data.size();
  std::vector<uint8_t> note(total);
  Put16(note, 0, uint32_t(notes.size()));
  size_t data = 2 + 12 * notes.size();
  for (size_t i = 0; i < notes.size(); ++i) {
    const size_t e = 2 + 12 * i;
    Put16(note, e, notes[i].Tag);
    Put16(note, e + 2, 3);
    Put32(note, e + 4, uint32_t(notes[i].Data.size() / 2));
    Put32(note, e + 8, uint32_t(data));
    std::copy(notes[i].Data.begin(), notes[i].Data.end(), note.begin() + std::ptrdiff_t(data));
    data += notes[i].Data.size();
  }
  h.NormalizedNote() = std::move(note);
  h.IndexEntries();
}

}  // namespace

bool ReadCIFFMetadata(TRawDecoderState& s, TIOParamsVals& params) {
  uint8_t head[14];
  s.In.Seek(0);
  if (s.In.Read(head, 14) < 14) return false;
  const bool ordered = (head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M');
  if (!ordered && std::memcmp(head + 6, "HEAPCCDR", 8) != 0) return false;
  const uint16_t saved = s.Order;
  s.Order = head[0] == 'M' ? 0x4D4D : 0x4949;
  const int64_t h = RawSGet4(s, head + 2);
  TCiffPass pass{s, params, {}};
  pass.Heap(h, s.In.Size() - h);
  params.ExifThumbnail = std::make_unique<TIEBitmap>();
  if (pass.BestAt >= 0) {
    std::vector<uint8_t> jpeg = pass.Bytes(pass.BestAt, pass.BestLength);
    TCustomMemoryStream m(jpeg.data(), int64_t(jpeg.size()));
    auto io = TImageLibIO::CreateForBitmap(params.ExifThumbnail.get());
    io->LoadJPEGStream(m);
  }
  StoreCiffMakerNote(params, pass.Notes);
  s.Order = saved;
  s.In.ClearShort();
  return false;
}
