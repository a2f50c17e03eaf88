// IEV object streams and ALL layers-and-objects streams. A load parses the
// whole stream into locals first and changes the view only when every part
// read whole, so a damaged file leaves the objects as they were.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/image_lib_io.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/win/safe_file.h"

namespace {

// ---- bounded reading of a byte block ----

struct ByteReader {
  const uint8_t* p;
  size_t n;
  size_t pos = 0;
  std::string reason;

  bool Ok() const { return reason.empty(); }
  size_t Left() const { return n - pos; }
  bool Fail(const std::string& why) {
    if (reason.empty()) reason = why;
    return false;
  }
  bool Take(void* out, size_t count, const char* what) {
    if (!Ok()) return false;
    if (count > Left()) return Fail(std::string("the object data ends inside ") + what);
    std::memcpy(out, p + pos, count);
    pos += count;
    return true;
  }
  int32_t I32(const char* what) {
    int32_t v = 0;
    Take(&v, 4, what);
    return v;
  }
  uint8_t U8(const char* what) {
    uint8_t v = 0;
    Take(&v, 1, what);
    return v;
  }
  double F64(const char* what) {
    double v = 0;
    Take(&v, 8, what);
    return v;
  }
  // A length read from the data: negative lengths and lengths beyond what is
  // left (each item `unit` bytes) are refused.
  bool Count(int32_t value, size_t unit, const char* what, size_t& out) {
    if (!Ok()) return false;
    if (value < 0) return Fail(std::string("negative ") + what);
    if (unit != 0 && static_cast<size_t>(value) > Left() / unit) return Fail(std::string("too large ") + what);
    out = static_cast<size_t>(value);
    return true;
  }
  std::string Str(const char* what) {
    size_t k = 0;
    if (!Count(I32(what), 1, what, k)) return {};
    std::string s(reinterpret_cast<const char*>(p + pos), k);
    pos += k;
    return s;
  }
  void Skip(size_t count) { pos += std::min(count, Left()); }
};

// ---- inflate with a bound, knowing where the compressed data ended ----

// Inflates one zlib stream from input; consumed gets the bytes it took. Output
// is bounded by what deflate can produce (1,032 bytes per input byte).
bool InflateBounded(const uint8_t* input, size_t size, std::vector<uint8_t>& output, size_t& consumed,
                    std::string& reason) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    reason = "zlib could not start";
    return false;
  }
  const uint64_t limit = std::max<uint64_t>(uint64_t(size) * 1032, 64);
  output.clear();
  z.next_in = const_cast<Bytef*>(input);
  z.avail_in = static_cast<uInt>(std::min<size_t>(size, UINT32_MAX));
  int rc = Z_OK;
  std::vector<uint8_t> chunk(65536);
  while (rc != Z_STREAM_END) {
    z.next_out = chunk.data();
    z.avail_out = static_cast<uInt>(chunk.size());
    rc = inflate(&z, Z_NO_FLUSH);
    const size_t produced = chunk.size() - z.avail_out;
    if (output.size() + produced > limit) {
      inflateEnd(&z);
      reason = "the object data inflates beyond its bound";
      return false;
    }
    output.insert(output.end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(produced));
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK || (produced == 0 && z.avail_in == 0)) {
      inflateEnd(&z);
      reason = rc == Z_OK || rc == Z_BUF_ERROR ? "the compressed object data ends early"
                                               : std::string("the compressed object data is damaged: ") +
                                                     (z.msg ? z.msg : "inflate error");
      return false;
    }
  }
  consumed = size - z.avail_in;
  inflateEnd(&z);
  return true;
}

bool DeflateAll(const std::vector<uint8_t>& input, std::vector<uint8_t>& output) {
  uLongf size = compressBound(static_cast<uLong>(input.size()));
  output.resize(size);
  if (compress2(output.data(), &size, input.data(), static_cast<uLong>(input.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    return false;
  output.resize(size);
  return true;
}

// ---- the bitmap part ----

// The bytes of one PNG from the stream's position: the signature and every
// chunk up to IEND, each chunk's length checked against the stream.
bool ReadPNGBytes(TStream& s, std::vector<uint8_t>& out, std::string& reason) {
  static const uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  out.resize(8);
  if (s.Read(out.data(), 8) != 8 || std::memcmp(out.data(), kSig, 8) != 0) {
    reason = "a bitmap slot does not hold a PNG";
    return false;
  }
  for (;;) {
    uint8_t head[8];
    if (s.Read(head, 8) != 8) {
      reason = "a bitmap slot's PNG ends early";
      return false;
    }
    const uint32_t len = (uint32_t(head[0]) << 24) | (uint32_t(head[1]) << 16) | (uint32_t(head[2]) << 8) | head[3];
    if (len > 0x7FFFFFFF || int64_t(len) + 4 > s.Remaining()) {
      reason = "a bitmap slot's PNG chunk runs past the stream";
      return false;
    }
    const size_t at = out.size();
    out.resize(at + 8 + len + 4);
    std::memcpy(out.data() + at, head, 8);
    if (s.Read(out.data() + at + 8, len + 4) != int64_t(len) + 4) {
      reason = "a bitmap slot's PNG ends early";
      return false;
    }
    if (std::memcmp(head + 4, "IEND", 4) == 0) return true;
  }
}

// A Windows BMP file from the stream's position, its length from its file header.
bool ReadBMPBytes(TStream& s, std::vector<uint8_t>& out, std::string& reason) {
  uint8_t head[14];
  if (s.Read(head, 14) != 14 || head[0] != 'B' || head[1] != 'M') {
    reason = "a bitmap slot does not hold a BMP";
    return false;
  }
  uint32_t size;
  std::memcpy(&size, head + 2, 4);
  if (size < 14 + 12 || int64_t(size) - 14 > s.Remaining()) {
    reason = "a bitmap slot's BMP runs past the stream";
    return false;
  }
  out.assign(head, head + 14);
  out.resize(size);
  if (s.Read(out.data() + 14, size - 14) != int64_t(size) - 14) {
    reason = "a bitmap slot's BMP ends early";
    return false;
  }
  return true;
}

std::unique_ptr<TIEBitmap> DecodePicture(const std::vector<uint8_t>& bytes, bool png, std::string& reason) {
  auto bitmap = std::make_unique<TIEBitmap>();
  std::unique_ptr<TImageLibIO> io = TImageLibIO::CreateForBitmap(bitmap.get());
  TMemoryStream ms;
  ms.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  ms.SetPosition(0);
  if (png)
    io->LoadPNGStream(ms);
  else
    io->LoadBMPStream(ms);
  if (io->Aborting() || bitmap->Width() <= 0 || bitmap->Height() <= 0) {
    reason = png ? "a bitmap slot's PNG does not decode" : "a bitmap slot's BMP does not decode";
    return nullptr;
  }
  return bitmap;
}

// The separate alpha block of versions "7" to "<": m bytes of zlib holding the
// rows bottom first, each the alpha channel's row length.
bool ReadAlphaBlock(TStream& s, TIEBitmap& bitmap, std::string& reason) {
  int32_t m = 0;
  if (s.Read(&m, 4) != 4) {
    reason = "the stream ends inside an alpha block";
    return false;
  }
  if (m < 0 || int64_t(m) > s.Remaining()) {
    reason = "an alpha block's length runs past the stream";
    return false;
  }
  std::vector<uint8_t> packed(static_cast<size_t>(m));
  s.ReadBuffer(packed.data(), m);
  std::vector<uint8_t> rows;
  size_t used = 0;
  if (!InflateBounded(packed.data(), packed.size(), rows, used, reason)) {
    reason = "an alpha block does not inflate";
    return false;
  }
  TIEBitmap* alpha = bitmap.AlphaChannel();
  const int64_t rowLen = alpha->RowLen();
  const int h = alpha->Height();
  if (int64_t(rows.size()) != rowLen * h) {
    reason = "an alpha block is not rows times the row length";
    return false;
  }
  const int w = alpha->Width();
  for (int y = 0; y < h; ++y)
    std::memcpy(alpha->ScanLine(h - 1 - y), rows.data() + rowLen * y, static_cast<size_t>(std::min<int64_t>(w, rowLen)));
  alpha->SetFull(false);
  return true;
}

// ---- object records ----

struct ParsedObject {
  std::unique_ptr<TIEVObject> record;
};

void DefaultFontOf(TIEVObject& r, const TIEVObject& base, int height) {
  r.Font = std::make_unique<LOGFONTA>(base.Font ? *base.Font : LOGFONTA{});
  r.Font->lfHeight = height;
  std::memset(r.Font->lfFaceName, 0, sizeof(r.Font->lfFaceName));
  std::memcpy(r.Font->lfFaceName, "Arial", 5);
}

bool ReadFont(ByteReader& in, TIEVObject& r) {
  if (in.U8("a font flag") != 0) {
    LOGFONTA lf{};
    if (!in.Take(&lf, sizeof(LOGFONTA), "a font")) return false;
    lf.lfFaceName[LF_FACESIZE - 1] = 0;
    r.Font = std::make_unique<LOGFONTA>(lf);
  }
  return in.Ok();
}

bool ReadRecord(ByteReader& in, char v, int depth, const TIEVObject& defaults, int slotCount,
                std::vector<ParsedObject>& out) {
  auto r = std::make_unique<TIEVObject>();
  TIEVObject& o = *r;
  o.Font.reset();
  o.BitmapIndex = -1;
  if (v >= '<') in.I32("an object id");
  o.X1 = in.I32("the corners");
  o.Y1 = in.I32("the corners");
  o.X2 = in.I32("the corners");
  o.Y2 = in.I32("the corners");
  const uint8_t kind = in.U8("the kind");
  if (!in.Ok()) return false;
  if (kind > ievkExtended) return in.Fail("an unknown object kind");
  o.Kind = static_cast<TIEVKind>(kind);
  o.KeepAspectRatio = v >= 'M' ? in.U8("the aspect flag") != 0 : false;
  o.BlendMode = v >= 'R' ? in.U8("the blend mode") : 0;
  o.Layer = v >= 'S' ? in.I32("the layer") : 0;
  if (v >= '=') {
    o.SoftShadow.Enabled = in.U8("the shadow") != 0;
    o.SoftShadow.Radius = in.F64("the shadow");
    o.SoftShadow.OffsetX = in.I32("the shadow");
    o.SoftShadow.OffsetY = in.I32("the shadow");
  } else {
    o.SoftShadow = TIEVSoftShadow{};
    o.SoftShadow.OffsetX = o.SoftShadow.OffsetY = 2;
  }
  if (v >= 'O') {
    o.SoftShadow.Intensity = in.I32("the shadow");
    o.SoftShadow.ShadowB = in.U8("the shadow");
    o.SoftShadow.ShadowG = in.U8("the shadow");
    o.SoftShadow.ShadowR = in.U8("the shadow");
  }
  o.AuxText = in.Str("the second text");
  o.UserValue = in.I32("the user value");
  o.PenColor = static_cast<TColor>(in.I32("the pen"));
  o.PenStyle = in.U8("the pen");
  o.PenWidth = in.I32("the pen");
  o.BrushColor = static_cast<TColor>(in.I32("the brush"));
  o.BrushStyle = in.U8("the brush");
  o.Flags = in.U8("the flags");
  o.Transparency = v >= '=' ? in.I32("the transparency") : 255;
  o.AndFill = v >= '@' ? in.U8("the AND flag") != 0 : false;
  o.FontQuality = v >= 'Q' ? in.U8("the font quality") : 0;
  if (v >= 'I') {
    size_t u = 0;
    if (!in.Count(in.I32("the user data"), 1, "user data length", u)) return false;
    o.UserDataStore.assign(in.p + in.pos, in.p + in.pos + u);
    in.pos += u;
  }
  if (!in.Ok()) return false;

  int32_t nested = 0;
  if (o.Kind == ievkNone) {
    size_t c = 0;
    // every nested record takes at least 22 bytes
    if (!in.Count(in.I32("a group count"), 22, "group count", c)) return false;
    nested = static_cast<int32_t>(c);
  }
  if (o.Kind == ievkLineLabel) {
    o.LabelBrushColor = static_cast<TColor>(in.I32("the label"));
    o.LabelBrushStyle = in.U8("the label");
    o.LabelPosition = in.U8("the label");
    o.LabelBorder = v >= 'P' ? in.U8("the label") : 0;
  }
  if (o.Kind == ievkLine || o.Kind == ievkLineLabel) {
    o.BeginShape = in.U8("the line ends");
    o.EndShape = in.U8("the line ends");
    o.ShapeWidth = in.I32("the line ends");
    o.ShapeHeight = in.I32("the line ends");
  }
  if (o.Kind == ievkArc) {
    o.StartAngle = in.F64("the arc");
    o.EndAngle = in.F64("the arc");
  }
  auto bitmapIndex = [&](int32_t stored) {
    // An index past the slots read shows the placeholder.
    return stored >= 0 && stored < slotCount ? stored : -1;
  };
  if (o.Kind == ievkBitmap) {
    o.BitmapIndex = bitmapIndex(in.I32("the bitmap index"));
    o.BitmapOption = v >= 'B' ? in.U8("the bitmap border") != 0 : false;
    if (v >= 'F') {
      size_t k = 0;
      if (!in.Count(in.I32("a bitmap text"), 1, "bitmap text length", k)) return false;
      in.Skip(k);
    }
  }
  if (o.Kind == ievkText || o.Kind == ievkLineLabel || o.Kind == ievkExtended) {
    o.TextAlign = v >= '4' ? in.U8("the alignment") : 0;
    o.TextAutoSize = v >= '9' ? in.U8("the auto size") != 0 : false;
    o.Text = in.Str("a text");
    if (!ReadFont(in, o)) return false;
    o.CurveCharAngle = -10;
    if (v >= '?') {
      const int32_t p = in.I32("a curve");
      if (p > 0) {
        size_t count = 0;
        if (!in.Count(p, 16, "curve point count", count)) return false;
        o.CurvePoints.resize(count);
        for (TIEDPoint& cp : o.CurvePoints) {
          cp.x = in.F64("a curve");
          cp.y = in.F64("a curve");
        }
        o.CurveCharAngle = in.I32("a curve");
      }
    }
  }
  if (o.Kind == ievkMemo) {
    o.Text = in.Str("a memo text");
    if (!ReadFont(in, o)) return false;
    const bool present = v >= 'C' ? in.U8("the memo formats") != 0 : true;
    if (present) {
      size_t k = 0;
      if (!in.Count(static_cast<int32_t>(o.Text.size()), 4, "character format index", k)) return false;
      o.CharFormatIndex.resize(k + 1, 0);
      for (size_t i = 0; i < k; ++i) o.CharFormatIndex[i] = in.I32("the character formats");
    }
    size_t f = 0;
    if (!in.Count(in.I32("the character formats"), kIECharFormatSize, "character format count", f)) return false;
    o.CharFormats.resize(f);
    for (TIECharFormatBytes& cf : o.CharFormats) in.Take(cf.data(), cf.size(), "a character format");
    if (present)
      for (size_t i = 0; i + 1 < o.CharFormatIndex.size(); ++i)
        if (o.CharFormatIndex[i] < 0 || static_cast<size_t>(o.CharFormatIndex[i]) >= f)
          return in.Fail("a character format index outside the formats");
    o.MemoFixedFont = in.U8("the memo") != 0;
    o.TextAutoSize = in.U8("the memo") != 0;
    o.MemoLineSpacing = in.I32("the memo");
    o.MemoBorderColor = static_cast<TColor>(in.I32("the memo"));
    o.MemoBorderStyle = in.U8("the memo");
    o.TextAlign = in.U8("the memo");
    o.MemoDefaultLineHeight = in.I32("the memo");
    o.MemoHasBitmap = v >= 'I' ? in.U8("the memo bitmap") != 0 : false;
    if (o.MemoHasBitmap) {
      o.BitmapIndex = bitmapIndex(in.I32("the memo bitmap"));
      if (v >= 'B') o.BitmapOption = in.U8("the memo bitmap") != 0;
    }
    if (v >= 'H')
      for (double& m : o.MemoFrame) m = in.F64("the memo frame");
    o.MemoBackBrushStyle = v >= 'L' ? in.U8("the memo background") : 0;
  }
  o.TextEditable = v >= 'J' ? in.U8("the edit flag") != 0 : true;
  if (o.Kind == ievkRuler) {
    if (v >= '5') {
      o.RulerUnit = in.U8("the ruler");
      o.RulerType = in.U8("the ruler");
    } else {
      o.RulerUnit = 0;
      o.RulerType = 0;
    }
    if (v >= 'A' && !ReadFont(in, o)) return false;
    if (!o.Font) DefaultFontOf(o, defaults, 12);
  }
  if (o.Kind == ievkPolyline && v >= '8') {
    size_t p = 0;
    if (!in.Count(in.I32("the points"), 8, "point count", p)) return false;
    o.Points.resize(p);
    for (TPoint& pt : o.Points) {
      pt.x = in.I32("the points");
      pt.y = in.I32("the points");
    }
    o.PointCapacity = static_cast<int32_t>(p);
    o.PointsBase.left = in.I32("the point base");
    o.PointsBase.top = in.I32("the point base");
    o.PointsBase.right = in.I32("the point base");
    o.PointsBase.bottom = in.I32("the point base");
    o.Closed = v >= ';' ? in.U8("the closed flag") != 0 : false;
  }
  if (o.Kind == ievkAngle) {
    if (v >= ':')
      for (TPoint& pt : o.AnglePoints) {
        pt.x = in.I32("the angle");
        pt.y = in.I32("the angle");
      }
    else
      for (TPoint& pt : o.AnglePoints) pt = TPoint{0, 0};
    if (v >= 'K' && !ReadFont(in, o)) return false;
    if (!o.Font) DefaultFontOf(o, defaults, 10);
  }
  if (o.Kind == ievkExtended && v >= 'N' && in.U8("the extended flag") != 0) {
    const std::string name = in.Str("a class name");
    if (!in.Ok()) return false;
    std::unique_ptr<TIEVCustomObject> instance = CreateExtendedObject(name);
    // Its own data has no length: an unknown class cannot be read past.
    if (!instance) return in.Fail("an extended object of an unregistered class \"" + name + "\"");
    TCustomMemoryStream data(in.p + in.pos, int64_t(in.Left()));
    try {
      instance->Init();
      instance->LoadFromStream(data);
    } catch (const Exception&) {
      return in.Fail("an extended object's data does not read");
    }
    in.pos += static_cast<size_t>(std::clamp<int64_t>(data.Position(), 0, int64_t(in.Left())));
    o.Extended = std::move(instance);
  }
  if (!in.Ok()) return false;
  if (o.Kind == ievkNone) {
    if (depth >= TImageLibVect::kMaxGroupDepth) return in.Fail("groups nest too deep");
    for (int32_t i = 0; i < nested; ++i)
      if (!ReadRecord(in, v, depth + 1, defaults, slotCount, out)) return false;
    return true;
  }
  out.push_back(ParsedObject{std::move(r)});
  return true;
}

// ---- writing ----

struct ByteWriter {
  std::vector<uint8_t> b;
  void Put(const void* p, size_t n) {
    const auto* c = static_cast<const uint8_t*>(p);
    b.insert(b.end(), c, c + n);
  }
  void I32(int32_t v) { Put(&v, 4); }
  void U8(uint8_t v) { Put(&v, 1); }
  void F64(double v) { Put(&v, 8); }
  void Str(const std::string& s) {
    I32(static_cast<int32_t>(s.size()));
    Put(s.data(), s.size());
  }
  void Font(const std::unique_ptr<LOGFONTA>& f) {
    U8(f ? 1 : 0);
    if (f) Put(f.get(), sizeof(LOGFONTA));
  }
};

}  // namespace

// ---- the view's operations ----

bool TImageLibVect::IsIEVStream(TStream& stream) {
  const int64_t at = stream.Position();
  char head[4] = {};
  const bool ok = stream.Read(head, 4) == 4 && std::memcmp(head, "IEV", 3) == 0 && head[3] >= kIEVOldestVersion &&
                  head[3] <= kIEVVersion;
  stream.SetPosition(at);
  return ok;
}

bool TImageLibVect::IsALLStream(TStream& stream) {
  const int64_t at = stream.Position();
  bool ok = false;
  int32_t q = 0;
  if (stream.Read(&q, 4) == 4 && q >= 0 && q <= stream.Size()) {
    // Until the views' layers stream stands, the layers part is taken on trust.
    const TIEStreamTest& layers = IEFilters().IsLayersStream;
    if (!layers || layers(stream)) {
      stream.SetPosition(q);
      ok = IsIEVStream(stream);
    }
  }
  stream.SetPosition(at);
  return ok;
}

bool TImageLibVect::LoadObjectsFromStream(TStream& stream, bool append) {
  FLastLoadError.clear();
  char head[4] = {};
  if (stream.Read(head, 4) != 4 || std::memcmp(head, "IEV", 3) != 0 || head[3] < kIEVOldestVersion ||
      head[3] > kIEVVersion) {
    FLastLoadError = "not an IEV stream";
    return false;
  }
  const char v = head[3];
  std::string reason;
  double scale = 1.0;
  std::vector<std::unique_ptr<TIEBitmap>> slots;
  std::vector<ParsedObject> objects;
  try {
    int32_t length = 0;
    stream.ReadBuffer(&length, 4);
    if (v == '1') {
      int32_t s = 0;
      stream.ReadBuffer(&s, 4);
      scale = s;
    } else {
      stream.ReadBuffer(&scale, 8);
    }
    int32_t n = 0;
    stream.ReadBuffer(&n, 4);
    // each slot takes at least its 4-byte count
    if (n < 0 || int64_t(n) > stream.Remaining() / 4) reason = "the bitmap slot count does not fit the stream";
    for (int32_t i = 0; reason.empty() && i < n; ++i) {
      int32_t count = 0;
      stream.ReadBuffer(&count, 4);
      if (count <= 0) {
        slots.push_back(nullptr);
        continue;
      }
      std::vector<uint8_t> bytes;
      const bool png = v >= '3';
      if (!(png ? ReadPNGBytes(stream, bytes, reason) : ReadBMPBytes(stream, bytes, reason))) break;
      std::unique_ptr<TIEBitmap> bitmap = DecodePicture(bytes, png, reason);
      if (!bitmap) break;
      if (v >= '7' && v <= '<' && !ReadAlphaBlock(stream, *bitmap, reason)) break;
      slots.push_back(std::move(bitmap));
    }
    if (reason.empty()) {
      // The object part runs to the end of the compressed data.
      const int64_t start = stream.Position();
      const int64_t left = stream.Size() - start;
      std::vector<uint8_t> packed(static_cast<size_t>(std::max<int64_t>(left, 0)));
      if (left > 0) stream.ReadBuffer(packed.data(), left);
      std::vector<uint8_t> data;
      size_t used = 0;
      if (InflateBounded(packed.data(), packed.size(), data, used, reason)) {
        stream.SetPosition(start + int64_t(used));
        ByteReader in{data.data(), data.size(), 0, {}};
        size_t count = 0;
        if (in.Count(in.I32("the object count"), 22, "object count", count))
          for (size_t i = 0; i < count && in.Ok(); ++i)
            ReadRecord(in, v, 0, FDefault, static_cast<int>(slots.size()), objects);
        if (!in.Ok()) reason = in.reason;
      }
    }
  } catch (const Exception& e) {
    if (reason.empty()) reason = std::string("the stream ends early: ") + e.Message();
  }
  if (!reason.empty()) {
    FLastLoadError = reason;
    return false;
  }

  // Everything read: the view takes it over.
  const bool savedShare = FShareBitmaps;
  FShareBitmaps = true;
  std::unique_ptr<TIEBitmap> keptDefault;
  if (TIEBitmap* b = GetBitmapAt(FDefault.BitmapIndex)) keptDefault = TIEBitmap::CreateCopy(*b);
  ReleaseBitmapRef(FDefault.BitmapIndex);
  FDefault.BitmapIndex = -1;
  if (!append) {
    const bool savedUndo = FObjAutoUndo;
    FObjAutoUndo = false;
    RemoveAllObjects();
    FObjAutoUndo = savedUndo;
  }
  FMeasureScale = scale;
  const int base = BitmapSlotCount();
  for (auto& b : slots) FBitmaps.push_back(TBitmapSlot{std::move(b), 0});
  for (ParsedObject& p : objects) {
    TIEVObject& o = *p.record;
    if (o.BitmapIndex >= 0) o.BitmapIndex += base;
    const int id = AddObjectRec(o);
    TIEVObject* added = GetObjectRec(id);
    if (!o.UserDataStore.empty()) {
      added->UserDataStore = std::move(o.UserDataStore);
      added->UserData = added->UserDataStore.data();
      added->UserDataLen = static_cast<int32_t>(added->UserDataStore.size());
    }
    if (o.Extended) {
      added->Extended = std::move(o.Extended);
      added->Extended->Owner = this;
      added->Extended->Record = added;
      added->Extended->SetId(id);
    }
  }
  // Slots no loaded object refers to hold nothing.
  for (int i = base; i < BitmapSlotCount(); ++i)
    if (FBitmaps[static_cast<size_t>(i)].Count == 0) FBitmaps[static_cast<size_t>(i)].Bitmap.reset();
  FShareBitmaps = true;
  if (keptDefault) SetObjBitmap(IEV_DEFAULT_OBJECT, keptDefault.get());
  FShareBitmaps = savedShare;
  Update();
  return true;
}

void TImageLibVect::WriteObjectRecord(TStream& stream, int id) {
  TIEVObject* r = GetObjectRec(id);
  if (r == nullptr) return;
  const TIEVObject& o = *r;
  ByteWriter w;
  w.I32(id);
  w.I32(o.X1);
  w.I32(o.Y1);
  w.I32(o.X2);
  w.I32(o.Y2);
  w.U8(o.Kind);
  w.U8(o.KeepAspectRatio ? 1 : 0);
  w.U8(o.BlendMode);
  w.I32(o.Layer);
  w.U8(o.SoftShadow.Enabled ? 1 : 0);
  w.F64(o.SoftShadow.Radius);
  w.I32(o.SoftShadow.OffsetX);
  w.I32(o.SoftShadow.OffsetY);
  w.I32(o.SoftShadow.Intensity);
  w.U8(o.SoftShadow.ShadowB);
  w.U8(o.SoftShadow.ShadowG);
  w.U8(o.SoftShadow.ShadowR);
  w.Str(o.AuxText);
  w.I32(o.UserValue);
  w.I32(static_cast<int32_t>(o.PenColor));
  w.U8(o.PenStyle);
  w.I32(o.PenWidth);
  w.I32(static_cast<int32_t>(o.BrushColor));
  w.U8(o.BrushStyle);
  w.U8(o.Flags);
  w.I32(o.Transparency);
  w.U8(o.AndFill ? 1 : 0);
  w.U8(o.FontQuality);
  const int32_t u = o.UserData != nullptr && o.UserDataLen > 0 ? o.UserDataLen : 0;
  w.I32(u);
  if (u > 0) w.Put(o.UserData, static_cast<size_t>(u));
  if (o.Kind == ievkLineLabel) {
    w.I32(static_cast<int32_t>(o.LabelBrushColor));
    w.U8(o.LabelBrushStyle);
    w.U8(o.LabelPosition);
    w.U8(o.LabelBorder);
  }
  if (o.Kind == ievkLine || o.Kind == ievkLineLabel) {
    w.U8(o.BeginShape);
    w.U8(o.EndShape);
    w.I32(o.ShapeWidth);
    w.I32(o.ShapeHeight);
  }
  if (o.Kind == ievkArc) {
    w.F64(o.StartAngle);
    w.F64(o.EndAngle);
  }
  if (o.Kind == ievkBitmap) {
    w.I32(o.BitmapIndex);
    w.U8(o.BitmapOption ? 1 : 0);
    w.I32(0);
  }
  if (o.Kind == ievkText || o.Kind == ievkLineLabel || o.Kind == ievkExtended) {
    w.U8(o.TextAlign);
    w.U8(o.TextAutoSize ? 1 : 0);
    w.Str(o.Text);
    w.Font(o.Font);
    w.I32(o.CurvePointCount());
    if (o.CurvePointCount() > 0) {
      for (const TIEDPoint& p : o.CurvePoints) {
        w.F64(p.x);
        w.F64(p.y);
      }
      w.I32(o.CurveCharAngle);
    }
  }
  if (o.Kind == ievkMemo) {
    w.Str(o.Text);
    w.Font(o.Font);
    w.U8(o.HasCharFormatIndex() ? 1 : 0);
    if (o.HasCharFormatIndex())
      for (size_t i = 0; i < o.Text.size(); ++i) w.I32(i < o.CharFormatIndex.size() ? o.CharFormatIndex[i] : 0);
    w.I32(static_cast<int32_t>(o.CharFormats.size()));
    for (const TIECharFormatBytes& cf : o.CharFormats) w.Put(cf.data(), cf.size());
    w.U8(o.MemoFixedFont ? 1 : 0);
    w.U8(o.TextAutoSize ? 1 : 0);
    w.I32(o.MemoLineSpacing);
    w.I32(static_cast<int32_t>(o.MemoBorderColor));
    w.U8(o.MemoBorderStyle);
    w.U8(o.TextAlign);
    w.I32(o.MemoDefaultLineHeight);
    w.U8(o.MemoHasBitmap ? 1 : 0);
    if (o.MemoHasBitmap) {
      w.I32(o.BitmapIndex);
      w.U8(o.BitmapOption ? 1 : 0);
    }
    for (double m : o.MemoFrame) w.F64(m);
    w.U8(o.MemoBackBrushStyle);
  }
  w.U8(o.TextEditable ? 1 : 0);
  if (o.Kind == ievkRuler) {
    w.U8(o.RulerUnit);
    w.U8(o.RulerType);
    w.Font(o.Font);
  }
  if (o.Kind == ievkPolyline) {
    w.I32(o.PointCount());
    for (const TPoint& p : o.Points) {
      w.I32(p.x);
      w.I32(p.y);
    }
    w.I32(o.PointsBase.left);
    w.I32(o.PointsBase.top);
    w.I32(o.PointsBase.right);
    w.I32(o.PointsBase.bottom);
    w.U8(o.Closed ? 1 : 0);
  }
  if (o.Kind == ievkAngle) {
    for (const TPoint& p : o.AnglePoints) {
      w.I32(p.x);
      w.I32(p.y);
    }
    w.Font(o.Font);
  }
  if (o.Kind == ievkExtended) {
    const std::string name = o.Extended ? GetExtendedObjectClassName(*o.Extended) : std::string();
    w.U8(name.empty() ? 0 : 1);
    if (!name.empty()) {
      w.Str(name);
      TMemoryStream own;
      o.Extended->SaveToStream(own);
      w.Put(own.Memory(), static_cast<size_t>(own.Size()));
    }
  }
  stream.WriteBuffer(w.b.data(), int64_t(w.b.size()));
}

bool TImageLibVect::SaveObjectsToStream(TStream& stream, int ids) {
  if (ids != IEV_ALL_OBJECTS) return false;
  PackBitmaps();
  const int64_t start = stream.Position();
  stream.WriteBuffer("IEV", 3);
  stream.WriteValue<char>(kIEVVersion);
  stream.WriteValue<int32_t>(0);
  stream.WriteValue<double>(FMeasureScale);
  stream.WriteValue<int32_t>(BitmapSlotCount());
  for (int i = 0; i < BitmapSlotCount(); ++i) {
    TBitmapSlot& slot = FBitmaps[static_cast<size_t>(i)];
    const int32_t count = slot.Count - (FDefault.BitmapIndex == i ? 1 : 0);
    stream.WriteValue<int32_t>(std::max(count, 0));
    if (count <= 0) continue;
    std::unique_ptr<TImageLibIO> io = TImageLibIO::CreateForBitmap(slot.Bitmap.get());
    io->SavePNGStream(stream);
    if (io->Aborting()) return false;
  }
  TMemoryStream records;
  records.WriteValue<int32_t>(ObjectsCount());
  for (int32_t id : FObjectIds) WriteObjectRecord(records, id);
  std::vector<uint8_t> raw(static_cast<const uint8_t*>(records.Memory()),
                           static_cast<const uint8_t*>(records.Memory()) + records.Size());
  std::vector<uint8_t> packed;
  if (!DeflateAll(raw, packed)) return false;
  stream.WriteBuffer(packed.data(), int64_t(packed.size()));
  const int64_t end = stream.Position();
  stream.SetPosition(start + 4);
  stream.WriteValue<int32_t>(static_cast<int32_t>(end - start));
  stream.SetPosition(end);
  return true;
}

bool TImageLibVect::LoadObjectsFromFile(const std::string& fileName, bool append) {
  if (fileName.empty()) return false;
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    return LoadObjectsFromStream(file, append);
  } catch (const Exception& e) {
    FLastLoadError = e.Message();
    return false;
  }
}

bool TImageLibVect::SaveObjectsToFile(const std::string& fileName) {
  if (fileName.empty()) return false;
  TMemoryStream ms;
  if (!SaveObjectsToStream(ms, IEV_ALL_OBJECTS)) return false;
  return WriteFileAtomically(fileName, std::string(reinterpret_cast<const char*>(ms.Memory()), size_t(ms.Size())));
}

bool TImageLibVect::SaveAllToStream(TStream& stream, int layerSelector) {
  // The offset stays absolute, but is patched where this ALL stream starts.
  const int64_t start = stream.Position();
  stream.WriteValue<int32_t>(0);
  SaveLayersToStream(stream, layerSelector);
  const int64_t p = stream.Position();
  if (p > INT32_MAX) return false;
  stream.SetPosition(start);
  stream.WriteValue<int32_t>(static_cast<int32_t>(p));
  stream.SetPosition(p);
  return SaveObjectsToStream(stream, IEV_ALL_OBJECTS);
}

bool TImageLibVect::LoadAllFromStream(TStream& stream) {
  FLastLoadError.clear();
  int32_t q = 0;
  if (stream.Read(&q, 4) != 4 || q < 0 || q > stream.Size()) {
    FLastLoadError = "not an ALL stream";
    return false;
  }
  // The objects are checked before the layers change, so a damaged objects
  // part leaves both alone.
  const int64_t layersAt = stream.Position();
  stream.SetPosition(q);
  if (!IsIEVStream(stream)) {
    FLastLoadError = "the ALL stream's objects part is not an IEV stream";
    return false;
  }
  stream.SetPosition(layersAt);
  try {
    LoadLayersFromStream(stream);
  } catch (const Exception& e) {
    FLastLoadError = std::string("the layers part does not read: ") + e.Message();
    return false;
  }
  stream.SetPosition(q);
  return LoadObjectsFromStream(stream, false);
}

void TImageLibVect::SaveAllToFile(const std::string& fileName) { SaveAllToFileChecked(fileName); }

bool TImageLibVect::SaveAllToFileChecked(const std::string& fileName) {
  if (fileName.empty()) return false;
  TMemoryStream ms;
  if (!SaveAllToStream(ms, -1)) return false;
  return WriteFileAtomically(fileName, std::string(reinterpret_cast<const char*>(ms.Memory()), size_t(ms.Size())));
}

bool TImageLibVect::LoadAllFromFile(const std::string& fileName) {
  if (fileName.empty()) return false;
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    return LoadAllFromStream(file);
  } catch (const Exception& e) {
    FLastLoadError = e.Message();
    return false;
  }
}
