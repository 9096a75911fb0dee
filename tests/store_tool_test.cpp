#include "store/mod_base.h"
#include "tests/support/test_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStringList>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using testing_support::TestStore;

// Exit code of branchkeeper-store, or -1 when it did not finish normally;
// what it printed goes to *out and *err.
int runTool(const QStringList &arguments, std::string *out = nullptr, std::string *err = nullptr)
{
    QProcess tool;
    if (!err)
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QStringLiteral(BRANCHKEEPER_STORE_TOOL), arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit)
        return -1;
    if (out)
        *out = tool.readAllStandardOutput().toStdString();
    if (err)
        *err = tool.readAllStandardError().toStdString();
    return tool.exitCode();
}

QString q(const std::string &s) { return QString::fromStdString(s); }

using StoreTool = testing_support::StoreTest;

TEST_F(StoreTool, NewStoreOpensCleanlyWithRootAloneAndAToolbar)
{
    ASSERT_EQ(runTool({"new", q(ts.path())}), 0);
    // A finished store is one file: no journal left beside it.
    EXPECT_EQ(QDir(ts.qDirectory()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{"dbPro.mdb"});

    const auto report = modBase::OpenBase(ts.directory());
    ASSERT_TRUE(report.ok()) << report.message();
    EXPECT_TRUE(report.warning.empty()) << report.warning;

    EXPECT_EQ(ts.count("SELECT count(*) FROM TbTree"), 2);
    EXPECT_EQ(ts.count("SELECT count(*) FROM TbTree WHERE KeyInd IN (0, 1)"), 2);
    for (const char *link : {"KeyPar", "KeyChi", "KeyPrw", "KeyNxt"})
        EXPECT_EQ(ts.field(1, link), "0") << link;
    EXPECT_EQ(ts.count("SELECT count(*) FROM TbTree WHERE KeyPar = 1"), 0);

    // Which rows, the GUI tests compare with the command table.
    EXPECT_EQ(modBase::rsCmd.recordCount(), 11);
}

TEST_F(StoreTool, SecondRunOnSamePathFailsAndLeavesFileAlone)
{
    ASSERT_EQ(runTool({"new", q(ts.path())}), 0);
    ts.exec("UPDATE TbTree SET KeyTxt = 'user data' WHERE KeyInd = 1");
    const std::string before = ts.bytes();
    ASSERT_FALSE(before.empty());
    EXPECT_NE(runTool({"new", q(ts.path())}), 0);
    EXPECT_EQ(ts.bytes(), before);
}

TEST_F(StoreTool, WrongArgumentsOrMissingFolderFailAndCreateNothing)
{
    const QString path = q(ts.path());
    const QStringList cases[] = {
        {}, {"new"}, {"make", path}, {"NEW", path}, {path}, {"new", path, "extra"}, {"check"}, {"check", path, "extra"},
        {"new", q(ts.directory() + "/no/such/folder/dbPro.mdb")},
    };
    for (const auto &arguments : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const int code = runTool(arguments);
        EXPECT_NE(code, 0);
        EXPECT_NE(code, -1) << "the tool crashed";
        EXPECT_TRUE(QDir(ts.qDirectory()).isEmpty());
    }
}

TEST_F(StoreTool, CheckFindsTheSampleSoundAndSaysNothing)
{
    ASSERT_EQ(runTool({"sample", q(ts.path())}), 0);
    const std::string before = ts.bytes();
    std::string out;
    EXPECT_EQ(runTool({"check", q(ts.path())}, &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(ts.bytes(), before);
}

TEST_F(StoreTool, CheckPrintsEachBrokenRuleAndFails)
{
    ASSERT_EQ(runTool({"sample", q(ts.path())}), 0);
    // In the sample, 6 follows 5 under 4; 16 is the last item of 13.
    ts.exec("UPDATE TbTree SET KeyPrw = 3 WHERE KeyInd = 6; UPDATE TbTree SET KeyNxt = 99 WHERE KeyInd = 16");
    const std::string before = ts.bytes();
    std::string out;
    EXPECT_EQ(runTool({"check", q(ts.path())}, &out), 1);
    EXPECT_EQ(out, "item 6: KeyPrw 3 but the previous sibling is 5\nitem 16: KeyNxt 99 names no record\n");
    EXPECT_EQ(ts.bytes(), before);
    EXPECT_EQ(QDir(ts.qDirectory()).entryList(QDir::Files), QStringList{"dbPro.mdb"});
}

TEST_F(StoreTool, CheckOnAFileItCannotReadSaysWhyAndCreatesNothing)
{
    std::string out, err;
    EXPECT_EQ(runTool({"check", q(ts.path())}, &out, &err), 2);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find(ts.path()), std::string::npos) << err;
    EXPECT_TRUE(QDir(ts.qDirectory()).isEmpty());

    ts.exec("CREATE TABLE Other (x)");
    EXPECT_EQ(runTool({"check", q(ts.path())}, &out, &err), 2);
    EXPECT_NE(err.find("TbTree"), std::string::npos) << err;
}

// Every reading command on a store a crash left with its journal reads it as
// it was before the half change (the journal is rolled back first); on a
// store with a planted trigger, all but check refuse, and check names it.
TEST_F(StoreTool, ReadersRecoverACrashedStoreAndRefuseAPlantedOne)
{
    const std::pair<const char *, QStringList> commands[] = {
        {"dump", {"dump", q(ts.path())}},
        {"check", {"check", q(ts.path())}},
        {"deleted", {"deleted", q(ts.path())}},
        {"export", {"export", q(ts.path()), q(ts.directory() + "/out.txt")}},
        {"backup", {"backup", q(ts.path()), q(ts.directory() + "/copy.mdb")}},
    };
    for (const auto &[name, arguments] : commands) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(ts.directory());
        std::filesystem::create_directory(ts.directory());
        ASSERT_EQ(runTool({"sample", q(ts.path())}), 0);
        ts.crashWhileCommitting("UPDATE TbTree SET KeyTxt = 'half done' WHERE KeyInd = 2");
        std::string out, err;
        EXPECT_EQ(runTool(arguments, &out, &err), 0) << err;
        EXPECT_FALSE(std::filesystem::exists(ts.path() + "-journal"));
        EXPECT_EQ(out.find("half done"), std::string::npos);

        ts.exec("CREATE TRIGGER spy AFTER UPDATE ON TbTree BEGIN SELECT 1; END");
        std::filesystem::remove(ts.directory() + "/out.txt");
        std::filesystem::remove(ts.directory() + "/copy.mdb");
        const bool isCheck = std::string(name) == "check";
        const int status = runTool(arguments, &out, &err);
        EXPECT_TRUE(isCheck ? status == 1 : status > 0) << status << err;
        EXPECT_NE((isCheck ? out : err).find("trigger \"spy\" on TbTree"), std::string::npos) << out << err;
    }
}

// The tree for people and bug reports: each item's key, its flags, its text
// on one line, indented by level.
TEST_F(StoreTool, DumpShowsTheTreeWithKeysAndFlags)
{
    ASSERT_EQ(runTool({"sample", q(ts.path())}), 0);
    ts.exec("UPDATE TbTree SET KeyTxt = 'two' || char(10) || 'lines' WHERE KeyInd = 12");
    std::string out, err;
    ASSERT_EQ(runTool({"dump", q(ts.path())}, &out, &err), 0) << err;
    EXPECT_EQ(out, "1 корень\n"
                   "  2 (open) Kitchen renovation\n"
                   "    3 (open) Measure the walls\n"
                   "    4 Choose tiles\n"
                   "      5 Visit the showroom\n"
                   "      6 Order samples\n"
                   "    7 (open) Plumbing\n"
                   "      8 (selected) Move the sink drain\n"
                   "      9 New shut-off valves\n"
                   "  10 Garden\n"
                   "    11 Prune the apple tree\n"
                   "    12 two\\nlines\n"
                   "  13 (open) Reading list\n"
                   "    14 The Art of Computer Programming\n"
                   "    15 Structure and Interpretation of Computer Programs\n"
                   "    16 A Pattern Language\n");
}

// A branch deleted (as the delete command leaves it) is listed, comes back,
// and a second restore is refused; the store stays sound.
TEST_F(StoreTool, DeletedAndRestoreBringABranchBack)
{
    ASSERT_EQ(runTool({"sample", q(ts.path())}), 0);
    ts.exec("UPDATE TbTree SET KeyNxt = 13 WHERE KeyInd = 2; UPDATE TbTree SET KeyPrw = 2 WHERE KeyInd = 13;"
            "UPDATE TbTree SET KeyPar = 0, KeyPrw = 0, KeyNxt = 0 WHERE KeyInd = 10");
    std::string out, err;
    ASSERT_EQ(runTool({"deleted", q(ts.path())}, &out, &err), 0) << err;
    EXPECT_EQ(out, "10 (3 items) Garden\n");
    EXPECT_EQ(runTool({"restore", q(ts.path()), "10"}, &out, &err), 0) << err;
    EXPECT_EQ(runTool({"restore", q(ts.path()), "10"}, &out, &err), 1);
    EXPECT_NE(err.find("item 10 is in the tree"), std::string::npos) << err;
    EXPECT_EQ(runTool({"restore", q(ts.path()), "ten"}, &out, &err), 2);
    EXPECT_EQ(runTool({"check", q(ts.path())}, &out, &err), 0) << out;
    ASSERT_EQ(runTool({"deleted", q(ts.path())}, &out, &err), 0);
    EXPECT_EQ(out, "");
}

TEST_F(StoreTool, BackupMakesACopyThatReadsTheSame)
{
    ASSERT_EQ(runTool({"sample", q(ts.path())}), 0);
    const QString copy = ts.qDirectory() + "/copy.mdb";
    std::string original, copied, err;
    ASSERT_EQ(runTool({"backup", q(ts.path()), copy}, nullptr, &err), 0) << err;
    ASSERT_EQ(runTool({"dump", q(ts.path())}, &original), 0);
    ASSERT_EQ(runTool({"dump", copy}, &copied), 0);
    EXPECT_EQ(copied, original);
    EXPECT_EQ(runTool({"backup", q(ts.path()), copy}, nullptr, &err), 1) << "wrote over a file";
}

// A path that names no file, or a link that leads nowhere (which opening would
// follow, making a file the user never named), is refused by every command
// that writes a file, and nothing appears.
TEST_F(StoreTool, RefusesAnEmptyPathAndALinkToNothing)
{
    ASSERT_EQ(runTool({"sample", q(ts.path())}), 0);
    const std::string dir = ts.directory();
    std::ofstream(dir + "/in.txt") << "one\n";
    std::filesystem::create_symlink(dir + "/nowhere.mdb", dir + "/link.mdb");
    const QStringList files = QDir(ts.qDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &target : {QString(), q(dir + "/link.mdb")}) {
        const QStringList cases[] = {{"new", target}, {"sample", target}, {"backup", q(ts.path()), target},
                                     {"import", q(dir + "/in.txt"), target, "--force"},
                                     {"export", q(ts.path()), target, "--format", "opml", "--force"}};
        for (const auto &arguments : cases) {
            SCOPED_TRACE(arguments.join(' ').toStdString());
            std::string err;
            EXPECT_EQ(runTool(arguments, nullptr, &err), arguments[0] == "export" ? 2 : 1);
            EXPECT_NE(err.find(target.isEmpty() ? "empty path" : "symbolic link to nothing"), std::string::npos) << err;
            EXPECT_EQ(QDir(ts.qDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), files);
            EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.mdb"));
        }
    }
}

// Under the usual umask every file the tool makes is the owner's alone, and
// a file it writes over keeps no permission that its source does not give.
TEST_F(StoreTool, WhatItWritesIsNoWiderThanItsSourceWhateverTheUmask)
{
    const struct Umask { mode_t old = ::umask(022); ~Umask() { ::umask(old); } } umask;
    const std::string dir = ts.directory() + "/";
    // source, when named, is given sourceMode first.
    struct Step { const char *source; mode_t sourceMode; QStringList arguments; const char *file; mode_t expected; };
    const Step steps[] = {
        {nullptr, 0, {"new", q(dir + "a.mdb")}, "a.mdb", 0600},
        {nullptr, 0, {"sample", q(dir + "b.mdb")}, "b.mdb", 0600},
        {"b.mdb", 0644, {"backup", q(dir + "b.mdb"), q(dir + "c.mdb")}, "c.mdb", 0600},
        {nullptr, 0, {"export", q(dir + "b.mdb"), q(dir + "d.opml")}, "d.opml", 0600},
        {nullptr, 0, {"import", q(dir + "d.opml"), q(dir + "e.mdb")}, "e.mdb", 0600},
        {"d.opml", 0640, {"import", q(dir + "d.opml"), q(dir + "b.mdb"), "--force"}, "b.mdb", 0640},
        {"c.mdb", 0604, {"export", q(dir + "c.mdb"), q(dir + "d.opml"), "--force"}, "d.opml", 0600},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.arguments.join(' ').toStdString());
        ASSERT_TRUE(!step.source || ::chmod((dir + step.source).c_str(), step.sourceMode) == 0);
        std::string err;
        ASSERT_EQ(runTool(step.arguments, nullptr, &err), 0) << err;
        struct stat st {};
        EXPECT_EQ(::stat((dir + step.file).c_str(), &st) == 0 ? st.st_mode & 07777 : 0, step.expected);
    }
}

} // namespace
