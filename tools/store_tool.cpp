// branchkeeper-store: makes a new store for the program to open.
//
//   branchkeeper-store new PATH    writes a new, empty store at PATH
//
// The program itself never creates its file, so this is how a store is born.

#include "store/create.h"
#include "tools/command_set.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 3 || std::strcmp(argv[1], "new") != 0) {
        std::fprintf(stderr, "usage: %s new PATH\n", argc > 0 ? argv[0] : "branchkeeper-store");
        return 2;
    }
    std::vector<store::CommandRowText> rows;
    for (const auto &row : tools::kCommandSet)
        rows.push_back({row.picture, row.about});
    std::string error;
    if (!store::createStore(argv[2], rows, &error)) {
        std::fprintf(stderr, "branchkeeper-store: cannot create %s: %s\n", argv[2], error.c_str());
        return 1;
    }
    return 0;
}
