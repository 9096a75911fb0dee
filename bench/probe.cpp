// Starts the way the program starts, on a benchmark store, and reports:
//
//   branchkeeper-probe SHAPE ITEMS     SHAPE: broad, deep, hidden or groups
//
// prints one line: start-up time from main() to the first frame shown, peak
// resident memory, and the number of nodes shown; then ends. bench/run.py
// runs it in fresh processes for the whole-process figures.

#include "app/frm_tree.h"
#include "bench/bench_stores.h"
#include "toolkit/keyed_tree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    QElapsedTimer clock;
    clock.start();
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s broad|deep|hidden|groups ITEMS\n", argv[0]);
        return 2;
    }
    const bench::Shape shape = std::strcmp(argv[1], "deep") == 0 ? bench::Shape::Deep
        : std::strcmp(argv[1], "hidden") == 0                    ? bench::Shape::Hidden
        : std::strcmp(argv[1], "groups") == 0                    ? bench::Shape::Groups
                                                                 : bench::Shape::Broad;
    const int items = std::stoi(argv[2]);
    const QString folder = QString::fromStdString(bench::storeFolder(shape, items));
    const qint64 prepared = clock.elapsed(); // writing a missing store is not start-up

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    frmTree window(folder);
    window.Form_Load();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "the window was not shown\n");
    QApplication::processEvents();
    const qint64 shown = clock.elapsed() - prepared;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("{\"shape\": \"%s\", \"items\": %d, \"startup_ms\": %lld, \"maxrss_kb\": %ld, \"nodes\": %d}\n",
                argv[1], items, static_cast<long long>(shown), usage.ru_maxrss, window.TreeV->nodeCount());
    return 0;
}
