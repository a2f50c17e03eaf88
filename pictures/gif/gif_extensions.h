#pragma once
// The extension blocks of a GIF frame and the registries that find the class
// reading a block by its label (and, for application blocks, its identifier).
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pictures/gif/gif_blocks.h"
#include "platform/rtl/strings.h"

enum class TGIFExtensionKind : uint8_t { None, Text, GraphicControl, Comment, Application, UnknownApp, NSLoop };

class TGIFExtension : public TGIFItem {
public:
  explicit TGIFExtension(TGIFSubImage* frame);
  int NeededVersion() override { return 2; }
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  virtual uint8_t ExtensionLabel() const = 0;
  TGIFSubImage* Frame() const { return FFrame; }

  // The kind of extension whose introducer is at the stream's position (the
  // position is kept); None when no class is registered.
  static TGIFExtensionKind ClassForNextBlock(TStream& stream);
  static std::unique_ptr<TGIFExtension> Create(TGIFExtensionKind kind, TGIFSubImage* frame);

protected:
  TGIFSubImage* FFrame;
};

struct TGIFControlBlock {
  uint8_t BlockLen = 4;
  uint8_t Flags = 0;
  uint16_t DelayHundredths = 0;
  uint8_t TransparentIndex = 0;
  uint8_t Terminator = 0;
};

class TGIFGraphicControlExtension : public TGIFExtension {
public:
  static constexpr uint8_t kLabel = 0xF9;
  explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
  ~TGIFGraphicControlExtension() override;
  uint8_t ExtensionLabel() const override { return kLabel; }
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;

  bool HasTransparency() const { return (ControlBlock.Flags & 1) != 0; }
  void SetTransparencyFlag(bool value);
  int TransparentEntry() const { return ControlBlock.TransparentIndex; }
  void SetTransparentEntry(int index);
  int FrameDelay() const { return ControlBlock.DelayHundredths; }
  void SetFrameDelay(int hundredths) { ControlBlock.DelayHundredths = static_cast<uint16_t>(hundredths); }
  bool WaitsForInput() const { return (ControlBlock.Flags & 2) != 0; }
  int DisposalMethod() const { return (ControlBlock.Flags >> 2) & 7; }
  void SetDisposalMethod(int method);

  TGIFControlBlock ControlBlock;
};

struct TGIFTextBlock {
  uint8_t BlockSize = 12;
  uint16_t GridLeft = 0, GridTop = 0, GridWidth = 0, GridHeight = 0;
  uint8_t CellWidth = 0, CellHeight = 0, TextForeground = 0, TextBackground = 0;
};

class TGIFTextExtension : public TGIFExtension {
public:
  static constexpr uint8_t kLabel = 0x01;
  using TGIFExtension::TGIFExtension;
  uint8_t ExtensionLabel() const override { return kLabel; }
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  TGIFTextBlock TextBlock;
  TStringList TextLines;
};

class TGIFCommentExtension : public TGIFExtension {
public:
  static constexpr uint8_t kLabel = 0xFE;
  using TGIFExtension::TGIFExtension;
  uint8_t ExtensionLabel() const override { return kLabel; }
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  TStringList CommentLines;
};

class TGIFApplicationExtension : public TGIFExtension {
public:
  static constexpr uint8_t kLabel = 0xFF;
  using TGIFExtension::TGIFExtension;
  uint8_t ExtensionLabel() const override { return kLabel; }
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  virtual void WriteAppData(TStream& stream) = 0;
  virtual void ReadAppData(TStream& stream) = 0;
  std::array<uint8_t, 8> AppIdentifier{};
  std::array<uint8_t, 3> AppAuthentication{};
  // The block size byte as read (11 as written by us); a size of 10 or above 11 is
  // kept so that the block is written back as it came.
  uint8_t BlockSize = 11;
};

struct TGIFBlock {
  std::vector<uint8_t> BlockData;  // 1 to 255 bytes
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
  using TGIFApplicationExtension::TGIFApplicationExtension;
  void WriteAppData(TStream& stream) override;
  void ReadAppData(TStream& stream) override;
  std::vector<TGIFBlock> Blocks;
  // Bytes of the identifier block beyond the 11 we name (a block size above 11).
  std::vector<uint8_t> ExtraHeader;
};

class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
  explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
  void WriteAppData(TStream& stream) override;
  void ReadAppData(TStream& stream) override;
  uint16_t LoopCount = 0;
  uint32_t BufferBytes = 0;
};

// Text sub-blocks: each line in sub-blocks of at most 255, then a zero byte.
void WriteTextBlocks(TStream& stream, const TStringList& lines);
void ReadTextBlocks(TStream& stream, TStringList& lines);

// The first control extension in the frame's extension list, or none.
TGIFGraphicControlExtension* FindGraphicControlExtension(TGIFSubImage* frame);
