#include "store/mod_base.h"
#include "tests/support/test_store.h"
#include "tools/command_set.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStringList>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

using testing_support::TestStore;

// Exit code of branchkeeper-store, or -1 when it did not finish normally.
int runTool(const QStringList &arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QStringLiteral(BRANCHKEEPER_STORE_TOOL), arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit)
        return -1;
    return tool.exitCode();
}

QString q(const std::string &s) { return QString::fromStdString(s); }

using StoreTool = testing_support::StoreTest;

TEST_F(StoreTool, NewStoreOpensCleanlyWithRootAloneAndTheCommandSet)
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

    auto &cmd = modBase::rsCmd;
    ASSERT_EQ(cmd.recordCount(), int(tools::kCommandSet.size()));
    ASSERT_EQ(tools::kCommandSet.size(), 11u);
    bool more = cmd.moveFirst();
    for (const auto &row : tools::kCommandSet) {
        SCOPED_TRACE(row.picture);
        ASSERT_TRUE(more);
        EXPECT_EQ(store::toText(*cmd.field(store::CommandCursor::Field::CmdPict)), row.picture);
        EXPECT_EQ(store::toText(*cmd.field(store::CommandCursor::Field::CmdAbout)), row.about);
        more = cmd.moveNext();
    }
    EXPECT_FALSE(more);
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
        {}, {"new"}, {"make", path}, {"NEW", path}, {path}, {"new", path, "extra"},
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

TEST(RuntimeFiles, BuildPlacesStoreAndBothPictureSetsBesideTheProgram)
{
    const QDir runtime(QStringLiteral(BRANCHKEEPER_RUNTIME_DIR));
    const std::string storePath = runtime.filePath("dbPro.mdb").toStdString();
    ASSERT_TRUE(std::filesystem::is_regular_file(storePath)) << storePath;

    const auto report = modBase::OpenBase(runtime.path().toStdString());
    EXPECT_TRUE(report.ok()) << report.message();
    EXPECT_EQ(modBase::rsCmd.recordCount(), int(tools::kCommandSet.size()));
    modBase::rsTree.close();
    modBase::rsCmd.close();

    std::set<QString> expected;
    for (const auto &row : tools::kCommandSet)
        expected.insert(QString::fromUtf8(row.picture));
    for (const char *set : {"pic1", "pic2"}) {
        SCOPED_TRACE(set);
        const QDir folder(runtime.filePath(set));
        ASSERT_TRUE(folder.exists());
        const QStringList files = folder.entryList(QDir::Files);
        EXPECT_EQ(std::set<QString>(files.begin(), files.end()), expected);
        for (const QString &name : expected) {
            const QImage picture(folder.filePath(name), "BMP");
            EXPECT_FALSE(picture.isNull()) << name.toStdString();
        }
    }
}

} // namespace
