#include "store/create.h"

#include "store/error.h"
#include "store/format.h"
#include "store/sql.h"
#include "store/statement.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace store {

namespace {

namespace fs = std::filesystem;

bool exec(sqlite3 *db, const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    failWith(message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return false;
}

bool prepare(sqlite3 *db, Statement &stmt, std::string_view sql)
{
    return stmt.prepare(db, sql) || failWith(stmt.error());
}

bool run(Statement &stmt)
{
    return stmt.run() || failWith(stmt.error());
}

bool fill(sqlite3 *db, std::span<const CommandRowText> commands)
{
    if (!exec(db, sql::kJournalDelete) || !exec(db, sql::kBegin) || !exec(db, kSchemaSql))
        return false;
    // Record 0 (no item) and the root, without children.
    Statement insertKey;
    if (!prepare(db, insertKey, sql::kInsertKey))
        return false;
    for (const std::int64_t key : {std::int64_t{0}, std::int64_t{kRootKey}}) {
        insertKey.bind(1, Value(key));
        if (!run(insertKey))
            return false;
    }
    Statement insertCommand;
    if (!prepare(db, insertCommand, sql::kInsertCommand))
        return false;
    for (const auto &row : commands) {
        insertCommand.bind(1, Value(row.picture));
        insertCommand.bind(2, Value(row.about));
        if (!run(insertCommand))
            return false;
    }
    return exec(db, sql::kCommit);
}

} // namespace

bool createStore(const std::string &path, std::span<const CommandRowText> commands)
{
    if (!checkTargetPath(path, false) || !createPrivateFile(path))
        return false;
    sqlite3 *db = nullptr;
    // The file just made and no other: a link put in its place is refused.
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    const bool ok = (rc == SQLITE_OK || failWith(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc))) && fill(db, commands);
    sqlite3_close_v2(db);
    std::error_code ec;
    if (!ok)
        fs::remove(path, ec);
    return ok;
}

bool checkTargetPath(const std::string &path, bool replace)
{
    if (path.empty())
        return failWith("an empty path names no file");
    std::error_code ec;
    const fs::file_status self = fs::symlink_status(path, ec);
    if (!fs::exists(self))
        return true; // nothing there, or a folder that cannot be read: the write says why
    const fs::file_status target = fs::status(path, ec);
    if (fs::is_symlink(self) && !fs::exists(target))
        return failWith(path + " is a symbolic link to nothing (" + fs::read_symlink(path, ec).string()
                                 + "); name the file itself");
    if (fs::is_directory(target))
        return failWith(path + " is a folder");
    if (!fs::is_regular_file(target))
        return failWith(path + " is no ordinary file"); // a device or a pipe: nothing to put in place
    if (!replace)
        return failWith("a file named " + path + " is already there");
    return true;
}

bool createPrivateFile(const std::string &path)
{
    constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
    // O_EXCL: never a file that is there, nor the target of a link in its place.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kOwnerOnly);
    if (fd < 0)
        return failWith(std::generic_category().message(errno));
    // A umask can take bits away, and SQLite must still open the file for
    // writing: exactly 0600, set before any data goes in.
    const bool modeSet = ::fchmod(fd, kOwnerOnly) == 0;
    const int why = errno;
    ::close(fd);
    if (modeSet)
        return true;
    std::error_code ec;
    fs::remove(path, ec);
    return failWith(std::generic_category().message(why));
}

std::optional<bool> isSqliteFile(const std::string &path)
{
    // Every SQLite 3 database file begins with these 16 bytes, the NUL included.
    static constexpr char kHeader[16] = "SQLite format 3";
    std::ifstream in(path, std::ios::binary);
    char head[sizeof kHeader] = {};
    if (!in || (!in.read(head, sizeof head) && in.bad()))
        return std::nullopt;
    return in.gcount() == sizeof head && std::memcmp(head, kHeader, sizeof head) == 0;
}

} // namespace store
