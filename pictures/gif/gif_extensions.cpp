#include "pictures/gif/gif_extensions.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "pictures/gif/gif_image.h"
#include "platform/rtl/byte_order.h"

namespace {

// The registries: labels to kinds, later entries first; application identifiers
// (8 bytes and 3 of authentication) to kinds.
struct TExtensionEntry {
  uint8_t label;
  TGIFExtensionKind kind;
};
struct TAppExtensionEntry {
  char id[11];
  TGIFExtensionKind kind;
};

const std::vector<TExtensionEntry>& ExtensionList() {
  static const std::vector<TExtensionEntry> list = {
      {TGIFTextExtension::kLabel, TGIFExtensionKind::Text},
      {TGIFGraphicControlExtension::kLabel, TGIFExtensionKind::GraphicControl},
      {TGIFCommentExtension::kLabel, TGIFExtensionKind::Comment},
      {TGIFApplicationExtension::kLabel, TGIFExtensionKind::Application}};
  return list;
}

const std::vector<TAppExtensionEntry>& AppExtensionList() {
  static const std::vector<TAppExtensionEntry> list = {{{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, TGIFExtensionKind::NSLoop},
                                                      {{'A', 'N', 'I', 'M', 'E', 'X', 'T', 'S', '1', '.', '0'}, TGIFExtensionKind::NSLoop}};
  return list;
}

TGIFExtensionKind FindLabel(uint8_t label) {
  const auto& list = ExtensionList();
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if (it->label == label) return it->kind;
  return TGIFExtensionKind::None;
}

TGIFExtensionKind FindApplication(const uint8_t* id) {
  const auto& list = AppExtensionList();
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if (std::memcmp(it->id, id, 11) == 0) return it->kind;
  return TGIFExtensionKind::UnknownApp;
}

// An application block is told apart by its size byte and identifier.
TGIFExtensionKind ResolveApplication(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t size = 0;
  TGIFExtensionKind kind = TGIFExtensionKind::Application;
  if (!ReadByteValue(stream, size)) {
    kind = TGIFExtensionKind::None;
  } else if (size == 11) {
    uint8_t id[11];
    kind = stream.Read(id, 11) == 11 ? FindApplication(id) : TGIFExtensionKind::Application;
  } else if (size == 10) {
    uint8_t id[10];
    kind = stream.Read(id, 10) == 10 ? TGIFExtensionKind::UnknownApp : TGIFExtensionKind::None;
  } else if (size > 11) {
    // Kept as the data of an unknown application and written back as it came.
    kind = TGIFExtensionKind::UnknownApp;
  }
  stream.SetPosition(start);
  return kind;
}

void ReadHead(TStream& stream, uint8_t label) {
  uint8_t head[2];
  ReadExact(stream, head, 2, "an extension head runs past the end");
  if (head[0] != 0x21) throw GIFException(gifmsg::kInvalidIntroducer);
  if (head[1] != label) throw GIFException(gifmsg::kExtensionMismatch);
}


}  // namespace

// ---- TGIFExtension ----

TGIFExtension::TGIFExtension(TGIFSubImage* frame) : TGIFItem(frame ? frame->Image() : nullptr), FFrame(frame) {}

void TGIFExtension::SaveToStream(TStream& stream) {
  const uint8_t head[2] = {0x21, ExtensionLabel()};
  stream.WriteBuffer(head, 2);
}

void TGIFExtension::LoadFromStream(TStream& stream) { ReadHead(stream, ExtensionLabel()); }

TGIFExtensionKind TGIFExtension::ClassForNextBlock(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t label = 0;
  TGIFExtensionKind kind = TGIFExtensionKind::None;
  if (ReadByteValue(stream, label)) {
    kind = FindLabel(label);
    if (kind == TGIFExtensionKind::Application) kind = ResolveApplication(stream);
  }
  stream.SetPosition(start);
  return kind;
}

std::unique_ptr<TGIFExtension> TGIFExtension::Create(TGIFExtensionKind kind, TGIFSubImage* frame) {
  switch (kind) {
    case TGIFExtensionKind::Text: return std::make_unique<TGIFTextExtension>(frame);
    case TGIFExtensionKind::GraphicControl: return std::make_unique<TGIFGraphicControlExtension>(frame);
    case TGIFExtensionKind::Comment: return std::make_unique<TGIFCommentExtension>(frame);
    case TGIFExtensionKind::UnknownApp: return std::make_unique<TGIFUnknownAppExtension>(frame);
    case TGIFExtensionKind::NSLoop: return std::make_unique<TGIFAppExtNSLoop>(frame);
    default: throw GIFException(gifmsg::kUnknownExtension);
  }
}

// ---- Graphic control ----

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
  if (FFrame && !FFrame->ControlExtension()) FFrame->SetControlExtension(this);
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  if (!FFrame) return;
  if (HasTransparency()) FFrame->SetIsTransparent(false);
  if (FFrame->ControlExtension() == this) FFrame->SetControlExtension(nullptr);
}

void TGIFGraphicControlExtension::SetTransparencyFlag(bool value) {
  if (FFrame) FFrame->SetIsTransparent(value);
  ControlBlock.Flags = static_cast<uint8_t>(value ? ControlBlock.Flags | 1 : ControlBlock.Flags & ~1);
}

void TGIFGraphicControlExtension::SetTransparentEntry(int index) {
  if (FFrame) {
    TGIFColorMap& map = FFrame->EffectiveColorMap();
    if (map.EntryCount() > 0 && index >= map.EntryCount()) {
      ReportWarning(1, gifmsg::kInvalidColorIndex);
      index = 0;
    }
  }
  ControlBlock.TransparentIndex = static_cast<uint8_t>(std::clamp(index, 0, 255));
}

void TGIFGraphicControlExtension::SetDisposalMethod(int method) {
  ControlBlock.Flags = static_cast<uint8_t>((ControlBlock.Flags & 0xE3) | ((method * 4) & 0x1C));
}

void TGIFGraphicControlExtension::SaveToStream(TStream& stream) {
  TGIFExtension::SaveToStream(stream);
  // Always the four field bytes a reader expects; a block read with another
  // size byte had its extra bytes skipped, so they are not written back.
  uint8_t b[6] = {4, ControlBlock.Flags, 0, 0, ControlBlock.TransparentIndex, 0};
  WriteLE16(b + 2, ControlBlock.DelayHundredths);
  stream.WriteBuffer(b, 6);
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& stream) {
  ReadHead(stream, kLabel);
  uint8_t size = 0;
  if (!ReadByteValue(stream, size)) {
    ReportWarning(1, gifmsg::kPrematureEnd);
    return;
  }
  ControlBlock.BlockLen = size;
  // The block size says how many field bytes follow; we take the first four of
  // them and skip the rest, then the sub-blocks up to the terminator.
  uint8_t fields[4] = {};
  const int want = std::min<int>(size, 4);
  const int64_t got = want > 0 ? stream.Read(fields, want) : 0;
  if (got < want) {
    ReportWarning(1, gifmsg::kPrematureEnd);
    return;
  }
  if (size > 4) stream.Seek(std::min<int64_t>(size - 4, stream.Remaining()), soCurrent);
  ControlBlock.Flags = fields[0];
  ControlBlock.DelayHundredths = ReadLE16(fields + 1);
  ControlBlock.TransparentIndex = fields[3];
  // The terminator, and any sub-blocks a writer put before it.
  uint8_t n = 0;
  if (!ReadByteValue(stream, n)) {
    ReportWarning(1, gifmsg::kPrematureEnd);
  } else {
    ControlBlock.Terminator = 0;
    while (n != 0) {
      const int64_t skip = std::min<int64_t>(n, stream.Remaining());
      stream.Seek(skip, soCurrent);
      if (!ReadByteValue(stream, n)) break;
    }
  }
  if (HasTransparency() && FFrame) FFrame->SetIsTransparent(true);
}

// ---- Text sub-blocks ----

void WriteTextBlocks(TStream& stream, const TStringList& lines) {
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string s = lines[i];
    for (size_t at = 0; at < s.size(); at += 255) {
      const size_t n = std::min<size_t>(255, s.size() - at);
      WriteByteValue(stream, static_cast<uint8_t>(n));
      stream.WriteBuffer(s.data() + at, static_cast<int64_t>(n));
    }
  }
  WriteByteValue(stream, 0);
}

void ReadTextBlocks(TStream& stream, TStringList& lines) {
  lines.Clear();
  uint8_t n = 0;
  if (!ReadByteValue(stream, n)) return;
  while (n != 0) {
    std::string s(n, '\0');
    ReadExact(stream, s.data(), n, "a text sub-block runs past the end");
    lines.Add(s);
    if (!ReadByteValue(stream, n)) return;
  }
}

// ---- Plain text and comments ----

void TGIFTextExtension::SaveToStream(TStream& stream) {
  TGIFExtension::SaveToStream(stream);
  uint8_t b[13];
  b[0] = 12;
  WriteLE16(b + 1, TextBlock.GridLeft);
  WriteLE16(b + 3, TextBlock.GridTop);
  WriteLE16(b + 5, TextBlock.GridWidth);
  WriteLE16(b + 7, TextBlock.GridHeight);
  b[9] = TextBlock.CellWidth;
  b[10] = TextBlock.CellHeight;
  b[11] = TextBlock.TextForeground;
  b[12] = TextBlock.TextBackground;
  stream.WriteBuffer(b, 13);
  WriteTextBlocks(stream, TextLines);
}

void TGIFTextExtension::LoadFromStream(TStream& stream) {
  ReadHead(stream, kLabel);
  uint8_t b[13];
  ReadExact(stream, b, 13, "a plain text block runs past the end");
  TextBlock.BlockSize = b[0];
  TextBlock.GridLeft = ReadLE16(b + 1);
  TextBlock.GridTop = ReadLE16(b + 3);
  TextBlock.GridWidth = ReadLE16(b + 5);
  TextBlock.GridHeight = ReadLE16(b + 7);
  TextBlock.CellWidth = b[9];
  TextBlock.CellHeight = b[10];
  TextBlock.TextForeground = b[11];
  TextBlock.TextBackground = b[12];
  ReadTextBlocks(stream, TextLines);
}

void TGIFCommentExtension::SaveToStream(TStream& stream) {
  TGIFExtension::SaveToStream(stream);
  WriteTextBlocks(stream, CommentLines);
}

void TGIFCommentExtension::LoadFromStream(TStream& stream) {
  ReadHead(stream, kLabel);
  ReadTextBlocks(stream, CommentLines);
}

// ---- Application blocks ----

void TGIFApplicationExtension::SaveToStream(TStream& stream) {
  TGIFExtension::SaveToStream(stream);
  auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(this);
  if (BlockSize == 10 && unknown) {
    // Written back as read: ten bytes of identifier.
    WriteByteValue(stream, 10);
    stream.WriteBuffer(AppIdentifier.data(), 8);
    stream.WriteBuffer(AppAuthentication.data(), 2);
  } else if (BlockSize > 11 && unknown) {
    WriteByteValue(stream, BlockSize);
    stream.WriteBuffer(AppIdentifier.data(), 8);
    stream.WriteBuffer(AppAuthentication.data(), 3);
    stream.WriteBuffer(unknown->ExtraHeader.data(), static_cast<int64_t>(unknown->ExtraHeader.size()));
  } else {
    WriteByteValue(stream, 11);
    stream.WriteBuffer(AppIdentifier.data(), 8);
    stream.WriteBuffer(AppAuthentication.data(), 3);
  }
  WriteAppData(stream);
}

void TGIFApplicationExtension::LoadFromStream(TStream& stream) {
  ReadHead(stream, kLabel);
  const uint8_t size = ReadByteValue(stream);
  if (size < 10) throw GIFException(gifmsg::kAppBlockSize);
  BlockSize = size;
  AppIdentifier.fill(0);
  AppAuthentication.fill(0);
  uint8_t id[11] = {};
  ReadExact(stream, id, std::min<int>(size, 11), "an application block runs past the end");
  std::memcpy(AppIdentifier.data(), id, 8);
  std::memcpy(AppAuthentication.data(), id + 8, 3);
  if (size > 11) {
    std::vector<uint8_t> extra(size - 11);
    ReadExact(stream, extra.data(), static_cast<int64_t>(extra.size()), "an application block runs past the end");
    if (auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(this)) unknown->ExtraHeader = std::move(extra);
  }
  ReadAppData(stream);
}

void TGIFUnknownAppExtension::ReadAppData(TStream& stream) {
  Blocks.clear();
  uint8_t n = 0;
  while (ReadByteValue(stream, n) && n != 0) {
    TGIFBlock block;
    block.BlockData.resize(n);
    ReadExact(stream, block.BlockData.data(), n, "an application sub-block runs past the end");
    Blocks.push_back(std::move(block));
  }
}

void TGIFUnknownAppExtension::WriteAppData(TStream& stream) {
  for (const TGIFBlock& b : Blocks) {
    WriteByteValue(stream, static_cast<uint8_t>(b.BlockData.size()));
    stream.WriteBuffer(b.BlockData.data(), static_cast<int64_t>(b.BlockData.size()));
  }
  WriteByteValue(stream, 0);
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {
  std::memcpy(AppIdentifier.data(), "NETSCAPE", 8);
  std::memcpy(AppAuthentication.data(), "2.0", 3);
}

void TGIFAppExtNSLoop::WriteAppData(TStream& stream) {
  uint8_t loop[4] = {3, 1, 0, 0};
  WriteLE16(loop + 2, LoopCount);
  stream.WriteBuffer(loop, 4);
  if (BufferBytes != 0) {
    const uint8_t buf[6] = {5, 2, static_cast<uint8_t>(BufferBytes), static_cast<uint8_t>(BufferBytes >> 8),
                            static_cast<uint8_t>(BufferBytes >> 16), static_cast<uint8_t>(BufferBytes >> 24)};
    stream.WriteBuffer(buf, 6);
  }
  WriteByteValue(stream, 0);
}

void TGIFAppExtNSLoop::ReadAppData(TStream& stream) {
  uint8_t n = 0;
  while (ReadByteValue(stream, n) && n != 0) {
    std::vector<uint8_t> data(n);
    ReadExact(stream, data.data(), n, "an application sub-block runs past the end");
    const int id = data[0] & 7;
    if (id == 1) {
      if (n < 3) throw GIFException(gifmsg::kInvalidData, "a loop sub-block shorter than 3 bytes");
      LoopCount = ReadLE16(&data[1]);
    } else if (id == 2) {
      if (n < 5) throw GIFException(gifmsg::kInvalidData, "a buffer sub-block shorter than 5 bytes");
      BufferBytes = ReadLE32(&data[1]);
    }
  }
}

TGIFGraphicControlExtension* FindGraphicControlExtension(TGIFSubImage* frame) {
  TGIFExtensionList& list = frame->ExtensionBlocks();
  for (int i = 0; i < list.Count(); ++i)
    if (auto* g = dynamic_cast<TGIFGraphicControlExtension*>(list.GetExtensionAt(i))) return g;
  return nullptr;
}
