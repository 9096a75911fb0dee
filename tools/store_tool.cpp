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
#include <string_view>
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

int create(const char *path, bool sample)
{
    std::vector<store::CommandRowText> rows;
    for (const auto &command : modTree::Commands())
        rows.push_back({command.picture, command.about});
    std::string error;
    if (!store::createStore(path, rows, &error)) {
        std::fprintf(stderr, "branchkeeper-store: cannot create %s: %s\n", path, error.c_str());
        return 1;
    }
    if (sample && !writeSample(path, &error)) {
        std::remove(path);
        std::fprintf(stderr, "branchkeeper-store: cannot fill %s: %s\n", path, error.c_str());
        return 1;
    }
    return 0;
}

// One row per command: its name, its arguments for the usage text, and what
// runs it with the arguments after the name.
struct Command {
    const char *name;
    const char *arguments;
    int (*run)(const std::vector<std::string> &arguments);
};

const Command kCommands[] = {
    {"new", "PATH", [](const auto &a) { return a.size() == 1 ? create(a[0].c_str(), false) : -1; }},
    {"sample", "PATH", [](const auto &a) { return a.size() == 1 ? create(a[0].c_str(), true) : -1; }},
    {"check", "PATH", [](const auto &a) { return a.size() == 1 ? check(a[0].c_str()) : -1; }},
};

int usage(const char *self)
{
    for (const Command &command : kCommands)
        std::fprintf(stderr, "%s %s %s %s\n", &command == kCommands ? "usage:" : "      ", self, command.name,
                     command.arguments);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage(argv[0]);
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    for (const Command &command : kCommands) {
        if (command.name != std::string_view(argv[1]))
            continue;
        const int status = command.run(arguments);
        return status < 0 ? usage(argv[0]) : status; // -1: the wrong arguments
    }
    return usage(argv[0]);
}
