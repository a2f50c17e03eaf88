#include "pictures/jpeg2000/jpeg2000_opj.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace jp2 {

namespace {

void Silent(const char*, void*) {}

TCodecPtr Quiet(opj_codec_t* codec) {
  if (codec) {
    opj_set_info_handler(codec, Silent, nullptr);
    opj_set_warning_handler(codec, Silent, nullptr);
    opj_set_error_handler(codec, Silent, nullptr);
  }
  return TCodecPtr(codec);
}

// OpenJPEG's chunk size for its own buffering of a stream.
constexpr OPJ_SIZE_T kChunk = 64 * 1024;

OPJ_SIZE_T ReadFromMemory(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* source = static_cast<TMemorySource*>(user);
  const size_t left = source->size - source->position;
  if (left == 0) return kEndOfStream;
  const size_t n = std::min<size_t>(count, left);
  std::memcpy(buffer, source->data + source->position, n);
  source->position += n;
  return n;
}

OPJ_OFF_T SkipInMemory(OPJ_OFF_T count, void* user) {
  auto* source = static_cast<TMemorySource*>(user);
  if (count < 0) {
    const size_t back = std::min<size_t>(static_cast<size_t>(-count), source->position);
    source->position -= back;
    return -static_cast<OPJ_OFF_T>(back);
  }
  const size_t left = source->size - source->position;
  if (left == 0 && count > 0) return -1;
  const size_t n = std::min<size_t>(static_cast<size_t>(count), left);
  source->position += n;
  return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL SeekInMemory(OPJ_OFF_T to, void* user) {
  auto* source = static_cast<TMemorySource*>(user);
  if (to < 0 || static_cast<uint64_t>(to) > source->size) return OPJ_FALSE;
  source->position = static_cast<size_t>(to);
  return OPJ_TRUE;
}

}  // namespace

namespace {

// Makes the sink at least end bytes long; false when it cannot be had.
bool GrowSink(TMemorySink& sink, size_t end) noexcept {
  if (end <= sink.bytes.size()) return true;
  // No code stream the picture writes comes near 4 GB; a seek beyond that is
  // a fault, not something to allocate for.
  if (end > (size_t(1) << 32)) return false;
  try {
    sink.bytes.resize(end);
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace

OPJ_SIZE_T WriteToMemory(void* buffer, OPJ_SIZE_T count, void* user) noexcept {
  auto* sink = static_cast<TMemorySink*>(user);
  if (count > SIZE_MAX - sink->position) return kEndOfStream;
  const size_t end = sink->position + count;
  if (!GrowSink(*sink, end)) return kEndOfStream;
  if (count > 0) std::memcpy(sink->bytes.data() + sink->position, buffer, count);
  sink->position = end;
  return count;
}

// Writing streams skip forward over space that is filled in later.
OPJ_OFF_T SkipInSink(OPJ_OFF_T count, void* user) noexcept {
  auto* sink = static_cast<TMemorySink*>(user);
  if (count < 0 && static_cast<uint64_t>(-(count + 1)) + 1 > sink->position) return -1;
  if (count > 0 && static_cast<uint64_t>(count) > SIZE_MAX - sink->position) return -1;
  const size_t to = static_cast<size_t>(static_cast<OPJ_OFF_T>(sink->position) + count);
  if (!GrowSink(*sink, to)) return -1;
  sink->position = to;
  return count;
}

OPJ_BOOL SeekInSink(OPJ_OFF_T to, void* user) noexcept {
  auto* sink = static_cast<TMemorySink*>(user);
  if (to < 0 || !GrowSink(*sink, static_cast<size_t>(to))) return OPJ_FALSE;
  sink->position = static_cast<size_t>(to);
  return OPJ_TRUE;
}

TCodecPtr CreateQuietDecompressor(OPJ_CODEC_FORMAT format) { return Quiet(opj_create_decompress(format)); }
TCodecPtr CreateQuietCompressor(OPJ_CODEC_FORMAT format) { return Quiet(opj_create_compress(format)); }

OPJ_CODEC_FORMAT CodecForData(const uint8_t* data, size_t size) {
  static const uint8_t kCodeStreamStart[4] = {0xFF, 0x4F, 0xFF, 0x51};
  if (size >= 4 && std::memcmp(data, kCodeStreamStart, 4) == 0) return OPJ_CODEC_J2K;
  return OPJ_CODEC_JP2;
}

TStreamPtr CreateReadStream(TMemorySource& source) {
  TStreamPtr stream(opj_stream_create(kChunk, OPJ_TRUE));
  if (!stream) return stream;
  opj_stream_set_user_data(stream.get(), &source, nullptr);
  opj_stream_set_user_data_length(stream.get(), source.size);
  opj_stream_set_read_function(stream.get(), ReadFromMemory);
  opj_stream_set_skip_function(stream.get(), SkipInMemory);
  opj_stream_set_seek_function(stream.get(), SeekInMemory);
  return stream;
}

TStreamPtr CreateWriteStream(TMemorySink& sink) {
  TStreamPtr stream(opj_stream_create(kChunk, OPJ_FALSE));
  if (!stream) return stream;
  opj_stream_set_user_data(stream.get(), &sink, nullptr);
  opj_stream_set_write_function(stream.get(), WriteToMemory);
  opj_stream_set_skip_function(stream.get(), SkipInSink);
  opj_stream_set_seek_function(stream.get(), SeekInSink);
  return stream;
}

}  // namespace jp2
