#pragma once
// TAnimatedCursor: a Windows animated cursor (a RIFF file of form "ACON") held as
// its frames, the steps that show them, a display rate per step, a title and
// an artist.
#include <cstdint>
#include <memory>
#include <string>

#include "base/typed_lists.h"
#include "icons/advanced_icon.h"
#include "icons/icon_list.h"
#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"

// The "anih" chunk: nine 32-bit fields.
struct TAniHeader {
  int32_t cbSize = 36;
  int32_t nFrames = 0;
  int32_t nSteps = 0;
  int32_t iWidth = 32;
  int32_t iHeight = 32;
  int32_t iBitCount = 4;
  int32_t nPlanes = 1;
  int32_t iDispRate = 10;  // in 1/60 s
  int32_t bfAttributes = 1;
};
static_assert(sizeof(TAniHeader) == 36);

inline constexpr uint32_t kAniFlagIcon = 1;
inline constexpr uint32_t kAniFlagSequence = 2;
// RIFF sizes we accept.
inline constexpr int64_t kAniMinSize = 44;
inline constexpr int64_t kAniMaxSize = 2000000;

class TAnimatedCursor : public TPersistent {
public:
  TAnimatedCursor() = default;
  ~TAnimatedCursor() override = default;

  virtual TAdvancedIcon* GetStepFrame(int step);
  virtual TAdvancedIcon* GetFrame(int index);
  virtual void Clear();
  // Raises "Invalid stream format" for a stream that is no animated cursor; the
  // cursor is replaced only when the whole stream was read.
  virtual void LoadFromStream(TStream& stream);
  // Writes the cursor; nothing of it changes in memory.
  virtual void SaveToStream(TStream& stream);
  virtual void AddFrame(std::unique_ptr<TAdvancedIcon> icon, const std::string& name);
  virtual void AppendCursor(std::unique_ptr<TAnimatedCursor> other);
  virtual void InsertStep(int index, std::unique_ptr<TAdvancedIcon> icon, const std::string& name);
  virtual void DeleteStep(int index);
  virtual void MoveStep(int from, int to);
  virtual void ReverseSteps();

  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

  TSubIcon* GetFrameImage(int index);
  TSubIcon* GetStepImage(int step);
  int GetStepCount() const { return FSteps.Count(); }
  int GetFrameCount() const { return FFrames.Count(); }
  bool StepsAreIdentity() const;
  void UpdateHeader();
  void CompleteSteps();

  TIconList& Frames() { return FFrames; }
  TListLongint& Steps() { return FSteps; }
  TListLongint& Rates() { return FRates; }
  // Why the last load refused the stream, or else stopped early or passed a
  // chunk over (the first rule that fired); "" when it read every chunk.
  const std::string& LastRefusal() const { return FLastRefusal; }
  std::string Title;
  std::string Artist;
  TAniHeader Header;

protected:
  void AssignTo(TPersistent* dest) override;

private:
  void TakeOver(TAnimatedCursor& other);

  TIconList FFrames;
  TListLongint FSteps;
  TListLongint FRates;
  std::string FLastRefusal;
};
