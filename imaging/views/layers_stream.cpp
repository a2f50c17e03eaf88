// The layers stream of the image view: "VIVADIZERUVEZ", version 6. A header,
// one record per layer with the absolute position of its bitmap, then the
// bitmaps (raw, zlib-compressed raw, or in a picture format). Reading takes
// every count, length and position only as far as the bytes that are really
// there, builds the layers aside and swaps them in only when all were read.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "imaging/core/ie_raw_stream.h"
#include "imaging/core/ie_streams.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "imaging/io/zlib_streams.h"
#include "imaging/views/image_view.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace {

constexpr char kMagic[13] = {'V', 'I', 'V', 'A', 'D', 'I', 'Z', 'E', 'R', 'U', 'V', 'E', 'Z'};
constexpr int32_t kVersion = 6;
constexpr int64_t kHeaderSize = 25;
// The fewest bytes a record of any version takes (version 1 and 2 records).
constexpr int64_t kMinRecord = 1 + 1 + 4 + 4 + 4 + 1 + 1 + 1 + 8 + 1 + 1 + 4 + 4 + 8;

// Reads that fail on a short stream instead of running past its end.
class TBoundedReader {
public:
  explicit TBoundedReader(TStream& s) : FStream(s) {}
  void Bytes(void* buffer, int64_t n) {
    if (n < 0 || n > FStream.Remaining() || FStream.Read(buffer, n) != n) throw EReadError("Stream read error");
  }
  template <class T> T Value() {
    T v{};
    Bytes(&v, sizeof(T));
    return v;
  }
  bool Bool() { return Value<uint8_t>() != 0; }
  // A length that must fit in what is left of the stream.
  int32_t Length() {
    const int32_t n = Value<int32_t>();
    if (n < 0 || n > FStream.Remaining()) throw EReadError("Stream read error");
    return n;
  }

private:
  TStream& FStream;
};

void WriteBool(TStream& s, bool v) { s.WriteValue<uint8_t>(v ? 1 : 0); }

void SetSaveParams(TIOParamsVals& p, TIEBitmap& b) {
  if (b.PixelFormat() == ie1g) {
    p.BitsPerSample = 1;
    p.SamplesPerPixel = 1;
  } else {
    p.BitsPerSample = 8;
    if (b.PixelFormat() == ie8g) {
      p.SamplesPerPixel = 1;
      p.JpegColorSpace = jcsGrey;
    } else {
      p.SamplesPerPixel = 3;
      p.JpegColorSpace = jcsYCbCr;
    }
  }
}

// One layer's bitmap at the stream's position.
void WriteLayerBitmap(TStream& stream, TIEBitmap& bitmap, int code, TIOParamsVals* params) {
  if (code == -1 || code == -2) {
    TMemoryStream data;
    if (code == -1) {
      TZCompressionStream z(&data);
      SaveRawToStream(bitmap, z);
      z.Finish();
    } else {
      SaveRawToStream(bitmap, data);
    }
    if (data.Size() > INT32_MAX) throw EWriteError("Stream write error");
    stream.WriteValue<int32_t>(static_cast<int32_t>(data.Size()));
    stream.WriteBuffer(data.Memory(), data.Size());
    return;
  }
  std::unique_ptr<TImageLibIO> io = TImageLibIO::CreateForBitmap(&bitmap);
  if (params) io->Params().Assign(params);
  SetSaveParams(io->Params(), bitmap);
  io->SaveStream(stream, code);
  if (io->Aborting()) throw EWriteError("Stream write error");
}

void ReadLayerBitmap(TStream& stream, TIEBitmap& bitmap, int code, bool mask, TIOParamsVals* params) {
  TBoundedReader in(stream);
  if (code == -1 || code == -2) {
    const int32_t n = in.Length();
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    in.Bytes(bytes.data(), n);
    bool ok;
    if (code == -1) {
      std::vector<uint8_t> raw;
      ZDecompressBuffer(bytes.data(), n, raw);
      ok = LoadRawFromMemory(bitmap, raw.data(), raw.size());
    } else {
      ok = LoadRawFromMemory(bitmap, bytes.data(), bytes.size());
    }
    if (!ok) throw EReadError("Stream read error");
    return;
  }
  std::unique_ptr<TImageLibIO> io = TImageLibIO::CreateForBitmap(&bitmap);
  if (params) io->Params().Assign(params);
  io->Params().NativePixelFormat = mask;
  io->LoadStreamAsType(stream, code);
  if (io->Aborting() || bitmap.IsEmpty()) throw EReadError("Stream read error");
}

}  // namespace

bool TImageLibView::IsLayersStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t header[kHeaderSize];
  const bool whole = stream.Read(header, kHeaderSize) == kHeaderSize;
  stream.SetPosition(start);
  if (!whole || std::memcmp(header, kMagic, 13) != 0) return false;
  int32_t count = 0;
  std::memcpy(&count, header + 21, 4);
  return count >= 1;
}

void TImageLibView::SaveLayersToStream(TStream& stream, int code) {
  if (code == 1) code = 8;
  SyncLayers();
  const int count = GetLayersCount();
  stream.WriteBuffer(kMagic, 13);
  stream.WriteValue<int32_t>(kVersion);
  stream.WriteValue<int32_t>(code);
  stream.WriteValue<int32_t>(count);
  std::vector<int64_t> entries;
  for (auto& l : FLayers) {
    WriteBool(stream, l->Visible);
    WriteBool(stream, l->VisibleBox);
    stream.WriteValue<int32_t>(l->Transparency);
    stream.WriteValue<int32_t>(l->PosX);
    stream.WriteValue<int32_t>(l->PosY);
    WriteBool(stream, l->Cropped);
    WriteBool(stream, l->Locked);
    WriteBool(stream, l->Magnify.Enabled);
    stream.WriteValue<double>(l->Magnify.Rate);
    stream.WriteValue<uint8_t>(l->Magnify.Shape);
    stream.WriteValue<uint8_t>(l->Magnify.Source);
    stream.WriteValue<uint8_t>(l->Operation);
    stream.WriteValue<int32_t>(l->Width);
    stream.WriteValue<int32_t>(l->Height);
    stream.WriteValue<uint8_t>(l->ResampleFilter);
    WriteBool(stream, l->UseResampleFilter);
    stream.WriteValue<int32_t>(static_cast<int32_t>(l->Name.size()));
    if (!l->Name.empty()) stream.WriteBuffer(l->Name.data(), static_cast<int64_t>(l->Name.size()));
    const int32_t userLength = l->UserData ? std::max(l->UserDataLen, 0) : 0;
    stream.WriteValue<int32_t>(userLength);
    if (userLength > 0) stream.WriteBuffer(l->UserData, userLength);
    WriteBool(stream, l->IsMask);
    WriteBool(stream, l->Selectable);
    WriteBool(stream, l->DrawOuter);
    entries.push_back(stream.Position());
    // Filled in below, once the bitmap's place is known.
    stream.WriteValue<int64_t>(0);
  }
  TIOParamsVals* params = FIO ? &FIO->Params() : nullptr;
  for (int i = 0; i < count; ++i) {
    // The position as one little-endian 64-bit value: below 2 GB the same bytes
    // as a 32-bit position followed by a zero word.
    const int64_t at = stream.Position();
    stream.SetPosition(entries[size_t(i)]);
    stream.WriteValue<int64_t>(at);
    stream.SetPosition(at);
    WriteLayerBitmap(stream, *FLayers[size_t(i)]->Bitmap(), code, params);
    stream.Seek(0, soEnd);
  }
}

bool TImageLibView::LoadLayersFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  std::vector<std::unique_ptr<TIELayer>> fresh;
  try {
    TBoundedReader in(stream);
    char magic[13];
    in.Bytes(magic, 13);
    const int32_t version = in.Value<int32_t>();
    const int32_t code = in.Value<int32_t>();
    const int32_t count = in.Value<int32_t>();
    if (std::memcmp(magic, kMagic, 13) != 0 || version <= 0) {
      stream.SetPosition(start);
      return false;
    }
    if (count < 1 || count > stream.Remaining() / kMinRecord) throw EReadError("Stream read error");
    TIOParamsVals* params = FIO ? &FIO->Params() : nullptr;
    for (int i = 0; i < count; ++i) {
      auto layer = std::make_unique<TIELayer>(this, true, new TIEBitmap());
      TIELayer& l = *layer;
      l.Visible = in.Bool();
      l.VisibleBox = in.Bool();
      l.Transparency = in.Value<int32_t>();
      l.PosX = in.Value<int32_t>();
      l.PosY = in.Value<int32_t>();
      l.Cropped = in.Bool();
      l.Locked = in.Bool();
      l.Magnify.Enabled = in.Bool();
      l.Magnify.Rate = in.Value<double>();
      l.Magnify.Shape = in.Value<uint8_t>();
      if (version > 2) l.Magnify.Source = in.Value<uint8_t>();
      l.Operation = in.Value<uint8_t>();
      l.Width = in.Value<int32_t>();
      l.Height = in.Value<int32_t>();
      if (version > 2) {
        l.ResampleFilter = static_cast<TResampleFilter>(std::min<uint8_t>(in.Value<uint8_t>(), kResampleFilterCount - 1));
        l.UseResampleFilter = in.Bool();
        const int32_t nameLength = in.Length();
        l.Name.resize(size_t(nameLength));
        in.Bytes(l.Name.data(), nameLength);
        const int32_t userLength = in.Length();
        std::vector<uint8_t> user(static_cast<size_t>(userLength));
        in.Bytes(user.data(), userLength);
        l.SetUserDataCopy(user.data(), userLength);
        l.IsMask = in.Bool();
      }
      if (version > 3) l.Selectable = in.Bool();
      if (version > 5) l.DrawOuter = in.Bool();
      if (l.Width < 0 || l.Height < 0) throw EReadError("Stream read error");
      const int64_t position = in.Value<int64_t>();
      const int64_t recordEnd = stream.Position();
      if (position < kHeaderSize || position >= stream.Size()) throw EReadError("Stream read error");
      stream.SetPosition(position);
      ReadLayerBitmap(stream, *l.Bitmap(), code, l.IsMask, params);
      stream.SetPosition(recordEnd);
      fresh.push_back(std::move(layer));
    }
  } catch (const std::exception&) {
    stream.SetPosition(start);
    return false;
  }
  // All read: layer 0 keeps its bitmap object (it may wrap the legacy bitmap)
  // and takes the content; the others are the new layers themselves.
  SyncLayers();
  FCurrentLayer = 0;
  FIEBitmap = Layer0()->Bitmap();
  FLayers.resize(1);
  TIELayer* first = Layer0();
  first->CopyFrom(*fresh[0]);
  first->SetUserDataCopy(static_cast<const uint8_t*>(fresh[0]->UserData), fresh[0]->UserDataLen);
  for (int32_t& v : first->ScreenRect) v = 0;
  first->DropCache();
  for (size_t i = 1; i < fresh.size(); ++i) {
    for (int32_t& v : fresh[i]->ScreenRect) v = 0;
    FLayers.push_back(std::move(fresh[i]));
  }
  if (FIO) {
    FIO->Params().Width = FIEBitmap->Width();
    FIO->Params().Height = FIEBitmap->Height();
    FIO->Params().StoredWidth = FIEBitmap->Width();
    FIO->Params().StoredHeight = FIEBitmap->Height();
  }
  NotifyBitmapChange();
  Update();
  return true;
}

void TImageLibView::SaveLayersToFile(const std::string& fileName, int compression) {
  // Written beside the old file and renamed over it: a save that fails half
  // way leaves the old file as it was.
  TMemoryStream data;
  SaveLayersToStream(data, compression);
  SaveBytesToFile(fileName, data.Memory(), data.Size());
}

bool TImageLibView::LoadLayersFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  return LoadLayersFromStream(file);
}

bool TImageLibView::LoadLayeredFile(const std::string& fileName, int code) {
  return code == ioLYR && LoadLayersFromFile(fileName);
}

bool TImageLibView::LoadLayeredStream(TStream& stream, int code) {
  return code == ioLYR && LoadLayersFromStream(stream);
}

namespace {

// The picture of a layers file when no image view is attached to the
// input/output component: a view of its own reads the layers and flattens them.
class TTempLayersView : public TIETempLayeredView {
public:
  TTempLayersView() : FView(std::make_unique<TImageLibView>(nullptr)) { FView->SetLegacyBitmap(false); }
  bool LoadLayeredFile(const std::wstring& name) override {
    return FView->LoadLayersFromFile(WideToUTF8(name)) && Flatten();
  }
  bool LoadLayeredStream(TStream& stream) override { return FView->LoadLayersFromStream(stream) && Flatten(); }
  TIEBitmap& LayeredPicture() override { return FPicture; }

private:
  bool Flatten() { return FView->LayersDrawToChecked(FPicture); }
  std::unique_ptr<TImageLibView> FView;
  TIEBitmap FPicture;
};

}  // namespace

void RegisterLayersStream() {
  IEFilters().IsLayersStream = [](TStream& s) { return TImageLibView::IsLayersStream(s); };
  SetTempLayeredViewFactory(ioLYR, [](TImageFileType) { return std::make_unique<TTempLayersView>(); });
}
