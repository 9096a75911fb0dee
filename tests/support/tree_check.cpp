#include "tests/support/tree_check.h"

#include "store/check.h"
#include "tests/support/test_store.h"

#include <sqlite3.h>

#include <map>
#include <optional>

namespace testing_support {

namespace {

struct Row {
    std::optional<std::int64_t> par, chi, prw, nxt;
    bool expand = false;
};

std::optional<std::int64_t> intColumn(sqlite3_stmt *stmt, int i)
{
    if (sqlite3_column_type(stmt, i) != SQLITE_INTEGER)
        return std::nullopt;
    return sqlite3_column_int64(stmt, i);
}

std::map<std::int64_t, Row> readRows(TestStore &store)
{
    std::map<std::int64_t, Row> rows;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(store.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, Expand FROM TbTree", -1, &stmt,
                           nullptr)
        == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW)
            rows[sqlite3_column_int64(stmt, 0)] = {intColumn(stmt, 1), intColumn(stmt, 2), intColumn(stmt, 3),
                                                   intColumn(stmt, 4), sqlite3_column_int64(stmt, 5) != 0};
    }
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    return rows;
}

} // namespace

std::string TreeCheck::report() const
{
    std::string out;
    for (const auto &p : problems)
        out += p + "\n";
    return out;
}

TreeCheck checkTree(TestStore &store)
{
    TreeCheck check;
    const std::string &error = store::lastError();
    const auto result = store::checkLinks(store.path());
    if (!result) {
        check.problems.push_back("cannot read the store: " + error);
        return check;
    }
    check.problems = result->problems;
    check.reachable.insert(result->reachable.begin(), result->reachable.end());
    return check;
}

std::vector<std::string> outline(TestStore &store)
{
    std::vector<std::string> out;
    const auto rows = readRows(store);
    if (!rows.contains(1))
        return out;
    std::set<std::int64_t> seen{1};
    // (item, depth) stack in reverse order of display.
    std::vector<std::pair<std::int64_t, int>> stack;
    auto pushChildren = [&](std::int64_t parent, int depth) {
        std::vector<std::int64_t> kids;
        for (std::optional<std::int64_t> at = rows.at(parent).chi; at && *at != 0 && rows.contains(*at)
             && seen.insert(*at).second;
             at = rows.at(*at).nxt)
            kids.push_back(*at);
        for (auto k = kids.rbegin(); k != kids.rend(); ++k)
            stack.emplace_back(*k, depth);
    };
    pushChildren(1, 1);
    while (!stack.empty()) {
        const auto [key, depth] = stack.back();
        stack.pop_back();
        out.push_back(std::to_string(key) + "@" + std::to_string(depth));
        pushChildren(key, depth + 1);
    }
    return out;
}

std::vector<std::string> expectedView(TestStore &store)
{
    std::vector<std::string> out;
    const auto rows = readRows(store);
    if (!rows.contains(1))
        return out;
    out.push_back(">1K");
    std::set<std::int64_t> seen{1};
    // (parent, item) pairs still to show, last first.
    std::vector<std::pair<std::int64_t, std::int64_t>> stack;
    auto pushChildren = [&](std::int64_t parent) {
        std::vector<std::int64_t> kids;
        for (std::optional<std::int64_t> at = rows.at(parent).chi; at && *at != 0 && rows.contains(*at)
             && seen.insert(*at).second;
             at = rows.at(*at).nxt)
            kids.push_back(*at);
        for (auto k = kids.rbegin(); k != kids.rend(); ++k)
            stack.emplace_back(parent, *k);
    };
    pushChildren(1);
    while (!stack.empty()) {
        const auto [parent, key] = stack.back();
        stack.pop_back();
        out.push_back(std::to_string(parent) + "K>" + std::to_string(key) + "K");
        const Row &r = rows.at(key);
        if (r.chi && *r.chi != 0) {
            if (r.expand)
                pushChildren(key);
            else
                out.push_back(std::to_string(key) + "K>" + std::to_string(key) + "S");
        }
    }
    return out;
}

} // namespace testing_support
