#include "store/value.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace store {

namespace {

std::optional<std::int32_t> narrow(std::int64_t n)
{
    if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(n);
}

std::optional<std::int64_t> parseWhole(const std::string &s)
{
    std::int64_t n = 0;
    const char *first = s.data();
    const char *last = s.data() + s.size();
    while (first != last && *first == ' ')
        ++first;
    while (last != first && last[-1] == ' ')
        --last;
    if (first != last && *first == '+')
        ++first;
    const auto [end, ec] = std::from_chars(first, last, n);
    if (ec != std::errc() || end != last || first == last)
        return std::nullopt;
    return n;
}

} // namespace

std::optional<std::int32_t> toKey(const Value &v)
{
    if (const auto *n = std::get_if<std::int64_t>(&v))
        return narrow(*n);
    if (const auto *d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d) || std::trunc(*d) != *d || std::fabs(*d) > 4e9)
            return std::nullopt;
        return narrow(static_cast<std::int64_t>(*d));
    }
    if (const auto *s = std::get_if<std::string>(&v)) {
        if (const auto n = parseWhole(*s))
            return narrow(*n);
        return std::nullopt;
    }
    if (const auto *b = std::get_if<bool>(&v))
        return *b ? 1 : 0;
    return std::nullopt;
}

std::optional<bool> toFlag(const Value &v)
{
    if (const auto *n = std::get_if<std::int64_t>(&v))
        return *n != 0;
    if (const auto *d = std::get_if<double>(&v))
        return *d != 0.0;
    if (const auto *b = std::get_if<bool>(&v))
        return *b;
    if (const auto *s = std::get_if<std::string>(&v)) {
        // Text in a yes/no column compares above every number in the file, so
        // the index treats it as non-zero; read it the same way.
        if (const auto n = parseWhole(*s))
            return *n != 0;
        return true;
    }
    return std::nullopt;
}

std::optional<std::string> toText(const Value &v)
{
    if (const auto *s = std::get_if<std::string>(&v))
        return *s;
    if (const auto *n = std::get_if<std::int64_t>(&v))
        return std::to_string(*n);
    if (const auto *d = std::get_if<double>(&v)) {
        char buf[64];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, *d);
        if (ec != std::errc())
            return std::nullopt;
        return std::string(buf, end);
    }
    if (const auto *b = std::get_if<bool>(&v))
        return std::string(*b ? "True" : "False");
    return std::nullopt;
}

} // namespace store
