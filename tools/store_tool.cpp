// branchkeeper-store: makes a new store for the program to open, checks the
// links of one, and looks after the data in it.
//
//   branchkeeper-store new PATH       writes a new, empty store at PATH
//   branchkeeper-store sample PATH    writes a new store holding a small outline
//   branchkeeper-store check PATH     checks the tree in the store at PATH and
//                                     prints one line per broken rule, nothing
//                                     when it is sound; reads the file only
//   branchkeeper-store dump STORE     the tree, indented by level, each item's
//                                     key, its flags (open, selected) and text
//   branchkeeper-store deleted STORE  each deleted branch: its top item's key,
//                                     how many items it holds, its text
//   branchkeeper-store restore STORE KEY
//                                     links deleted branch KEY back as the last
//                                     top-level item, all or nothing; works
//                                     while the program has the store open
//   branchkeeper-store backup STORE COPY
//                                     a consistent copy in the new file COPY,
//                                     safe while the program writes the store
//   branchkeeper-store export STORE OUT [--format opml|md|txt] [--force]
//                                     the tree as OPML, a Markdown list or
//                                     indented text (format from OUT's name
//                                     unless given); says on standard error
//                                     what a broken store kept out (status 1);
//                                     --force replaces a file, never a database
//   branchkeeper-store import IN NEW-STORE [--format opml|md|txt] [--force]
//                                     a new store holding the outline in IN;
//                                     bad input creates nothing; --force
//                                     writes the whole import into the store
//                                     NEW-STORE, even while the program has it
//
// Every file made is its owner's alone (0600), and none of them is readable
// by more people than the file it came from. No command follows a symbolic
// link that leads nowhere: it would make a file the user never named.
//
// Exit status: 0 done (check: the tree is sound), 1 the command failed, check
// or dump found broken links, or restore was refused, 2 wrong arguments or a
// file that cannot be opened or read, 3 restore found the store busy.
//
// The program itself never creates its file, so this is how a store is born.

#include "commands/command_table.h"
#include "store/branches.h"
#include "store/check.h"
#include "store/connection.h"
#include "store/create.h"
#include "store/tree_cursor.h"
#include "tools/outline.h"

#include <algorithm>
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
    auto connection = store::Connection::open(path);
    store::TreeCursor cursor;
    if (!connection || !cursor.open(connection)) {
        *error = connection ? cursor.lastError() : store::lastError();
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
    const auto result = store::checkLinks(path);
    if (!result) {
        std::fprintf(stderr, "branchkeeper-store: cannot read %s: %s\n", path, store::lastError().c_str());
        return 2;
    }
    for (const auto &line : result->problems)
        std::printf("%s\n", line.c_str());
    for (const auto &line : result->notes)
        std::printf("note: %s\n", line.c_str());
    return result->clean() ? 0 : 1;
}

int create(const char *path, bool sample)
{
    std::vector<store::CommandRowText> rows;
    for (const auto &command : modTree::Commands())
        rows.push_back({command.picture, command.about});
    if (!store::createStore(path, rows)) {
        std::fprintf(stderr, "branchkeeper-store: cannot create %s: %s\n", path, store::lastError().c_str());
        return 1;
    }
    std::string error;
    if (sample && !writeSample(path, &error)) {
        std::remove(path);
        std::fprintf(stderr, "branchkeeper-store: cannot fill %s: %s\n", path, error.c_str());
        return 1;
    }
    return 0;
}

// A text on one line, as the dump writes it.
std::string oneLine(const std::optional<std::string> &text)
{
    std::string out;
    outline::appendOneLine(out, text.value_or(std::string()));
    return out;
}

int dump(const char *path)
{
    const auto tree = store::readTree(path);
    if (!tree) {
        std::fprintf(stderr, "branchkeeper-store: cannot read %s: %s\n", path, store::lastError().c_str());
        return 2;
    }
    for (const auto &item : tree->items) {
        std::string flags;
        if (item.expanded)
            flags = "open";
        if (item.selected)
            flags += flags.empty() ? "selected" : ", selected";
        // The root's node always reads the same, whatever the record holds.
        const std::string text = item.key == store::kRootKey ? std::string(store::kRootText) : oneLine(item.text);
        const std::string shown = flags.empty() ? std::string() : " (" + flags + ")";
        // Past some depth the indentation stops growing and the level is
        // written out: a chain of a million items stays a readable file.
        constexpr int kDeepest = 40;
        const std::string level = item.depth > kDeepest ? "[level " + std::to_string(item.depth) + "] " : "";
        std::printf("%*s%s%d%s %s\n", 2 * std::min(item.depth, kDeepest), "", level.c_str(), item.key, shown.c_str(),
                    text.c_str());
    }
    for (const auto &line : tree->skipped)
        std::fprintf(stderr, "branchkeeper-store: %s\n", line.c_str());
    return tree->skipped.empty() ? 0 : 1;
}

int deleted(const char *path)
{
    const auto branches = store::deletedBranches(path);
    if (!branches) {
        std::fprintf(stderr, "branchkeeper-store: cannot read %s: %s\n", path, store::lastError().c_str());
        return 2;
    }
    for (const auto &branch : *branches)
        std::printf("%d (%lld item%s) %s\n", branch.key, static_cast<long long>(branch.items),
                    branch.items == 1 ? "" : "s", oneLine(branch.text).c_str());
    return 0;
}

int restore(const char *path, const std::string &keyText)
{
    const auto key = store::toKey(store::Value(keyText));
    if (!key) {
        std::fprintf(stderr, "branchkeeper-store: %s is no item key\n", keyText.c_str());
        return 2;
    }
    const std::string &message = store::lastError();
    switch (store::restoreBranch(path, *key)) {
    case store::RestoreResult::Restored:
        return 0;
    case store::RestoreResult::Busy:
        std::fprintf(stderr, "branchkeeper-store: %s: %s\n", path, message.c_str());
        return 3;
    case store::RestoreResult::Refused:
    case store::RestoreResult::Failed:
        break;
    }
    std::fprintf(stderr, "branchkeeper-store: cannot restore %d in %s: %s\n", *key, path, message.c_str());
    return 1;
}

int backup(const char *from, const char *to)
{
    if (store::backupStore(from, to))
        return 0;
    std::fprintf(stderr, "branchkeeper-store: cannot copy %s to %s: %s\n", from, to, store::lastError().c_str());
    return 1;
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
    {"dump", "STORE", [](const auto &a) { return a.size() == 1 ? dump(a[0].c_str()) : -1; }},
    {"deleted", "STORE", [](const auto &a) { return a.size() == 1 ? deleted(a[0].c_str()) : -1; }},
    {"restore", "STORE KEY", [](const auto &a) { return a.size() == 2 ? restore(a[0].c_str(), a[1]) : -1; }},
    {"backup", "STORE COPY", [](const auto &a) { return a.size() == 2 ? backup(a[0].c_str(), a[1].c_str()) : -1; }},
    {"export", "STORE OUT [--format opml|md|txt] [--force]", [](const auto &a) { return outline::exportCommand(a); }},
    {"import", "IN NEW-STORE [--format opml|md|txt] [--force]",
     [](const auto &a) {
         std::vector<store::CommandRowText> rows;
         for (const auto &command : modTree::Commands())
             rows.push_back({command.picture, command.about});
         return outline::importCommand(a, rows);
     }},
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
