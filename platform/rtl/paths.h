#pragma once
// Mapping of the Windows-style paths the program builds ("data\styles.icl",
// "C:\Windows\System32\shell32.dll") onto this machine's file system.
//
// Both separators are accepted. A path that starts with a drive letter lands in
// the Windows model: drive C is the model root itself, any other drive X is the
// folder "drives/X" below that root. A native absolute path ("/tmp/a.png") and a
// relative path pass through with only their separators turned.
#include <string>

// The root folder of the Windows model (drive C). Until set it is
// "$XDG_DATA_HOME/quorvane/windows" (or "~/.local/share/quorvane/windows").
std::string WindowsModelRoot();
// Points the model at another root; tests use a temporary folder.
void SetWindowsModelRoot(const std::string& root);

std::string NativePath(const std::string& path);
