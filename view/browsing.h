#pragma once

#include <cstdint>
#include <functional>
#include <optional>

// Browsing a store the program cannot write (a file the user may not write,
// a folder that refuses the journal): the tree still follows the user (the
// highlight, the red mark, opening and closing), nothing reaches the file,
// and nothing is printed per action.
namespace modTree {

// True while the store cannot be written. Actions then write nothing; the
// window turns its text box and its writing commands off.
bool Browsing();

// Finds out whether the store can be written now, a store SQLite opened for
// reading only being opened again first, and starts or ends browsing to
// match, with one line on standard error when it starts (naming lostAction,
// the action the file refused, if one did) and when it ends. Runs outside any
// transaction; inside one, or when the file cannot tell (busy, full), it
// changes nothing. True when browsing started or ended.
bool CheckWritable(const char *lostAction = nullptr);

// Told whenever browsing starts or ends, for the window's controls.
void OnBrowsingChanged(std::function<void()> observer);

// What the user opened, closed and marked while browsing, shown by every
// rebuild instead of what the file holds; dropped when browsing ends.
std::optional<bool> BrowsedOpen(std::int32_t item);
void BrowseOpen(std::int32_t item, bool open);
std::optional<std::int32_t> BrowsedMark();
void BrowseMark(std::int32_t item);

// Back to writing, forgetting what was browsed; part of ResetProgramState.
void ResetBrowsing();

} // namespace modTree
