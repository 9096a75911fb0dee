#pragma once

// The pieces behind outline::write and outline::read, one pair per format,
// and what they share.

#include "toolkit/outline.h"

#include <QIODevice>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace outline::detail {

// Where the first byte that is no part of well-formed UTF-8 starts (overlong
// forms, surrogates and code points past U+10FFFF included); npos when the
// whole text is UTF-8.
std::size_t invalidUtf8At(std::string_view text);
// The text with every such byte replaced by U+FFFD.
std::string withValidUtf8(std::string_view text);
// "line L, column C" of a byte offset: lines counted at '\n', columns in
// characters, both from 1.
std::string positionOf(std::string_view bytes, std::size_t offset);
// False, with "line L, column C: not valid UTF-8", unless bytes are UTF-8.
bool checkUtf8(std::string_view bytes, std::string *error);

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

inline bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

// Lines gathered and written to the device a megabyte at a time.
class Output {
public:
    explicit Output(QIODevice &device) : m_device(device) {}
    std::string &text() { return m_text; }
    bool lineDone() { return m_text.size() < (std::size_t{1} << 20) || flush(); }
    bool flush()
    {
        const bool ok = m_ok && m_device.write(m_text.data(), static_cast<qint64>(m_text.size()))
                == static_cast<qint64>(m_text.size());
        m_text.clear();
        m_ok = ok;
        return ok;
    }

private:
    QIODevice &m_device;
    std::string m_text;
    bool m_ok = true;
};

// The writers write to out as they go (a million items need not be held
// twice); false when out refuses a write.
bool writeOpml(std::span<const Item> items, QIODevice &out, std::vector<std::string> *problems);
std::optional<std::vector<Item>> readOpml(std::string_view bytes, std::string *error, ReadReport &report);

bool writeMarkdown(std::span<const Item> items, QIODevice &out);
std::optional<std::vector<Item>> readMarkdown(std::string_view bytes, std::string *error, ReadReport &report);

bool writeText(std::span<const Item> items, QIODevice &out);
std::optional<std::vector<Item>> readText(std::string_view bytes, std::string *error, ReadReport &report);

} // namespace outline::detail
