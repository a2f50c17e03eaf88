#pragma once
// The Windows model's shell: what the customisers of the desktop's icons look
// at on a real system and the model lacks until it is seeded. The shell library
// "C:\Windows\System32\shell32.dll" (the program's own drawings, from
// "data\shell32.dll"), the few other modules the system's default icons name,
// the display names and DefaultIcon keys of the shell's classes, a dozen file
// types, and drive D as a CD drive. Without the seed the customisers list
// nothing.
#include <string>

// The program's shell library beside it ("data\shell32.dll" in its folder).
std::string ShellLibrarySource();
// Seeds the model once: when "C:\Windows\System32\shell32.dll" is there already,
// only the drive types (which the model keeps for the run) are set. False when
// the shell library to copy is missing.
bool SeedWindowsModel(const std::string& shellLibrary = ShellLibrarySource());
