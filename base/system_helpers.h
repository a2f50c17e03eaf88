#pragma once
// Which Windows the program runs on, and whether the Internet is reachable.

// Version 5.1.
bool IsWindowsXP();
// True on a system that draws icons with an alpha channel: XP (5.1) and every
// later NT version.
bool DrawsAlphaIcons();
// The NT family (platform identifier above 1).
bool IsWindowsNT();
// A connection is reported and an Internet handle can be opened (and is closed
// again); asked before the program opens a web page.
bool IsInternetAvailable();
