#include "commands/history.h"

#include "commands/toolbar.h"
#include "store/change_recorder.h"
#include "store/connection.h"
#include "store/mod_base.h"
#include "toolkit/announcer.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/selection.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <array>
#include <cstdio>
#include <deque>
#include <limits>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace modTree {

using modBase::rsTree;
using store::Field;
using store::Value;
using Record = store::TreeCursor::Record;

namespace {

constexpr std::array kLinks{Field::KeyPar, Field::KeyChi, Field::KeyPrw, Field::KeyNxt};
// Written back only where they are still as the command (or its undo) left
// them: the user may have opened or closed an item since.
constexpr std::array kOthers{Field::Expand, Field::KeyRef, Field::RefCut};

// What the history reads of a record: never its text, which it leaves alone.
constexpr std::array kRecorded{Field::KeyPar, Field::KeyChi, Field::KeyPrw, Field::KeyNxt,
                               Field::KeySel, Field::Expand, Field::KeyRef, Field::RefCut};

const Value &at(const Record &record, Field f)
{
    return record[store::fieldIndex(f)];
}

// One record a command changed: as its undo leaves it, and as the command did.
struct Touched {
    std::int32_t key = 0;
    Record before{};
    Record after{};
};

struct Entry {
    std::int32_t markedBefore = 0;
    std::int32_t markedAfter = 0;
    std::vector<Touched> records;
};

struct History {
    std::deque<Entry> undo;
    std::deque<Entry> redo;
    // The file the entries were made on, as another program last left it.
    store::Connection *connection = nullptr;
    std::optional<std::int64_t> version;
};
History g_history;

// A record the command took: appended, or free before (KeyPar and KeyNxt Null).
bool taken(const std::optional<Record> &before)
{
    return !before || (store::isNull(at(*before, Field::KeyPar)) && store::isNull(at(*before, Field::KeyNxt)));
}

// Drops the history when another program changed the file since it was made;
// true when there was something to drop.
bool droppedForOutsideChange()
{
    store::Connection *connection = rsTree.connection();
    const auto version = connection ? connection->outsideVersion() : std::nullopt;
    if (connection == g_history.connection && version && version == g_history.version)
        return false;
    const bool had = !g_history.undo.empty() || !g_history.redo.empty();
    ClearHistory();
    g_history.connection = connection;
    g_history.version = version;
    return had;
}

Entry entryOf(const store::ChangeRecorder &recorder, std::int32_t marked)
{
    Entry entry;
    // The command acts on the item marked when it first links: a key marks
    // the highlighted item first.
    for (const auto &[key, set] : recorder.marksBeforeLinks()) {
        if (set)
            marked = static_cast<std::int32_t>(key);
        else if (key == marked)
            marked = 0;
    }
    entry.markedBefore = marked;
    entry.markedAfter = MarkedItem().value_or(0);
    std::unordered_set<std::int64_t> made;
    for (const auto &change : recorder.changes())
        if (taken(change.before))
            made.insert(change.key);
    bool linked = false;
    for (const auto &change : recorder.changes()) {
        if (change.key < std::numeric_limits<std::int32_t>::min()
            || change.key > std::numeric_limits<std::int32_t>::max())
            return {};
        Record before = change.before.value_or(change.after);
        if (made.contains(change.key)) {
            // Undone, a new item is left as a delete leaves one; an item
            // under it (a pasted branch) stays in that branch.
            before = change.after;
            const auto parent = store::toKey(at(change.after, Field::KeyPar));
            if (!parent || !made.contains(*parent))
                for (const Field f : {Field::KeyPar, Field::KeyPrw, Field::KeyNxt})
                    before[store::fieldIndex(f)] = std::int64_t{0};
        }
        bool differs = false;
        for (const Field f : kLinks)
            if (at(before, f) != at(change.after, f))
                differs = linked = true;
        for (const Field f : kOthers)
            differs = differs || at(before, f) != at(change.after, f);
        if (differs)
            entry.records.push_back({static_cast<std::int32_t>(change.key), std::move(before), change.after});
    }
    if (!linked)
        entry.records.clear();
    return entry;
}

// The first record whose links are not what the entry's other side expects.
std::optional<std::int32_t> changedSince(const Entry &entry, bool undoing)
{
    for (const Touched &t : entry.records) {
        if (!rsTree.positionOn(t.key))
            return t.key;
        for (const Field f : kLinks)
            if (rsTree.field(f) != at(undoing ? t.after : t.before, f))
                return t.key;
    }
    return std::nullopt;
}

void writeBack(const Entry &entry, bool undoing)
{
    for (const Touched &t : entry.records) {
        const Record &from = undoing ? t.after : t.before;
        const Record &to = undoing ? t.before : t.after;
        if (!rsTree.positionOn(t.key))
            continue;
        std::vector<std::pair<Field, Value>> fields;
        for (const Field f : kLinks)
            if (rsTree.field(f) != at(to, f))
                fields.emplace_back(f, at(to, f));
        for (const Field f : kOthers)
            if (at(from, f) != at(to, f) && rsTree.field(f) == at(from, f))
                fields.emplace_back(f, at(to, f));
        if (!fields.empty())
            rsTree.update(fields);
    }
}

// Marks item as a click marks it; with no item the tree holds, nothing stays marked.
void markAsClicked(std::int32_t item)
{
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    if (item != 0 && HeldByTheTree(item)) {
        ShowTree();
        const toolkit::TreeNode node = tree ? tree->find(ItemNode(item)) : toolkit::TreeNode();
        if (tree && tree->indexOf(node).isValid())
            NodeClick(node);
        else
            SelectItem(item);
    } else {
        if (MarkedItem())
            rsTree.update(Field::KeySel, false);
        ShowTree();
    }
    // Typing must not rename an item the tree no longer holds.
    const toolkit::TextBox *box = AttachedControls().txtItem;
    if (const auto bound = box ? ItemOf(box->tag()) : std::nullopt; bound && !HeldByTheTree(*bound))
        UnbindTextBox();
}

// Says why nothing was undone (redone) to a screen reader, which would
// otherwise hear nothing at all; a refusal also on standard error.
void sayNotDone(const std::string &line, bool refused)
{
    if (refused)
        std::fprintf(stderr, "branchkeeper: %s\n", line.c_str());
    QString said = QString::fromStdString(line);
    said[0] = said[0].toUpper();
    toolkit::Announcer::announceIn(AttachedControls().TreeV, said);
}

void step(bool undoing)
{
    const std::string what = undoing ? "undo" : "redo";
    if (droppedForOutsideChange()) {
        sayNotDone("nothing to " + what + ": another program changed the file", true);
        return;
    }
    std::deque<Entry> &from = undoing ? g_history.undo : g_history.redo;
    if (from.empty()) {
        sayNotDone("nothing to " + what, false);
        return;
    }
    if (const auto changed = changedSince(from.back(), undoing)) {
        sayNotDone("cannot " + what + ": item " + std::to_string(*changed) + " is not as the command left it", true);
        ClearHistory();
        return;
    }
    Entry entry = std::move(from.back());
    from.pop_back();
    writeBack(entry, undoing);
    markAsClicked(undoing ? entry.markedBefore : entry.markedAfter);
    (undoing ? g_history.redo : g_history.undo).push_back(std::move(entry));
}

} // namespace

CommandRecording::CommandRecording()
{
    store::Connection *connection = rsTree.connection();
    if (!connection || !connection->inTransaction())
        return; // the action writes nothing
    droppedForOutsideChange();
    m_marked = MarkedItem().value_or(0);
    m_recorder = std::make_unique<store::ChangeRecorder>(connection, kRecorded);
}

CommandRecording::~CommandRecording()
{
    if (!m_recorder)
        return;
    m_recorder->finish();
    const bool complete = m_recorder->complete();
    Entry entry = complete ? entryOf(*m_recorder, m_marked) : Entry{};
    const bool wrote = !m_recorder->changes().empty();
    m_recorder.reset();
    if (!complete && wrote) {
        ClearHistory(); // a change it cannot play back stands between the file and every entry
        return;
    }
    if (entry.records.empty())
        return;
    ForgetOnReset(&ClearHistory);
    g_history.redo.clear();
    g_history.undo.push_back(std::move(entry));
    if (g_history.undo.size() > kHistoryDepth)
        g_history.undo.pop_front();
}

void Undo()
{
    step(true);
}

void Redo()
{
    step(false);
}

void ClearHistory()
{
    g_history = {};
}

} // namespace modTree
