// The program's cursor resources reach the screen's cursor table.
#include <gtest/gtest.h>

#include "base/ui_windows.h"
#include "platform/graphics/gdi.h"
#include "platform/ui/cursors.h"
#include "platform/win/resources.h"

namespace {

TEST(ToolCursors, ColourPickCursorIsRegisteredUnderItsNumberWithItsHotSpot) {
  InitializeUI();
  LoadToolCursors();
  HCURSOR pick = Screen->Cursors(-29);
  ASSERT_NE(pick, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(pick, &info));
  EXPECT_FALSE(info.fIcon);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  // Names without a resource in the program get no cursor.
  EXPECT_EQ(Screen->Cursors(-25), nullptr);
  EXPECT_EQ(LoadCursor(HInstance, "NOSUCHCURSOR"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  FinalizeUI();
}

}  // namespace
