#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace toolkit {

// A node key: a whole number followed by one character that is not a digit,
// such as "12K" or "12S". Held as a number and a letter from the tree row to
// the text box's tag, so no handler turns keys into text and back; the text
// form exists for people and for tests.
struct NodeKey {
    std::int64_t number = 0; // at most 47 bits
    char16_t suffix = 0;

    // The one reader of a key's text form: everything but the last character
    // is the number, the last character the suffix.
    static std::optional<NodeKey> parse(QStringView text);
    QString toString() const;
    std::uint64_t packed() const { return (static_cast<std::uint64_t>(number) << 16) | suffix; }
    static NodeKey unpacked(std::uint64_t packed)
    {
        return {static_cast<std::int64_t>(packed) >> 16, static_cast<char16_t>(packed & 0xFFFF)};
    }
    friend bool operator==(const NodeKey &, const NodeKey &) = default;
};

} // namespace toolkit
