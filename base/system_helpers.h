#pragma once
// Which Windows the program runs on.

// Version 5.1.
bool IsWindowsXP();
// The NT family (platform identifier above 1).
bool IsWindowsNT();
