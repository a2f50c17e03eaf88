#include <gtest/gtest.h>

#include "platform/graphics/gdi.h"

// Layouts that callers copy to and from memory blocks must keep their documented sizes.
TEST(GdiHeader, DocumentedLayouts) {
  EXPECT_EQ(sizeof(LOGFONTA), 60u);
  EXPECT_EQ(sizeof(RGNDATAHEADER), 32u);
  EXPECT_EQ(sizeof(TRIVERTEX), 16u);
  EXPECT_EQ(MAKEROP4(SRCCOPY, 0x00AA0029), 0xAACC0020u);
}
