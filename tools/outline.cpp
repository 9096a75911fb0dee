#include "tools/outline.h"

#include "store/branches.h"
#include "store/check.h"
#include "store/connection.h"
#include "store/create.h"
#include "store/format.h"
#include "store/sql.h"
#include "store/statement.h"
#include "toolkit/outline_formats.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <fcntl.h>
#include <stdio.h> // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <limits>
#include <system_error>

namespace outline {

namespace {

namespace fs = std::filesystem;
using store::Field;

// ---------------------------------------------------------------- the new store's records

using store::sql::kInsertWholeItem;
using store::sql::kWholeItemFields;

struct Links {
    std::int32_t par = 0, chi = 0, prw = 0, nxt = 0;
};

bool fail(std::string *error, std::string what)
{
    if (error)
        *error = std::move(what);
    return false;
}

std::string reason(const QString &s)
{
    return s.toStdString();
}

// Links the items the way the program does, keys 2, 3, ... in display order,
// and writes them into the new store at file in one transaction, the root
// open so that the window shows the top level; the store must then check
// clean.
bool fillStore(const std::string &file, std::span<const Item> items, std::string *error)
{
    if (items.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - 2))
        return fail(error, "too many items for 32-bit keys");
    const auto keyOf = [](std::size_t i) { return static_cast<std::int32_t>(i + 2); };
    std::vector<Links> links(items.size());
    std::int32_t firstTop = 0;
    std::vector<std::size_t> last; // the last item on each level of the path to the current one
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::size_t level = items[i].level;
        if (level > last.size())
            return fail(error, "the items are no tree in display order");
        links[i].par = level == 0 ? store::kRootKey : keyOf(last[level - 1]);
        if (last.size() > level) {
            links[i].prw = keyOf(last[level]);
            links[last[level]].nxt = keyOf(i);
        } else if (level == 0) {
            firstTop = keyOf(i);
        } else {
            links[last[level - 1]].chi = keyOf(i);
        }
        last.resize(level);
        last.push_back(i);
    }

    const auto connection = store::Connection::open(file);
    if (!connection)
        return fail(error, store::lastError());
    store::Statement insert, root;
    if (!connection->setDurable() || !insert.prepare(connection->handle(), kInsertWholeItem)
        || !root.prepare(connection->handle(), store::sql::update(std::array{Field::KeyChi, Field::Expand})))
        return fail(error, !connection->lastError().empty() ? connection->lastError()
                               : !insert.error().empty()    ? insert.error()
                                                            : root.error());
    store::TransactionScope scope(connection.get(), store::TransactionScope::Kind::Write);
    if (!scope.active())
        return fail(error, connection->lastError());
    const auto writeFailed = [&](const store::Statement &stmt) {
        scope.rollback();
        return fail(error, stmt.error());
    };
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Links &l = links[i];
        const std::string &text = items[i].text;
        const store::Value values[] = {std::int64_t{keyOf(i)}, std::int64_t{l.par}, std::int64_t{l.chi},
                                       std::int64_t{l.prw},    std::int64_t{l.nxt},
                                       text.empty() ? std::string(store::kEmptiedText) : text,
                                       false,                  items[i].expanded};
        static_assert(std::size(values) == kWholeItemFields.size());
        for (std::size_t v = 0; v < std::size(values); ++v)
            insert.bind(static_cast<int>(v + 1), values[v]);
        if (!insert.run())
            return writeFailed(insert);
    }
    root.bind(1, std::int64_t{firstTop});
    root.bind(2, true);
    root.bind(3, std::int64_t{store::kRootKey});
    if (!root.run())
        return writeFailed(root);
    if (!scope.commit())
        return fail(error, connection->lastError());

    const auto check = store::checkLinks(*connection);
    if (!check)
        return fail(error, store::lastError());
    if (!check->clean())
        return fail(error, "the new store fails its link check: " + check->problems.front());
    return true;
}

bool sameFile(const std::string &a, const std::string &b)
{
    std::error_code ec;
    return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// ---------------------------------------------------------------- the files written

constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;

std::string systemError(int code)
{
    return std::generic_category().message(code);
}

// What may be at path before a command writes there: nothing, or with
// replace a file (never a folder, an empty path or a link to nothing).
bool checkTarget(const std::string &path, bool replace, std::string *error)
{
    std::error_code ec;
    if (!store::checkTargetPath(path, true))
        return fail(error, store::lastError());
    if (!replace && fs::exists(path, ec))
        return fail(error, path + " is already there (--force replaces it)");
    return true;
}

// The mode of what the tool writes at target from the file source. Nobody
// but the owner gets a permission that the source does not give: a new file
// is 0600 whatever the umask (the owner reads and writes it); a file written
// over keeps its mode less the group and other permissions the source lacks,
// so an export of a 0600 store over a 0644 file is 0600.
mode_t writtenMode(const fs::path &target, const std::string &source)
{
    struct stat st;
    const mode_t base = ::stat(target.c_str(), &st) == 0 ? st.st_mode & 0777 : kOwnerOnly;
    const mode_t allowed = ::stat(source.c_str(), &st) == 0 ? (st.st_mode & 0777) | kOwnerOnly : kOwnerOnly;
    return base & allowed;
}

// Moves the finished file from to target: over what is there when replace,
// else only where nothing is (a file that came meanwhile stays).
bool placeFile(const std::string &from, const fs::path &target, bool replace, std::string *error)
{
    int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), replace ? 0 : RENAME_NOREPLACE);
    if (rc != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the flag: a hard link refuses a file there just as well.
        rc = ::link(from.c_str(), target.c_str());
        if (rc == 0)
            ::unlink(from.c_str());
    }
    return rc == 0 || fail(error, "cannot put the file at " + target.string() + " (" + systemError(errno) + ")");
}

// A file written beside its place and moved there whole by commit(): the
// place keeps what it had until then, and a failure leaves no file behind.
class FileBeside {
public:
    FileBeside() = default;
    FileBeside(const FileBeside &) = delete;
    FileBeside &operator=(const FileBeside &) = delete;
    ~FileBeside()
    {
        m_file.close();
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_temp.empty())
            ::unlink(m_temp.c_str());
    }

    // Makes the file in target's folder, with mode from its first byte.
    bool open(const fs::path &target, mode_t mode, std::string *error)
    {
        m_target = target;
        m_temp = (target.parent_path() / ("." + target.filename().string() + "-XXXXXX")).string();
        m_fd = ::mkostemp(m_temp.data(), O_CLOEXEC); // 0600: nobody else can open it meanwhile
        if (m_fd < 0) {
            m_temp.clear();
            return fail(error, "cannot write in " + target.parent_path().string() + " (" + systemError(errno) + ")");
        }
        if (::fchmod(m_fd, mode) != 0)
            return fail(error, "cannot set the mode of " + m_temp + " (" + systemError(errno) + ")");
        return m_file.open(m_fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)
            || fail(error, "cannot write " + m_temp + " (" + reason(m_file.errorString()) + ")");
    }
    QIODevice &device() { return m_file; }

    // Puts the file, on the disk, at the target (see placeFile).
    bool commit(bool replace, std::string *error)
    {
        if (!m_file.flush())
            return fail(error, m_target.string() + " cannot be written (" + reason(m_file.errorString()) + ")");
        m_file.close();
        if (::fsync(m_fd) != 0)
            return fail(error, m_target.string() + " cannot be written (" + systemError(errno) + ")");
        if (!placeFile(m_temp, m_target, replace, error))
            return false;
        m_temp.clear();
        return true;
    }

private:
    fs::path m_target;
    std::string m_temp;
    int m_fd = -1;
    QFile m_file;
};

// Where an export to path writes: the file a link names, so the link stays.
fs::path placeOf(const std::string &path)
{
    std::error_code ec;
    const fs::path place = fs::is_symlink(path, ec) ? fs::canonical(path, ec) : fs::absolute(path, ec);
    return ec ? fs::path(path) : place;
}

// An export replaces any file but a database: that is a store, or another
// program's data, and never the outline asked for.
bool mayExportOver(const std::string &path, std::string *error)
{
    std::error_code ec;
    if (!fs::exists(path, ec))
        return true;
    const auto sqlite = store::isSqliteFile(path);
    if (!sqlite)
        return fail(error, path + " cannot be read to see what it holds; it is left as it is");
    return !*sqlite || fail(error, path + " is an SQLite database, perhaps a store: an export never writes over one");
}

// Writes the store built over the existing store at storePath, whose mode is
// first narrowed as writtenMode says for a file read from inPath; a failure
// puts the mode back.
bool writeOver(const std::string &built, const std::string &storePath, const std::string &inPath,
               std::string *error)
{
    struct stat st;
    if (::stat(storePath.c_str(), &st) != 0)
        return fail(error, storePath + ": " + systemError(errno));
    const mode_t was = st.st_mode & 07777;
    const mode_t mode = writtenMode(storePath, inPath);
    if (mode != (was & 0777) && ::chmod(storePath.c_str(), mode) != 0)
        return fail(error, "cannot narrow the mode of " + storePath + " (" + systemError(errno) + ")");
    if (store::replaceStore(built, storePath))
        return true;
    ::chmod(storePath.c_str(), was);
    return fail(error, store::lastError());
}

// ---------------------------------------------------------------- the commands' arguments

struct Arguments {
    std::vector<std::string> files;
    std::optional<std::string> format;
    bool force = false;
    bool wrong = false;
};

Arguments parse(const std::vector<std::string> &arguments)
{
    Arguments out;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &a = arguments[i];
        if (a == "--format" && i + 1 < arguments.size() && !out.format) {
            out.format = arguments[++i];
        } else if (a.starts_with("--format=") && !out.format) {
            out.format = a.substr(9);
        } else if (a == "--force" && !out.force) {
            out.force = true;
        } else if (a.starts_with("--")) {
            out.wrong = true;
        } else {
            out.files.push_back(a);
        }
    }
    return out;
}

void say(const std::string &line)
{
    std::fprintf(stderr, "branchkeeper-store: %s\n", line.c_str());
}

// The format asked for, or the one the file's name says.
std::optional<Format> chosenFormat(const Arguments &arguments, const std::string &file)
{
    if (arguments.format) {
        const auto format = formatNamed(*arguments.format);
        if (!format)
            say("unknown format " + *arguments.format + "; opml, md or txt");
        return format;
    }
    const auto format = formatOfPath(file);
    if (!format)
        say("cannot tell the format of " + file + " from its name; add --format opml, md or txt");
    return format;
}

} // namespace

bool exportStore(const std::string &storePath, const std::string &outPath, Format format, bool replace,
                 std::vector<std::string> *problems, std::string *error)
{
    if (!checkTarget(outPath, replace, error))
        return false;
    if (sameFile(storePath, outPath))
        return fail(error, outPath + " is the store itself");
    if (!mayExportOver(outPath, error))
        return false;
    auto tree = store::readTree(storePath);
    if (!tree)
        return fail(error, "the store cannot be read (" + store::lastError() + ")");
    std::vector<std::string> said = tree->skipped;
    std::vector<Item> items;
    items.reserve(tree->items.size());
    for (store::TreeItem &treeItem : tree->items) {
        if (treeItem.depth == 0)
            continue; // the root: its node always reads the same, whatever it holds
        Item &item = items.emplace_back();
        item.level = static_cast<std::uint32_t>(treeItem.depth - 1);
        item.expanded = treeItem.expanded;
        item.key = treeItem.key;
        if (treeItem.text && *treeItem.text != store::kEmptiedText)
            item.text = std::move(*treeItem.text);
        if (detail::invalidUtf8At(item.text) != std::string_view::npos) {
            item.text = detail::withValidUtf8(item.text);
            said.push_back("item " + std::to_string(item.key)
                           + ": its text is not valid UTF-8; each bad byte is written as U+FFFD");
        }
    }
    tree.reset(); // a million texts need not be held twice
    const fs::path place = placeOf(outPath);
    FileBeside out;
    if (!out.open(place, writtenMode(place, storePath), error) || !writeTo(format, items, out.device(), &said, error)
        || !out.commit(replace, error))
        return false; // what was at outPath is left as it was
    if (problems)
        *problems = std::move(said);
    return true;
}

bool importFile(const std::string &inPath, const std::string &storePath, Format format, bool replace,
                std::span<const store::CommandRowText> commands, std::string *error, ReadReport *report,
                std::size_t *itemsRead)
{
    if (!checkTarget(storePath, replace, error))
        return false;
    std::error_code ec;
    const bool writingOver = fs::exists(storePath, ec);
    if (sameFile(inPath, storePath))
        return fail(error, storePath + " is the file being read");
    QFile in(QString::fromStdString(inPath));
    if (!in.open(QIODevice::ReadOnly))
        return fail(error, "the file cannot be read (" + reason(in.errorString()) + ")");
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return fail(error, "the file cannot be read (" + reason(in.errorString()) + ")");
    in.close();
    std::string readError;
    ReadReport readReport;
    const auto items = read(format, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                            &readError, &readReport);
    if (!items)
        return fail(error, readError);

    // Built beside its place, whole and checked, before anything is there: a
    // failure leaves nothing behind. A new store is then moved into place; an
    // existing one is written over in one transaction, so a program that has
    // it open goes on with the new tree.
    const fs::path target = fs::absolute(storePath, ec);
    const fs::path folder = target.parent_path();
    QTemporaryDir aside(QString::fromStdString((folder / ("." + target.filename().string() + "-import-XXXXXX")).string()));
    if (!aside.isValid())
        return fail(error, "cannot write in " + folder.string() + " (" + reason(aside.errorString()) + ")");
    const std::string built = aside.filePath(QStringLiteral("store")).toStdString();
    std::string writeError;
    if (!(store::createStore(built, commands) || fail(&writeError, store::lastError()))
        || !fillStore(built, *items, &writeError))
        return fail(error, "the new store cannot be written (" + writeError + ")");
    if (!(writingOver ? writeOver(built, storePath, inPath, error) : placeFile(built, target, false, error)))
        return false;
    if (report)
        *report = readReport;
    if (itemsRead)
        *itemsRead = items->size();
    return true;
}

int exportCommand(const std::vector<std::string> &arguments)
{
    const Arguments a = parse(arguments);
    if (a.wrong || a.files.size() != 2)
        return -1;
    const auto format = chosenFormat(a, a.files[1]);
    if (!format)
        return 2;
    std::vector<std::string> problems;
    std::string error;
    if (!exportStore(a.files[0], a.files[1], *format, a.force, &problems, &error)) {
        say("cannot export " + a.files[0] + ": " + error);
        return 2;
    }
    for (const auto &line : problems)
        say(line);
    return problems.empty() ? 0 : 1;
}

int importCommand(const std::vector<std::string> &arguments, std::span<const store::CommandRowText> commands)
{
    const Arguments a = parse(arguments);
    if (a.wrong || a.files.size() != 2)
        return -1;
    const auto format = chosenFormat(a, a.files[0]);
    if (!format)
        return 2;
    std::string error;
    ReadReport report;
    std::size_t items = 0;
    if (!importFile(a.files[0], a.files[1], *format, a.force, commands, &error, &report, &items)) {
        say("cannot import " + a.files[0] + ": " + error);
        return 1;
    }
    say(summary(items, report));
    return 0;
}

} // namespace outline
