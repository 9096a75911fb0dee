#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

struct sqlite3;

namespace testing_support {

class TestStore;

// One row change the program made: the record and the fields one statement
// wrote into it, each with the value as SQLite quotes it ("0", "1", "'abc'").
// An appended record shows as the single field "+".
struct Write {
    std::int64_t key;
    std::map<std::string, std::string> fields;

    friend bool operator==(const Write &, const Write &) = default;
    friend void PrintTo(const Write &w, std::ostream *os)
    {
        *os << "{" << w.key << ":";
        for (const auto &[f, v] : w.fields)
            *os << " " << f << "=" << v;
        *os << "}";
    }
};
using Writes = std::vector<Write>;

// The writes the tests expect most: one field set to a number, a record's
// links and mark cleared, a record appended.
Write one(std::int64_t key, const char *field, std::int64_t value);
Write reset(std::int64_t key);
Write appended(std::int64_t key);

// Records every row change the program makes to TbTree, through TEMP
// triggers on the program's own connection (a store runs no triggers of its
// own), into a table of the scratch store: so a test can say exactly which
// records and fields an action wrote, in order, and that it wrote nothing
// else. A field written with the value it already had still counts: that is
// a write too.

class WriteLog {
public:
    explicit WriteLog(TestStore &store);
    // Adds the log's tables to the store's file.
    void install();
    bool installed() const { return m_installed; }
    // Starts logging what connection db writes (the program's, once open).
    void attach(sqlite3 *db);
    Writes read();
    void clear();

private:
    TestStore &m_store;
    bool m_installed = false;
};

} // namespace testing_support
