#pragma once

#include <memory>

namespace store {
class ChangeRecorder;
}

// Undo and redo of the commands that change the tree's structure: new items,
// moves, deletes, pastes. The history lives in memory for this run only.
namespace modTree {

// Records what one command writes, from construction to destruction: opened
// by the window's handler inside the command's user action. A command that
// changed no link between records leaves no entry; one that did is the
// newest entry (the oldest beyond kHistoryDepth is forgotten) and empties
// the redo list. Another program's change to the file since the last entry
// drops the whole history first.
class CommandRecording {
public:
    CommandRecording();
    ~CommandRecording();
    CommandRecording(const CommandRecording &) = delete;
    CommandRecording &operator=(const CommandRecording &) = delete;

private:
    std::unique_ptr<store::ChangeRecorder> m_recorder;
    int m_marked = 0;
};

inline constexpr int kHistoryDepth = 100;

// Puts the links of every record the newest command touched back as they
// were before it (after it, for Redo), and the open states and references
// where they are still as the command left them; never the texts (typing
// since is kept) and never the mark directly: the item marked before the
// command (after it) is then marked as a click marks it, and the view rebuilt.
// An item the command made is left as a delete leaves one: its record stays.
// Refused, with one line on standard error and nothing written, when a
// touched record's links are not what the command left (what undo left, for
// Redo); the history is dropped then. A screen reader hears why nothing was
// done, an empty history too. Opens no transaction: the caller's user action
// holds it.
void Undo();
void Redo();

// Forgets every entry (the program's reset calls it too).
void ClearHistory();

} // namespace modTree
