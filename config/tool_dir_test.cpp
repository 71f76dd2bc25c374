#include "config/tool_dir.h"

#include <gtest/gtest.h>

#include <set>

namespace {
TEST(Placeholder, Builds) { EXPECT_EQ(findToolDir("x", std::nullopt, [](const std::string&) { return false; }, kWindowsStyle), ".\\"); }
}
