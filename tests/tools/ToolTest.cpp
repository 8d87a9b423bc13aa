#include <gtest/gtest.h>
#include "tools/Tool.h"
TEST(ToolArray, Placeholder) { EXPECT_EQ(128u, Vak::ToolStringArray::GrownCapacity(0, 1)); }
