#include "app/customize/model_seed.h"

#include <iterator>

#include "base/path_utils.h"
#include "base/registry_helpers.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/kernel_files.h"
#include "platform/win/system_folders.h"

namespace {

struct TClassSeed {
  const char* Clsid;
  const char* Name;
  const char* Icon;  // default value of DefaultIcon; null for none
};

// The shell's classes with their names and icons as a fresh system has them.
const TClassSeed kClasses[] = {
    {"20D04FE0-3AEA-1069-A2D8-08002B30309D", "My Computer", "%SystemRoot%\\System32\\shell32.dll,15"},
    {"208D2C60-3AEA-1069-A2D7-08002B30309D", "Network Neighborhood", "%SystemRoot%\\System32\\shell32.dll,17"},
    {"645FF040-5081-101B-9F08-00AA002F954E", "Recycle Bin", "%SystemRoot%\\System32\\shell32.dll,31"},
    {"450d8fba-ad25-11d0-98a8-0800361b1103", "My Documents", "%SystemRoot%\\System32\\mydocs.dll,0"},
    {"85BBD920-42A0-1069-A2E4-08002B30309D", "Briefcase", "%SystemRoot%\\System32\\syncui.dll,0"},
    {"21EC2020-3AEA-1069-A2DD-08002B30309D", "Control Panel", "%SystemRoot%\\System32\\shell32.dll,-137"},
    {"2227A280-3AEA-1069-A2DE-08002B30309D", "Printers", "%SystemRoot%\\System32\\shell32.dll,-138"},
    {"FF393560-C2A7-11CF-BFF4-444553540000", "History", "%SystemRoot%\\System32\\shell32.dll,20"},
    {"00020D76-0000-0000-C000-000000000046", "Inbox", "%SystemRoot%\\System32\\shell32.dll,37"},
    {"a4d92740-67cd-11cf-96f2-00aa00a11dd9", "Remote Network Access", "%SystemRoot%\\System32\\shell32.dll,18"},
    {"992CFFA0-F557-101A-88EC-00DD010CCC48", "Dial-Up Networking", "%SystemRoot%\\System32\\netshell.dll,0"},
    {"FBF23B42-E3F0-101B-8488-00AA003E56F8", "The Internet", "%SystemRoot%\\System32\\shell32.dll,13"},
    {"871C5380-42A0-1069-A2EA-08002B30309D", "Internet Explorer", nullptr},
    {"00028B00-0000-0000-C000-000000000046", "The Microsoft Network", "%SystemRoot%\\System32\\shell32.dll,14"},
};

struct TFileTypeSeed {
  const char* Extension;
  const char* TypeName;
  const char* ContentType;  // null for none
  const char* Icon;
};

const TFileTypeSeed kFileTypes[] = {
    {".txt", "txtfile", "text/plain", "%SystemRoot%\\System32\\shell32.dll,1"},
    {".ini", "inifile", nullptr, "%SystemRoot%\\System32\\shell32.dll,1"},
    {".bat", "batfile", nullptr, "%SystemRoot%\\System32\\shell32.dll,2"},
    {".bmp", "Paint.Picture", "image/bmp", "%SystemRoot%\\System32\\shell32.dll,33"},
    {".jpg", "jpegfile", "image/jpeg", "%SystemRoot%\\System32\\shell32.dll,41"},
    {".png", "pngfile", "image/png", "%SystemRoot%\\System32\\shell32.dll,42"},
    {".htm", "htmlfile", "text/html", "%SystemRoot%\\System32\\shell32.dll,13"},
    {".zip", "CompressedFolder", "application/zip", "%SystemRoot%\\System32\\shell32.dll,43"},
    {".doc", "Word.Document", "application/msword", "%SystemRoot%\\System32\\shell32.dll,39"},
    {".dll", "dllfile", "application/x-msdownload", "%SystemRoot%\\System32\\shell32.dll,30"},
    {".exe", "exefile", "application/x-msdownload", "%1"},
    {".ico", "icofile", "image/x-icon", "%1"},
};

const char* kModuleCopies[] = {
    "C:\\Windows\\System32\\shell32.dll",   "C:\\Windows\\EXPLORER.EXE",
    "C:\\Windows\\System32\\mydocs.dll",    "C:\\Windows\\System32\\syncui.dll",
    "C:\\Windows\\System32\\netshell.dll",  "C:\\Program Files\\Internet Explorer\\iexplore.exe",
};

}  // namespace

std::string ShellLibrarySource() { return GetApplicationDir() + "data/shell32.dll"; }

bool SeedWindowsModel(const std::string& shellLibrary) {
  SetModelDrive('D', DRIVE_CDROM);
  if (FileExists(kModuleCopies[0])) return true;
  if (!FileExists(shellLibrary)) return false;
  // The other modules come last, so that a seed cut short is redone at the next start.
  for (int i = static_cast<int>(std::size(kModuleCopies)) - 1; i >= 0; --i) {
    ForceDirectories(ExtractFileDir(kModuleCopies[i]));
    if (!CopyFile(shellLibrary.c_str(), kModuleCopies[i], FALSE)) return false;
  }
  for (const TClassSeed& c : kClasses) {
    const std::string key = std::string("CLSID\\{") + c.Clsid + "}\\";
    WriteRegistryString(HKEY_CLASSES_ROOT, key, c.Name);
    if (c.Icon) WriteRegistryString(HKEY_CLASSES_ROOT, key + "DefaultIcon\\", c.Icon);
  }
  // The Recycle Bin's icon follows its state: "empty" and "full", the default
  // value mirroring the one in effect.
  const std::string bin = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}\\DefaultIcon\\";
  WriteRegistryString(HKEY_CLASSES_ROOT, bin + "empty", "%SystemRoot%\\System32\\shell32.dll,31");
  WriteRegistryString(HKEY_CLASSES_ROOT, bin + "full", "%SystemRoot%\\System32\\shell32.dll,32");
  WriteRegistryString(HKEY_CLASSES_ROOT, "CLSID\\{871C5380-42A0-1069-A2EA-08002B30309D}\\shell\\OpenHomePage\\Command\\",
                      "\"C:\\Program Files\\Internet Explorer\\iexplore.exe\"");
  // Where XP's shell looks for the browser's icon.
  WriteRegistryString(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\{871C5380-42A0-1069-A2EA-08002B30309D}\\DefaultIcon\\",
                      "C:\\Program Files\\Internet Explorer\\iexplore.exe,0");
  for (const TFileTypeSeed& t : kFileTypes) {
    WriteRegistryString(HKEY_CLASSES_ROOT, std::string(t.Extension) + "\\", t.TypeName);
    if (t.ContentType) WriteRegistryString(HKEY_CLASSES_ROOT, std::string(t.Extension) + "\\Content Type", t.ContentType);
    WriteRegistryString(HKEY_CLASSES_ROOT, std::string(t.TypeName) + "\\DefaultIcon\\", t.Icon);
  }
  WriteRegistryString(HKEY_CLASSES_ROOT, "lnkfile\\IsShortcut", "");
  return true;
}
