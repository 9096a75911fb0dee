// A child process for tests that must see the program die or end: runs one
// toolbar command on the store in a folder, with no window.
//
//   command_runner DIR BUTTON
//
// The store may hold triggers that call die(), a function only this process
// has: it kills the process on the spot, in the middle of the command.
// Exit codes: 0 when the command ended the program, 3 when the click returned.

#include "commands/toolbar.h"
#include "store/connection.h"
#include "store/mod_base.h"

#include <sqlite3.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void die(sqlite3_context *, int, sqlite3_value **)
{
    std::raise(SIGKILL);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIR BUTTON\n", argv[0]);
        return 2;
    }
    const auto report = modBase::OpenBase(argv[1]);
    if (!report.ok()) {
        std::fprintf(stderr, "%s\n", report.message().c_str());
        return 2;
    }
    sqlite3_create_function(modBase::rsTree.connection()->handle(), "die", 0, SQLITE_UTF8, nullptr, die, nullptr,
                            nullptr);
    modTree::ButtonClick(std::atoi(argv[2]));
    return 3;
}
