#pragma once

// The pieces behind outline::write and outline::read, one pair per format,
// and what they share.

#include "toolkit/outline.h"

class QIODevice;

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

// The writers write to out as they go (a million items need not be held
// twice); false when out refuses a write.
bool writeOpml(std::span<const Item> items, QIODevice &out, std::vector<std::string> *problems);
std::optional<std::vector<Item>> readOpml(std::string_view bytes, std::string *error);

bool writeMarkdown(std::span<const Item> items, QIODevice &out);
std::optional<std::vector<Item>> readMarkdown(std::string_view bytes, std::string *error);

bool writeText(std::span<const Item> items, QIODevice &out);
std::optional<std::vector<Item>> readText(std::string_view bytes, std::string *error);

} // namespace outline::detail
