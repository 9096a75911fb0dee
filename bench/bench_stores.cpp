#include "bench/bench_stores.h"

#include "commands/toolbar.h"
#include "store/create.h"

#include <sqlite3.h>

#include <QDir>

#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <vector>

namespace bench {

namespace {

struct Row {
    int key, par, chi, prw, nxt;
    bool expand;
};

std::vector<Row> rowsFor(Shape shape, int items)
{
    std::vector<Row> rows;
    rows.reserve(static_cast<std::size_t>(items) + 2);
    rows.push_back({0, 0, 0, 0, 0, false});
    rows.push_back({1, 0, items > 0 ? 2 : 0, 0, 0, false});
    if (shape == Shape::Deep) {
        for (int k = 2; k <= items + 1; ++k)
            rows.push_back({k, k - 1, k <= items ? k + 1 : 0, 0, 0, true});
        return rows;
    }
    if (shape == Shape::OpenTops) {
        // Top t is key 2 + 2t, its child the key after it; the last top is closed.
        for (int t = 0; t <= items; ++t) {
            const int top = 2 + 2 * t;
            rows.push_back({top, 1, top + 1, t > 0 ? top - 2 : 0, t < items ? top + 2 : 0, t < items});
            rows.push_back({top + 1, top, 0, 0, 0, false});
        }
        return rows;
    }
    // Top-level items each followed by their children, keys in display order.
    const int groups = shape == Shape::Hidden || shape == Shape::Groups ? 1000 : (items + 99) / 100;
    const int perGroup = items / groups; // the group item itself included
    std::vector<int> tops;
    int key = 2;
    for (int g = 0; g < groups && key <= items + 1; ++g) {
        const int top = key++;
        tops.push_back(top);
        rows.push_back({top, 1, 0, 0, 0, shape != Shape::Hidden});
        const int first = key;
        for (int c = 1; c < perGroup && key <= items + 1; ++c, ++key)
            rows.push_back({key, top, 0, key == first ? 0 : key - 1, 0, false});
        const int last = key - 1;
        if (last >= first) {
            rows[static_cast<std::size_t>(top)].chi = first;
            for (int k = first; k < last; ++k)
                rows[static_cast<std::size_t>(k)].nxt = k + 1;
        }
    }
    for (std::size_t i = 0; i < tops.size(); ++i) {
        Row &r = rows[static_cast<std::size_t>(tops[i])];
        r.prw = i > 0 ? tops[i - 1] : 0;
        r.nxt = i + 1 < tops.size() ? tops[i + 1] : 0;
    }
    return rows;
}

void write(const std::string &finalPath, Shape shape, int items)
{
    // Written aside and renamed into place, so a benchmark running at the
    // same time never opens half a store.
    const std::string path = finalPath + ".part" + std::to_string(::getpid());
    std::filesystem::remove(path);
    sqlite3 *db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_exec(db, store::kSchemaSql, nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO TbTree (KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, Expand) "
                       "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
                       -1, &insert, nullptr);
    const int selected = middleKey(shape, items);
    for (const Row &r : rowsFor(shape, items)) {
        sqlite3_bind_int(insert, 1, r.key);
        sqlite3_bind_int(insert, 2, r.par);
        sqlite3_bind_int(insert, 3, r.chi);
        sqlite3_bind_int(insert, 4, r.prw);
        sqlite3_bind_int(insert, 5, r.nxt);
        const std::string text = textOf(shape, items, r.key);
        if (r.key > 1)
            sqlite3_bind_text(insert, 6, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(insert, 6);
        sqlite3_bind_int(insert, 7, r.key == selected ? 1 : 0);
        sqlite3_bind_int(insert, 8, r.expand ? 1 : 0);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    // The toolbar the program ships with, so start-up fills it as usual.
    sqlite3_prepare_v2(db, "INSERT INTO tbCmd (CmdPict, CmdAbout) VALUES (?1, ?2)", -1, &insert, nullptr);
    for (const auto &row : modTree::Commands()) {
        sqlite3_bind_text(insert, 1, row.picture, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, row.about, -1, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::filesystem::rename(path, finalPath);
}

void drawPictures(const std::string &dir)
{
    modTree::WriteButtonPictures(QString::fromStdString(dir), nullptr);
}

} // namespace

std::string textOf(Shape shape, int items, int key)
{
    if (shape == Shape::LongText && key == middleKey(shape, items)) {
        std::string text;
        text.reserve(10u << 20);
        while (text.size() < (10u << 20))
            text += "A long text of ten megabytes, as an imported note may have. ";
        return text;
    }
    char text[48];
    std::snprintf(text, sizeof text, "Item number %d of the benchmark", key);
    return text;
}

void forEachShown(Shape shape, int items, const std::function<void(const ShownItem &)> &shown)
{
    if (shape == Shape::OpenTops)
        return;
    shown({0, 1, true});
    if (shape == Shape::Deep) {
        for (int k = 2; k <= items + 1; ++k)
            shown({k - 1, k, true});
        return;
    }
    // As rowsFor() lays the groups out: keys in display order.
    const int groups = shape == Shape::Groups || shape == Shape::Hidden ? 1000 : (items + 99) / 100;
    const int perGroup = items / groups;
    int key = 2;
    for (int g = 0; g < groups && key <= items + 1; ++g) {
        const int top = key++;
        const bool open = shape != Shape::Hidden;
        shown({1, top, open});
        for (int c = 1; c < perGroup && key <= items + 1; ++c, ++key) {
            if (open)
                shown({top, key, false});
        }
    }
}

const char *shapeName(Shape shape)
{
    switch (shape) {
    case Shape::Broad:
        return "broad";
    case Shape::Deep:
        return "deep";
    case Shape::Hidden:
        return "hidden";
    case Shape::OpenTops:
        return "opentops";
    case Shape::Groups:
        return "groups";
    case Shape::LongText:
        return "longtext";
    }
    return "?";
}

int middleKey(Shape shape, int items)
{
    if (shape == Shape::Deep)
        return 1 + items / 2;
    if (shape == Shape::Hidden)
        return 2;
    if (shape == Shape::Groups)
        return 4 + items / 2; // a child with a previous sibling, near the middle
    if (shape == Shape::LongText)
        shape = Shape::Broad;
    if (shape == Shape::OpenTops)
        return 2 + 2 * items;
    // A child in the middle group that has a previous sibling; keys follow
    // display order, each group being its top item and 99 children.
    const int middle = 1 + items / 2;
    const int top = 2 + 100 * ((middle - 2) / 100);
    return middle < top + 2 ? top + 2 : middle;
}

std::string storeFolder(Shape shape, int items)
{
    // The generation in the name keeps stores of an older layout from being reused.
    const std::string dir = QDir::tempPath().toStdString() + "/branchkeeper-bench/v2/" + shapeName(shape) + "-"
        + std::to_string(items);
    const std::string path = dir + "/dbPro.mdb";
    std::filesystem::create_directories(dir);
    if (!std::filesystem::exists(path)) {
        drawPictures(dir);
        write(path, shape, items);
    }
    return dir;
}

} // namespace bench
