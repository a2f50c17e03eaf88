#include "icons/animated_cursor.h"

#include <algorithm>
#include <cstring>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/byte_order.h"

namespace {

constexpr const char* kInvalidStreamFormat = "Invalid stream format";


bool SameId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

bool SameIdNoCase(const uint8_t* p, const char* id) {
  for (int i = 0; i < 4; ++i)
    if (std::toupper(p[i]) != std::toupper(static_cast<unsigned char>(id[i]))) return false;
  return true;
}

// reserved 0, a count, type 1 (icon) or 2 (cursor).
bool LooksLikeDirectory(const uint8_t* p) {
  const uint16_t reserved = ReadLE16(p), type = ReadLE16(p + 2), count = ReadLE16(p + 4);
  return reserved == 0 && count != 0 && (type == 1 || type == 2);
}

// A zero-terminated text whose size counts the zero; size 0 is an empty text.
std::string InfoText(const uint8_t* p, uint32_t size) {
  if (size == 0) return {};
  const auto* c = reinterpret_cast<const char*>(p);
  return std::string(c, strnlen(c, size - 1));
}

// Writes chunks into a memory stream and fills in their sizes at the end.
class TRiffWriter {
public:
  explicit TRiffWriter(TMemoryStream& out) : FOut(out) {}
  void Id(const char* id) { FOut.WriteBuffer(id, 4); }
  void Value(uint32_t v) { FOut.WriteBuffer(&v, 4); }
  // Opens a chunk: its identifier and room for the size.
  int64_t Open(const char* id) {
    Id(id);
    const int64_t at = FOut.Position();
    Value(0);
    return at;
  }
  // Fills the size (the data after the size field) and pads odd data to an even length.
  void Close(int64_t sizeAt) {
    const int64_t end = FOut.Position();
    const uint32_t size = static_cast<uint32_t>(end - sizeAt - 4);
    FOut.SetPosition(sizeAt);
    Value(size);
    FOut.SetPosition(end);
    if (size & 1) {
      const uint8_t zero = 0;
      FOut.WriteBuffer(&zero, 1);
    }
  }

private:
  TMemoryStream& FOut;
};

void WriteInfoText(TRiffWriter& w, TMemoryStream& out, const char* id, const std::string& text) {
  const int64_t at = w.Open(id);
  out.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  const uint8_t zero = 0;
  out.WriteBuffer(&zero, 1);
  w.Close(at);
}

}  // namespace

// ---- Frames and steps ----

TAdvancedIcon* TAnimatedCursor::GetFrame(int index) { return FFrames.GetIconObject(index); }

TAdvancedIcon* TAnimatedCursor::GetStepFrame(int step) { return GetFrame(FSteps[step]); }

TSubIcon* TAnimatedCursor::GetFrameImage(int index) {
  TAdvancedIcon* icon = GetFrame(index);
  return icon && icon->Count() > 0 ? icon->Images()[0] : nullptr;
}

TSubIcon* TAnimatedCursor::GetStepImage(int step) { return GetFrameImage(FSteps[step]); }

bool TAnimatedCursor::StepsAreIdentity() const {
  if (FSteps.Count() != FFrames.Count()) return false;
  for (int i = 0; i < FSteps.Count(); ++i)
    if (FSteps[i] != i) return false;
  return true;
}

void TAnimatedCursor::Clear() {
  Title.clear();
  Artist.clear();
  FSteps.Clear();
  FFrames.Clear();
  FRates.Clear();
}

void TAnimatedCursor::AddFrame(std::unique_ptr<TAdvancedIcon> icon, const std::string& name) {
  if (!icon) return;
  FFrames.AddIcon(name, std::move(icon));
  FSteps.Add(FFrames.Count() - 1);
  FRates.Add(Header.iDispRate);
}

void TAnimatedCursor::InsertStep(int index, std::unique_ptr<TAdvancedIcon> icon, const std::string& name) {
  if (!icon) return;
  if (index < 0) index = 0;
  if (index >= FSteps.Count()) {
    AddFrame(std::move(icon), name);
    return;
  }
  const int32_t rate = index < FRates.Count() ? FRates[index] : Header.iDispRate;
  if (StepsAreIdentity()) {
    const std::string text = name.empty() ? "Icon " + std::to_string(FFrames.Count() + 1) : name;
    FFrames.InsertObject(index, text, icon.release());
    for (int i = 0; i < FSteps.Count(); ++i)
      if (FSteps[i] >= index) FSteps.Put(i, FSteps[i] + 1);
    FSteps.Insert(index, index);
  } else {
    FFrames.AddIcon(name, std::move(icon));
    FSteps.Insert(index, FFrames.Count() - 1);
  }
  FRates.Insert(std::min(index, FRates.Count()), rate);
}

void TAnimatedCursor::DeleteStep(int index) {
  if (index < 0 || index >= FSteps.Count()) return;
  const int frame = FSteps[index];
  FSteps.Delete(index);
  if (index < FRates.Count()) FRates.Delete(index);
  if (FSteps.IndexOf(frame) >= 0 || frame < 0 || frame >= FFrames.Count()) return;
  FFrames.Delete(frame);
  for (int i = 0; i < FSteps.Count(); ++i)
    if (FSteps[i] > frame) FSteps.Put(i, FSteps[i] - 1);
}

void TAnimatedCursor::MoveStep(int from, int to) {
  if (from == to || from < 0 || to < 0 || from >= FSteps.Count() || to >= FSteps.Count()) return;
  auto moveIn = [](TListLongint& list, int a, int b) {
    if (a >= list.Count() || b >= list.Count()) return;
    const int32_t v = list[a];
    list.Delete(a);
    list.Insert(b, v);
  };
  if (StepsAreIdentity()) {
    FFrames.Move(from, to);
  } else {
    moveIn(FSteps, from, to);
  }
  moveIn(FRates, from, to);
}

void TAnimatedCursor::ReverseSteps() {
  const int n = FSteps.Count();
  if (n < 2) return;
  if (StepsAreIdentity()) {
    for (int i = 0; i < n / 2; ++i) FFrames.Exchange(i, n - 1 - i);
  } else {
    for (int i = 0; i < n / 2; ++i) FSteps.Exchange(i, n - 1 - i);
  }
  for (int i = 0; i < FRates.Count() / 2; ++i) FRates.Exchange(i, FRates.Count() - 1 - i);
}

void TAnimatedCursor::AppendCursor(std::unique_ptr<TAnimatedCursor> other) {
  if (!other) return;
  const bool wasEmpty = FFrames.Count() == 0;
  const int n = FFrames.Count();
  for (int s = 0; s < other->FSteps.Count(); ++s) {
    const int f = other->FSteps[s];
    if (f < 0 || f >= other->FFrames.Count()) continue;
    if (TAdvancedIcon* icon = other->FFrames.GetIconObject(f)) {
      bool held = false;
      for (int i = 0; i < FFrames.Count() && !held; ++i) held = FFrames.GetIconObject(i) == icon;
      if (!held) FFrames.AddIcon(other->FFrames[f], other->FFrames.ReleaseIcon(f));
    }
    FSteps.Add(f + n);
    FRates.Add(s < other->FRates.Count() ? other->FRates[s] : Header.iDispRate);
  }
  if (wasEmpty) UpdateHeader();
}

void TAnimatedCursor::AssignTo(TPersistent* dest) {
  auto* target = dynamic_cast<TAnimatedCursor*>(dest);
  if (!target) {
    TPersistent::AssignTo(dest);
    return;
  }
  if (target == this) return;
  target->Clear();
  target->Header = Header;
  for (int i = 0; i < FFrames.Count(); ++i) {
    TAdvancedIcon* icon = FFrames.GetIconObject(i);
    std::unique_ptr<TAdvancedIcon> copy = icon ? icon->Create() : std::make_unique<TAdvancedCursor>();
    if (icon) copy->Assign(icon);
    target->FFrames.AddIcon(FFrames[i], std::move(copy));
  }
  target->FSteps.Assign(&FSteps);
  target->FRates.Assign(&FRates);
  target->Title = Title;
  target->Artist = Artist;
}

void TAnimatedCursor::UpdateHeader() {
  Header.cbSize = 36;
  Header.nFrames = FFrames.Count();
  if (FSteps.Count() > 0) Header.nSteps = FSteps.Count();
  Header.bfAttributes = FSteps.Count() > 0 ? 3 : 1;
  if (TSubIcon* first = FFrames.Count() > 0 ? GetFrameImage(0) : nullptr) {
    Header.iWidth = first->GetWidth();
    Header.iHeight = first->GetHeight();
    Header.iBitCount = first->GetBitsPerPixel();
    Header.nPlanes = 1;
  }
  if (FRates.Count() > 0) Header.iDispRate = FRates[0];
}

void TAnimatedCursor::CompleteSteps() {
  // Steps that name no frame are dropped with their rates.
  for (int i = FSteps.Count() - 1; i >= 0; --i)
    if (FSteps[i] < 0 || FSteps[i] >= FFrames.Count()) {
      FSteps.Delete(i);
      if (i < FRates.Count()) FRates.Delete(i);
    }
  if (FSteps.Count() == 0) {
    for (int i = 0; i < FFrames.Count(); ++i) FSteps.Add(i);
    Header.bfAttributes |= kAniFlagSequence;
  }
  // One rate per step; missing ones are the default rate.
  while (FRates.Count() > FSteps.Count()) FRates.Delete(FRates.Count() - 1);
  while (FRates.Count() < FSteps.Count()) FRates.Add(Header.iDispRate);
}

// ---- Reading ----

void TAnimatedCursor::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  std::string refusal;
  auto note = [&refusal](const char* why) {
    if (refusal.empty()) refusal = why;
  };
  auto refuse = [this](const char* why) {
    FLastRefusal = why;
    throw EInvalidGraphic(kInvalidStreamFormat);
  };
  uint8_t head[12];
  if (stream.Read(head, 12) != 12 || !SameId(head, "RIFF") || !SameId(head + 8, "ACON"))
    refuse("no RIFF ACON head");
  const int64_t riffSize = ReadLE32(head + 4);
  if (riffSize < kAniMinSize || riffSize > kAniMaxSize) refuse("a RIFF size outside what a cursor file has");
  // The size counts from after the size field; some writers counted the whole
  // file, which the end of the stream cuts back to what is there.
  const int64_t end = std::min(start + 8 + riffSize, stream.Size());
  std::vector<uint8_t> data(static_cast<size_t>(std::max<int64_t>(end - start - 12, 0)));
  stream.SetPosition(start + 12);
  const int64_t got = stream.Read(data.data(), static_cast<int64_t>(data.size()));
  data.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
  const size_t len = data.size();

  TAnimatedCursor loaded;
  loaded.Header = Header;
  bool haveHeader = false;
  size_t p = 0;
  // Chunks of odd size may or may not be padded: a pad byte is zero, a chunk
  // identifier never starts with one.
  auto next = [&](size_t dataStart, uint32_t size) {
    size_t q = dataStart + size;
    if ((size & 1) && q < len && data[q] == 0) ++q;
    return q;
  };
  while (p + 8 <= len) {
    const uint8_t* id = &data[p];
    const uint32_t size = ReadLE32(&data[p + 4]);
    const size_t dataStart = p + 8;
    const size_t avail = len - dataStart;
    if (SameIdNoCase(id, "LIST")) {
      if (size < 4 || avail < 4) {
        note("a list shorter than its type");
        break;
      }
      if (size > avail) note("a list runs past the end");
      const size_t listEnd = dataStart + std::min<size_t>(size, avail);
      if (SameId(&data[dataStart], "INFO")) {
        size_t q = dataStart + 4;
        while (q + 8 <= listEnd) {
          const uint32_t sub = ReadLE32(&data[q + 4]);
          const size_t textAt = q + 8;
          const uint32_t have = static_cast<uint32_t>(std::min<size_t>(sub, listEnd - textAt));
          if (SameId(&data[q], "INAM")) loaded.Title = InfoText(&data[textAt], have);
          else if (SameId(&data[q], "IART")) loaded.Artist = InfoText(&data[textAt], have);
          if (sub > listEnd - textAt) {
            note("a text runs past its list");
            break;
          }
          q = textAt + sub;
          if ((sub & 1) && q < listEnd && data[q] == 0) ++q;
        }
        p = next(dataStart, static_cast<uint32_t>(listEnd - dataStart));
      } else {
        p = dataStart + 4;  // the chunks of other lists ("fram") are read as they come
      }
      continue;
    }
    const size_t have = std::min<size_t>(size, avail);
    if (SameIdNoCase(id, "anih")) {
      if (have >= sizeof(TAniHeader)) {
        std::memcpy(&loaded.Header, &data[dataStart], sizeof(TAniHeader));
        haveHeader = true;
      }
    } else if (SameIdNoCase(id, "rate")) {
      loaded.FRates.Clear();
      for (size_t k = 0; k + 4 <= have; k += 4) loaded.FRates.Add(static_cast<int32_t>(ReadLE32(&data[dataStart + k])));
    } else if (SameIdNoCase(id, "seq ")) {
      loaded.FSteps.Clear();
      for (size_t k = 0; k + 4 <= have; k += 4) loaded.FSteps.Add(static_cast<int32_t>(ReadLE32(&data[dataStart + k])));
    } else if (SameIdNoCase(id, "icon")) {
      if (size <= 44 || size >= 500000) {
        note("an icon chunk of a size no cursor has");
      } else if (have != size) {
        note("an icon chunk runs past the end");
      } else if (!LooksLikeDirectory(&data[dataStart])) {
        note("an icon chunk without a directory");
      } else {
        TCustomMemoryStream chunk(&data[dataStart], size);
        auto cursor = std::make_unique<TAdvancedCursor>();
        cursor->ReadEmbeddedCursor(chunk);
        loaded.FFrames.AddIcon("", std::move(cursor));
      }
    }
    if (size > avail) {
      note("a chunk runs past the end");
      break;  // nothing more to read
    }
    p = next(dataStart, size);
  }
  // Without its header the data is no cursor: a load that found none must not
  // pass for one with no frames.
  if (!haveHeader) refuse("no anih header");
  loaded.CompleteSteps();
  loaded.UpdateHeader();
  TakeOver(loaded);
  FLastRefusal = refusal;
  stream.SetPosition(end);
}

void TAnimatedCursor::TakeOver(TAnimatedCursor& other) {
  Clear();
  Header = other.Header;
  Title = other.Title;
  Artist = other.Artist;
  FFrames.TakeEntries(other.FFrames);
  FSteps.Assign(&other.FSteps);
  FRates.Assign(&other.FRates);
}

void TAnimatedCursor::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

// ---- Writing ----

void TAnimatedCursor::SaveToStream(TStream& stream) {
  // The header as written; the cursor in memory stays as it is.
  TAniHeader h = Header;
  h.cbSize = 36;
  h.nFrames = FFrames.Count();
  h.nSteps = FSteps.Count() > 0 ? FSteps.Count() : FFrames.Count();
  if (TSubIcon* first = FFrames.Count() > 0 ? GetFrameImage(0) : nullptr) {
    h.iWidth = first->GetWidth();
    h.iHeight = first->GetHeight();
    h.iBitCount = first->GetBitsPerPixel();
    h.nPlanes = 1;
  }
  const bool sequence = FSteps.Count() > 0 && !StepsAreIdentity();
  h.bfAttributes = kAniFlagIcon | (sequence ? kAniFlagSequence : 0);
  bool writeRates = FRates.Count() > 0;
  if (writeRates) {
    h.iDispRate = FRates[0];
    bool allEqual = true;
    for (int i = 1; i < FRates.Count(); ++i) allEqual = allEqual && FRates[i] == FRates[0];
    writeRates = !allEqual;
  }

  TMemoryStream out;
  TRiffWriter w(out);
  const int64_t riff = w.Open("RIFF");
  w.Id("ACON");
  // The header first: gdk-pixbuf refuses a file whose INFO list comes before it.
  const int64_t anih = w.Open("anih");
  out.WriteBuffer(&h, sizeof h);
  w.Close(anih);
  if (!Title.empty() || !Artist.empty()) {
    const int64_t list = w.Open("LIST");
    w.Id("INFO");
    WriteInfoText(w, out, "INAM", Title);
    WriteInfoText(w, out, "IART", Artist);
    w.Close(list);
  }
  if (writeRates) {
    const int64_t rate = w.Open("rate");
    for (int i = 0; i < FRates.Count(); ++i) w.Value(static_cast<uint32_t>(FRates[i]));
    w.Close(rate);
  }
  if (sequence) {
    const int64_t seq = w.Open("seq ");
    for (int i = 0; i < FSteps.Count(); ++i) w.Value(static_cast<uint32_t>(FSteps[i]));
    w.Close(seq);
  }
  const int64_t fram = w.Open("LIST");
  w.Id("fram");
  for (int i = 0; i < FFrames.Count(); ++i) {
    TMemoryStream cur;
    if (TAdvancedIcon* icon = FFrames.GetIconObject(i)) icon->SaveCursorToStream(cur);
    const int64_t icon = w.Open("icon");
    out.WriteBuffer(cur.Memory(), cur.Size());
    w.Close(icon);
  }
  w.Close(fram);
  w.Close(riff);
  stream.WriteBuffer(out.Memory(), out.Size());
}

void TAnimatedCursor::SaveToFile(const std::string& fileName) {
  TMemoryStream data;
  SaveToStream(data);
  data.SaveToFile(fileName);
}

// ---- Scanning a file for its frames ----

bool TAdvancedIcon::LoadFromAniFile(const std::string& fileName, int frameLimit, TIconList* list) {
  const int startCount = list ? list->Count() : Count();
  auto count = [&] { return list ? list->Count() : Count(); };
  TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
  const int64_t fileLength = file.Size();
  if (fileLength > kAniMaxSize || fileLength < 12) return false;
  std::vector<uint8_t> data(static_cast<size_t>(fileLength));
  if (file.Read(data.data(), fileLength) != fileLength) return false;
  if (!SameId(data.data(), "RIFF") || ReadLE32(&data[4]) > static_cast<uint64_t>(fileLength)) return false;
  const size_t len = data.size();
  size_t p = 8;
  if (SameId(&data[8], "ACON")) {
    // the scan starts here
  } else if (SameId(&data[8], "anih") || SameId(&data[8], "rate") || SameId(&data[8], "seq ")) {
    // A form type left out by an old writer: the list starts at the first "ACON".
    size_t q = 13;
    while (q + 4 <= len && !SameId(&data[q], "ACON")) ++q;
    if (q + 4 > len) return false;
    p = q;
  } else {
    return false;
  }
  while (p + 4 <= len) {
    if (frameLimit > 0 && count() >= frameLimit) break;
    if (!SameIdNoCase(&data[p], "ICON")) {
      ++p;
      continue;
    }
    if (p + 8 > len) break;
    const uint32_t size = ReadLE32(&data[p + 4]);
    const size_t dataStart = p + 8;
    if (size == 0 || size >= static_cast<uint64_t>(fileLength) || dataStart + 6 > len ||
        !LooksLikeDirectory(&data[dataStart])) {
      p = dataStart;
      continue;
    }
    const size_t have = std::min<size_t>(size, len - dataStart);
    TCustomMemoryStream chunk(&data[dataStart], static_cast<int64_t>(have));
    if (list) {
      auto icon = std::make_unique<TAdvancedIcon>();
      icon->ReadEmbeddedIcon(chunk);
      list->AddIcon("", std::move(icon));
    } else {
      ReadEmbeddedIcon(chunk);
    }
    p = dataStart + have;
  }
  return count() > startCount;
}
