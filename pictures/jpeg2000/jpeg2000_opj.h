#pragma once
// Small owners of OpenJPEG's objects and its streams over memory, so that the
// picture class never leaks a codec, stream or image on an early exit.
#include <openjpeg.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace jp2 {

struct TCodecFree {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct TStreamFree {
  void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct TImageFree {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using TCodecPtr = std::unique_ptr<opj_codec_t, TCodecFree>;
using TStreamPtr = std::unique_ptr<opj_stream_t, TStreamFree>;
using TImagePtr = std::unique_ptr<opj_image_t, TImageFree>;

// A codec whose messages go nowhere: a failure reaches the caller as the
// picture's own error, never as text on the console.
TCodecPtr CreateQuietDecompressor(OPJ_CODEC_FORMAT format);
TCodecPtr CreateQuietCompressor(OPJ_CODEC_FORMAT format);

// The codec that reads the bytes: a bare code stream starts with the SOC and
// SIZ markers (FF 4F FF 51); anything else is taken for a JP2 file.
OPJ_CODEC_FORMAT CodecForData(const uint8_t* data, size_t size);

// Reading from bytes the caller keeps alive for the stream's lifetime.
struct TMemorySource {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t position = 0;
};
TStreamPtr CreateReadStream(TMemorySource& source);

// Writing into a growing byte vector; the JP2 writer seeks back to fill in
// box lengths, so the sink keeps a position of its own.
struct TMemorySink {
  std::vector<uint8_t> bytes;
  size_t position = 0;
};
TStreamPtr CreateWriteStream(TMemorySink& sink);

// The sink's callbacks, called by OpenJPEG's C code: no exception may leave
// them, so running out of memory (or a position past what a vector can hold)
// is reported through the return value (kEndOfStream, -1, OPJ_FALSE) and
// leaves the sink as it was. Declared here so tests can reach them.
inline constexpr OPJ_SIZE_T kEndOfStream = static_cast<OPJ_SIZE_T>(-1);
OPJ_SIZE_T WriteToMemory(void* buffer, OPJ_SIZE_T count, void* user) noexcept;
OPJ_OFF_T SkipInSink(OPJ_OFF_T count, void* user) noexcept;
OPJ_BOOL SeekInSink(OPJ_OFF_T to, void* user) noexcept;

// Decodes a JP2 file or a bare code stream within the sample and tile
// budgets of jpeg2000_bitmap.h; null, with why in refusal, when it cannot.
TImagePtr DecodeImage(const std::vector<uint8_t>& bytes, const char*& refusal);

}  // namespace jp2
