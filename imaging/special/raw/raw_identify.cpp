// Camera identification: the container by its magic bytes or the file size,
// make and model from the container, then the fixed settings of each camera.
#include <algorithm>
#include <cstdint>

#include "imaging/special/raw/raw_state.h"

namespace {

struct TSizeRow {
  int64_t Size;
  const char* Make;
  const char* Model;
};

const TSizeRow kSizeTable[] = {
    {62464, "Kodak", "DC20"},          {124928, "Kodak", "DC20"},        {2465792, "NIKON", "E950"},
    {2940928, "NIKON", "E2100"},       {4771840, "NIKON", "E990"},       {5865472, "NIKON", "E4500"},
    {5869568, "NIKON", "E4300"},       {787456, "Creative", "PC-CAM 600"}, {1976352, "Casio", "QV-2000UX"},
    {3217760, "Casio", "QV-3*00EX"},   {6218368, "Casio", "QV-5700"},    {7684000, "Casio", "QV-4000"},
    {9313536, "Casio", "EX-P600"},     {4841984, "Pentax", "Optio S"},   {6114240, "Pentax", "Optio S4"},
    {12582980, "Sinar", ""},
};

const char* const kMakers[] = {"Canon", "NIKON", "Kodak", "PENTAX", "MINOLTA", "Minolta", "Konica"};

void SetText(char* field, const char* text) {
  char copy[64] = {};
  std::memcpy(copy, text, std::min<size_t>(std::strlen(text), 63));
  std::memcpy(field, copy, 64);
}

void Mul(TRawDecoderState& s, float m0, float m1, float m2, float m3) {
  if (m0 > 0) s.PreMul[0] = m0;
  if (m1 > 0) s.PreMul[1] = m1;
  if (m2 > 0) s.PreMul[2] = m2;
  if (m3 > 0) s.PreMul[3] = m3;
}

bool Is(const TRawDecoderState& s, const char* model) { return std::strcmp(s.Model, model) == 0; }

float Ratio(uint32_t a, uint32_t b) { return b != 0 ? float(a) / float(b) : 0.0f; }

// Minolta-made files keep their white balance at a known place.
void MinoltaStep(TRawDecoderState& s, int64_t from) {
  s.Loader = unpacked_be_shl4_load_raw;
  s.Maximum = 15856;
  s.Order = 0x4D4D;
  s.In.Seek(from);
  const uint16_t w1 = RawGet2(s), w2 = RawGet2(s), w3 = RawGet2(s), w4 = RawGet2(s);
  s.CameraRed = Ratio(w1, w3);
  s.CameraBlue = Ratio(w2, w4);
  Mul(s, 1.42f, 0, 1.25f, 0);
}

void NucoreStep(TRawDecoderState& s) {
  SetText(s.Make, "Nucore");
  s.Order = 0x4949;
  s.In.Seek(10);
  s.DataOffset += RawGet4(s);
  RawGet4(s);
  s.RawWidth = RawGet4(s);
  s.RawHeight = RawGet4(s);
  if (s.Model[0] == 'B' && s.RawWidth == 2597) {
    s.RawWidth = 2598;
    s.DataOffset -= 4096;
  }
}

void DetectContainer(TRawDecoderState& s, uint32_t hlen, int64_t fsize) {
  const uint8_t* head = s.Head;
  for (int k = 0; k + 8 <= 32; ++k) {
    if (std::memcmp(head + k, "MMMMRawT", 8) == 0) {
      SetText(s.Make, "Phase One");
      s.DataOffset = k;
      s.In.Seek(k + 8);
      s.In.Skip(int64_t(RawGet4(s)) + 136);
      s.RawWidth = RawGet4(s);
      s.In.Skip(12);
      s.RawHeight = RawGet4(s);
      return;
    }
  }
  if (s.Order == 0x4949 || s.Order == 0x4D4D) {
    if (std::memcmp(head + 6, "HEAPCCDR", 8) != 0) {
      ReadTIFFHeader(s, 0);
      if (RawStartsWith(s.Make, "NIKON") && s.RawWidth == 0) s.Make[0] = 0;
    } else {
      s.DataOffset = hlen;
      ReadCIFFHeap(s, hlen, fsize - hlen);
    }
    return;
  }
  if (std::memcmp(head, "\0MRM", 4) == 0) {
    ReadTIFFHeader(s, 48);
    s.In.Seek(4);
    s.DataOffset = int64_t(RawGet4(s)) + 8;
    s.In.Seek(24);
    s.RawHeight = RawGet2(s);
    s.RawWidth = RawGet2(s);
    s.In.Seek(12);
    s.In.Skip(int64_t(RawGet4(s)) + 4);
    s.In.Skip(int64_t(RawGet4(s)) + 12);
    const uint16_t w1 = RawGet2(s), w2 = RawGet2(s), w3 = RawGet2(s), w4 = RawGet2(s);
    s.CameraRed = Ratio(w1, w2);
    s.CameraBlue = Ratio(w4, w3);
    return;
  }
  if (std::memcmp(head, "\xff\xd8\xff\xe1", 4) == 0 && std::memcmp(head + 6, "Exif", 4) == 0) {
    s.In.Seek(4);
    s.In.Seek(int64_t(RawGet2(s)) + 4);
    if (s.In.Get() != 0xFF) ReadTIFFHeader(s, 12);
    return;
  }
  if (std::memcmp(head, "BM", 2) == 0) {
    s.DataOffset = 4096;
    s.Order = 0x4949;
    s.In.Seek(38);
    const uint32_t a = RawGet4(s), b = RawGet4(s);
    if (a == 2834 && b == 2834) {
      SetText(s.Model, "BMQ");
      NucoreStep(s);
    }
    return;
  }
  if (std::memcmp(head, "BR", 2) == 0) {
    SetText(s.Model, "RAW");
    NucoreStep(s);
    return;
  }
  if (std::memcmp(head + 25, "ARECOYK", 7) == 0) {
    SetText(s.Make, "CONTAX");
    SetText(s.Model, "N DIGITAL");
    return;
  }
  if (std::memcmp(head, "FUJIFILM", 8) == 0) {
    s.In.Seek(84);
    const int64_t base = int64_t(RawGet4(s)) + 12;
    ReadTIFFHeader(s, base);
    s.Order = 0x4D4D;
    s.In.Seek(100);
    s.DataOffset = RawGet4(s);
    return;
  }
  if (std::memcmp(head, "DSC-Image", 9) == 0) return ReadRolleiHeader(s);
  if (std::memcmp(head, "FOVb", 4) == 0) return ParseFoveon(s);
  for (const TSizeRow& r : kSizeTable) {
    if (r.Size == fsize) {
      SetText(s.Make, r.Make);
      SetText(s.Model, r.Model);
      break;
    }
  }
}

void NormaliseTexts(TRawDecoderState& s) {
  char found[64];
  std::memcpy(found, s.Make, 64);
  for (const char* maker : kMakers)
    if (std::strstr(found, maker) != nullptr) SetText(s.Make, maker);
  if (RawStartsWith(s.Make, "KODAK")) {
    s.Make[16] = 0;
    s.Model[16] = 0;
  }
  for (char* text : {s.Make, s.Model}) {
    size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == ' ') text[--n] = 0;
  }
  const size_t m = std::strlen(s.Make);
  if (m > 0 && std::strncmp(s.Model, s.Make, m) == 0 && s.Model[m] != 0) {
    char rest[64];
    SetText(rest, s.Model + m + 1);
    SetText(s.Model, rest);
  }
}

void CanonRawWidth(TRawDecoderState& s, int64_t h, int64_t w, int64_t t, int64_t l) {
  s.Height = h;
  s.Width = w;
  s.TopMargin = t;
  s.LeftMargin = l;
}

// The camera table; false when no row matches.
bool CameraTable(TRawDecoderState& s) {
  const bool canon = s.IsCanon;
  if (Is(s, "PowerShot 600")) {
    s.Height = 613, s.Width = 854, s.Colors = 4, s.Filters = 0xe1e4e1e4, s.Loader = powershot_600_load_raw;
    Mul(s, 1.137f, 1.257f, 0, 0);
  } else if (Is(s, "PowerShot A5") || Is(s, "PowerShot A5 Zoom")) {
    s.Height = 776, s.Width = 960, s.RawWidth = 992, s.Colors = 4, s.Filters = 0x1e4e1e4e;
    s.Loader = powershot_a5_load_raw;
    Mul(s, 1.5842f, 1.2966f, 1.0419f, 0);
  } else if (Is(s, "PowerShot A50")) {
    s.Height = 968, s.Width = 1290, s.RawWidth = 1320, s.Colors = 4, s.Filters = 0x1b4e4b1e;
    s.Loader = powershot_a5_load_raw;
    Mul(s, 1.75f, 1.381f, 0, 1.182f);
  } else if (Is(s, "PowerShot Pro70")) {
    s.Height = 1024, s.Width = 1552, s.Colors = 4, s.Filters = 0x1e4b4e1b, s.Loader = powershot_a5_load_raw;
    Mul(s, 1.389f, 1.343f, 0, 1.034f);
  } else if (Is(s, "PowerShot Pro90 IS")) {
    s.Width = 1896, s.Colors = 4, s.Filters = 0xb4b4b4b4;
    Mul(s, 1.496f, 1.509f, 0, 1.009f);
  } else if (canon && s.RawWidth == 2144) {
    CanonRawWidth(s, 1550, 2088, 8, 4);
    if (Is(s, "PowerShot G1")) {
      s.Colors = 4, s.Filters = 0xb4b4b4b4;
      Mul(s, 1.446f, 1.405f, 1.016f, 0);
    } else {
      Mul(s, 1.785f, 0, 1.266f, 0);
    }
  } else if (canon && s.RawWidth == 2224) {
    CanonRawWidth(s, 1448, 2176, 6, 48);
    Mul(s, 1.592f, 0, 1.261f, 0);
  } else if (canon && s.RawWidth == 2376) {
    CanonRawWidth(s, 1720, 2312, 6, 12);
    if (Is(s, "PowerShot G2") || Is(s, "PowerShot S40"))
      Mul(s, 1.965f, 0, 1.208f, 0);
    else
      Mul(s, 1.855f, 0, 1.339f, 0);
  } else if (canon && s.RawWidth == 2672) {
    CanonRawWidth(s, 1960, 2616, 6, 12);
    Mul(s, 1.895f, 0, 1.403f, 0);
  } else if (canon && s.RawWidth == 3152) {
    CanonRawWidth(s, 2056, 3088, 12, 64);
    s.Maximum = 16000;
    if (Is(s, "EOS Kiss Digital"))
      Mul(s, 1.882f, 0, 1.094f, 0);
    else
      Mul(s, 2.242f, 0, 1.245f, 0);
  } else if (canon && s.RawWidth == 3160) {
    CanonRawWidth(s, 2328, 3112, 12, 44);
    Mul(s, 1.85f, 0, 1.53f, 0);
  } else if (canon && s.RawWidth == 3344) {
    CanonRawWidth(s, 2472, 3288, 6, 4);
    Mul(s, 1.621f, 0, 1.528f, 0);
  } else if (Is(s, "EOS-1D")) {
    s.Height = 1662, s.Width = 2496, s.DataOffset = 288912;
    Mul(s, 1.976f, 0, 1.282f, 0);
  } else if (Is(s, "EOS-1DS")) {
    s.Height = 2718, s.Width = 4082, s.DataOffset = 289168, s.Maximum = 14464;
    Mul(s, 1.66f, 0, 1.13f, 0);
  } else if (Is(s, "EOS-1D Mark II") || Is(s, "EOS 20D")) {
    s.RawHeight = 2360, s.RawWidth = 3596, s.TopMargin = 12, s.LeftMargin = 74, s.Height = 2348, s.Width = 3522;
    s.Filters = 0x94949494;
    Mul(s, 1.95f, 0, 1.36f, 0);
  } else if (Is(s, "EOS-1Ds Mark II")) {
    s.RawHeight = 3349, s.RawWidth = 5108, s.TopMargin = 13, s.LeftMargin = 98, s.Height = 3336, s.Width = 5010;
    s.Filters = 0x94949494, s.Maximum = 0x3a00;
    Mul(s, 1.609f, 0, 1.848f, 0);
  } else if (Is(s, "EOS D2000C")) {
    s.Black = 800;
    Mul(s, 0, 0, 1.25f, 0);
  } else if (Is(s, "D1")) {
    s.Filters = 0x16161616;
    Mul(s, 0.838f, 0, 1.095f, 0);
  } else if (Is(s, "D1H")) {
    s.Filters = 0x16161616;
    Mul(s, 2.301f, 0, 1.129f, 0);
  } else if (Is(s, "D1X")) {
    s.Width = 4024, s.Filters = 0x16161616, s.YMag = 2;
    Mul(s, 1.91f, 0, 1.22f, 0);
  } else if (Is(s, "D100")) {
    if (s.Compression == 34713 && s.Loader == nikon_packed_load_raw) {
      s.RawWidth = s.Width + 6;
      s.Width += 3;
    }
    s.Filters = 0x61616161, s.Maximum = 15632;
    Mul(s, 2.374f, 0, 1.677f, 0);
  } else if (Is(s, "D2H")) {
    s.Width = 2482, s.LeftMargin = 6, s.Filters = 0x49494949;
    Mul(s, 2.8f, 0, 1.2f, 0);
  } else if (Is(s, "D70")) {
    s.Filters = 0x16161616;
    Mul(s, 2.043f, 0, 1.625f, 0);
  } else if (Is(s, "E950")) {
    s.Height = 1203, s.Width = 1616, s.Filters = 0x4b4b4b4b, s.Colors = 4, s.Loader = coolpix_e950_load_raw;
    e950_colour_matrix(s);
    Mul(s, 1.18193f, 0, 1.16452f, 1.1725f);
  } else if (Is(s, "E990")) {
    s.Height = 1540, s.Width = 2064, s.Colors = 4;
    if (E990HistogramTest(s)) {
      s.Filters = 0xb4b4b4b4;
      e950_colour_matrix(s);
      Mul(s, 1.196f, 1.246f, 1.018f, 0);
    } else {
      SetText(s.Model, "E995");
      s.Filters = 0xe1e1e1e1;
      Mul(s, 1.253f, 1.178f, 0, 1.035f);
    }
  } else if (Is(s, "E2100")) {
    s.Width = 1616;
    if (E2100PatternTest(s)) {
      s.Height = 1206, s.Loader = coolpix_e2100_load_raw;
      Mul(s, 1.945f, 0, 1.04f, 0);
    } else {
      SetText(s.Model, "E2500");
      s.Height = 1204, s.Filters = 0x4b4b4b4b, s.Colors = 4;
      Mul(s, 1.3f, 1.3f, 0, 1.148f);
    }
  } else if (Is(s, "E4300")) {
    s.Height = 1710, s.Width = 2288, s.Filters = 0x16161616;
    if (DimageZ2TailTest(s)) {
      SetText(s.Make, "Minolta");
      SetText(s.Model, "DiMAGE Z2");
      s.Loader = coolpix_e2100_load_raw;
    }
  } else if (Is(s, "E4500")) {
    s.Height = 1708, s.Width = 2288, s.Filters = 0xb4b4b4b4, s.Colors = 4;
    Mul(s, 1.3f, 1.3f, 0, 1.148f);
  } else if (Is(s, "E5000") || Is(s, "E5700")) {
    s.Filters = 0xb4b4b4b4, s.Colors = 4;
    Mul(s, 1.3f, 1.3f, 0, 1.148f);
  } else if (Is(s, "E5400")) {
    s.Filters = 0x16161616;
    Mul(s, 1.7f, 0, 1.344f, 0);
  } else if (Is(s, "E8700") || Is(s, "E8800")) {
    s.Filters = 0x16161616;
    Mul(s, 2.131f, 0, 1.3f, 0);
  } else if (Is(s, "FinePixS2Pro")) {
    s.Height = 3584, s.Width = 3583, s.Filters = 0x61616161, s.Loader = finepix_s2pro_load_raw, s.Black = 512;
    Mul(s, 1.424f, 0, 1.718f, 0);
  } else if (Is(s, "FinePix S5000")) {
    s.Height = 2499, s.Width = 2500, s.Filters = 0x49494949, s.Loader = finepix_s5000_load_raw, s.Maximum = 0xf800;
    Mul(s, 1.639f, 0, 1.438f, 0);
  } else if (Is(s, "FinePix S7000")) {
    s.Height = 3587, s.Width = 3588, s.Filters = 0x49494949, s.Loader = finepix_s7000_load_raw, s.Maximum = 0xf800;
    Mul(s, 1.62f, 0, 1.38f, 0);
  } else if (Is(s, "FinePix E550")) {
    s.Height = 3587, s.Width = 3588, s.Filters = 0x49494949, s.Loader = finepix_s7000_load_raw, s.Maximum = 0xf800;
    Mul(s, 1.45f, 0, 1.25f, 0);
  } else if (Is(s, "FinePix F700") || Is(s, "FinePix S20Pro")) {
    s.Height = 2523, s.Width = 2524, s.Filters = 0x49494949, s.Loader = finepix_f700_load_raw, s.Maximum = 0x3e00;
    Mul(s, 1.639f, 0, 1.438f, 0);
  } else if (Is(s, "Digital Camera KD-400Z")) {
    s.Height = 1712, s.Width = 2312, s.RawWidth = 2336, s.DataOffset = 4034;
    MinoltaStep(s, 2032);
  } else if (Is(s, "Digital Camera KD-510Z")) {
    s.Height = 1956, s.Width = 2607, s.RawWidth = 2624, s.DataOffset = 4032, s.Filters = 0x61616161;
    MinoltaStep(s, 2032);
  } else if (RawSameNoCase(s.Make, "MINOLTA")) {
    s.Loader = unpacked_be_shl2_load_raw, s.Maximum = 15860;
    if (RawStartsWith(s.Model, "DiMAGE A")) {
      s.Loader = packed_12bit_load_raw;
      s.Maximum = s.Model[8] == '1' ? 15916 : 16380;
      Mul(s, 1.42f, 0, 1.25f, 0);
    } else if (!RawStartsWith(s.Model, "DiMAGE G")) {
      Mul(s, 1.42f, 0, 1.25f, 0);
    } else {
      int64_t from = 0;
      switch (s.Model[8]) {
        case '4': s.DataOffset = 5056, s.Height = 1716, s.Width = 2304, from = 2078; break;
        case '5': s.DataOffset = 4016, s.Height = 1956, s.Width = 2607, s.RawWidth = 2624, from = 1936; break;
        case '6': s.DataOffset = 4032, s.Height = 2136, s.Width = 2848, from = 2030; break;
        default: break;
      }
      s.Filters = 0x61616161;
      MinoltaStep(s, from);
    }
  } else if (Is(s, "*ist D")) {
    s.Height = 2024, s.Width = 3040, s.DataOffset = 0x10000, s.Loader = unpacked_be_shl2_load_raw;
    Mul(s, 1.76f, 1.07f, 0, 0);
  } else if (Is(s, "Optio S")) {
    s.Height = 1544, s.Width = 2068, s.RawWidth = 3136, s.Loader = packed_12bit_load_raw;
    Mul(s, 1.506f, 0, 1.152f, 0);
  } else if (Is(s, "Optio S4")) {
    s.Height = 1737, s.Width = 2324, s.RawWidth = 3520, s.Loader = packed_12bit_load_raw;
    Mul(s, 1.308f, 0, 1.275f, 0);
  } else if (std::strcmp(s.Make, "Phase One") == 0) {
    switch (s.RawHeight) {
      case 2060:
        SetText(s.Model, "LightPhase");
        s.Height = 2048, s.Width = 3080, s.TopMargin = 5, s.LeftMargin = 22;
        Mul(s, 1.331f, 0, 1.154f, 0);
        break;
      case 2682:
        SetText(s.Model, "H10");
        s.Height = 2672, s.Width = 4012, s.TopMargin = 5, s.LeftMargin = 26;
        break;
      case 4128:
        SetText(s.Model, "H20");
        s.Height = 4098, s.Width = 4098, s.TopMargin = 20, s.LeftMargin = 26;
        Mul(s, 1.963f, 0, 1.43f, 0);
        break;
      case 5488:
        SetText(s.Model, "H25");
        s.Height = 5458, s.Width = 4098, s.TopMargin = 20, s.LeftMargin = 26;
        Mul(s, 2.8f, 0, 1.2f, 0);
        break;
      default: break;
    }
    s.Filters = (s.TopMargin & 1) ? 0x94949494 : 0x49494949;
    s.Loader = phase_one_load_raw, s.Maximum = 0xffff;
  } else if (Is(s, "Ixpress")) {
    s.Height = 4084, s.Width = 4080, s.Filters = 0x49494949, s.Loader = ixpress_load_raw, s.Maximum = 0xffff;
    Mul(s, 1.963f, 0, 1.43f, 0);
  } else if (std::strcmp(s.Make, "Sinar") == 0 && std::memcmp(s.Head, "8BPS", 4) == 0) {
    s.In.Seek(14);
    s.Height = RawGet4(s);
    s.Width = RawGet4(s);
    s.Filters = 0x61616161, s.DataOffset = 68, s.Loader = unpacked_be_load_raw, s.Maximum = 0xffff;
  } else if (std::strcmp(s.Make, "Leaf") == 0) {
    if (s.Width < s.Height) s.Filters = 0x16161616;
    s.Loader = unpacked_be_load_raw, s.Maximum = 0xffff;
    Mul(s, 1.1629f, 0, 1.3556f, 0);
  } else if (Is(s, "DIGILUX 2") || Is(s, "DMC-LC1")) {
    s.Height = 1928, s.Width = 2568, s.DataOffset = 1024, s.Loader = unpacked_le_shr2_load_raw;
    Mul(s, 1.883f, 0, 1.367f, 0);
  } else if (Is(s, "E-1")) {
    s.Filters = 0x61616161, s.Loader = unpacked_le_shr2_load_raw;
    Mul(s, 1.57f, 0, 1.48f, 0);
  } else if (Is(s, "E-10")) {
    s.Loader = unpacked_be_shr2_load_raw;
    Mul(s, 1.43f, 0, 1.77f, 0);
  } else if (RawStartsWith(s.Model, "E-20")) {
    s.Loader = unpacked_be_shr2_load_raw, s.Black = 640;
    Mul(s, 1.43f, 0, 1.77f, 0);
  } else if (Is(s, "C5050Z")) {
    s.Filters = 0x16161616, s.Loader = olympus_c_series_load_raw;
    Mul(s, 1.533f, 0, 1.88f, 0);
  } else if (Is(s, "C5060WZ")) {
    s.Loader = olympus_c_series_load_raw;
    Mul(s, 2.285f, 0, 1.023f, 0);
  } else if (Is(s, "C8080WZ")) {
    s.Filters = 0x16161616, s.Loader = olympus_c_series_load_raw;
    Mul(s, 2.335f, 0, 1.323f, 0);
  } else if (Is(s, "N DIGITAL")) {
    s.Height = 2047, s.Width = 3072, s.Filters = 0x61616161, s.DataOffset = 6656, s.Loader = packed_12bit_load_raw;
    Mul(s, 1.366f, 0, 1.251f, 0);
  } else if (Is(s, "DSC-F828")) {
    s.Height = 2460, s.Width = 3288, s.RawWidth = 3360, s.LeftMargin = 5, s.Loader = sony_f828_load_raw;
    sony_f828_colour_matrix(s);
    s.Filters = 0xb4b4b4b4, s.Colors = 4;
    Mul(s, 1.512f, 1.02f, 1.405f, 0);
  } else {
    return false;
  }
  return true;
}

// Rows for makes without a row in the table (not Kodak).
void OtherRows(TRawDecoderState& s) {
  if (std::strcmp(s.Make, "Rollei") == 0) {
    switch (s.RawWidth) {
      case 1316: s.Height = 1030, s.Width = 1300, s.TopMargin = 1, s.LeftMargin = 6; break;
      case 2568: s.Height = 1960, s.Width = 2560, s.TopMargin = 2, s.LeftMargin = 8; break;
      default: break;
    }
    s.Filters = 0x16161616, s.Loader = rollei_d530_load_raw;
    Mul(s, 1.8f, 0, 1.3f, 0);
  } else if (std::strcmp(s.Make, "SIGMA") == 0) {
    switch (s.RawHeight) {
      case 763: s.Height = 756, s.TopMargin = 2; break;
      case 1531: s.Height = 1514, s.TopMargin = 7; break;
      default: break;
    }
    switch (s.RawWidth) {
      case 1152: s.Width = 1136, s.LeftMargin = 8; break;
      case 2304: s.Width = 2271, s.LeftMargin = 17; break;
      default: break;
    }
    if (s.Height * 2 < s.Width) s.YMag = 2;
    s.Filters = 0, s.Loader = foveon_x3_load_raw, s.IsFoveon = true;
    Mul(s, 1.179f, 0, 0.713f, 0);
    if (Is(s, "SD10")) {
      s.PreMul[0] *= 2.07f;
      s.PreMul[2] *= 2.3f;
    }
    foveon_colour_matrix(s);
    s.Maximum = 5600;
  } else if (Is(s, "PC-CAM 600")) {
    s.Height = 768, s.Width = 1024, s.DataOffset = 1024, s.Filters = 0x49494949, s.Loader = eight_bit_load_raw;
    Mul(s, 1.14f, 0, 2.73f, 0);
  } else if (Is(s, "QV-2000UX")) {
    s.Height = 1208, s.Width = 1632, s.DataOffset = 3264, s.Loader = eight_bit_load_raw;
  } else if (Is(s, "QV-3*00EX")) {
    s.Height = 1546, s.Width = 2070, s.RawWidth = 2080, s.Loader = eight_bit_load_raw;
  } else if (Is(s, "QV-4000")) {
    s.Height = 1700, s.Width = 2260, s.Loader = unpacked_be_shr2_load_raw;
  } else if (Is(s, "QV-5700")) {
    s.Height = 1924, s.Width = 2576, s.Loader = qv5700_load_raw;
  } else if (Is(s, "EX-P600")) {
    s.Height = 2142, s.Width = 2844, s.RawWidth = 4288, s.Loader = packed_12bit_load_raw;
    Mul(s, 2.356f, 1.069f, 0, 0);
  } else if (std::strcmp(s.Make, "Nucore") == 0) {
    s.Filters = 0x61616161, s.Loader = nucore_load_raw;
  }
}

struct TKodakRow {
  const char* Model;
  int Kind;  // 0 model, 1 model prefix ("$" rows), 2 second-model prefix, 3 model ignoring case
  int WidthCut, Left, Curve;
  int Black, Colours;  // Colours 1: monochrome
  float M0, M1, M2;
  bool CMY;
};

const TKodakRow kKodakRows[] = {
    {"NC2000F", 0, 4, 1, 176, 0, 0, 1.509f, 0, 2.686f, false},
    {"EOSDCS3B", 0, 4, 2, 0, 0, 0, 1.629f, 0, 2.767f, false},
    {"EOSDCS1", 0, 4, 2, 0, 0, 0, 1.386f, 0, 2.405f, false},
    {"DCS315C", 0, 0, 0, 0, 32, 0, 0, 1.068f, 1.036f, false},
    {"DCS330C", 0, 0, 0, 0, 32, 0, 0, 1.012f, 1.804f, false},
    {"DCS420", 0, 4, 2, 0, 0, 0, 1.327f, 0, 2.074f, false},
    {"DCS460", 0, 4, 2, 0, 0, 0, 1.724f, 0, 2.411f, false},
    {"DCS460A", 0, 4, 2, 0, 0, 1, 0, 0, 0, false},
    {"DCS520C", 0, 0, 0, 0, 720, 0, 1.006f, 0, 1.858f, false},
    {"DCS560C", 0, 0, 0, 0, 750, 0, 0, 1.053f, 1.703f, false},
    {"DCS620C", 0, 0, 0, 0, 720, 0, 0, 1.002f, 1.818f, false},
    {"DCS62", 1, 0, 0, 0, 740, 0, 1.486f, 0, 1.28f, true},
    {"DCS660C", 0, 0, 0, 0, 855, 0, 1.156f, 0, 1.626f, false},
    {"DCS660M", 0, 0, 0, 0, 855, 1, 0, 0, 0, false},
    {"DCS72", 1, 0, 0, 0, 0, 0, 1.35f, 0, 1.18f, true},
    {"DCS760C", 0, 0, 0, 0, 0, 0, 1.06f, 0, 1.72f, false},
    {"DCS760M", 0, 0, 0, 0, 0, 1, 0, 0, 0, false},
    {"ProBack", 0, 0, 0, 0, 0, 0, 1.06f, 0, 1.385f, false},
    {"PB645C", 2, 0, 0, 0, 0, 0, 1.0497f, 0, 1.3306f, false},
    {"PB645H", 2, 0, 0, 0, 0, 0, 1.201f, 0, 1.5061f, false},
    {"PB645M", 2, 0, 0, 0, 0, 0, 1.01755f, 0, 1.5424f, false},
    {"DCS Pro 14n", 3, 0, 0, 0, 0, 0, 0, 1.0323f, 1.258f, false},
    {"DCS Pro 14nx", 3, 0, 0, 0, 0, 0, 1.336f, 0, 1.3155f, false},
    {"DCS Pro SLR/c", 3, 0, 0, 0, 0, 0, 1.425f, 0, 1.293f, false},
    {"DCS Pro SLR/n", 3, 0, 0, 0, 0, 0, 1.324f, 0, 1.483f, false},
};

bool KodakRowMatches(const TRawDecoderState& s, const TKodakRow& r) {
  switch (r.Kind) {
    case 0: return std::strcmp(s.Model, r.Model) == 0;
    case 1: return RawStartsWith(s.Model, r.Model);
    case 2: return RawStartsWith(s.Model2, r.Model);
    default: return RawSameNoCase(s.Model, r.Model);
  }
}

// False when the file is refused.
bool KodakBlock(TRawDecoderState& s, int64_t fsize) {
  s.Filters = 0x61616161;
  for (const TKodakRow& r : kKodakRows) {
    if (!KodakRowMatches(s, r)) continue;
    s.Width -= r.WidthCut;
    if (r.Left) s.LeftMargin = r.Left;
    if (r.Curve) s.CurveLength = r.Curve;
    if (r.Black) s.Black = r.Black;
    if (r.Colours == 1) s.Colors = 1, s.Filters = 0;
    Mul(s, r.M0, r.M1, r.M2, 0);
    if (r.CMY) s.UseCMY = true;
    break;
  }
  if (s.Compression < 2) {
    s.Loader = kodak_easy_load_raw;
  } else if (s.Compression == 7) {
    s.Loader = jpeg_lossless_load_raw;
  } else if (s.Compression == 32867) {
  } else if (s.Compression == 65000) {
    if (s.KodakCompression == 32803) {
      s.Loader = kodak_dcr_compressed_load_raw;
    } else {
      s.Loader = kodak_dcr_yuv_load_raw;
      s.Height += s.Height & 1;
      s.Width += s.Width & 1;
      s.Filters = 0;
    }
  } else {
    return false;
  }
  if (Is(s, "DC20")) {
    s.Height = 242;
    if (fsize > 99999)
      s.Width = 501, s.RawWidth = 512;
    else
      s.Width = 249, s.RawWidth = 256;
    s.DataOffset = s.RawWidth + 1;
    s.Colors = 4, s.Filters = 0x8d8d8d8d;
    dc20_colour_matrix(s, 0.5f);
    Mul(s, 0, 1.179f, 1.209f, 1.036f);
    s.Loader = kodak_easy_load_raw;
  } else if (std::strstr(s.Model, "DC25") != nullptr) {
    SetText(s.Model, "DC25");
    s.Height = 242;
    if (fsize > 99999)
      s.Width = 501, s.RawWidth = 512, s.DataOffset = 15937;
    else
      s.Width = 249, s.RawWidth = 256, s.DataOffset = 15681;
    s.Colors = 4, s.Filters = 0xb4b4b4b4, s.Loader = kodak_easy_load_raw;
  } else if (Is(s, "Digital Camera 40")) {
    SetText(s.Model, "DC40");
    s.Height = 512, s.Width = 768, s.DataOffset = 1152, s.Loader = dc40_dc50_load_raw;
  } else if (std::strstr(s.Model, "DC50") != nullptr) {
    SetText(s.Model, "DC50");
    s.Height = 512, s.Width = 768, s.DataOffset = 0x4d00, s.Loader = dc40_dc50_load_raw;
  } else if (std::strstr(s.Model, "DC120") != nullptr) {
    SetText(s.Model, "DC120");
    s.Height = 976, s.Width = 848;
    if (s.Compression != 7) s.Loader = dc120_load_raw;
  }
  return true;
}

void FourColourRewrite(TRawDecoderState& s) {
  uint32_t f = s.Filters;
  for (int g = 0; g < 8; ++g) {
    const uint32_t nib = (f >> (4 * g)) & 15;
    if (nib == 9) f = (f & ~(15u << (4 * g))) | (0xBu << (4 * g));
    if (nib == 6) f = (f & ~(15u << (4 * g))) | (0xEu << (4 * g));
  }
  s.Filters = f;
  s.Colors = 4;
  s.PreMul[3] = s.PreMul[1];
  if (s.UseColourMatrix) {
    for (auto& row : s.Coeff) {
      row[1] /= 2;
      row[3] = row[1];
    }
  }
}

}  // namespace

int IdentifyCamera(TRawDecoderState& s) {
  s.RawHeight = s.RawWidth = 0;
  s.Make[0] = s.Model[0] = s.Model2[0] = 0;
  std::memset(s.WhiteSample, 0, sizeof s.WhiteSample);
  s.CameraRed = s.CameraBlue = 0;
  s.DataOffset = s.CurveOffset = 0;
  s.Compression = 0;
  s.ZeroAfterFF = false;
  s.VisitedIFDs.clear();
  s.CiffDepth = 0;

  s.In.Seek(0);
  s.Order = RawGet2(s);
  const uint32_t hlen = RawGet4(s);
  s.In.Seek(0);
  s.In.Read(s.Head, 32);
  const int64_t fsize = s.In.Size();

  DetectContainer(s, hlen, fsize);
  NormaliseTexts(s);
  if (s.Make[0] == 0) return 1;

  s.Loader = nullptr;
  s.Height = s.RawHeight;
  s.Width = s.RawWidth;
  s.TopMargin = s.LeftMargin = 0;
  s.Colors = 3;
  s.Filters = 0x94949494;
  s.Black = 0;
  s.UseCMY = s.IsFoveon = s.UseColourMatrix = false;
  for (float& m : s.PreMul) m = 1.0f;
  s.YMag = 1;
  s.Maximum = 0x4000;
  s.IsCanon = std::strcmp(s.Make, "Canon") == 0;

  if (std::strcmp(s.Make, "Canon") == 0) {
    if (std::memcmp(s.Head + 6, "HEAPCCDR", 8) != 0) {
      s.Filters = 0x61616161;
      s.Loader = jpeg_lossless_load_raw;
    } else if (s.RawWidth != 0) {
      s.Loader = canon_compressed_load_raw;
    }
  } else if (std::strcmp(s.Make, "NIKON") == 0) {
    s.Loader = NikonDataIsCompressed(s) ? nikon_compressed_load_raw : nikon_packed_load_raw;
  }

  if (!CameraTable(s)) {
    if (!RawSameNoCase(s.Make, "KODAK")) {
      OtherRows(s);
    } else if (!KodakBlock(s, fsize)) {
      return 1;
    }
  }

  // A picture needs a loader and a size on both axes.
  if (s.Loader == nullptr || s.Height <= 0 || s.Width <= 0) return 1;
  if (s.Height > INT32_MAX || s.Width > INT32_MAX) return 1;
  if (s.RawHeight == 0) s.RawHeight = s.Height;
  if (s.RawWidth == 0) s.RawWidth = s.Width;
  if (s.Colors == 4 && !s.UseColourMatrix) cmyg_colour_matrix(s);
  if (s.UseColourMatrix) {
    for (int c = 0; c < s.Colors; ++c) {
      s.Coeff[0][c] *= s.RedScale;
      s.Coeff[2][c] *= s.BlueScale;
    }
  }
  if (s.FourColour && s.Filters != 0 && s.Colors == 3) FourColourRewrite(s);
  s.In.Seek(s.DataOffset);
  return 0;
}
