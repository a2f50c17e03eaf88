#pragma once
// The system icon table: the fifty shell items whose icons the customiser
// lists (desktop objects, start menu, drives, other items), where each one's
// current and default icon location lives for each Windows version, and the
// writers that put a new icon or the default back.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TListItem;

struct TCustomIconRec {
  const char* Key;        // a class identifier without braces, or "#" and a stock number
  const char* ValueName;  // value under the class's DefaultIcon key; "" = the default value
  const char* Caption;    // when the registry gives none; also the base of colorized names
  const char* Suffix;     // appended to the caption after a blank when not empty
  const char* Page;       // "D" Desktop, "M" Miscellaneous, "Dr" Drives, "S" Start Menu
  uint32_t VersionFlags;  // 0x10: on XP; 0x20: on every other version
};

constexpr int kCustomIconCount = 50;
extern const TCustomIconRec kCustomIcons[kCustomIconCount];

struct TCustomIconFileInfo {
  std::string IconLocation;
  std::string NewLocation;  // "" = no change, "#DEFAULT#" = back to the default
  std::string DefaultLocation;
  std::string DisplayCaption;
  const TCustomIconRec* Rec = nullptr;
  TListItem* Item = nullptr;
};

// The version tests the table's branches follow, taken once.
struct TIconTableVersion {
  bool IsWin95 = false;
  bool IsNT5 = false;
  bool IsXP = false;
  bool IsNT = false;
  static TIconTableVersion Current();
};

using TCustomIconList = std::vector<std::unique_ptr<TCustomIconFileInfo>>;

// The entries of the running version from the table and the registry, in table
// order, without those whose files are all missing, filtered.
void LoadIconTable(TCustomIconList& icons, const TIconTableVersion& version);
void FilterIconList(TCustomIconList& icons, const TIconTableVersion& version);
// Writes every pending entry. A registry error ends the Apply (the entry keeps
// its location and its pending choice); rebuilds the icon cache when a writer
// or forceRebuild asks, and refreshes the desktop after any change.
void ApplyIconTable(TCustomIconList& icons, const TIconTableVersion& version, bool forceRebuild);

std::string ReadClassesRootDefaultIcon(const TCustomIconRec& rec);
std::string GetNT5DefaultIcon(const TCustomIconRec& rec, const TIconTableVersion& version);
// The writers of a class row; each may ask for a cache rebuild.
void WriteClsidIconUser(TCustomIconFileInfo& entry, const TIconTableVersion& version, bool& rebuild);
void RestoreClsidIconUser(TCustomIconFileInfo& entry, const TIconTableVersion& version, bool& rebuild);
void WriteClsidIconWin95(TCustomIconFileInfo& entry, bool& rebuild);
void RestoreClsidIconWin95(TCustomIconFileInfo& entry, bool& rebuild);
void WriteClsidIconNT5(TCustomIconFileInfo& entry, const TIconTableVersion& version, bool& rebuild);
void RestoreClsidIconNT5(TCustomIconFileInfo& entry, const TIconTableVersion& version, bool& rebuild);
// The registry key (below its root) that holds a class row's icon for the user.
std::string UserIconKey(const TCustomIconRec& rec, const TIconTableVersion& version);
// Letters and digits, "-" and "_" of the row's caption and suffix.
std::string MakeColorizedIconName(const TCustomIconRec& rec);
