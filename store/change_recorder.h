#pragma once

#include "store/tree_cursor.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

struct sqlite3;

namespace store {

class Connection;

// What one connection writes to TbTree while a recorder is attached to it:
// for each record written, its fields before the first write (none for a
// record appended) and after the last, in the order the records were first
// written. One recorder per connection at a time; it lets go when it ends.
class ChangeRecorder {
public:
    struct Change {
        std::int64_t key = 0;
        std::optional<TreeCursor::Record> before; // nullopt: appended
        TreeCursor::Record after{};
    };

    // Attaches to the connection and records the fields given (the others
    // read Null); records nothing without a connection, or when the file's
    // TbTree columns cannot be read (complete() is false then).
    ChangeRecorder(Connection *connection, std::span<const Field> fields);
    ~ChangeRecorder();
    ChangeRecorder(const ChangeRecorder &) = delete;
    ChangeRecorder &operator=(const ChangeRecorder &) = delete;

    // Stops recording and reads each written record's fields as they are now,
    // its "after" (read once here, not at every write: a paste writes each
    // record several times). Before changes() is used.
    void finish();

    // False when a write cannot be played back from what was recorded: a
    // record deleted or given another key, or no recording at all.
    bool complete() const { return m_complete; }
    const std::deque<Change> &changes() const { return m_changes; }
    // How KeySel moved before the first write to a link field, in order:
    // each record whose mark was set (true) or cleared (false).
    const std::vector<std::pair<std::int64_t, bool>> &marksBeforeLinks() const { return m_marks; }

private:
    // SQLite's preupdate hook (its keys are sqlite3_int64, a long long).
    static void hook(void *self, sqlite3 *db, int op, const char *database, const char *table, long long oldKey,
                     long long newKey);
    void record(sqlite3 *db, int op, long long oldKey, long long newKey);
    std::optional<TreeCursor::Record> readRow(sqlite3 *db, bool newValues) const;

    Connection *m_connection = nullptr;
    // The field of each of the file's columns; nullopt for a column no field names.
    std::vector<std::optional<Field>> m_fieldOfColumn;
    std::deque<Change> m_changes; // grows without moving its records (a paste makes thousands)
    std::unordered_map<std::int64_t, std::size_t> m_indexOfKey; // into m_changes
    std::vector<std::pair<std::int64_t, bool>> m_marks;
    bool m_finished = false;
    bool m_linksWritten = false;
    bool m_complete = false;
};

} // namespace store
