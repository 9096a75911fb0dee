#pragma once

#include "store/command_cursor.h"
#include "store/tree_cursor.h"

#include <string>
#include <vector>

// Opening the store: the two cursors the whole program works through.
namespace modBase {

// Program-wide cursors on TbTree and tbCmd. Until OpenBase succeeds they are
// closed and every operation on them fails.
extern store::TreeCursor rsTree;
extern store::CommandCursor rsCmd;

struct OpenReport {
    std::string path;                  // the file OpenBase tried
    std::vector<std::string> problems; // empty when both cursors are open
    std::string warning;               // opened, but something the user should know
    bool ok() const { return problems.empty(); }
    // One line naming the file and every reason, for standard error.
    std::string message() const;
};

// Opens "dbPro.mdb" in directory, read/write, never creating it, and opens
// rsTree (index "KeyInd" current) and rsCmd. Any cursor already open is
// closed first. A part that fails stays closed; the rest still opens. The file
// is not written unless TbTree opened.
OpenReport OpenBase(const std::string &directory);

// Opens the store again, on a new connection, when SQLite opened it for
// reading only (the file could not be written then) and it can be opened
// for writing now; a connection that fell back to reading stays so. True
// when both cursors are open on the new connection; false leaves them as
// they were.
bool ReopenForWriting();

} // namespace modBase
