// In-process benchmarks. Each figure stands beside its floors, measured in
// the same run: what the store alone and the tree widget alone need for the
// same work, and for a keystroke what SQLite and the disk need for one
// durable write.
//
//   build/bin/branchkeeper-bench                      everything but the 1M runs
//   build/bin/branchkeeper-bench --benchmark_filter=Rebuild
//   BRANCHKEEPER_BENCH_LONG=1 build/bin/branchkeeper-bench   adds the 1M-item runs

#include "app/frm_tree.h"
#include "bench/bench_stores.h"
#include "commands/toolbar.h"
#include "tools/outline.h"
#include "store/connection.h"
#include "store/child_chain.h"
#include "store/mod_base.h"
#include "toolkit/find_field.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/find.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <vector>

using bench::Shape;
using Clock = std::chrono::steady_clock;

namespace {

std::unique_ptr<frmTree> openWindow(Shape shape, int items)
{
    auto window = std::make_unique<frmTree>(QString::fromStdString(bench::storeFolder(shape, items)));
    window->Form_Load();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        std::fprintf(stderr, "the window was not shown\n");
    QApplication::processEvents();
    return window;
}

void closeWindow(std::unique_ptr<frmTree> &window)
{
    window.reset();
    modTree::ResetProgramState();
}

Shape shapeOf(const benchmark::State &state)
{
    return static_cast<Shape>(state.range(0));
}

// ---- rebuild and its floors --------------------------------------------------

void BM_Rebuild(benchmark::State &state)
{
    const Shape shape = shapeOf(state);
    auto window = openWindow(shape, static_cast<int>(state.range(1)));
    for (auto _ : state) {
        modTree::ShowTree();
        QApplication::processEvents(); // laid out and drawn
    }
    state.counters["shown"] = window->tree()->nodeCount();
    state.SetLabel(bench::shapeName(shape));
    closeWindow(window);
}

// The same records read through the store's chain reader, nothing shown:
// each open item's children in chain order, as the rebuild reads them.
void BM_RebuildFloorStore(benchmark::State &state)
{
    const Shape shape = shapeOf(state);
    auto window = openWindow(shape, static_cast<int>(state.range(1)));
    struct Parent {
        std::int32_t key;
        std::int32_t first;
    };
    std::vector<Parent> parents;
    const auto tops = window->tree()->topLevelNodes();
    std::vector<toolkit::TreeNode> pending(tops.begin(), tops.end());
    while (!pending.empty()) { // without recursion: the deep shape is one long chain
        const toolkit::TreeNode n = pending.back();
        pending.pop_back();
        const auto kids = n.children();
        const auto key = modTree::ItemOf(n.nodeKey());
        if (key && !kids.isEmpty())
            parents.push_back({*key, modTree::ItemOf(kids.front().nodeKey()).value_or(0)});
        pending.insert(pending.end(), kids.begin(), kids.end());
    }
    auto &rs = modBase::rsTree;
    for (auto _ : state) {
        store::TransactionScope reading(rs.connection(), store::TransactionScope::Kind::Read);
        rs.positionOn(store::kRootKey);
        for (const Parent &p : parents) {
            store::ChildChain children(rs, p.key, p.first, store::ChildChain::Read::Records);
            while (children.next())
                benchmark::ClobberMemory();
        }
    }
    state.SetLabel(bench::shapeName(shape));
    closeWindow(window);
}

// The same nodes given to a tree widget of the same size on its own: no
// store, no handlers.
void BM_RebuildFloorTree(benchmark::State &state)
{
    const Shape shape = shapeOf(state);
    auto window = openWindow(shape, static_cast<int>(state.range(1)));
    struct NodeSpec {
        QString parent, key, text;
        bool expanded;
    };
    std::vector<NodeSpec> nodes;
    std::vector<toolkit::TreeNode> pending;
    const auto tops = window->tree()->topLevelNodes();
    pending.assign(tops.rbegin(), tops.rend());
    while (!pending.empty()) { // depth first, without recursion: the deep shape is one long chain
        const toolkit::TreeNode n = pending.back();
        pending.pop_back();
        nodes.push_back({n.parent().key(), n.key(), n.text(), n.isExpanded()});
        const auto kids = n.children();
        pending.insert(pending.end(), kids.rbegin(), kids.rend());
    }
    toolkit::KeyedTree tree;
    tree.resize(window->tree()->size());
    tree.show();
    if (!QTest::qWaitForWindowExposed(&tree))
        std::fprintf(stderr, "the tree was not shown\n");
    closeWindow(window);
    for (auto _ : state) {
        {
            toolkit::KeyedTree::Batch batch(&tree);
            tree.removeAll();
            for (const auto &n : nodes)
                tree.add(n.parent, n.key, n.text).setExpanded(n.expanded);
        }
        QApplication::processEvents();
    }
    state.SetLabel(bench::shapeName(shape));
}

void rebuildSizes(benchmark::internal::Benchmark *b)
{
    for (const Shape shape : {Shape::Broad, Shape::Deep}) {
        for (const int items : {1000, 10000, 100000})
            b->Args({static_cast<int>(shape), items});
        if (std::getenv("BRANCHKEEPER_BENCH_LONG"))
            b->Args({static_cast<int>(shape), 1000000});
    }
    b->Args({static_cast<int>(Shape::LongText), 1000}); // one of the thousand ten megabytes long
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Rebuild)->Apply(rebuildSizes);
BENCHMARK(BM_RebuildFloorStore)->Apply(rebuildSizes);
BENCHMARK(BM_RebuildFloorTree)->Apply(rebuildSizes);

// The floor of anything that shows a long text: SQLite reading it once, by
// key, through a prepared statement of its own.
void BM_ReadTextOnce(benchmark::State &state)
{
    const Shape shape = shapeOf(state);
    const std::string path = bench::storeFolder(shape, 1000) + "/dbPro.mdb";
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *read = nullptr;
    sqlite3_prepare_v2(db, "SELECT KeyTxt FROM TbTree WHERE KeyInd = ?1", -1, &read, nullptr);
    for (auto _ : state) {
        sqlite3_bind_int(read, 1, bench::middleKey(shape, 1000));
        if (sqlite3_step(read) == SQLITE_ROW) {
            const unsigned char *text = sqlite3_column_text(read, 0);
            benchmark::DoNotOptimize(text ? text[sqlite3_column_bytes(read, 0) - 1] : 0);
        }
        sqlite3_reset(read);
    }
    sqlite3_finalize(read);
    sqlite3_close(db);
    state.SetLabel(bench::shapeName(shape));
}

BENCHMARK(BM_ReadTextOnce)
    ->Args({static_cast<int>(Shape::Broad)})
    ->Args({static_cast<int>(Shape::LongText)})
    ->Unit(benchmark::kMillisecond);

// What a screen reader reads of the selected row: its accessible name.
void BM_AccessibleName(benchmark::State &state)
{
    const Shape shape = shapeOf(state);
    auto window = openWindow(shape, 1000);
    const toolkit::TreeNode node = window->tree()->find(modTree::ItemNode(bench::middleKey(shape, 1000)));
    const int row = window->tree()->indexOf(node).row();
    QAccessibleInterface *tree = QAccessible::queryAccessibleInterface(window->tree());
    for (auto _ : state)
        benchmark::DoNotOptimize(tree->child(row)->text(QAccessible::Name));
    state.SetLabel(bench::shapeName(shape));
    closeWindow(window);
}

BENCHMARK(BM_AccessibleName)
    ->Args({static_cast<int>(Shape::Broad)})
    ->Args({static_cast<int>(Shape::LongText)})
    ->Unit(benchmark::kMicrosecond);

// ---- start-up ----------------------------------------------------------------

void BM_StartUp(benchmark::State &state)
{
    const Shape shape = shapeOf(state);
    const int items = static_cast<int>(state.range(1));
    bench::storeFolder(shape, items); // written before timing
    for (auto _ : state) {
        auto window = openWindow(shape, items);
        state.PauseTiming();
        closeWindow(window);
        state.ResumeTiming();
    }
    state.SetLabel(bench::shapeName(shape));
}

BENCHMARK(BM_StartUp)
    ->Args({static_cast<int>(Shape::Broad), 1000})
    ->Args({static_cast<int>(Shape::Broad), 100000})
    ->Args({static_cast<int>(Shape::Hidden), 1000000})
    ->Unit(benchmark::kMillisecond);

// ---- one command -------------------------------------------------------------

// Move up, then down again, so the tree stays the same across iterations; each
// is one whole command: unlink, link, rebuild, select, commit.
void BM_Command(benchmark::State &state)
{
    const int items = static_cast<int>(state.range(0));
    auto window = openWindow(Shape::Broad, items);
    // The buttons as the toolbar makes them, through the window's handler.
    QAction moveUp;
    moveUp.setData(modTree::CmdMoveUp);
    QAction moveDown;
    moveDown.setData(modTree::CmdMoveDown);
    bool up = true;
    for (auto _ : state) {
        emit window->toolbar()->actionTriggered(up ? &moveUp : &moveDown);
        QApplication::processEvents();
        up = !up;
    }
    if (!up) // leave the store as it was
        emit window->toolbar()->actionTriggered(&moveDown);
    closeWindow(window);
}

BENCHMARK(BM_Command)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// ---- opening a top-level item among many open ones ---------------------------

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double microsecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// One bare durable commit: a one-row UPDATE committed alone through the
// program's own connection, with its journal mode and sync, so its page cache
// stays as warm as the action's. The floor of any action that writes; taken
// in turns with the action so drift in the machine's load falls on both.
class BareCommit {
public:
    explicit BareCommit(std::int32_t key) : m_key(key)
    {
        sqlite3_prepare_v2(modBase::rsTree.connection()->handle(),
                           "UPDATE TbTree SET KeyTxt = ?1 WHERE KeyInd = ?2", -1, &m_update, nullptr);
    }
    ~BareCommit() { sqlite3_finalize(m_update); }
    BareCommit(const BareCommit &) = delete;
    BareCommit &operator=(const BareCommit &) = delete;

    double run()
    {
        const std::string text = "floor " + std::to_string(++m_count);
        const auto start = Clock::now();
        sqlite3_bind_text(m_update, 1, text.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(m_update, 2, m_key);
        sqlite3_step(m_update);
        sqlite3_reset(m_update);
        return microsecondsSince(start);
    }

private:
    sqlite3_stmt *m_update = nullptr;
    std::int32_t m_key;
    int m_count = 0;
};

// Opens the closed top-level item, as the user does: Expand written for it and
// for every other top-level item, one commit, the rebuild that loads its
// children, and the screen brought up to date. In the same loop, its floors:
// the rebuild of the view it leaves, and one bare durable commit.
void BM_OpenTopLevel(benchmark::State &state)
{
    const int tops = static_cast<int>(state.range(0));
    auto window = openWindow(Shape::OpenTops, tops);
    const std::int32_t closed = bench::middleKey(Shape::OpenTops, tops);
    BareCommit commit(closed + 1); // the hidden child: no open view shows it
    sqlite3_stmt *reopen = nullptr;
    sqlite3_prepare_v2(modBase::rsTree.connection()->handle(),
                       "UPDATE TbTree SET Expand = (KeyInd <> ?1) WHERE KeyPar = 1", -1, &reopen, nullptr);
    sqlite3_bind_int(reopen, 1, closed);
    std::vector<double> opening, rebuild, commits;
    for (auto _ : state) {
        sqlite3_step(reopen); // every other top-level item open again, this one closed
        sqlite3_reset(reopen);
        modTree::ShowTree();
        QApplication::processEvents();
        const toolkit::TreeNode node = window->tree()->find(modTree::ItemNode(closed));

        auto start = Clock::now();
        node.setExpanded(true); // raises the expand event the window handles
        QApplication::processEvents();
        opening.push_back(microsecondsSince(start));
        state.SetIterationTime(opening.back() / 1e6);

        start = Clock::now();
        modTree::ShowTree();
        QApplication::processEvents();
        rebuild.push_back(microsecondsSince(start));
        commits.push_back(commit.run());
    }
    sqlite3_finalize(reopen);
    // Leave the store as the next run expects it.
    sqlite3_exec(modBase::rsTree.connection()->handle(),
                 "UPDATE TbTree SET Expand = (KeyNxt <> 0) WHERE KeyPar = 1", nullptr, nullptr, nullptr);
    state.counters["opening_ms"] = median(opening) / 1000;
    state.counters["rebuild_ms"] = median(rebuild) / 1000;
    state.counters["commit_ms"] = median(commits) / 1000;
    state.counters["shown"] = window->tree()->nodeCount();
    closeWindow(window);
}

BENCHMARK(BM_OpenTopLevel)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- a paste ------------------------------------------------------------------

// Ctrl+V of an outline of `items` items (open groups of 100) after an item of
// a 1,000-item tree: read, every record allocated and linked, one commit, the
// rebuild that shows all of it, the first pasted item marked. Each iteration
// on a fresh copy of the store. In the same loop, its floors: the rebuild
// alone of the tree it leaves, and the store tool's import of the same file
// into a new store (read, written in one transaction, link-checked).
void BM_Paste(benchmark::State &state)
{
    const int items = static_cast<int>(state.range(0));
    std::string markdown;
    for (int i = 0; i < items; ++i)
        markdown += i % 100 == 0 ? "+ group " + std::to_string(i / 100) + "\n" : "  - item " + std::to_string(i) + "\n";
    const std::string base = bench::storeFolder(Shape::Broad, 1000) + "/dbPro.mdb";
    const std::int32_t anchor = bench::middleKey(Shape::Broad, 1000);
    std::vector<double> paste, rebuild, import;
    for (auto _ : state) {
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        std::filesystem::copy_file(base, folder + "/dbPro.mdb");
        auto window = std::make_unique<frmTree>(dir.path());
        window->Form_Load();
        auto *data = new QMimeData;
        data->setData(QStringLiteral("text/markdown"), QByteArray::fromStdString(markdown));
        QApplication::clipboard()->setMimeData(data);
        window->tree()->highlight(window->tree()->find(modTree::ItemNode(anchor)));

        auto start = Clock::now();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
        QApplication::sendEvent(window->tree(), &press);
        QApplication::processEvents();
        paste.push_back(microsecondsSince(start));
        state.SetIterationTime(paste.back() / 1e6);
        state.counters["shown"] = window->tree()->nodeCount();

        start = Clock::now();
        modTree::ShowTree();
        QApplication::processEvents();
        rebuild.push_back(microsecondsSince(start));
        closeWindow(window);

        QFile file(dir.filePath(QStringLiteral("outline.md")));
        file.open(QIODevice::WriteOnly);
        file.write(markdown.data(), static_cast<qint64>(markdown.size()));
        file.close();
        std::string error;
        start = Clock::now();
        if (!outline::importFile(file.fileName().toStdString(), folder + "/imported.mdb", outline::Format::Markdown,
                                 false, {}, &error))
            state.SkipWithError(error.c_str());
        import.push_back(microsecondsSince(start));
    }
    state.counters["paste_ms"] = median(paste) / 1000;
    state.counters["rebuild_ms"] = median(rebuild) / 1000;
    state.counters["import_ms"] = median(import) / 1000;
}

BENCHMARK(BM_Paste)->Arg(10000)->Arg(100000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- find ---------------------------------------------------------------------

void findSizes(benchmark::internal::Benchmark *b)
{
    b->Arg(1000)->Arg(100000);
    if (std::getenv("BRANCHKEEPER_BENCH_LONG"))
        b->Arg(1000000);
    b->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
}

// The floor of a count: SQLite reading every text once, in one pass.
double readEveryTextOnce(const std::string &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *read = nullptr;
    sqlite3_prepare_v2(db, "SELECT KeyTxt FROM TbTree", -1, &read, nullptr);
    const auto start = Clock::now();
    std::size_t bytes = 0;
    while (sqlite3_step(read) == SQLITE_ROW)
        bytes += static_cast<std::size_t>(sqlite3_column_bytes(read, 0));
    benchmark::DoNotOptimize(bytes);
    const double us = microsecondsSince(start);
    sqlite3_finalize(read);
    sqlite3_close(db);
    return us;
}

// Opens the find field of a window on `items` items (1,000 closed top-level
// items hiding the rest) and waits for the first count.
QLineEdit *openFind(frmTree &window, const char *typed)
{
    window.tree()->setFocus();
    QTest::keyClick(window.tree(), Qt::Key_F, Qt::ControlModifier);
    QLineEdit *field = window.findField()->edit();
    QTest::keyClicks(field, QString::fromLatin1(typed));
    window.findIndex()->settle(600000);
    return field;
}

// A keystroke in the find field to the count shown: over the tree read
// already (the file unchanged since the last count), and after another
// program changed the file (read again first); how long the keystroke itself
// held the window; beside the floor of SQLite reading every text once.
void BM_FindCount(benchmark::State &state)
{
    const int items = static_cast<int>(state.range(0));
    auto window = openWindow(Shape::Hidden, items);
    const std::string path = bench::storeFolder(Shape::Hidden, items) + "/dbPro.mdb";
    QLineEdit *field = openFind(*window, "number 1");
    sqlite3 *other = nullptr;
    sqlite3_open_v2(path.c_str(), &other, SQLITE_OPEN_READWRITE, nullptr);
    std::vector<double> warm, changed, keystroke, floor;
    int round = 0;
    auto count = [&](Qt::Key key) {
        const auto start = Clock::now();
        QTest::keyClick(field, key);
        keystroke.push_back(microsecondsSince(start));
        window->findIndex()->settle(600000);
        return microsecondsSince(start);
    };
    for (auto _ : state) {
        warm.push_back(count(Qt::Key_2)); // "number 12"
        state.SetIterationTime(warm.back() / 1e6);
        count(Qt::Key_Backspace);
        const std::string change = "UPDATE TbTree SET KeyTxt = 'changed " + std::to_string(++round) + "' WHERE KeyInd = 2";
        sqlite3_exec(other, change.c_str(), nullptr, nullptr, nullptr);
        changed.push_back(count(Qt::Key_3));
        count(Qt::Key_Backspace);
        floor.push_back(readEveryTextOnce(path));
    }
    sqlite3_exec(other, "UPDATE TbTree SET KeyTxt = 'Item number 2 of the benchmark' WHERE KeyInd = 2", nullptr,
                 nullptr, nullptr);
    sqlite3_close(other);
    state.counters["count_ms"] = median(warm) / 1000;
    state.counters["count_file_changed_ms"] = median(changed) / 1000;
    state.counters["keystroke_max_ms"] = *std::max_element(keystroke.begin(), keystroke.end()) / 1000;
    state.counters["floor_read_every_text_ms"] = median(floor) / 1000;
    state.counters["matches"] = window->findIndex()->latest().count();
    closeWindow(window);
}

// Enter to the one match, inside a closed top-level item: the item opened
// (every other top-level item written closed), one commit, the rebuild, the
// match clicked. In the same loop, its floors: the rebuild of the view it
// leaves, and one bare durable commit.
void BM_FindJump(benchmark::State &state)
{
    const int items = static_cast<int>(state.range(0));
    auto window = openWindow(Shape::Hidden, items);
    const int target = items / 2 + 7;
    const std::string needle = "number " + std::to_string(target) + " of";
    QLineEdit *field = openFind(*window, needle.c_str());
    BareCommit commit(store::kRootKey); // its row shows a text of its own, whatever the record holds
    std::vector<double> jump, rebuild, commits;
    for (auto _ : state) {
        sqlite3_exec(modBase::rsTree.connection()->handle(), "UPDATE TbTree SET Expand = 0 WHERE KeyPar = 1", nullptr,
                     nullptr, nullptr);
        modTree::ShowTree();
        window->tree()->highlight(window->tree()->find(modTree::ItemNode(store::kRootKey)));
        QApplication::processEvents();

        auto start = Clock::now();
        QTest::keyClick(field, Qt::Key_Return);
        QApplication::processEvents();
        jump.push_back(microsecondsSince(start));
        state.SetIterationTime(jump.back() / 1e6);

        start = Clock::now();
        modTree::ShowTree();
        QApplication::processEvents();
        rebuild.push_back(microsecondsSince(start));
        commits.push_back(commit.run());
    }
    state.counters["jump_ms"] = median(jump) / 1000;
    state.counters["rebuild_ms"] = median(rebuild) / 1000;
    state.counters["commit_ms"] = median(commits) / 1000;
    state.counters["reached"] = modTree::ItemOf(window->textBox()->tag()).value_or(0) == target;
    closeWindow(window);
}

BENCHMARK(BM_FindCount)->Apply(findSizes);
BENCHMARK(BM_FindJump)->Apply(findSizes);

// ---- one keystroke, one click, and their floors -----------------------------

void reportDurations(benchmark::State &state, std::vector<double> &us)
{
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

constexpr int kKeystrokes = 300;

void BM_Keystroke(benchmark::State &state)
{
    auto window = openWindow(Shape::Broad, 1000);
    window->textBox()->setTag(modTree::ItemNode(bench::middleKey(Shape::Broad, 1000)));
    std::vector<double> us;
    for (auto _ : state) {
        for (int i = 0; i < kKeystrokes; ++i) {
            const QString text = QStringLiteral("typed text ") + QString::number(i);
            const auto start = Clock::now();
            window->textBox()->setText(text); // the change event writes it, durably
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    reportDurations(state, us);
    closeWindow(window);
}

// A click on a node, through the window's handler: the old mark cleared, the
// new one set, the text box filled, one commit. Two nodes take turns, and a
// bare durable commit takes its turn after each click.
void BM_Click(benchmark::State &state)
{
    auto window = openWindow(Shape::Broad, 1000);
    const std::int32_t first = bench::middleKey(Shape::Broad, 1000);
    BareCommit commit(first + 2);
    std::vector<double> us, floor;
    for (auto _ : state) {
        for (int i = 0; i < kKeystrokes; ++i) {
            const toolkit::TreeNode node = window->tree()->find(modTree::ItemNode(first + i % 2));
            const auto start = Clock::now();
            emit window->tree()->nodeClick(node);
            us.push_back(microsecondsSince(start));
            floor.push_back(commit.run());
        }
    }
    state.counters["floor_median_us"] = median(floor);
    reportDurations(state, us);
    closeWindow(window);
}

// One prepared one-row UPDATE committed alone, same journal mode and sync.
void BM_KeystrokeFloorUpdate(benchmark::State &state)
{
    const std::string path = bench::storeFolder(Shape::Broad, 1000) + "/dbPro.mdb";
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_stmt *update = nullptr;
    sqlite3_prepare_v2(db, "UPDATE TbTree SET KeyTxt = ?1 WHERE KeyInd = ?2", -1, &update, nullptr);
    std::vector<double> us;
    for (auto _ : state) {
        for (int i = 0; i < kKeystrokes; ++i) {
            const std::string text = "typed text " + std::to_string(i);
            const auto start = Clock::now();
            sqlite3_bind_text(update, 1, text.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(update, 2, bench::middleKey(Shape::Broad, 1000));
            sqlite3_step(update);
            sqlite3_reset(update);
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    sqlite3_finalize(update);
    sqlite3_close(db);
    reportDurations(state, us);
}

// A one-byte write and fsync on the same disk.
void BM_KeystrokeFloorFsync(benchmark::State &state)
{
    const std::string path = bench::storeFolder(Shape::Broad, 1000) + "/fsync.probe";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<double> us;
    for (auto _ : state) {
        for (int i = 0; i < kKeystrokes; ++i) {
            const auto start = Clock::now();
            const char byte = static_cast<char>(i);
            benchmark::DoNotOptimize(::pwrite(fd, &byte, 1, 0));
            ::fsync(fd);
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    ::close(fd);
    ::unlink(path.c_str());
    reportDurations(state, us);
}

BENCHMARK(BM_Keystroke)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Click)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokeFloorUpdate)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokeFloorFsync)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
