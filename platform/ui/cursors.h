#pragma once
// Cursors from the program's resources (RT_GROUP_CURSOR and its RT_CURSOR images).
#include "platform/graphics/gdi.h"
#include "platform/win/win_types.h"

// The cursor of a group-cursor resource, its image nearest to the system cursor
// size; null (ERROR_RESOURCE_NAME_NOT_FOUND or ERROR_INVALID_DATA) when the
// resource is missing or damaged. The system's own cursors (a null module) have
// no pictures here and give null too. The caller destroys it with DestroyCursor.
HCURSOR LoadCursor(HINSTANCE module, const char* name);
inline HCURSOR LoadCursorA(HINSTANCE module, const char* name) { return LoadCursor(module, name); }
