#pragma once

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace testing_support {

// One item of a tree to write: listed children of a parent come in the order
// they are listed. Links are worked out from the list.
struct Item {
    std::int32_t key;
    std::int32_t parent;
    bool expand = false;
    std::optional<std::string> text = std::nullopt;
    bool selected = false;
};

// A scratch folder with a store in it, written straight through SQLite the
// way any other tool could, so the program is tested on files it did not make.
class TestStore {
public:
    TestStore();
    ~TestStore();
    TestStore(const TestStore &) = delete;
    TestStore &operator=(const TestStore &) = delete;

    // The folder (holds dbPro.mdb) and the file.
    std::string directory() const;
    std::string path() const;
    QString qDirectory() const;

    // Writes the schema, record 0 and the given items (include the root,
    // key 1, parent 0). Commands go to tbCmd.
    void create(const std::vector<Item> &items,
                const std::vector<std::pair<std::string, std::string>> &commands = {});
    // Schema only, no records.
    void createEmpty();
    // Any SQL, for shaping a file by hand (gaps, Null links, broken chains).
    void exec(const std::string &sql);
    // Leaves the store as a program killed in the middle of committing sql
    // leaves it: the change in the file, and beside it the journal of what
    // was there before (which the next writer rolls back).
    void crashWhileCommitting(const std::string &sql);
    // One field of one record, as text ("NULL" for Null); "<none>" without record.
    std::string field(std::int32_t key, const std::string &name);
    std::int64_t count(const std::string &sql);

    // Every row of both tables, for "nothing was written" checks.
    std::vector<std::string> dump();
    // The file's bytes.
    std::string bytes() const;

private:
    sqlite3 *db();
    void closeDb();

    QTemporaryDir m_dir;
    sqlite3 *m_db = nullptr;
};

// A fresh scratch store per test; the program-wide cursors are closed after
// each test so no test sees another's store.
class StoreTest : public ::testing::Test {
protected:
    void TearDown() override;
    TestStore ts;
};

// Links worked out for a list of items, as (key, par, chi, prw, nxt).
struct Links {
    std::int32_t key, par, chi, prw, nxt;
};
std::vector<Links> linksOf(const std::vector<Item> &items);

} // namespace testing_support
