#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

// Every way a user opens a node, for tests that run once for each.
enum class OpenBy { Arrow, DoubleClick, KeyRight, KeyPlus };
inline constexpr OpenBy kEveryWayToOpen[] = {OpenBy::Arrow, OpenBy::DoubleClick, OpenBy::KeyRight, OpenBy::KeyPlus};

inline std::string openByName(const ::testing::TestParamInfo<OpenBy> &info)
{
    static const char *const names[] = {"Arrow", "DoubleClick", "KeyRight", "KeyPlus"};
    return names[static_cast<int>(info.param)];
}

} // namespace testing_support
