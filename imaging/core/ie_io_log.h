#pragma once
// The input and output log of the library: time-stamped lines appended to a
// file that a program names. Nothing is written while no name is set. Lines
// come from any thread (the drawing routines, the background loads, the URL
// and video readers); each is written whole and flushed before the next.
#include <string>

// The log file; an empty name stops logging (and closes the file).
void SetIOLogFileName(const std::string& fileName);
std::string IOLogFileName();

// Appends "date time : message" to the log file and flushes it. A file that
// cannot be opened loses the line: the log never stops the work it reports on.
void WriteIOLog(const std::string& message);
