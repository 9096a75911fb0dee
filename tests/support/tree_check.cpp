#include "tests/support/tree_check.h"

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

std::string str(const std::optional<std::int64_t> &v)
{
    return v ? std::to_string(*v) : "NULL";
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
    const auto rows = readRows(store);
    auto problem = [&](std::int64_t key, const std::string &what) {
        check.problems.push_back("item " + std::to_string(key) + ": " + what);
    };
    const auto root = rows.find(1);
    if (root == rows.end()) {
        check.problems.push_back("no root record");
        return check;
    }
    if (root->second.par != 0 || root->second.prw != 0 || root->second.nxt != 0)
        problem(1, "root links KeyPar/KeyPrw/KeyNxt are not all 0");
    if (!rows.contains(0))
        check.problems.push_back("no record 0");

    // Iterative walk: (parent, first child) pairs to visit.
    check.reachable.insert(1);
    std::vector<std::int64_t> parents{1};
    while (!parents.empty()) {
        const std::int64_t parent = parents.back();
        parents.pop_back();
        std::optional<std::int64_t> at = rows.at(parent).chi;
        std::int64_t prev = 0;
        if (!at) {
            problem(parent, "KeyChi is NULL");
            continue;
        }
        while (*at != 0) {
            const auto it = rows.find(*at);
            if (it == rows.end()) {
                problem(prev ? prev : parent, "links to missing record " + std::to_string(*at));
                break;
            }
            if (!check.reachable.insert(static_cast<std::int32_t>(*at)).second) {
                problem(*at, "reached twice");
                break;
            }
            const Row &r = it->second;
            if (r.par != parent)
                problem(*at, "KeyPar " + str(r.par) + " but it is a child of " + std::to_string(parent));
            if (r.prw != prev)
                problem(*at, "KeyPrw " + str(r.prw) + " but the previous sibling is " + std::to_string(prev));
            parents.push_back(*at);
            prev = *at;
            if (!r.nxt) {
                problem(*at, "KeyNxt is NULL");
                break;
            }
            at = r.nxt;
        }
    }
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
