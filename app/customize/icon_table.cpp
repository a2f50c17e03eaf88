#include "app/customize/icon_table.h"

#include <cctype>

#include "app/customize/shell_icon_locations.h"
#include "app/customize/shell_refresh.h"
#include "base/path_utils.h"
#include "base/registry_helpers.h"
#include "base/system_helpers.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/registry_object.h"

const TCustomIconRec kCustomIcons[kCustomIconCount] = {
    {"20D04FE0-3AEA-1069-A2D8-08002B30309D", "", "My Computer", "", "D", 0x30},
    {"208D2C60-3AEA-1069-A2D7-08002B30309D", "", "Network Neighborhood", "", "D", 0x20},
    {"645FF040-5081-101B-9F08-00AA002F954E", "full", "Recycle", "(Full)", "D", 0x30},
    {"645FF040-5081-101B-9F08-00AA002F954E", "empty", "Recycle", "(Empty)", "D", 0x30},
    {"450d8fba-ad25-11d0-98a8-0800361b1103", "", "My Documents", "", "D", 0x30},
    {"85BBD920-42A0-1069-A2E4-08002B30309D", "", "My Briefcase", "", "D", 0x20},
    {"#34", "", "Desktop", "", "D", 0x30},
    {"21EC2020-3AEA-1069-A2DD-08002B30309D", "", "Control Panel", "", "D", 0x30},
    {"2227A280-3AEA-1069-A2DE-08002B30309D", "", "Printers", "", "D", 0x30},
    {"FF393560-C2A7-11CF-BFF4-444553540000", "", "History", "", "D", 0x20},
    {"00020D76-0000-0000-C000-000000000046", "", "", "", "D", 0x30},
    {"a4d92740-67cd-11cf-96f2-00aa00a11dd9", "", "Remote Network Access", "", "D", 0x30},
    {"992CFFA0-F557-101A-88EC-00DD010CCC48", "", "Dial Up Networking", "", "D", 0x30},
    {"FBF23B42-E3F0-101B-8488-00AA003E56F8", "", "Internet", "", "D", 0x30},
    {"871C5380-42A0-1069-A2EA-08002B30309D", "", "Internet Explorer", "", "D", 0x30},
    {"00028B00-0000-0000-C000-000000000046", "", "The Microsoft Network", "", "D", 0x20},
    {"#0", "", "Default Icon", "", "M", 0x30},
    {"#1", "", "Default Document", "", "M", 0x30},
    {"#2", "", "Application", "", "M", 0x30},
    {"#3", "", "Closed Folder", "", "M", 0x30},
    {"#4", "", "Open Folder", "", "M", 0x30},
    {"#28", "", "Sharing Overlay", "", "M", 0x30},
    {"#29", "", "Shortcut Overlay", "", "M", 0x30},
    {"#5", "", "Floppy Drive 5.25", "", "Dr", 0x30},
    {"#6", "", "Floppy Drive 3.5", "", "Dr", 0x30},
    {"#7", "", "Removeable Drive", "", "Dr", 0x30},
    {"#8", "", "Hard Drive", "", "Dr", 0x30},
    {"#9", "", "Network Drive", "", "Dr", 0x30},
    {"#10", "", "Network Drive (Offline)", "", "Dr", 0x30},
    {"#11", "", "CD-ROM Drive", "", "Dr", 0x20},
    {"#12", "", "RAM Drive", "", "Dr", 0x30},
    {"#40", "", "CD-Audio", "", "Dr", 0x20},
    {"#13", "", "All the Network", "", "M", 0x30},
    {"#14", "", "Network", "", "M", 0x30},
    {"#15", "", "Computer", "", "M", 0x30},
    {"#16", "", "Printer", "", "M", 0x30},
    {"#17", "", "Computers", "", "M", 0x20},
    {"#17", "", "My Network Places", "", "D", 0x10},
    {"#18", "", "Workgroup", "", "M", 0x30},
    {"#19", "", "Programs", "", "S", 0x20},
    {"#20", "", "Documents", "", "S", 0x20},
    {"#21", "", "Settings", "", "S", 0x20},
    {"#22", "", "Find", "", "S", 0x20},
    {"#23", "", "Help", "", "S", 0x20},
    {"#24", "", "Execute", "", "S", 0x20},
    {"#25", "", "Suspend", "", "S", 0x20},
    {"#26", "", "Laptop", "", "S", 0x20},
    {"#27", "", "Shut Down", "", "S", 0x20},
    {"#44", "", "Close Session", "", "S", 0x20},
    {"#36", "", "Program Group", "", "D", 0x30},
};

namespace {

constexpr const char* kMyComputer = "20D04FE0-3AEA-1069-A2D8-08002B30309D";
constexpr const char* kMyDocuments = "450d8fba-ad25-11d0-98a8-0800361b1103";
constexpr const char* kRecycleBin = "645FF040-5081-101B-9F08-00AA002F954E";
constexpr const char* kInternetExplorer = "871C5380-42A0-1069-A2EA-08002B30309D";
constexpr const char* kInternet = "FBF23B42-E3F0-101B-8488-00AA003E56F8";
constexpr const char* kBackupKey = "Software\\Marrowin\\CustomIcons\\DefaultIcons";

bool IsStockRow(const TCustomIconRec& rec) { return rec.Key[0] == '#'; }
bool KeyIs(const TCustomIconRec& rec, const char* clsid) { return SameText(rec.Key, clsid); }

std::string ClassKey(const TCustomIconRec& rec) { return std::string("CLSID\\{") + rec.Key + "}"; }
std::string UserClassIconKey(const TCustomIconRec& rec) {
  return std::string("Software\\Classes\\CLSID\\{") + rec.Key + "}\\DefaultIcon";
}
std::string UserShellIconKey(const TCustomIconRec& rec) {
  return std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\CLSID\\{") + rec.Key + "}\\DefaultIcon";
}
std::string MachineClassIconKey(const TCustomIconRec& rec) { return ClassKey(rec) + "\\DefaultIcon"; }

std::string ReadValue(HKEY root, const std::string& key, const std::string& name) {
  return ReadRegistryString(root, key + "\\" + name);
}

// True when the row names a value that is set and mirrored by the key's default.
bool MirrorTest(HKEY root, const std::string& key, const TCustomIconRec& rec) {
  if (!rec.ValueName[0]) return false;
  TRegistry registry(KEY_READ);
  registry.SetRootKey(root);
  // Read-only: a test must not leave a key behind.
  if (!registry.OpenKeyReadOnly(key)) return false;
  if (!registry.ValueExists(rec.ValueName)) return false;
  const std::string named = registry.ReadString(rec.ValueName);
  const std::string byDefault = registry.ValueExists("") ? registry.ReadString("") : std::string();
  return !named.empty() && named == byDefault;
}

// Writes the row's value (and on mirror the default) into the key, creating it;
// a key that cannot be opened raises, so the entry is not taken as written.
void WriteRowIcon(HKEY root, const std::string& key, const TCustomIconRec& rec, const std::string& location,
                  bool mirror) {
  TRegistry registry(KEY_ALL_ACCESS);
  registry.SetRootKey(root);
  if (!registry.OpenKey(key, true)) throw ERegistryException("Failed to set data for '" + std::string(rec.ValueName) + "'");
  registry.WriteString(rec.ValueName, location);
  if (mirror) registry.WriteString("", location);
}

// Deletes a value from the key when both exist; then the key itself when it
// holds nothing more.
void DeleteValueAndEmptyKey(HKEY root, const std::string& key, const std::string& name) {
  TRegistry registry(KEY_ALL_ACCESS);
  registry.SetRootKey(root);
  if (!registry.OpenKey(key, false)) return;
  if (registry.ValueExists(name) && !registry.DeleteValue(name))
    throw ERegistryException("Unable to delete value '" + name + "'");
  std::vector<std::string> values, keys;
  registry.GetValueNames(values);
  registry.GetKeyNames(keys);
  registry.CloseKey();
  if (values.empty() && keys.empty() && !registry.DeleteKey(key))
    throw ERegistryException("Failed to delete key '" + key + "'");
}

bool IsNT5UserShellRow(const TCustomIconRec& rec) {
  return KeyIs(rec, kMyComputer) || KeyIs(rec, kMyDocuments) || KeyIs(rec, kRecycleBin);
}

bool LocationFileExists(const std::string& location) {
  std::string file;
  int index = 0;
  return ParseIconLocation(location, file, index) && FileExists(file);
}

}  // namespace

TIconTableVersion TIconTableVersion::Current() {
  TIconTableVersion v;
  v.IsWin95 = IsWindows95();
  v.IsNT5 = IsWindowsNT5();
  v.IsXP = IsWindowsXP();
  v.IsNT = IsWindowsNT();
  return v;
}

std::string UserIconKey(const TCustomIconRec& rec, const TIconTableVersion& version) {
  return version.IsNT5 && IsNT5UserShellRow(rec) ? UserShellIconKey(rec) : UserClassIconKey(rec);
}

std::string ReadClassesRootDefaultIcon(const TCustomIconRec& rec) {
  std::string location = ReadValue(HKEY_CLASSES_ROOT, MachineClassIconKey(rec), rec.ValueName);
  if (location.empty() && KeyIs(rec, kInternetExplorer))
    location = ReadValue(HKEY_CLASSES_ROOT, ClassKey(rec) + "\\shell\\OpenHomePage\\Command", "");
  return location;
}

std::string GetNT5DefaultIcon(const TCustomIconRec& rec, const TIconTableVersion& version) {
  const std::string value = rec.ValueName;
  if (KeyIs(rec, kMyDocuments)) return "%SystemRoot%\\System32\\mydocs.dll,0";
  if (KeyIs(rec, kRecycleBin)) {
    if (value == "empty") return "%SystemRoot%\\System32\\shell32.dll,31";
    if (value == "full") return "%SystemRoot%\\System32\\shell32.dll,32";
    return std::string();
  }
  if (KeyIs(rec, "85BBD920-42A0-1069-A2E4-08002B30309D")) return "%SystemRoot%\\System32\\syncui.dll,0";
  if (KeyIs(rec, kMyComputer)) return "%SystemRoot%\\EXPLORER.EXE,0";
  if (version.IsXP) {
    if (KeyIs(rec, "21EC2020-3AEA-1069-A2DD-08002B30309D")) return "%SystemRoot%\\System32\\shell32.dll,-137";
    if (KeyIs(rec, "2227A280-3AEA-1069-A2DE-08002B30309D")) return "%SystemRoot%\\System32\\shell32.dll,-138";
    if (KeyIs(rec, "992CFFA0-F557-101A-88EC-00DD010CCC48")) return "%SystemRoot%\\System32\\netshell.dll";
    if (KeyIs(rec, kInternetExplorer))
      return ReadRegistryString(HKEY_LOCAL_MACHINE, std::string("Software\\Classes\\CLSID\\{") + rec.Key + "}\\DefaultIcon\\");
  }
  return ReadClassesRootDefaultIcon(rec);
}

void LoadIconTable(TCustomIconList& icons, const TIconTableVersion& version) {
  icons.clear();
  for (const TCustomIconRec& rec : kCustomIcons) {
    if (!(rec.VersionFlags & (version.IsXP ? 0x10u : 0x20u))) continue;
    std::string current, byDefault, caption;
    if (IsStockRow(rec)) {
      current = ReadValue(HKEY_LOCAL_MACHINE, kShellIconsKey, rec.Key + 1);
      byDefault = GetSystemDir() + "shell32.dll," + (rec.Key + 1);
      caption = rec.Caption;
    } else {
      current = ReadValue(HKEY_CURRENT_USER, UserIconKey(rec, version), rec.ValueName);
      if (version.IsWin95) {
        const std::string backupName = std::string(rec.Key) + rec.ValueName;
        byDefault = ReadValue(HKEY_CURRENT_USER, kBackupKey, backupName);
        if (byDefault.empty()) {
          byDefault = ReadClassesRootDefaultIcon(rec);
          // The backup keeps the first default seen: later Applies on this
          // version overwrite the machine's own key.
          if (!byDefault.empty()) {
            try {
              WriteRegistryString(HKEY_CURRENT_USER, std::string(kBackupKey) + "\\" + backupName, byDefault);
            } catch (const Exception&) {
            }
          }
        }
      } else if (version.IsNT5) {
        byDefault = GetNT5DefaultIcon(rec, version);
      } else {
        byDefault = ReadClassesRootDefaultIcon(rec);
      }
      caption = ReadValue(HKEY_CLASSES_ROOT, ClassKey(rec), "");
    }
    if (current.empty()) current = byDefault;
    if (caption.empty()) caption = rec.Caption;
    if (rec.Suffix[0]) caption += std::string(" ") + rec.Suffix;
    if (!LocationFileExists(current) && !LocationFileExists(byDefault)) continue;
    auto entry = std::make_unique<TCustomIconFileInfo>();
    entry->IconLocation = current;
    entry->DefaultLocation = byDefault;
    entry->DisplayCaption = caption;
    entry->Rec = &rec;
    icons.push_back(std::move(entry));
  }
  FilterIconList(icons, version);
}

void FilterIconList(TCustomIconList& icons, const TIconTableVersion& version) {
  for (const auto& e : icons) {
    if (!KeyIs(*e->Rec, kInternetExplorer) || e->IconLocation.empty()) continue;
    const std::string path = UpperCase(ReadRegistryString(
        HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer\\AdvancedOptions\\BROWSE\\IEONDESKTOP\\RegPath"));
    if (path.find(kInternetExplorer) == std::string::npos) break;
    for (auto it = icons.begin(); it != icons.end(); ++it)
      if (KeyIs(*(*it)->Rec, kInternet)) {
        icons.erase(it);
        break;
      }
    break;
  }
  if (version.IsNT)
    for (auto it = icons.begin(); it != icons.end(); ++it)
      if (std::string((*it)->Rec->Key) == "#44") {
        icons.erase(it);
        break;
      }
}

void WriteClsidIconUser(TCustomIconFileInfo& entry, const TIconTableVersion&, bool& rebuild) {
  const TCustomIconRec& rec = *entry.Rec;
  if (rec.ValueName[0]) rebuild = true;
  const bool mirror = MirrorTest(HKEY_CURRENT_USER, UserClassIconKey(rec), rec) ||
                      MirrorTest(HKEY_CLASSES_ROOT, MachineClassIconKey(rec), rec);
  WriteRowIcon(HKEY_CURRENT_USER, UserClassIconKey(rec), rec, entry.NewLocation, mirror);
}

void RestoreClsidIconUser(TCustomIconFileInfo& entry, const TIconTableVersion&, bool& rebuild) {
  const TCustomIconRec& rec = *entry.Rec;
  DeleteValueAndEmptyKey(HKEY_CURRENT_USER, UserClassIconKey(rec), rec.ValueName);
  if (rec.ValueName[0]) {
    DeleteValueAndEmptyKey(HKEY_CURRENT_USER, UserClassIconKey(rec), "");
    rebuild = true;
  }
}

namespace {

void WriteWin95(const TCustomIconRec& rec, const std::string& location, bool& rebuild) {
  if (rec.ValueName[0]) rebuild = true;
  const bool mirror = MirrorTest(HKEY_CLASSES_ROOT, MachineClassIconKey(rec), rec);
  WriteRowIcon(HKEY_CLASSES_ROOT, MachineClassIconKey(rec), rec, location, mirror);
}

}  // namespace

void WriteClsidIconWin95(TCustomIconFileInfo& entry, bool& rebuild) { WriteWin95(*entry.Rec, entry.NewLocation, rebuild); }

void RestoreClsidIconWin95(TCustomIconFileInfo& entry, bool& rebuild) {
  WriteWin95(*entry.Rec, entry.DefaultLocation, rebuild);
}

void WriteClsidIconNT5(TCustomIconFileInfo& entry, const TIconTableVersion& version, bool& rebuild) {
  const TCustomIconRec& rec = *entry.Rec;
  const bool mirror = MirrorTest(HKEY_CURRENT_USER, UserShellIconKey(rec), rec);
  WriteRowIcon(HKEY_CURRENT_USER, UserIconKey(rec, version), rec, entry.NewLocation, mirror);
  rebuild = true;
}

void RestoreClsidIconNT5(TCustomIconFileInfo& entry, const TIconTableVersion& version, bool& rebuild) {
  const TCustomIconRec& rec = *entry.Rec;
  if (KeyIs(rec, kMyDocuments)) {
    WriteRegistryString(HKEY_CURRENT_USER, UserShellIconKey(rec) + "\\", entry.DefaultLocation);
  } else if (KeyIs(rec, kRecycleBin)) {
    entry.NewLocation = entry.DefaultLocation;
    WriteClsidIconNT5(entry, version, rebuild);
  } else {
    const std::string key = UserIconKey(rec, version);
    DeleteValueAndEmptyKey(HKEY_CURRENT_USER, key, rec.ValueName);
    if (rec.ValueName[0]) DeleteValueAndEmptyKey(HKEY_CURRENT_USER, key, "");
  }
  rebuild = true;
}

void ApplyIconTable(TCustomIconList& icons, const TIconTableVersion& version, bool forceRebuild) {
  bool rebuild = false;
  bool changed = false;
  for (const auto& e : icons) {
    if (e->NewLocation.empty()) continue;
    changed = true;
    const TCustomIconRec& rec = *e->Rec;
    // The entry takes its new location only once the write went through; a
    // registry error ends the Apply here with the choice still pending.
    if (e->NewLocation != "#DEFAULT#") {
      if (IsStockRow(rec)) {
        WriteRegistryString(HKEY_LOCAL_MACHINE, std::string(kShellIconsKey) + "\\" + (rec.Key + 1), e->NewLocation);
        rebuild = true;
      } else if (version.IsWin95) {
        WriteClsidIconWin95(*e, rebuild);
      } else if (version.IsNT5) {
        WriteClsidIconNT5(*e, version, rebuild);
      } else {
        WriteClsidIconUser(*e, version, rebuild);
      }
      e->IconLocation = e->NewLocation;
    } else {
      if (IsStockRow(rec)) {
        rebuild = true;
        TRegistry registry(KEY_ALL_ACCESS);
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        if (registry.OpenKey(kShellIconsKey, false) && registry.ValueExists(rec.Key + 1) &&
            !registry.DeleteValue(rec.Key + 1))
          throw ERegistryException(std::string("Unable to delete value '") + (rec.Key + 1) + "'");
      } else if (version.IsWin95) {
        RestoreClsidIconWin95(*e, rebuild);
      } else if (version.IsNT5) {
        RestoreClsidIconNT5(*e, version, rebuild);
      } else {
        RestoreClsidIconUser(*e, version, rebuild);
      }
      e->IconLocation = e->DefaultLocation;
    }
    e->NewLocation.clear();
  }
  if (rebuild || forceRebuild) RebuildIconCache();
  if (changed) RefreshDesktop();
}

std::string MakeColorizedIconName(const TCustomIconRec& rec) {
  std::string name;
  for (const char* p : {rec.Caption, rec.Suffix})
    for (; *p; ++p)
      if (std::isalnum(static_cast<unsigned char>(*p)) || *p == '-' || *p == '_') name += *p;
  return name;
}
