// Files no user should have but some will: garbage pages, huge tables and
// texts, pictures that are no pictures. The window opens, the shown items and
// every button can be clicked, the window closes; nothing crashes, start-up
// writes nothing, and a tree that was sound stays sound.

#include "commands/toolbar.h"
#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/keyed_tree.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QToolBar>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

using testing_support::GuiTest;
using testing_support::Item;
using testing_support::TestStore;

namespace {

// Runs SQL on the store with one bound text value (?1).
void execWith(TestStore &store, const char *sql, const std::string &text)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(store.path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    sqlite3_bind_text(stmt, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE) << sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

std::vector<std::pair<std::string, std::string>> toolbarRows()
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto &command : modTree::Commands())
        rows.emplace_back(command.picture, command.about);
    return rows;
}

void sample(TestStore &store)
{
    store.create({{1, 0}, {2, 1, true, "two"}, {3, 2, false, "three", true}, {4, 1, false, "four"}}, toolbarRows());
}

void pictures(TestStore &store)
{
    ASSERT_TRUE(modTree::WriteButtonPictures(store.qDirectory(), nullptr));
}

struct Hostile {
    const char *name;
    std::function<void(TestStore &)> make;
    bool sound; // the tree starts sound (and must stay so)
    friend void PrintTo(const Hostile &h, std::ostream *os) { *os << h.name; }
};

const Hostile kHostile[] = {
    {"EveryPageAfterTheFirstIsGarbage",
     [](TestStore &s) {
         sample(s);
         s.exec("CREATE TABLE filler (x); INSERT INTO filler VALUES (randomblob(20000))");
         QFile file(QString::fromStdString(s.path()));
         ASSERT_TRUE(file.open(QIODevice::ReadWrite));
         const qint64 page = 4096;
         QByteArray garbage(static_cast<int>(file.size() - page), '\0');
         for (int i = 0; i < garbage.size(); ++i)
             garbage[i] = static_cast<char>((i * 2654435761u) >> 13);
         file.seek(page);
         file.write(garbage);
     },
     false},
    {"CommandTableOfAHundredThousandRows",
     [](TestStore &s) {
         sample(s);
         s.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
                "INSERT INTO tbCmd (CmdPict, CmdAbout) SELECT 'moveup.bmp', 'extra ' || i FROM n");
         pictures(s);
     },
     true},
    {"TextOfTenMegabytes",
     [](TestStore &s) {
         sample(s);
         execWith(s, "UPDATE TbTree SET KeyTxt = ?1 WHERE KeyInd = 4", std::string(10 << 20, 'w'));
         pictures(s);
     },
     true},
    {"AHundredThousandTopLevelItems",
     [](TestStore &s) {
         s.create({{1, 0}}, toolbarRows());
         s.exec("WITH RECURSIVE n(k) AS (SELECT 2 UNION ALL SELECT k + 1 FROM n WHERE k < 100001) "
                "INSERT INTO TbTree (KeyInd, KeyPar, KeyPrw, KeyNxt, KeyTxt) SELECT k, 1, k - 1, "
                "CASE WHEN k < 100001 THEN k + 1 ELSE 0 END, 'item ' || k FROM n;"
                "UPDATE TbTree SET KeyPrw = 0, KeySel = 1 WHERE KeyInd = 2; UPDATE TbTree SET KeyChi = 2 WHERE KeyInd = 1");
     },
     true},
    {"AChainOfAHundredThousandOpenItems",
     [](TestStore &s) {
         s.create({{1, 0}}, toolbarRows());
         s.exec("WITH RECURSIVE n(k) AS (SELECT 2 UNION ALL SELECT k + 1 FROM n WHERE k < 100001) "
                "INSERT INTO TbTree (KeyInd, KeyPar, KeyChi, Expand, KeyTxt) SELECT k, k - 1, "
                "CASE WHEN k < 100001 THEN k + 1 ELSE 0 END, 1, 'level ' || (k - 1) FROM n;"
                "UPDATE TbTree SET KeyChi = 2 WHERE KeyInd = 1; UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 3");
     },
     true},
    {"PicturesThatAreNoPictures",
     [](TestStore &s) {
         sample(s);
         pictures(s);
         for (const char *folder : {"pic1", "pic2"})
             for (const auto &command : modTree::Commands()) {
                 QFile file(QDir(s.qDirectory()).filePath(QString(folder) + "/" + command.picture));
                 ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                 file.write("BM this is not a bitmap at all");
             }
     },
     true},
    {"PicturesOfHugeSize",
     [](TestStore &s) {
         sample(s);
         pictures(s);
         // A bitmap header that claims 30000 x 30000 pixels of 32 bits: 3.6 GB.
         QByteArray header(54, '\0');
         header[0] = 'B';
         header[1] = 'M';
         auto put = [&](int at, quint32 v) {
             for (int i = 0; i < 4; ++i)
                 header[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
         };
         put(10, 54);
         put(14, 40);
         put(18, 30000);
         put(22, 30000);
         header[26] = 1;
         header[28] = 32;
         QFile file(QDir(s.qDirectory()).filePath(QString("pic1/") + modTree::Commands()[3].picture));
         ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         file.write(header);
     },
     true},
    {"PictureFolderThatIsAFile",
     [](TestStore &s) {
         sample(s);
         QFile file(QDir(s.qDirectory()).filePath("pic1"));
         ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         file.write("a file where a folder belongs");
     },
     true},
};

class HostileFile : public GuiTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileFile, OpensClicksEveryButtonAndClosesWithoutHarm)
{
    GetParam().make(store);
    const std::string before = store.bytes();
    QElapsedTimer clock;
    clock.start();
    startOnStore();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QApplication::processEvents();
    const qint64 startUp = clock.restart();
    EXPECT_EQ(store.bytes(), before) << "start-up wrote to the file";
    // What keeps these quick: no toolbar of a hundred thousand buttons, and no
    // row laying out ten megabytes of text at every paint.
    EXPECT_LE(window->toolbar()->actions().size(), 256);
    for (int row = 0; row < std::min(window->tree()->model()->rowCount(), 20); ++row)
        EXPECT_LE(window->tree()->model()->index(row, 0).data().toString().size(), 4097) << "row " << row;

    // The first shown items, clicked, and every button but quit (of a huge
    // toolbar, the first dozen and the last).
    for (int row = 0; row < std::min(window->tree()->model()->rowCount(), 20); ++row) {
        const toolkit::TreeNode target = window->tree()->nodeAt(window->tree()->model()->index(row, 0));
        if (target.isValid())
            emit window->tree()->nodeClick(target);
    }
    const auto buttons = window->toolbar()->actions();
    for (int i = 0; i < buttons.size(); ++i) {
        if (i + 1 == modTree::CmdQuit || (i >= 12 && i + 1 < buttons.size()))
            continue;
        emit window->toolbar()->actionTriggered(buttons.at(i));
        QApplication::processEvents();
    }
    const qint64 actions = clock.restart();
    window.reset();
    modBase::rsTree.close();
    modBase::rsCmd.close();
    const qint64 closing = clock.elapsed();
    std::printf("[ timing   ] %s: start-up %lld ms, clicks and buttons %lld ms, closing %lld ms\n", GetParam().name,
                static_cast<long long>(startUp), static_cast<long long>(actions), static_cast<long long>(closing));
    if (GetParam().sound) {
        const auto check = testing_support::checkTree(store);
        EXPECT_TRUE(check.ok()) << check.report();
    }
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFile, ::testing::ValuesIn(kHostile),
                         [](const auto &info) { return std::string(info.param.name); });

// A store someone planted a trigger in (this one would copy every text
// typed, a PIN say, into a hidden table) is not opened: the window stays
// empty and one line says why; the file is left as it was.
TEST_F(HostileFile, APlantedTriggerKeepsTheStoreShut)
{
    sample(store);
    store.exec("CREATE TABLE Hidden (t TEXT); CREATE TRIGGER spy AFTER UPDATE ON TbTree BEGIN "
               "INSERT INTO Hidden VALUES (NEW.KeyTxt); END");
    const std::string before = store.bytes();
    ::testing::internal::CaptureStderr();
    startOnStore();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(window->tree()->nodeCount(), 0);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("trigger \"spy\" on TbTree"), std::string::npos) << said;
    window->textBox()->setText("1234");
    EXPECT_EQ(store.bytes(), before);
}

} // namespace
