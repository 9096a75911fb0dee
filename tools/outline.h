#pragma once

// The tree of a store as an outline file, and an outline file as a new store:
// the export and import of branchkeeper-store.

#include "store/create.h"
#include "toolkit/outline.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace outline {

// Writes the tree of the store at storePath (read-only; never created) into
// outPath: into a file beside it, moved there once it is whole, so a failure
// leaves what was there as it was and no file of its own. Refuses an
// existing outPath unless replace, and an SQLite database (any, a store or
// not) even then; refuses an empty path and a link to nothing. A new file
// is 0600; one written over keeps its mode less the permissions of group and
// others that the store's file does not have. *problems gets one line per
// thing the export skipped or changed: links the walk could not follow in a
// broken store, texts that are no UTF-8 or hold characters the format
// cannot. False, with the reason, when nothing was written.
bool exportStore(const std::string &storePath, const std::string &outPath, Format format, bool replace,
                 std::vector<std::string> *problems, std::string *error);

// Reads the file at inPath and makes of it a store at storePath, made like a
// new empty store with the given toolbar rows, the items keyed 2, 3, ... in
// display order. The store is built in a temporary store beside storePath
// and its links must check clean before it goes anywhere. Where nothing is,
// it is moved there (0600, owner only). An existing storePath is refused
// unless replace; with replace it must be a store, and the new one is
// written into it through SQLite's online backup in one transaction, so a
// program that has it open sees the change and goes on in the new tree; its
// mode loses the permissions of group and others that inPath does not have.
// Refuses an empty path and a link to nothing. On failure nothing is created
// and nothing replaced. False, with the reason; on success *itemsRead and
// *report (when given) say how many items were read and what the read
// skipped or changed.
bool importFile(const std::string &inPath, const std::string &storePath, Format format, bool replace,
                std::span<const store::CommandRowText> commands, std::string *error, ReadReport *report = nullptr,
                std::size_t *itemsRead = nullptr);

// The commands of branchkeeper-store, given the arguments after the command's
// name. They print to standard error and return the exit status, or -1 when
// the arguments are not the command's.
//   export STORE OUT [--format opml|md|txt] [--force]: 0 written complete,
//     1 written with skips or changes (each said), 2 nothing written (an
//     unknown format, a store that cannot be read, an existing OUT without
//     --force, a database at OUT, an output that cannot be written).
//   import IN NEW-STORE [--format opml|md|txt] [--force]: 0 done (a last
//     line says how many items were read and what was skipped or changed),
//     1 nothing created (an input that cannot be read or is no outline, an
//     existing NEW-STORE without --force, or with it one that is no store, a
//     store that cannot be written), 2 an unknown format.
int exportCommand(const std::vector<std::string> &arguments);
int importCommand(const std::vector<std::string> &arguments, std::span<const store::CommandRowText> commands);

} // namespace outline
