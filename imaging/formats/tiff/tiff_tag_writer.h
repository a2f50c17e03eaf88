#pragma once
// Directory entries of the TIFF writer: one routine per entry shape, the
// metadata blocks (IPTC, XMP, annotations, ICC, user comment, maker note), the
// EXIF and GPS sub-directories built from a parameter set, and
// WriteTIFFTagBlock, which copies a parameter set's metadata tags into a page
// of an existing TIFF without touching its images.
//
// Entries are collected little-endian in a TTIFFTagList; a value that does not
// fit the entry's 4 bytes is written at the next even position of the stream
// as it is added. Every write goes through the TFilterWriter, whose first
// short write sets the abort flag.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/formats/filter_rows.h"
#include "imaging/io/tiff_ifd.h"

class TIOParamsVals;
class TStream;

using TTIFFTagList = std::vector<TIFFTagEntry>;

// One zero byte when the position is odd; returns the even position.
int64_t AlignTIFFStream(TFilterWriter& w);
// By tag, as unsigned numbers; entries of one tag keep their order.
void SortTIFFTags(TTIFFTagList& tags);
// The entry count, the entries sorted by tag and the next-directory offset, at
// the position.
void WriteTIFFDirectory(TFilterWriter& w, TTIFFTagList& tags, uint32_t nextOffset);

// Single inline values (a SHORT in the low half).
void AddTIFFLongTag(TTIFFTagList& tags, int tag, uint32_t value);
void AddTIFFShortTag(TTIFFTagList& tags, int tag, uint16_t value);
void AddTIFFByteTag(TTIFFTagList& tags, int tag, uint8_t value);
void AddTIFFUndefinedTag(TTIFFTagList& tags, int tag, uint8_t value);
// Up to 4 bytes inline as BYTE, count = their number.
void AddTIFFInlineByteTag(TTIFFTagList& tags, int tag, const std::vector<uint8_t>& bytes);
// Exactly 4 UNDEFINED bytes inline (version tags); shorter texts are padded with "0".
void AddTIFFVersionTag(TTIFFTagList& tags, int tag, const std::string& text);
// A text with its terminating NUL (count = length + 1): inline up to 3
// characters, else at an even position. An empty text adds nothing.
void AddTIFFASCIITag(TTIFFTagList& tags, TFilterWriter& w, int tag, const std::string& text);
// UTF-16 little-endian with a 16-bit terminator, as BYTE (the Windows XP tags).
void AddTIFFWideStringTag(TTIFFTagList& tags, TFilterWriter& w, int tag, const std::wstring& text);
// RATIONAL (SRATIONAL with isSigned) values through FloatToFraction.
void AddTIFFRationalTag(TTIFFTagList& tags, TFilterWriter& w, int tag, double value, bool isSigned = false);
void AddTIFFRationalArrayTag(TTIFFTagList& tags, TFilterWriter& w, int tag, const double* values, int n,
                             bool isSigned = false);
// 1 or 2 values inline, more at an even position.
void AddTIFFShortArrayTag(TTIFFTagList& tags, TFilterWriter& w, int tag, const uint16_t* values, int n);
// One value inline, more at an even position.
void AddTIFFLongArrayTag(TTIFFTagList& tags, TFilterWriter& w, int tag, const uint32_t* values, int n);
// Bytes of any type at an even position (inline up to 4).
void AddTIFFBytesTag(TTIFFTagList& tags, TFilterWriter& w, int tag, int type, const uint8_t* data, uint32_t count);

// The metadata blocks of the parameters, each only when there is one.
void AddTIFFUserCommentTag(TTIFFTagList& tags, TFilterWriter& w, const std::string& code, const std::wstring& text);
void AddTIFFMakerNoteTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params);
void AddTIFFIPTCTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params);
void AddTIFFXMPTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params);
void AddTIFFAnnotationTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params);
void AddTIFFICCTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params);

// "2.2.0.0" as the bytes 2, 2, 0, 0 (a part that is no number gives 0).
std::vector<uint8_t> TextToGPSVersion(const std::string& text);

// An entry a rebuilt EXIF block carries over from the block read, because the
// parameters do not hold it: values little-endian, or a sub-directory.
struct TTIFFCarriedEntry {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint32_t Count = 0;
  std::vector<uint8_t> Data;
  std::vector<TTIFFCarriedEntry> Sub;
  bool IsDirectory = false;
};
struct TEXIFCarried {
  std::vector<TTIFFCarriedEntry> Main, Exif, Gps, Thumbnail;
};

// The main-directory EXIF group, the EXIF directory and (when the parameters
// have GPS data) the GPS directory; carried entries whose tags the parameters
// did not write are added to their directory.
void WriteTIFFMetadataTags(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params,
                           const TEXIFCarried* carried = nullptr);
void WriteTIFFGPSDirectory(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params,
                           const std::vector<TTIFFCarriedEntry>* carried = nullptr);
// Adds the carried entries whose tags the list lacks.
void AddTIFFCarriedTags(TTIFFTagList& tags, TFilterWriter& w, const std::vector<TTIFFCarriedEntry>& carried);
// True when the parameters hold GPS data worth a directory.
bool HasGPSData(TIOParamsVals& params);

// Copies the parameters' metadata tags (Make ... GPS directory) into page
// pageIndex of the TIFF read from input (or, when input is nil, from the file
// inputFileName) and writes that TIFF whole to output (or, when output is nil,
// to the file outputFileName). False when the target cannot be read, lacks the
// page, is big-endian or the write fails; nothing is written then.
bool WriteTIFFTagBlock(TStream* input, TStream* output, const std::string& inputFileName, TIOParamsVals& params,
                       int pageIndex, const std::string& outputFileName);
