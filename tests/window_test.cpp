// The window as a user first meets it, and start-up on a store that cannot
// be opened.

#include "app/frm_tree.h"
#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/runtime.h"
#include "toolkit/text_box.h"

#include <QAccessible>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

using testing_support::GuiTest;

namespace {

class WindowTest : public GuiTest {};

TEST_F(WindowTest, ControlsCarryTheirNamesAndAccessibleNames)
{
    start({{1, 0}});
    EXPECT_EQ(window->objectName(), "frmTree");
    EXPECT_EQ(window->findChild<QToolBar *>("Toolbar1"), window->toolbar());
    EXPECT_EQ(window->findChild<toolkit::KeyedTree *>("TreeV"), window->tree());
    EXPECT_EQ(window->findChild<toolkit::TextBox *>("txtItem"), window->textBox());
    EXPECT_EQ(window->findChild<toolkit::ImageList *>("ImageList1"), window->normalImages());
    EXPECT_EQ(window->findChild<toolkit::ImageList *>("ImageList2"), window->hotImages());
    EXPECT_EQ(window->tree()->accessibleName(), "Items");
    EXPECT_EQ(window->textBox()->accessibleName(), "Item text");
    EXPECT_EQ(window->normalImages()->maskColor(), QColor(0xC0, 0xC0, 0xC0));
}

TEST_F(WindowTest, OpensAtTheTopLeftWithCaptionIconAndEmptyTextBox)
{
    start({{1, 0}, {2, 1, false, "a", true}});
    // Wherever it was before, start-up puts it back.
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(window->windowTitle(), "BranchKeeper");
    const QIcon icon = window->windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixmap(32, 32).size(), QSize(32, 32));
    EXPECT_TRUE(window->textBox()->text().isEmpty());
    EXPECT_FALSE(window->textBox()->tag().has_value());
    EXPECT_TRUE(window->toolbar()->actions().isEmpty());
    EXPECT_EQ(window->toolbar()->geometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(window->toolbar()->width(), window->width());
    EXPECT_TRUE(window->openReport().ok()) << window->openReport().message();
}

TEST_F(WindowTest, TabOrderGoesFromTheTreeToTheTextBox)
{
    start({{1, 0}});
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->tree()->setFocus();
    ASSERT_TRUE(window->tree()->hasFocus());
    QTest::keyClick(window->tree(), Qt::Key_Tab);
    EXPECT_TRUE(window->textBox()->hasFocus());
}

// Start-up with a store that cannot be opened: the window still opens,
// empty; the file is neither created nor changed.
struct BadStore {
    const char *name;
    const char *content;       // file bytes; nullptr: no file at all
    const char *sql;           // or: SQL for a database missing a table
    const char *reasonPart;    // what the report must say
    friend void PrintTo(const BadStore &b, std::ostream *os) { *os << b.name; }
};

class BadStoreStartUp : public GuiTest, public ::testing::WithParamInterface<BadStore> {
protected:
    void makeStore()
    {
        const BadStore &p = GetParam();
        if (p.content) {
            QFile f(QString::fromStdString(store.path()));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(p.content);
        } else if (p.sql) {
            store.exec(p.sql);
        }
    }
};

TEST_P(BadStoreStartUp, WindowOpensEmptyAndTheFileIsLeftAlone)
{
    makeStore();
    const bool existed = QFile::exists(QString::fromStdString(store.path()));
    const std::string before = store.bytes();
    startOnStore();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->tree()->nodeCount(), 0);
    EXPECT_TRUE(window->toolbar()->actions().isEmpty());
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(0, 0));
    const auto &report = window->openReport();
    EXPECT_FALSE(report.ok());
    EXPECT_NE(report.message().find(store.path()), std::string::npos) << report.message();
    EXPECT_NE(report.message().find(GetParam().reasonPart), std::string::npos) << report.message();
    window.reset();
    modBase::rsTree.close();
    modBase::rsCmd.close();
    EXPECT_EQ(QFile::exists(QString::fromStdString(store.path())), existed);
    EXPECT_EQ(store.bytes(), before);
}

INSTANTIATE_TEST_SUITE_P(
    StartUp, BadStoreStartUp,
    ::testing::Values(BadStore{"MissingFile", nullptr, nullptr, "no such file"},
                      BadStore{"NotADatabase", "this is a text file, not a store\n", nullptr, "not a database"},
                      BadStore{"EmptyFile", "", nullptr, "TbTree"},
                      BadStore{"NoTables", nullptr, "CREATE TABLE other (x)", "TbTree"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(WindowTest, MissingCommandTableStillShowsTheTree)
{
    store.create({{1, 0}, {2, 1, false, "a"}});
    store.exec("DROP TABLE tbCmd");
    startOnStore();
    EXPECT_EQ(window->tree()->nodeCount(), 2);
    EXPECT_FALSE(window->openReport().ok());
    EXPECT_NE(window->openReport().message().find("tbCmd"), std::string::npos);
}

// The real program, started beside a broken store: one line on standard
// error naming the file and the reason, and the program keeps running.
TEST(ProgramStartUp, ReportsAnUnopenableStoreOnStandardError)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exe = dir.filePath("branchkeeper");
    ASSERT_TRUE(QFile::copy(BRANCHKEEPER_EXECUTABLE, exe));
    QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);
    QFile store(dir.filePath("dbPro.mdb"));
    ASSERT_TRUE(store.open(QIODevice::WriteOnly));
    store.write("garbage garbage garbage garbage");
    store.close();

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(exe, {});
    ASSERT_TRUE(program.waitForStarted(10000));
    // Until our line is whole: Qt may say something of its own first.
    QByteArray err;
    const auto ourLineIn = [](const QByteArray &text) {
        const qsizetype at = text.indexOf("branchkeeper:");
        return at >= 0 && text.indexOf('\n', at) >= 0;
    };
    for (int i = 0; i < 100 && !ourLineIn(err); ++i) {
        program.waitForReadyRead(200);
        err += program.readAllStandardError();
    }
    // Still running: start-up finished and the window is up.
    EXPECT_EQ(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished(10000);
    err += program.readAllStandardError();

    const QList<QByteArray> lines = err.split('\n');
    QList<QByteArray> ours;
    for (const auto &line : lines) {
        if (line.startsWith("branchkeeper:"))
            ours.append(line);
    }
    ASSERT_EQ(ours.size(), 1) << err.toStdString();
    EXPECT_TRUE(ours.first().contains(dir.filePath("dbPro.mdb").toUtf8())) << ours.first().toStdString();
    EXPECT_TRUE(ours.first().contains("not a database")) << ours.first().toStdString();
}

} // namespace
