#include "store/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

// Lets failure messages show which value a case was about.
namespace store {
void PrintTo(Null, std::ostream *os) { *os << "Null"; }
} // namespace store

namespace {

using store::Null;
using store::Value;

constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::nullopt_t kNone = std::nullopt;

Value text(const char *s) { return Value(std::string(s)); }

template <typename T>
struct Case {
    Value in;
    std::optional<T> out;
};

TEST(ValueToKey, WholeNumbersWithin32BitsConvertAndEverythingElseFails)
{
    const Case<std::int32_t> cases[] = {
        {std::int64_t{0}, 0}, {std::int64_t{-1}, -1}, {kMax32, std::int32_t(kMax32)}, {kMin32, std::int32_t(kMin32)},
        {kMax32 + 1, kNone}, {kMin32 - 1, kNone}, {kMax64, kNone}, {kMin64, kNone},
        // Reals count only when they are whole and in range.
        {3.0, 3}, {-7.0, -7}, {-2147483648.0, std::int32_t(kMin32)}, {2147483648.0, kNone}, {1e300, kNone},
        {2.5, kNone}, {-0.5, kNone}, {std::nan(""), kNone}, {kInf, kNone}, {-kInf, kNone},
        // Text must be a whole number and nothing more (spaces around it aside).
        {text(" 12 "), 12}, {text("-5"), -5}, {text("12abc"), kNone}, {text("abc"), kNone}, {text(""), kNone},
        {text("   "), kNone}, {text("1.5"), kNone}, {text("-"), kNone}, {text("99999999999"), kNone},
        {true, 1}, {false, 0}, {Null{}, kNone},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in));
        EXPECT_EQ(store::toKey(c.in), c.out);
    }
}

TEST(ValueToFlag, AnyNonZeroReadsAsTrueAndNullFails)
{
    const Case<bool> cases[] = {
        {std::int64_t{0}, false}, {std::int64_t{1}, true}, {std::int64_t{-1}, true}, {std::int64_t{2}, true},
        {kMin64, true}, {0.0, false}, {-0.0, false}, {0.25, true}, {-3.0, true},
        {text("0"), false}, {text(" 0 "), false}, {text("1"), true}, {text("2"), true},
        // Non-numeric text sorts above every number, so it is not zero.
        {text("abc"), true}, {true, true}, {false, false}, {Null{}, kNone},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in));
        EXPECT_EQ(store::toFlag(c.in), c.out);
    }
}

TEST(ValueToText, NumbersReadInDecimalTextAsIsAndNullFails)
{
    const Case<std::string> cases[] = {
        {std::int64_t{42}, "42"}, {std::int64_t{-7}, "-7"}, {std::int64_t{0}, "0"}, {kMin64, "-9223372036854775808"},
        {2.5, "2.5"}, {-0.25, "-0.25"}, {text("hello"), "hello"}, {text(""), ""},
        {text("Gr\xc3\xbc\xc3\x9f" "e"), "Gr\xc3\xbc\xc3\x9f" "e"}, {Null{}, kNone},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in));
        EXPECT_EQ(store::toText(c.in), c.out);
    }
}

} // namespace
