#pragma once

#include <QObject>
#include <QString>

#include "store/branches.h"
#include "store/connection.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Finding items by their text: every item the tree reaches, open and closed
// branches alike, in the order the tree shows them.
namespace modTree {

// text as find compares it, in UTF-8: case folded the way a person ignores
// case, in any script ("ß" as "ss", so "STRASSE" finds "Straße"); bytes that
// are no UTF-8 read as U+FFFD.
std::string FoldForFind(std::string_view utf8);
std::string FoldForFind(QStringView text);

// Every item the tree reaches, in display order, as one reading of the file
// saw them. Never changed once built: the reader thread and the window
// share it without a lock.
struct FindSnapshot {
    std::vector<std::int32_t> keys;   // by item, in display order
    std::vector<std::int32_t> depths; // the root 0, top-level items 1
    std::string folded;               // every record's folded text, in the table's order
    std::vector<std::size_t> textAt;  // record r's text is folded[textAt[r], textAt[r + 1])
    std::vector<std::int32_t> items;  // record r is item items[r]; -1 when the tree does not reach it
};

// What a search found: the positions in the snapshot of the matching items,
// and which of them the field names ("3 of 17").
struct FindResult {
    std::uint64_t generation = 0;
    std::string needle; // folded
    std::shared_ptr<const FindSnapshot> snapshot;
    std::vector<std::size_t> matches;
    int ordinal = 0; // from 1; 0 without matches
    int count() const { return static_cast<int>(matches.size()); }
};

// A match a jump goes to: the item, its ordinal, and the items above it up to
// a top-level item, the top-level one first.
struct FindTarget {
    std::int32_t item = 0;
    int ordinal = 0;
    std::vector<std::int32_t> ancestors;
};

// The search, off the window's thread: a reader thread keeps a snapshot of
// the tree per version of the file, read on a read-only connection of its
// own, and scans it for each search; answers come back to the window's
// thread, and only the answer to the latest search is delivered. The window
// never waits for the reader.
class FindIndex : public QObject {
public:
    explicit FindIndex(QObject *parent = nullptr);
    ~FindIndex() override;
    FindIndex(const FindIndex &) = delete;
    FindIndex &operator=(const FindIndex &) = delete;

    // Whether the ordinal names the match after the highlighted item (what
    // Enter would reach) or the highlighted item itself when it matches.
    enum class Ordinal { Next, Highlighted };

    // Asks for the items of the store at path whose text contains text,
    // ordered from highlighted (an item key; 0 or an item the tree does not
    // reach: from the root). Returns at once; the answer goes to the
    // observer on this thread. A snapshot older than the file is read again
    // first, on the reader.
    void search(const std::string &path, const QString &text, std::int32_t highlighted, Ordinal ordinal);
    // The same on the store the window has open.
    void search(const QString &text, std::int32_t highlighted, Ordinal ordinal);
    void onResult(std::function<void(const FindResult &)> observer) { m_observer = std::move(observer); }
    // Has the reader read the tree again, if the file changed, and answer
    // nothing: after the window's own write, so the next keystroke need not
    // wait for the reading. A search waiting already does it.
    void refresh();

    // Around an action of the window that writes neither texts nor links (a
    // click, an opening or closing, a step): when no other connection
    // committed between the two calls, the tree as read before the action is
    // the tree after it, and is not read again. Costs nothing before the
    // first search.
    struct OwnWrite {
        const store::Connection *connection = nullptr;
        std::optional<std::int64_t> outside; // the connection's data version
        std::optional<store::FileVersion> file;
    };
    OwnWrite ownWriteBegins() const;
    // True when the tree read before still holds; else, after a step
    // (readAgain), the reading starts at once.
    bool ownWriteEnded(const OwnWrite &begun, bool readAgain);
    // How many times the reader has read the tree: for tests.
    int readings() const { return m_readings.load(); }

    // The latest answer, and whether it answers the latest search.
    const FindResult &latest() const { return m_latest; }
    bool current() const { return m_latest.generation == m_asked; }
    // Whether the latest answer is for text, though the file may have changed
    // since: a jump need not wait for a newer reading.
    bool answers(const QString &text) const { return m_latest.snapshot && m_latest.needle == FoldForFind(text); }

    // The match after (or before) highlighted in the latest answer, wrapping;
    // nullopt without matches.
    std::optional<FindTarget> step(std::int32_t highlighted, bool forward) const;

    // Lets events run until the answer to the latest search is in, for at most
    // ms: for tests, benchmarks and the fuzzer. True when it came.
    bool settle(int ms);

private:
    struct Request {
        std::uint64_t generation = 0;
        std::string path;
        std::string needle; // folded
        std::int32_t highlighted = 0;
        Ordinal ordinal = Ordinal::Next;
    };
    void run();
    void deliver(FindResult result);

    std::function<void(const FindResult &)> m_observer;
    FindResult m_latest;
    std::uint64_t m_asked = 0;

    // Shared with the reader: the one search waiting (a newer one replaces it).
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Request> m_pending;
    // Versions of the file between which only the window's own writes of
    // neither texts nor links came: the tree of the first is the tree of the second.
    struct SameTree {
        bool known = false;
        store::FileVersion from, to; // each version between is one of those writes'
        bool holds(const store::FileVersion &v) const
        {
            return known && v.device == from.device && v.inode == from.inode && from.changes <= v.changes
                && v.changes <= to.changes;
        }
    };
    SameTree m_sameTree;
    std::atomic<int> m_readings = 0;
    bool m_stop = false;
    std::thread m_reader;
};

// Goes to item as a click would reach it: each closed one of ancestors is
// opened as the user opening it would (top-level rule included), the view is
// rebuilt once when any was, then the item's node is highlighted and
// clicked. Opens no transaction: the caller's user action holds it all.
// False when the item has no node even then (the file changed under the
// snapshot); nothing is clicked then.
bool GoToItem(const FindTarget &target);

} // namespace modTree
