#pragma once
// The process-wide list of the picture formats the library knows: code, name,
// suffixes, dialog page and three hooks. The input/output component finds
// formats in it by suffix and by code; detection asks its content tests.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "imaging/io/format_descriptor.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/object.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;

using TIEReadFunction = std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params,
                                           bool paramsOnly, TProgressRecord& progress)>;
using TIEWriteFunction =
    std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)>;
using TIETryFunction = std::function<bool(TStream& stream, TImageFileType type)>;


class TIEFileFormatInfo : public TObject {
public:
  TImageFileType FileType = ioUnknown;
  std::string FullName;
  std::string Suffix;  // upper case, without dots, separated by ";"
  // Built-in formats are loaded and saved by the component itself; a format
  // added from outside only through its hooks.
  bool InternalFormat = false;
  uint16_t DialogPage = 0;
  TIEReadFunction ReadFunction;    // empty: cannot be read
  TIEWriteFunction WriteFunction;  // empty: cannot be written
  TIETryFunction TryFunction;      // may be empty
};

// The placeholders of the built-in entries: they only mark a direction as
// supported; the component never calls them.
void InternalFormatReadHook(TStream&, TIEBitmap&, TIOParamsVals&, bool, TProgressRecord&);
void InternalFormatWriteHook(TStream&, TIEBitmap&, TIOParamsVals&, TProgressRecord&);
bool InternalFormatTryHook(TStream&, TImageFileType);

TIEFileFormatInfo* FindFileFormatByType(TImageFileType code);
// extension: with or without its dot, any case.
TIEFileFormatInfo* FindFileFormatByExtension(const std::string& extension);
TImageFileType GetFileTypeByExtension(const std::string& extension);
int CountFormatSuffixes(TImageFileType code);
std::string GetFormatSuffix(TImageFileType code, int index);
// The list owns the entry from then on.
void RegisterFileFormat(std::unique_ptr<TIEFileFormatInfo> entry);
void UnregisterFileFormat(TImageFileType code);
int FileFormatCount();
TIEFileFormatInfo* FileFormatAt(int index);

void RegisterBuiltinFileFormats();
void FreeFileFormats();
void UnloadIOPlugins();

// Start-up and shutdown of the input/output framework.
void InitImageIO();
void DoneImageIO();
// Puts the two above into the library's start-up sequence (LibraryStaticInit).
void InstallImageIOStartup();

// Metafiles larger than this many pixels on a side are scaled down on import.
extern int32_t IEMetafileSizeLimit;
// The relative-to-position flag of the buffered readers the component makes.
extern bool IEBufferedReadRelative;
