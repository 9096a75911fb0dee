// Starts the way the program starts, on a benchmark store, and reports:
//
//   branchkeeper-probe SHAPE ITEMS [FLOOR]
//       SHAPE: broad, deep, hidden, groups or longtext
//       FLOOR: store  reads the rows the window shows, with SQLite alone (an
//                     open item's children in one pass, as the rebuild does)
//              tree   fills the window's tree with the same rows, no store
//
// prints one line: start-up time from main() to the first frame shown (for
// the store floor, to the last row read), peak resident memory, and the
// number of nodes shown; then ends. bench/run.py runs it in fresh processes
// for the whole-process figures.

#include "app/frm_tree.h"
#include "bench/bench_stores.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/twips.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// What the rebuild reads of each shown row, the fastest way SQLite gives it:
// an open item's children in one pass over "ParNxt", an only child by key.
int readWithSqliteAlone(const std::string &path, bench::Shape shape, int items)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *byKey = nullptr;
    sqlite3_stmt *byParent = nullptr;
    sqlite3_prepare_v2(db, "SELECT KeyPar, KeyChi, KeyNxt, KeyTxt, KeySel, Expand FROM TbTree WHERE KeyInd = ?1", -1,
                       &byKey, nullptr);
    sqlite3_prepare_v2(db, "SELECT KeyPar, KeyChi, KeyNxt, KeyTxt, KeySel, Expand FROM TbTree WHERE KeyPar = ?1", -1,
                       &byParent, nullptr);
    int rows = 0;
    long long sum = 0;
    auto readRows = [&](sqlite3_stmt *read, int value) {
        sqlite3_bind_int(read, 1, value);
        while (sqlite3_step(read) == SQLITE_ROW) {
            ++rows;
            sum += sqlite3_column_int(read, 0) + sqlite3_column_int(read, 1) + sqlite3_column_int(read, 2)
                + sqlite3_column_int(read, 4) + sqlite3_column_int(read, 5);
            const unsigned char *text = sqlite3_column_text(read, 3);
            sum += text ? text[sqlite3_column_bytes(read, 3) / 2] : 0;
        }
        sqlite3_reset(read);
    };
    readRows(byKey, 1);
    bench::forEachShown(shape, items, [&](const bench::ShownItem &item) {
        if (item.open)
            shape == bench::Shape::Deep ? readRows(byKey, item.key + 1) : readRows(byParent, item.key);
    });
    sqlite3_finalize(byKey);
    sqlite3_finalize(byParent);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return sum == -1 ? 0 : rows;
}

// Resident memory now, beside the peak: what the start-up held for a moment
// and then let go.
long residentKb()
{
    long rssKb = 0;
    if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
        long size = 0;
        long pages = 0;
        if (std::fscanf(statm, "%ld %ld", &size, &pages) == 2)
            rssKb = pages * (sysconf(_SC_PAGESIZE) / 1024);
        std::fclose(statm);
    }
    return rssKb;
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer clock;
    clock.start();
    const char *floor = argc == 4 ? argv[3] : "";
    if (argc < 3 || argc > 4 || (argc == 4 && std::strcmp(floor, "store") != 0 && std::strcmp(floor, "tree") != 0)) {
        std::fprintf(stderr, "usage: %s broad|deep|hidden|groups|longtext ITEMS [store|tree]\n", argv[0]);
        return 2;
    }
    const bench::Shape shape = std::strcmp(argv[1], "deep") == 0 ? bench::Shape::Deep
        : std::strcmp(argv[1], "hidden") == 0                    ? bench::Shape::Hidden
        : std::strcmp(argv[1], "groups") == 0                    ? bench::Shape::Groups
        : std::strcmp(argv[1], "longtext") == 0                  ? bench::Shape::LongText
                                                                 : bench::Shape::Broad;
    const int items = std::stoi(argv[2]);
    const QString folder = QString::fromStdString(bench::storeFolder(shape, items));
    // The selected item's text, made before timing as the store holds it ready.
    const std::string selectedText =
        std::strcmp(floor, "tree") == 0 ? bench::textOf(shape, items, bench::middleKey(shape, items)) : "";
    const qint64 prepared = clock.elapsed(); // writing a missing store is not start-up

    int nodes = 0;
    long rssKb = 0;
    if (std::strcmp(floor, "store") == 0) {
        nodes = readWithSqliteAlone(folder.toStdString() + "/dbPro.mdb", shape, items);
        rssKb = residentKb();
    } else {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        std::unique_ptr<QWidget> window;
        toolkit::KeyedTree *tree = nullptr;
        if (*floor) {
            auto bare = std::make_unique<toolkit::KeyedTree>();
            tree = bare.get();
            toolkit::twips::setWidth(tree, 6375);
            toolkit::twips::setHeight(tree, 4000);
            {
                toolkit::KeyedTree::Batch batch(tree);
                const int selected = bench::middleKey(shape, items);
                char text[48];
                bench::forEachShown(shape, items, [&](const bench::ShownItem &item) {
                    // The store's texts, made here as cheaply as can be.
                    std::string_view utf8 = "корень";
                    if (item.key == selected) {
                        utf8 = selectedText;
                    } else if (item.key != 1) {
                        const int n = std::snprintf(text, sizeof text, "Item number %d of the benchmark", item.key);
                        utf8 = std::string_view(text, static_cast<std::size_t>(n));
                    }
                    const auto parent = item.parent == 0 ? std::nullopt
                                                         : std::optional(toolkit::NodeKey{item.parent, u'K'});
                    const toolkit::TreeNode node = tree->add(parent, {item.key, u'K'}, utf8);
                    node.setExpanded(item.open);
                    if (item.key == selected)
                        node.setSelected();
                });
            }
            window = std::move(bare);
        } else {
            auto form = std::make_unique<frmTree>(folder);
            form->Form_Load();
            tree = form->tree();
            window = std::move(form);
        }
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            std::fprintf(stderr, "the window was not shown\n");
        QApplication::processEvents();
        nodes = tree->nodeCount();
        rssKb = residentKb();
    }
    const qint64 shownAt = clock.elapsed() - prepared;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("{\"shape\": \"%s\", \"items\": %d, \"floor\": \"%s\", \"startup_ms\": %lld, \"maxrss_kb\": %ld, "
                "\"rss_kb\": %ld, \"nodes\": %d}\n",
                argv[1], items, floor, static_cast<long long>(shownAt), usage.ru_maxrss, rssKb, nodes);
    return 0;
}
