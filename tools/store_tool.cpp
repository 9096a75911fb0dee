// branchkeeper-store: makes a new store for the program to open, and checks
// the links of one.
//
//   branchkeeper-store new PATH       writes a new, empty store at PATH
//   branchkeeper-store sample PATH    writes a new store holding a small outline
//   branchkeeper-store check PATH     checks the tree in the store at PATH and
//                                     prints one line per broken rule, nothing
//                                     when it is sound; reads the file only
//
// Exit status: 0 done (check: the tree is sound), 1 new or sample failed or
// check found broken rules, 2 wrong arguments or (check) a file that cannot
// be opened or read.
//
// The program itself never creates its file, so this is how a store is born.

#include "store/check.h"
#include "commands/command_table.h"
#include "store/connection.h"
#include "store/create.h"
#include "store/tree_cursor.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct SampleItem {
    std::int32_t key;
    std::int32_t parent;
    bool expand;
    const char *text;
};

// Children of one parent are listed in their order.
const std::vector<SampleItem> kSample = {
    {2, 1, true, "Kitchen renovation"},
    {3, 2, true, "Measure the walls"},
    {4, 2, false, "Choose tiles"},
    {5, 4, false, "Visit the showroom"},
    {6, 4, false, "Order samples"},
    {7, 2, true, "Plumbing"},
    {8, 7, false, "Move the sink drain"},
    {9, 7, false, "New shut-off valves"},
    {10, 1, false, "Garden"},
    {11, 10, false, "Prune the apple tree"},
    {12, 10, false, "Mend the fence"},
    {13, 1, true, "Reading list"},
    {14, 13, false, "The Art of Computer Programming"},
    {15, 13, false, "Structure and Interpretation of Computer Programs"},
    {16, 13, false, "A Pattern Language"},
};
constexpr std::int32_t kSampleSelected = 8;

bool writeSample(const std::string &path, std::string *error)
{
    std::string openError;
    auto connection = store::Connection::open(path, &openError);
    store::TreeCursor cursor;
    if (!connection || !cursor.open(connection)) {
        *error = connection ? cursor.lastError() : openError;
        return false;
    }
    std::map<std::int32_t, std::vector<std::int32_t>> children;
    for (const auto &item : kSample)
        children[item.parent].push_back(item.key);

    store::TransactionScope scope(connection.get(), store::TransactionScope::Kind::Write);
    using store::Field;
    for (const auto &item : kSample) {
        const auto &siblings = children[item.parent];
        std::size_t at = 0;
        while (siblings[at] != item.key)
            ++at;
        const auto kids = children.find(item.key);
        const std::int32_t first = kids == children.end() ? 0 : kids->second.front();
        if (!cursor.addNew(item.key)
            || !cursor.update({{Field::KeyPar, std::int64_t{item.parent}},
                               {Field::KeyChi, std::int64_t{first}},
                               {Field::KeyPrw, std::int64_t{at > 0 ? siblings[at - 1] : 0}},
                               {Field::KeyNxt, std::int64_t{at + 1 < siblings.size() ? siblings[at + 1] : 0}},
                               {Field::KeyTxt, std::string(item.text)},
                               {Field::Expand, item.expand},
                               {Field::KeySel, item.key == kSampleSelected}})) {
            *error = cursor.lastError();
            return false;
        }
    }
    if (!cursor.positionOn(store::kRootKey) || !cursor.update(Field::KeyChi, std::int64_t{children[1].front()})) {
        *error = cursor.lastError();
        return false;
    }
    if (!scope.commit()) {
        *error = connection->lastError();
        return false;
    }
    return true;
}

int usage(const char *self)
{
    std::fprintf(stderr, "usage: %s new PATH\n       %s sample PATH\n       %s check PATH\n", self, self, self);
    return 2;
}

int check(const char *path)
{
    std::string error;
    const auto result = store::checkLinks(path, &error);
    if (!result) {
        std::fprintf(stderr, "branchkeeper-store: cannot read %s: %s\n", path, error.c_str());
        return 2;
    }
    for (const auto &line : result->problems)
        std::printf("%s\n", line.c_str());
    return result->clean() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return usage(argv[0]);
    const std::string command = argv[1];
    if (command == "check")
        return check(argv[2]);
    const bool sample = command == "sample";
    if (!sample && command != "new")
        return usage(argv[0]);
    std::vector<store::CommandRowText> rows;
    for (const auto &command : modTree::Commands())
        rows.push_back({command.picture, command.about});
    std::string error;
    if (!store::createStore(argv[2], rows, &error)) {
        std::fprintf(stderr, "branchkeeper-store: cannot create %s: %s\n", argv[2], error.c_str());
        return 1;
    }
    if (sample && !writeSample(argv[2], &error)) {
        std::remove(argv[2]);
        std::fprintf(stderr, "branchkeeper-store: cannot fill %s: %s\n", argv[2], error.c_str());
        return 1;
    }
    return 0;
}
