#include "store/command_cursor.h"
#include "store/child_chain.h"
#include "store/connection.h"
#include "store/create.h"
#include "store/mod_base.h"
#include "store/tree_cursor.h"
#include "tests/support/faulty_disk.h"
#include "tests/support/test_store.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

using store::Connection;
using store::Field;
using store::Null;
using store::TransactionScope;
using store::TreeCursor;
using store::Value;
using testing_support::TestStore;

const Value kNull{Null{}};
Value num(std::int64_t n) { return Value(n); }
Value str(const char *s) { return Value(std::string(s)); }

// Keys 0, 1, 2, 5, 9: 2 and 5 under the root, 9 under 2.
void createWithGaps(TestStore &ts)
{
    ts.create({{1, 0}, {2, 1, false, "two"}, {5, 1, false, "five"}, {9, 2, false, "nine"}});
}

void openOn(TestStore &ts, std::shared_ptr<Connection> &cn, TreeCursor &cur)
{
    const std::string &error = store::lastError();
    cn = Connection::open(ts.path());
    ASSERT_TRUE(cn) << error;
    ASSERT_TRUE(cur.open(cn)) << cur.lastError();
}

std::vector<std::string> filesIn(const std::string &directory)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    return names;
}

void expectNoCurrentRecord(const TreeCursor &cur)
{
    EXPECT_TRUE(cur.atEnd());
    for (Field f : {Field::KeyInd, Field::KeyPar, Field::KeyTxt, Field::KeySel}) {
        EXPECT_FALSE(cur.field(f));
        EXPECT_FALSE(cur.key(f));
        EXPECT_FALSE(cur.flag(f));
        EXPECT_FALSE(cur.text(f));
    }
}

void expectTreeRefusesEverything(TreeCursor &cur)
{
    EXPECT_FALSE(cur.isOpen());
    EXPECT_FALSE(cur.positionOn(1));
    EXPECT_FALSE(cur.seek({num(1)}));
    EXPECT_FALSE(cur.moveFirst());
    EXPECT_FALSE(cur.moveLast());
    EXPECT_FALSE(cur.requery());
    EXPECT_FALSE(cur.setIndex("ParNxt"));
    EXPECT_FALSE(cur.update(Field::KeyTxt, str("x")));
    EXPECT_FALSE(cur.addNew(50));
    expectNoCurrentRecord(cur);
}

void expectCommandsRefuseEverything(store::CommandCursor &cmd)
{
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_FALSE(cmd.recordCount());
    EXPECT_FALSE(cmd.moveFirst());
    EXPECT_FALSE(cmd.moveNext());
    EXPECT_TRUE(cmd.atEnd());
    EXPECT_FALSE(cmd.field(store::CommandCursor::Field::CmdPict));
}

// ---------------------------------------------------------------- OpenBase

using OpenBaseTest = testing_support::StoreTest;

TEST_F(OpenBaseTest, GoodStoreOpensWithoutWritingAndAFailedReopenClosesIt)
{
    ts.create({{1, 0}, {2, 1}}, {{"a.bmp", "A"}, {"b.bmp", "B"}});
    const std::string before = ts.bytes();

    const auto report = modBase::OpenBase(ts.directory());
    EXPECT_TRUE(report.ok()) << report.message();
    EXPECT_EQ(report.path, ts.path());
    EXPECT_TRUE(report.warning.empty()) << report.warning;
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd");
    EXPECT_TRUE(modBase::rsTree.positionOn(2));
    EXPECT_EQ(modBase::rsCmd.recordCount(), 2);
    EXPECT_EQ(ts.bytes(), before);

    // Cursors left open on the old store would let edits land in the wrong file.
    TestStore elsewhere; // no file in it
    EXPECT_FALSE(modBase::OpenBase(elsewhere.directory()).ok());
    expectTreeRefusesEverything(modBase::rsTree);
    expectCommandsRefuseEverything(modBase::rsCmd);
}

struct BrokenStore {
    const char *name;
    std::function<void(TestStore &)> make;
    bool treeOpens;
    bool cmdOpens;
    std::vector<const char *> reasons; // words the report must hold
};

void PrintTo(const BrokenStore &c, std::ostream *os) { *os << c.name; }

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

const BrokenStore kBrokenStores[] = {
    {"NoFile", [](TestStore &) {}, false, false, {}},
    {"NotADatabase",
     [](TestStore &ts) { writeFile(ts.path(), std::string(3000, 'x') + "\nthis is a note, not a store\n"); },
     false, false, {"not a database"}},
    {"EmptyFile", [](TestStore &ts) { writeFile(ts.path(), ""); }, false, false, {"TbTree", "tbCmd"}},
    {"NoTbTree",
     [](TestStore &ts) {
         ts.exec("CREATE TABLE tbCmd (CmdPict TEXT, CmdAbout TEXT); INSERT INTO tbCmd VALUES ('a', 'A');");
     },
     false, true, {"TbTree"}},
    {"NoTbCmd",
     [](TestStore &ts) {
         ts.exec(std::string(store::kSchemaSql) + "DROP TABLE tbCmd; INSERT INTO TbTree (KeyInd) VALUES (0), (1);");
     },
     true, false, {"tbCmd"}},
    {"TbTreeLacksAField",
     [](TestStore &ts) {
         ts.exec("CREATE TABLE TbTree (KeyInd INTEGER PRIMARY KEY, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, "
                 "Expand, KeyRef); CREATE TABLE tbCmd (CmdPict TEXT, CmdAbout TEXT); "
                 "INSERT INTO tbCmd VALUES ('a', 'A');");
     },
     false, true, {"TbTree", "RefCut"}},
    {"StoreIsAFolder", [](TestStore &ts) { std::filesystem::create_directory(ts.path()); }, false, false, {}},
};

class OpenBaseBroken : public OpenBaseTest, public ::testing::WithParamInterface<BrokenStore> {};

TEST_P(OpenBaseBroken, ReportNamesFileAndReasonAndLeavesStoreUntouched)
{
    const BrokenStore &c = GetParam();
    c.make(ts);
    const bool isFile = std::filesystem::is_regular_file(ts.path());
    const std::string before = isFile ? ts.bytes() : std::string();
    const auto filesBefore = filesIn(ts.directory());

    const auto report = modBase::OpenBase(ts.directory());
    const std::string message = report.message();
    ASSERT_FALSE(report.ok());
    for (const auto &problem : report.problems)
        EXPECT_FALSE(problem.empty());
    EXPECT_NE(message.find(ts.path()), std::string::npos) << message;
    for (const char *reason : c.reasons)
        EXPECT_NE(message.find(reason), std::string::npos) << "missing '" << reason << "' in: " << message;

    if (isFile) {
        EXPECT_EQ(ts.bytes(), before);
    }
    EXPECT_EQ(filesIn(ts.directory()), filesBefore); // nothing created, no journal left

    if (c.treeOpens) {
        EXPECT_TRUE(modBase::rsTree.positionOn(1));
    } else {
        expectTreeRefusesEverything(modBase::rsTree);
    }
    if (c.cmdOpens) {
        EXPECT_EQ(modBase::rsCmd.recordCount(), 1);
        EXPECT_EQ(modBase::rsCmd.field(store::CommandCursor::Field::CmdPict), str("a"));
    } else {
        expectCommandsRefuseEverything(modBase::rsCmd);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, OpenBaseBroken, ::testing::ValuesIn(kBrokenStores),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- TreeCursor

// A program killed in the middle of a change leaves the journal beside the
// store. A reader rolls it back as a writer would, and reads the store as it
// was before the change; where the journal cannot be undone it says what to
// do instead of failing with SQLite's words.
TEST(ConnectionTest, AJournalACrashLeftIsRolledBackBeforeAnyoneReads)
{
    for (const bool folderRefuses : {false, true}) {
        SCOPED_TRACE(folderRefuses ? "the journal cannot be undone" : "the folder can be written");
        TestStore crashed;
        crashed.create({{1, 0}, {2, 1, false, "before"}});
        crashed.crashWhileCommitting("UPDATE TbTree SET KeyTxt = 'after' WHERE KeyInd = 2");
        testing_support::FaultyDisk disk;
        if (folderRefuses)
            disk.set(testing_support::FaultyDisk::Fault::NoJournal);
        const std::string &error = store::lastError();
        const auto reader = Connection::open(crashed.path(), Connection::Access::ReadOnly);
        EXPECT_EQ(reader == nullptr, folderRefuses);
        if (folderRefuses) {
            EXPECT_NE(error.find("needs recovery"), std::string::npos) << error;
            EXPECT_TRUE(std::filesystem::exists(crashed.path() + "-journal")) << "the journal is kept";
            continue;
        }
        EXPECT_FALSE(std::filesystem::exists(crashed.path() + "-journal"));
        TreeCursor cursor;
        ASSERT_TRUE(cursor.open(reader));
        ASSERT_TRUE(cursor.positionOn(2));
        EXPECT_EQ(cursor.text(Field::KeyTxt), std::optional<std::string>("before"));
    }
}

// A reading connection does only so much work for the file's size: a
// statement that would run for ever is interrupted. The program's own
// connection has no such limit.
TEST(ConnectionTest, AReaderStopsAStatementThatWouldNeverEnd)
{
    TestStore ts;
    ts.create({{1, 0}});
    const char *endless = "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT count(*) FROM n";
    const auto reader = Connection::open(ts.path(), Connection::Access::ReadOnly);
    ASSERT_TRUE(reader);
    EXPECT_EQ(sqlite3_exec(reader->handle(), endless, nullptr, nullptr, nullptr), SQLITE_INTERRUPT);
    const auto writer = Connection::open(ts.path());
    ASSERT_TRUE(writer);
    EXPECT_EQ(sqlite3_exec(writer->handle(), "SELECT count(*) FROM (WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL "
                                             "SELECT x + 1 FROM n LIMIT 3000000) SELECT x FROM n)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
}

class TreeCursorTest : public ::testing::Test {
protected:
    void openCursor() { openOn(ts, cn, cur); }
    TestStore ts;
    std::shared_ptr<Connection> cn;
    TreeCursor cur;
};

TEST_F(TreeCursorTest, PositionOnReachesRecordByKeyAcrossGapsWhateverTheIndex)
{
    createWithGaps(ts);
    openCursor();
    for (const char *index : {"KeyInd", "KeySel", "ParNxt"}) {
        SCOPED_TRACE(index);
        ASSERT_TRUE(cur.setIndex(index));
        for (std::int32_t k : {9, 0, 5, 1, 2}) {
            ASSERT_TRUE(cur.positionOn(k)) << k;
            EXPECT_EQ(cur.key(Field::KeyInd), k);
        }
        ASSERT_TRUE(cur.positionOn(5));
        EXPECT_EQ(cur.text(Field::KeyTxt), "five");
        EXPECT_EQ(cur.key(Field::KeyPrw), 2);
    }
    ASSERT_TRUE(cur.setIndex("KeyInd"));
    EXPECT_TRUE(cur.seek({num(9)}));
    EXPECT_EQ(cur.text(Field::KeyTxt), "nine");
}

TEST_F(TreeCursorTest, KeyReadsFailForValuesThatAreNoKey)
{
    createWithGaps(ts);
    openCursor();
    const struct {
        const char *stored;
        std::optional<std::int32_t> key;
    } cases[] = {
        {"NULL", std::nullopt},     {"2147483647", 2147483647},  {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt}, {"-2147483649", std::nullopt}, {"1e10", std::nullopt},
        {"2.5", std::nullopt},      {"4.0", 4},                  {"'abc'", std::nullopt},
        {"'12abc'", std::nullopt},  {"''", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored);
        ts.exec(std::string("UPDATE TbTree SET KeyPar = ") + c.stored + " WHERE KeyInd = 5");
        ASSERT_TRUE(cur.positionOn(5));
        EXPECT_EQ(cur.key(Field::KeyPar), c.key);
        EXPECT_EQ(cur.key(Field::KeyInd), 5);
    }
}

TEST_F(TreeCursorTest, KeySelTrueFindsSmallestKeyAmongAnyNonZero)
{
    ts.create({{1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}});
    openCursor();
    ASSERT_TRUE(cur.setIndex("KeySel"));
    const struct {
        const char *stored; // SET clause, KeySel 0 elsewhere
        std::optional<std::int32_t> found;
    } cases[] = {
        {"KeySel = 1 WHERE KeyInd IN (7, 3)", 3},
        {"KeySel = 2 WHERE KeyInd = 4; UPDATE TbTree SET KeySel = -1 WHERE KeyInd = 6", 4},
        {"KeySel = -1 WHERE KeyInd = 2; UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 5", 2},
        {"KeySel = 2 WHERE KeyInd = 8", 8},
        {"KeySel = -1 WHERE KeyInd = 9", 9},
        {"KeySel = 0", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored);
        ts.exec(std::string("UPDATE TbTree SET KeySel = 0; UPDATE TbTree SET ") + c.stored);
        ASSERT_TRUE(cur.positionOn(1));
        EXPECT_EQ(cur.seek({Value(true)}), c.found.has_value());
        EXPECT_EQ(cur.key(Field::KeyInd), c.found);
    }
}

TEST_F(TreeCursorTest, FlagReadAndKeySelSeekAgreeOnWhatIsTrue)
{
    ts.create({{1, 0}, {2, 1}, {3, 1}});
    openCursor();
    ASSERT_TRUE(cur.setIndex("KeySel"));
    for (const char *stored : {"0", "1", "2", "-1", "0.5", "-0.5", "'abc'"}) {
        SCOPED_TRACE(stored);
        ts.exec(std::string("UPDATE TbTree SET KeySel = ") + stored + ", Expand = " + stored + " WHERE KeyInd = 3");
        ASSERT_TRUE(cur.positionOn(3));
        const auto flag = cur.flag(Field::KeySel);
        ASSERT_TRUE(flag);
        EXPECT_EQ(*flag, std::string(stored) != "0");
        EXPECT_EQ(cur.flag(Field::Expand), flag);
        EXPECT_EQ(cur.seek({Value(true)}), *flag);
    }
}

TEST_F(TreeCursorTest, SeekOnParNxtMatchesNullOnlyToNullAndFindsSmallestKey)
{
    // Root 1: children 2, 3, 4; 3: children 5, 6. Free records 7 and 8 were
    // written in the opposite order; 10 and 11 are half free.
    ts.create({{1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 3}, {6, 3}});
    ts.exec("INSERT INTO TbTree (KeyInd, KeyPar, KeyNxt) VALUES (8, NULL, NULL), (7, NULL, NULL), (10, NULL, 0), "
            "(11, 0, NULL)");
    openCursor();
    ASSERT_TRUE(cur.setIndex("ParNxt"));
    const struct {
        Value par, nxt;
        std::optional<std::int32_t> found;
    } cases[] = {
        {num(1), num(0), 4},  {num(3), num(0), 6},          {num(1), num(3), 2},
        {kNull, kNull, 7},    {kNull, num(0), 10},          {num(0), kNull, 11},
        {num(0), num(0), 0},  {num(2), num(0), std::nullopt}, {kNull, num(5), std::nullopt},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto &c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        ASSERT_TRUE(cur.positionOn(1));
        EXPECT_EQ(cur.seek({c.par, c.nxt}), c.found.has_value());
        EXPECT_EQ(cur.key(Field::KeyInd), c.found);
        if (!c.found)
            expectNoCurrentRecord(cur);
    }
}

TEST_F(TreeCursorTest, SeekWithValuesTheIndexCannotTakeFails)
{
    createWithGaps(ts);
    ts.exec("UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 5");
    openCursor();
    const struct {
        const char *index;
        std::vector<Value> values;
    } cases[] = {
        {"KeyInd", {}}, {"KeyInd", {num(1), num(0)}}, {"KeySel", {}}, {"KeySel", {Value(true), Value(true)}},
        {"ParNxt", {}}, {"ParNxt", {num(1)}},        {"ParNxt", {num(0), num(0), num(0)}},
        // "KeySel" is sought for True alone, never for what merely equals it.
        {"KeySel", {Value(false)}}, {"KeySel", {num(1)}}, {"KeySel", {kNull}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.index) + " with " + std::to_string(c.values.size()));
        ASSERT_TRUE(cur.setIndex(c.index));
        ASSERT_TRUE(cur.positionOn(2));
        EXPECT_FALSE(cur.seek(std::span<const Value>(c.values)));
        // A caller that skips the failed step must not write into record 2.
        expectNoCurrentRecord(cur);
    }
}

TEST_F(TreeCursorTest, SetIndexRefusesUnknownNamesAndKeepsIndexAndRecord)
{
    createWithGaps(ts);
    openCursor();
    EXPECT_EQ(cur.index(), "KeyInd");
    ASSERT_TRUE(cur.positionOn(5));
    ASSERT_TRUE(cur.setIndex("ParNxt"));
    EXPECT_EQ(cur.index(), "ParNxt");
    EXPECT_EQ(cur.key(Field::KeyInd), 5);
    for (const char *bad : {"", "Nope", "KeyPar", "ParNxt "}) {
        EXPECT_FALSE(cur.setIndex(bad)) << bad;
        EXPECT_EQ(cur.index(), "ParNxt");
    }
    ASSERT_TRUE(cur.setIndex("KeySel"));
    EXPECT_EQ(cur.index(), "KeySel");
    EXPECT_EQ(cur.key(Field::KeyInd), 5);
}

TEST_F(TreeCursorTest, WrittenValuesReachFileAtOnceAndReadBackAsStored)
{
    createWithGaps(ts);
    openCursor();
    const struct {
        Field field;
        Value written;
        const char *inFile;
        Value readBack;
    } cases[] = {
        {Field::KeyTxt, str("hello"), "'hello'", str("hello")},
        {Field::KeyTxt, str("it's \xe2\x9c\x93"), "'it''s \xe2\x9c\x93'", str("it's \xe2\x9c\x93")},
        {Field::KeyTxt, str(""), "''", str("")},
        {Field::KeyTxt, kNull, "NULL", kNull},
        {Field::KeyTxt, num(42), "'42'", str("42")},
        {Field::KeyPar, str("7"), "7", num(7)},
        {Field::KeyPar, Value(3.0), "3", num(3)},
        {Field::KeyRef, num(5000000000), "5000000000", num(5000000000)},
        {Field::KeySel, Value(true), "1", num(1)},
        {Field::Expand, Value(false), "0", num(0)},
        {Field::RefCut, Value(true), "1", num(1)},
    };
    for (const auto &c : cases) {
        const std::string name(store::fieldName(c.field));
        SCOPED_TRACE(name + " <- " + c.inFile);
        ASSERT_TRUE(cur.positionOn(5));
        ASSERT_TRUE(cur.update(c.field, c.written)) << cur.lastError();
        EXPECT_EQ(ts.field(5, name), c.inFile);
        EXPECT_EQ(cur.field(c.field), c.readBack);
        EXPECT_EQ(cur.text(c.field).has_value(), !store::isNull(c.readBack));
    }
    EXPECT_EQ(ts.field(9, "KeyTxt"), "'nine'"); // other records untouched
}

TEST_F(TreeCursorTest, UpdateOfSeveralFieldsIsOneStatement)
{
    createWithGaps(ts);
    ts.exec("CREATE TABLE UpdateLog (k INTEGER)");
    openCursor();
    ASSERT_EQ(sqlite3_exec(cn->handle(), "CREATE TEMP TRIGGER LogUpdates AFTER UPDATE ON main.TbTree BEGIN "
                                         "INSERT INTO UpdateLog VALUES (NEW.KeyInd); END;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_TRUE(cur.positionOn(9));
    ASSERT_TRUE(cur.update({{Field::KeyPar, num(5)}, {Field::KeyNxt, num(2)}, {Field::KeyTxt, str("moved")}}))
        << cur.lastError();
    EXPECT_EQ(ts.count("SELECT count(*) FROM UpdateLog"), 1);
    EXPECT_EQ(ts.field(9, "KeyPar"), "5");
    EXPECT_EQ(ts.field(9, "KeyNxt"), "2");
    EXPECT_EQ(ts.field(9, "KeyTxt"), "'moved'");
    EXPECT_EQ(cur.key(Field::KeyPar), 5);
    EXPECT_EQ(cur.text(Field::KeyTxt), "moved");
}

TEST_F(TreeCursorTest, RefusedUpdatesWriteNothing)
{
    createWithGaps(ts);
    openCursor();
    const auto before = ts.dump();
    using Values = std::vector<std::pair<Field, Value>>;
    const Values cases[] = {
        {{Field::KeyInd, num(50)}},
        {{Field::KeyTxt, str("x")}, {Field::KeyInd, num(50)}},
        // KeySel is NOT NULL: the file refuses the last value, so none may land.
        {{Field::KeyTxt, str("changed")}, {Field::KeyPar, num(7)}, {Field::KeySel, kNull}},
    };
    for (const auto &values : cases) {
        SCOPED_TRACE(values.size());
        ASSERT_TRUE(cur.positionOn(5));
        EXPECT_FALSE(cur.update(std::span<const std::pair<Field, Value>>(values)));
        EXPECT_FALSE(cur.lastError().empty());
        EXPECT_EQ(ts.dump(), before);
    }
}

// Every way of losing the current record: reads then fail and updates are
// refused, so a caller that skips the failure cannot write into record 5.
TEST(TreeCursorNoRecord, ReadsFailAndUpdatesWriteNothing)
{
    using Lose = std::function<void(TreeCursor &, TestStore &)>;
    const struct {
        const char *name;
        Lose lose;
        bool fromRecord5 = true;
        bool stale = false; // the record was read, then deleted by someone else
    } cases[] = {
        {"fresh cursor", [](TreeCursor &, TestStore &) {}, false},
        {"position on gap", [](TreeCursor &c, TestStore &) { c.positionOn(3); }},
        {"position below keys", [](TreeCursor &c, TestStore &) { c.positionOn(-1); }},
        {"position past keys",
         [](TreeCursor &c, TestStore &) { c.positionOn(std::numeric_limits<std::int32_t>::max()); }},
        {"seek KeyInd gap", [](TreeCursor &c, TestStore &) { c.seek({num(3)}); }},
        {"seek KeyInd Null", [](TreeCursor &c, TestStore &) { c.seek({kNull}); }},
        {"seek KeySel none",
         [](TreeCursor &c, TestStore &) {
             c.setIndex("KeySel");
             c.seek({Value(true)});
         }},
        {"seek ParNxt none",
         [](TreeCursor &c, TestStore &) {
             c.setIndex("ParNxt");
             c.seek({num(2), num(5)});
         }},
        {"deleted elsewhere", [](TreeCursor &, TestStore &ts) { ts.exec("DELETE FROM TbTree WHERE KeyInd = 5"); },
         true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestStore ts;
        createWithGaps(ts);
        std::shared_ptr<Connection> cn;
        TreeCursor cur;
        openOn(ts, cn, cur);
        if (c.fromRecord5) {
            ASSERT_TRUE(cur.positionOn(5));
        }
        c.lose(cur, ts);
        if (!c.stale)
            expectNoCurrentRecord(cur);
        const auto before = ts.dump();
        EXPECT_FALSE(cur.update(Field::KeyTxt, str("lost")));
        EXPECT_FALSE(cur.update({{Field::KeyPar, num(1)}, {Field::KeyTxt, str("lost")}}));
        EXPECT_EQ(ts.dump(), before);
    }
}

TEST_F(TreeCursorTest, AddNewAppendsRecordWithDefaultsThatBecomesCurrent)
{
    createWithGaps(ts);
    openCursor();
    for (std::int32_t k : {3, 12}) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(cur.positionOn(5));
        ASSERT_TRUE(cur.addNew(k)) << cur.lastError();
        EXPECT_EQ(cur.key(Field::KeyInd), k);
        for (Field f : {Field::KeyPar, Field::KeyChi, Field::KeyPrw, Field::KeyNxt, Field::KeyRef}) {
            EXPECT_EQ(cur.key(f), 0) << store::fieldName(f);
            EXPECT_EQ(ts.field(k, std::string(store::fieldName(f))), "0");
        }
        for (Field f : {Field::KeySel, Field::Expand, Field::RefCut}) {
            EXPECT_EQ(cur.flag(f), false) << store::fieldName(f);
            EXPECT_EQ(ts.field(k, std::string(store::fieldName(f))), "0");
        }
        EXPECT_EQ(cur.field(Field::KeyTxt), kNull);
        EXPECT_EQ(ts.field(k, "KeyTxt"), "NULL");
    }
    EXPECT_EQ(ts.count("SELECT count(*) FROM TbTree"), 7);
    const auto before = ts.dump();
    for (std::int32_t k : {0, 1, 5, 12})
        EXPECT_FALSE(cur.addNew(k)) << k;
    EXPECT_EQ(ts.dump(), before);
}

TEST_F(TreeCursorTest, MoveLastGivesLargestKeyAndRequeryReadsOtherWriters)
{
    createWithGaps(ts);
    openCursor();
    ASSERT_TRUE(cur.moveLast());
    EXPECT_EQ(cur.key(Field::KeyInd), 9);
    ASSERT_TRUE(cur.moveFirst());
    EXPECT_EQ(cur.key(Field::KeyInd), 0);
    EXPECT_FALSE(cur.text(Field::KeyTxt));

    ts.exec("INSERT INTO TbTree (KeyInd, KeyTxt) VALUES (20, 'added elsewhere'); "
            "UPDATE TbTree SET KeyTxt = 'changed elsewhere' WHERE KeyInd = 0");
    ASSERT_TRUE(cur.requery());
    EXPECT_EQ(cur.key(Field::KeyInd), 0);
    EXPECT_EQ(cur.text(Field::KeyTxt), "changed elsewhere");
    ASSERT_TRUE(cur.moveLast());
    EXPECT_EQ(cur.key(Field::KeyInd), 20);
    EXPECT_EQ(cur.text(Field::KeyTxt), "added elsewhere");
}

// ---------------------------------------------------------------- TransactionScope

TEST_F(TreeCursorTest, WriteScopeReachesFileOnlyWhenItEnds)
{
    createWithGaps(ts);
    openCursor();
    {
        TransactionScope scope(cn.get(), TransactionScope::Kind::Write);
        ASSERT_TRUE(cur.positionOn(5));
        ASSERT_TRUE(cur.update(Field::KeyTxt, str("inside")));
        ASSERT_TRUE(cur.addNew(30));
        EXPECT_EQ(cur.key(Field::KeyInd), 30);
        EXPECT_EQ(ts.field(5, "KeyTxt"), "'five'");
        EXPECT_EQ(ts.field(30, "KeyInd"), "<none>");
    }
    EXPECT_EQ(ts.field(5, "KeyTxt"), "'inside'");
    EXPECT_EQ(ts.field(30, "KeyInd"), "30");
}

// A parent's children in chain order, read ahead in one pass, and where a
// broken file ends the chain.
struct ChainCase {
    const char *name;
    const char *sql; // run on root 1: 2, 3, 4, 5 (5 holds 6)
    bool strict;
    std::vector<std::int32_t> children;
    bool broken;
    friend void PrintTo(const ChainCase &c, std::ostream *os) { *os << c.name; }
};

class ChildChainReads : public TreeCursorTest,
                        public ::testing::WithParamInterface<std::tuple<ChainCase, store::ChildChain::Read>> {};

TEST_P(ChildChainReads, TheChainInOrderUpToWhereItBreaks)
{
    const auto &[c, read] = GetParam();
    ts.create({{1, 0}, {2, 1, false, "two"}, {3, 1}, {4, 1}, {5, 1}, {6, 5}});
    ts.exec(c.sql);
    openCursor();
    store::ChildChain chain(cur, 1, 2, read, c.strict);
    std::vector<std::int32_t> children;
    while (const auto child = chain.next()) {
        children.push_back(*child);
        if (read == store::ChildChain::Read::Records) {
            ASSERT_EQ(cur.key(Field::KeyInd), *child) << "the child is current";
            const auto record = std::vector<std::optional<Value>>{cur.field(Field::KeyPar), cur.field(Field::KeyNxt),
                                                                  cur.field(Field::KeyTxt)};
            ASSERT_TRUE(cur.positionOn(*child));
            EXPECT_EQ(record, (std::vector<std::optional<Value>>{cur.field(Field::KeyPar), cur.field(Field::KeyNxt),
                                                                 cur.field(Field::KeyTxt)}))
                << "as positionOn reads it";
        }
    }
    EXPECT_EQ(children, c.children);
    EXPECT_EQ(chain.broken(), c.broken);
    EXPECT_FALSE(chain.next()) << "an ended chain stays ended";
}

INSTANTIATE_TEST_SUITE_P(
    Chains, ChildChainReads,
    ::testing::Combine(
        ::testing::Values(ChainCase{"Whole", "", false, {2, 3, 4, 5}, false},
                          ChainCase{"NullLink", "UPDATE TbTree SET KeyNxt = NULL WHERE KeyInd = 3", false, {2, 3}, true},
                          ChainCase{"TextLink", "UPDATE TbTree SET KeyNxt = 'x' WHERE KeyInd = 3", false, {2, 3}, true},
                          ChainCase{"NoSuchRecord", "UPDATE TbTree SET KeyNxt = 77 WHERE KeyInd = 3", false, {2, 3}, true},
                          ChainCase{"BackOnItself", "UPDATE TbTree SET KeyNxt = 2 WHERE KeyInd = 4", false, {2, 3, 4}, true},
                          ChainCase{"OtherParentFollowed", "UPDATE TbTree SET KeyNxt = 6 WHERE KeyInd = 3", false, {2, 3, 6}, false},
                          ChainCase{"OtherParentStopsStrict", "UPDATE TbTree SET KeyNxt = 6 WHERE KeyInd = 3", true, {2, 3}, true}),
        ::testing::Values(store::ChildChain::Read::Links, store::ChildChain::Read::Records)),
    [](const auto &info) {
        return std::string(std::get<0>(info.param).name)
            + (std::get<1>(info.param) == store::ChildChain::Read::Links ? "Links" : "Records");
    });

TEST_F(TreeCursorTest, ChildChainReadsAheadWithinItsLimitsAndSharesWhatAWalkReached)
{
    ts.create({{1, 0}});
    ts.exec("WITH RECURSIVE k(n) AS (SELECT 2 UNION ALL SELECT n + 1 FROM k WHERE n < 39) "
            "INSERT INTO TbTree (KeyInd, KeyPar, KeyPrw, KeyNxt) "
            "SELECT n, 1, CASE n WHEN 2 THEN 0 ELSE n - 1 END, CASE n WHEN 39 THEN 0 ELSE n + 1 END FROM k;"
            "UPDATE TbTree SET KeyChi = 2 WHERE KeyInd = 1");
    openCursor();
    std::vector<std::int64_t> loaded;
    cur.setLoadObserver([&](std::int64_t key) { loaded.push_back(key); });
    store::ChildChain::ReadAhead readAhead{10};
    store::KeySet reached;
    reached.insert(30); // shown already, elsewhere in the walk
    {
        store::ChildChain chain(cur, 1, 2, store::ChildChain::Read::Records, false, &reached, &readAhead);
        std::int32_t last = 0;
        while (const auto child = chain.next())
            last = *child;
        EXPECT_EQ(last, 29);
        EXPECT_EQ(chain.lastKey(), 29);
        EXPECT_EQ(readAhead.records, 0u) << "the batch took what the walk allowed";
        EXPECT_TRUE(reached.contains(12));
    }
    EXPECT_EQ(readAhead.records, 10u) << "and gave it back";
    // The first child by key, ten records in one pass over "ParNxt" (where the
    // last child, KeyNxt 0, comes first), the children the pass lacked by key.
    EXPECT_LE(loaded.size(), 30u) << "a child the pass held was read again";
}

TEST_F(TreeCursorTest, UpdateEachWritesTheListedRecordsOnlyAndKeepsTheCurrentOneTrue)
{
    createWithGaps(ts);
    openCursor();
    ASSERT_TRUE(cur.positionOn(5));
    const std::int32_t keys[] = {5, 9, 77};
    ASSERT_TRUE(cur.updateEach(keys, Field::Expand, true));
    EXPECT_EQ(ts.count("SELECT count(*) FROM TbTree WHERE Expand <> 0"), 2);
    EXPECT_EQ(ts.field(9, "Expand"), "1");
    EXPECT_EQ(ts.field(2, "Expand"), "0");
    EXPECT_EQ(cur.key(Field::KeyInd), 5);
    EXPECT_EQ(cur.flag(Field::Expand), true) << "the current record was not read again";
    EXPECT_FALSE(cur.updateEach(keys, Field::KeyInd, std::int64_t{3}));
    EXPECT_EQ(ts.field(9, "KeyInd"), "9");
}

// Another program reading the file keeps a write scope from committing: what
// it changed is rolled back and reported lost; a scope that changed nothing
// has nothing to lose.
TEST_F(TreeCursorTest, ARefusedCommitLosesOnlyWhatTheScopeChanged)
{
    createWithGaps(ts);
    openCursor();
    sqlite3_busy_timeout(cn->handle(), 10);
    sqlite3 *reader = nullptr;
    sqlite3_open_v2(ts.path().c_str(), &reader, SQLITE_OPEN_READONLY, nullptr);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM TbTree", nullptr, nullptr, nullptr), SQLITE_OK);
    {
        TransactionScope reading(cn.get(), TransactionScope::Kind::Write);
        ASSERT_TRUE(reading.active());
        ASSERT_TRUE(cur.positionOn(5));
        EXPECT_TRUE(reading.commit());
    }
    EXPECT_FALSE(cn->inTransaction());
    {
        TransactionScope writing(cn.get(), TransactionScope::Kind::Write);
        ASSERT_TRUE(cur.positionOn(5));
        ASSERT_TRUE(cur.update(Field::KeyTxt, str("lost")));
        EXPECT_FALSE(writing.commit());
        EXPECT_NE(cn->lastError(), "");
    }
    EXPECT_FALSE(cn->inTransaction());
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    EXPECT_EQ(ts.field(5, "KeyTxt"), "'five'");
}

// SQLite rolls a transaction back by itself on some errors of the file (a
// full disk, an I/O error). The rest of the action must not then reach the
// file statement by statement: the cursor refuses, and the scope reports the
// loss.
TEST_F(TreeCursorTest, AfterTheFileRolledTheScopeBackNothingMoreIsWritten)
{
    createWithGaps(ts);
    openCursor();
    {
        TransactionScope scope(cn.get(), TransactionScope::Kind::Write);
        ASSERT_TRUE(cur.positionOn(5));
        ASSERT_TRUE(cur.update(Field::KeyTxt, str("first half")));
        ASSERT_TRUE(cn->exec("ROLLBACK")); // what SQLite does on its own then
        EXPECT_TRUE(cn->transactionLost());
        ASSERT_TRUE(cur.positionOn(9));
        EXPECT_FALSE(cur.update(Field::KeyTxt, str("second half")));
        EXPECT_FALSE(cur.addNew(30));
        const std::int32_t keys[] = {2};
        EXPECT_FALSE(cur.updateEach(keys, Field::Expand, true));
        EXPECT_FALSE(scope.commit());
    }
    EXPECT_FALSE(cn->transactionLost());
    EXPECT_EQ(ts.field(5, "KeyTxt"), "'five'");
    EXPECT_EQ(ts.field(9, "KeyTxt"), "'nine'");
    EXPECT_EQ(ts.field(30, "KeyInd"), "<none>");
    EXPECT_EQ(ts.field(2, "Expand"), "0");
    ASSERT_TRUE(cur.positionOn(9));
    EXPECT_TRUE(cur.update(Field::KeyTxt, str("later"))) << "the connection writes again after the scope";
}

// A write the file refuses in the middle of a scope (here a trigger standing
// in for a full disk) ends the scope in a rollback: the writes before it do
// not reach the file on their own.
TEST_F(TreeCursorTest, AWriteRefusedInsideAScopeRollsTheWholeScopeBack)
{
    createWithGaps(ts);
    openCursor();
    ASSERT_EQ(sqlite3_exec(cn->handle(), "CREATE TEMP TRIGGER refuse BEFORE UPDATE OF KeyNxt ON main.TbTree "
                                         "WHEN NEW.KeyNxt = 99 BEGIN SELECT RAISE(ABORT, 'disk full'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    {
        TransactionScope scope(cn.get(), TransactionScope::Kind::Write);
        ASSERT_TRUE(cur.positionOn(5));
        ASSERT_TRUE(cur.update(Field::KeyTxt, str("first half")));
        ASSERT_TRUE(cur.positionOn(9));
        EXPECT_FALSE(cur.update(Field::KeyNxt, num(99)));
        ASSERT_TRUE(cur.update(Field::KeyTxt, str("after the refusal")));
        EXPECT_FALSE(scope.commit());
        EXPECT_NE(cn->lastError().find("disk full"), std::string::npos) << cn->lastError();
    }
    EXPECT_EQ(ts.field(5, "KeyTxt"), "'five'");
    EXPECT_EQ(ts.field(9, "KeyTxt"), "'nine'");
}

TEST_F(TreeCursorTest, NestedScopeJoinsTheOuterOne)
{
    createWithGaps(ts);
    openCursor();
    TransactionScope outer(cn.get(), TransactionScope::Kind::Write);
    {
        TransactionScope inner(cn.get(), TransactionScope::Kind::Write);
        ASSERT_TRUE(cur.positionOn(5));
        ASSERT_TRUE(cur.update(Field::KeyTxt, str("nested")));
        EXPECT_TRUE(inner.commit());
        EXPECT_EQ(ts.field(5, "KeyTxt"), "'five'");
    }
    EXPECT_TRUE(cn->inTransaction());
    EXPECT_EQ(ts.field(5, "KeyTxt"), "'five'");
    ASSERT_TRUE(outer.commit());
    EXPECT_FALSE(cn->inTransaction());
    EXPECT_EQ(ts.field(5, "KeyTxt"), "'nested'");
}

// ---------------------------------------------------------------- CommandCursor

class CommandCursorTest : public ::testing::Test {
protected:
    void openCommands()
    {
        const std::string &error = store::lastError();
        cn = Connection::open(ts.path());
        ASSERT_TRUE(cn) << error;
        ASSERT_TRUE(cmd.open(cn)) << cmd.lastError();
    }
    std::vector<std::string> readAll()
    {
        std::vector<std::string> rows;
        for (bool more = cmd.moveFirst(); more; more = cmd.moveNext()) {
            const auto pict = cmd.field(store::CommandCursor::Field::CmdPict);
            const auto about = cmd.field(store::CommandCursor::Field::CmdAbout);
            rows.push_back(store::toText(pict.value_or(kNull)).value_or("?") + "|"
                           + store::toText(about.value_or(kNull)).value_or("<null>"));
        }
        return rows;
    }
    TestStore ts;
    std::shared_ptr<Connection> cn;
    store::CommandCursor cmd;
};

TEST_F(CommandCursorTest, RowsComeInRowidOrderWhateverIndexesTheFileHas)
{
    ts.createEmpty();
    // With an extra column, the narrower covering index is what SQLite scans
    // unless the cursor asks for rowid order; rows would come sorted by picture.
    ts.exec("DROP TABLE tbCmd; CREATE TABLE tbCmd (CmdPict TEXT, CmdAbout TEXT, Notes TEXT); "
            "CREATE INDEX ByPicture ON tbCmd (CmdPict, CmdAbout); "
            "INSERT INTO tbCmd (rowid, CmdPict, CmdAbout) VALUES (10, 'z.bmp', 'Zed'), (20, 'a.bmp', 'Ay'), "
            "(30, 'm.bmp', 'Em'), (40, 'b.bmp', 'Bee'); "
            "DELETE FROM tbCmd WHERE rowid = 30; "
            "INSERT INTO tbCmd (rowid, CmdPict, CmdAbout) VALUES (5, 'q.bmp', NULL);");
    openCommands();
    EXPECT_EQ(cmd.recordCount(), 4);
    EXPECT_EQ(readAll(), (std::vector<std::string>{"q.bmp|<null>", "z.bmp|Zed", "a.bmp|Ay", "b.bmp|Bee"}));
    EXPECT_TRUE(cmd.atEnd());
    EXPECT_FALSE(cmd.moveNext());
    EXPECT_TRUE(cmd.atEnd());
    EXPECT_FALSE(cmd.field(store::CommandCursor::Field::CmdPict));

    ASSERT_TRUE(cmd.moveFirst());
    const auto about = cmd.field(store::CommandCursor::Field::CmdAbout);
    ASSERT_TRUE(about);
    EXPECT_TRUE(store::isNull(*about));
}

TEST_F(CommandCursorTest, EmptyTableCountsZeroAndStandsAtEnd)
{
    ts.createEmpty();
    openCommands();
    EXPECT_EQ(cmd.recordCount(), 0);
    EXPECT_FALSE(cmd.moveFirst());
    EXPECT_TRUE(cmd.atEnd());
    EXPECT_FALSE(cmd.moveNext());
    EXPECT_FALSE(cmd.field(store::CommandCursor::Field::CmdAbout));
}

} // namespace
