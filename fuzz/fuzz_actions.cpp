// branchkeeper-fuzz: a libFuzzer target that writes a store from its input,
// starts the real window on it (offscreen) and runs a stream of user actions
// through the window's own handlers, checking the file after every action.
//
// The input is text, one line each; a line's first character says what it
// is, and a line that is none of these (a comment, say) is ignored. Fields are
// separated by one or more spaces.
//
//   R key par chi prw nxt sel exp text   one TbTree record, written in order
//                                        (KeyInd KeyPar KeyChi KeyPrw KeyNxt
//                                        KeySel Expand KeyTxt); a missing
//                                        number is 0, a missing text Null
//   C pict about                         one tbCmd row (at most 20 rows in all)
//   T                                    the program's own eleven tbCmd rows
//
// Every field of R and C is a value:
//
//   N             Null
//   -12, 4294967296   a whole number (64 bits; beyond that it is text)
//   0.5           a real (any number with a '.', 'e' or 'E')
//   #00ff         a blob, in hex
//   'abc          the text abc ('  alone: the empty text)
//   anything else that text as written
//
// Text of a value or of KeyTxt may use \n \t \s (space) \0 (NUL) \\ \xHH
// (any byte, so not UTF-8 as well) and \*N (the byte before, N more times, at
// most 100000). KeyTxt is the rest of the line after the seventh number; when
// it starts with '=' the rest is a value instead ("=N" Null, "=42" a number).
// KeySel and Expand are NOT NULL in the schema: a record with N there is
// refused, as any tool would find it, and left out.
//
// Then the user's actions, each one event of the window:
//
//   c NODE   a click on the node, as the tree raises it (TreeV_NodeClick)
//   m NODE   a mouse click on the node's text
//   a NODE   a mouse click on the node's arrow (opens or closes it)
//   d NODE   a double click on the node's text
//   g NODE   a drag: the mouse pressed on the highlighted row and let go on
//            the node's text, which moves the highlight and clicks nothing
//   o NODE   opens the node (its expand event, as the user's opening raises)
//   x NODE   closes the node
//   b N      toolbar button N (any number but 10, which quits)
//   k KEY    a key on the tree, as QKeySequence writes it: Up, Alt+Down,
//            Ins, Shift+Ins, Ctrl+Ins, Ctrl+N, Del, Right, Left, +, -, F2,
//            F5, a ...
//            (Ctrl+Q, which quits, is left out)
//   e KEY    the same key on the text box
//   t TEXT   TEXT typed into the text box, one key a character (32 at most)
//   p TEXT   TEXT pasted over the text box's whole text
//   v F TEXT the clipboard holding TEXT as F (o OPML, m Markdown, p plain
//            text), then Ctrl+V on the tree; F in capitals: Ctrl+Shift+V
//   u        undo on the tree (Ctrl+Z; "k Ctrl+Z" is the same key)
//   r        redo on the tree (Ctrl+Shift+Z; so are "k Ctrl+Shift+Z" and
//            "k Ctrl+Y")
//   f TEXT   Ctrl+F on the tree, TEXT typed into the find field (32 at most),
//            the count waited for, then Enter: a step to the next match;
//            F TEXT the same with Shift+Enter, to the previous one
//
// NODE is a node key ("12K", "12S"; "12" is "12K") or "@i", the i-th row the
// tree shows (counted from 0, modulo the rows shown). A node that is not there
// is passed as a dead handle to c, o and x; m, a and d then do nothing.
//
// After every action that wrote to the file (any other leaves it as the last
// check found it): the file passes SQLite's integrity check through a second
// connection, the link checker can read it, and a rebuild of the whole
// tree from it (onto a second, hidden tree, so the window keeps what it shows)
// comes to an end. When the link checker found no broken rule before the
// first action, none may appear after any action, and no item may leave the
// tree except by a delete (button 8, Del or Ctrl+X), which may add none, or
// an undo or redo, and the text box may stay bound to no item that left the
// tree. After a command that changed links there (a button, a key or a
// paste), an undo must give back every record as it was, but the mark and
// each record the command made, which is left as a delete leaves it, and the
// redo then every record as the command left it. Any failure aborts, which
// libFuzzer reports with the input.
//
// The store lives in a scratch folder of its own per process, under
// $TMPDIR (or /tmp), removed at exit.

#include "app/frm_tree.h"
#include "commands/command_table.h"
#include "store/check.h"
#include "store/connection.h"
#include "store/format.h"
#include "store/mod_base.h"
#include "store/sql.h"
#include "toolkit/find_field.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/show_tree.h"
#include "view/find.h"
#include "view/tree_state.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QKeySequence>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QSet>
#include <QTest>
#include <QToolBar>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Bounds that keep every input quick to run.
constexpr std::size_t kMaxRecords = 2000;
constexpr std::size_t kMaxCommandRows = 20;
constexpr std::size_t kMaxActions = 64;
constexpr std::size_t kMaxRepeat = 100000;
constexpr std::size_t kMaxText = 1 << 20;
constexpr std::size_t kMaxTyped = 32;

struct Value {
    enum class Kind { Null, Integer, Real, Text, Blob } kind = Kind::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string bytes; // text or blob
    bool operator==(const Value &) const = default;
};

// The fields of an R line, in its order.
constexpr std::array kLineFields{store::Field::KeyInd, store::Field::KeyPar, store::Field::KeyChi,
                                 store::Field::KeyPrw, store::Field::KeyNxt, store::Field::KeySel,
                                 store::Field::Expand, store::Field::KeyTxt};

struct Record {
    std::vector<Value> fields; // in kLineFields order
};

struct Action {
    char verb;
    std::string argument;
};

struct Input {
    std::vector<Record> records;
    std::vector<std::pair<Value, Value>> commands;
    std::vector<Action> actions;
};

// ------------------------------------------------------------ reading input

std::string unescape(std::string_view in)
{
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c != '\\' || i + 1 == in.size()) {
            out += c;
            continue;
        }
        const char e = in[++i];
        switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 's': out += ' '; break;
        case '0': out += '\0'; break;
        case 'x': {
            unsigned byte = 0;
            const auto end = std::min(in.size(), i + 3);
            const auto [p, ec] = std::from_chars(in.data() + i + 1, in.data() + end, byte, 16);
            if (ec == std::errc() && byte < 256) {
                out += static_cast<char>(byte);
                i = static_cast<std::size_t>(p - in.data()) - 1;
            }
            break;
        }
        case '*': {
            std::size_t count = 0;
            const auto [p, ec] = std::from_chars(in.data() + i + 1, in.data() + in.size(), count);
            if (ec == std::errc()) {
                i = static_cast<std::size_t>(p - in.data()) - 1;
                if (!out.empty() && out.size() < kMaxText)
                    out.append(std::min({count, kMaxRepeat, kMaxText - out.size()}), out.back());
            }
            break;
        }
        default: out += e; break;
        }
    }
    return out;
}

Value parseValue(std::string_view token)
{
    Value v;
    if (token == "N")
        return v;
    if (!token.empty() && token.front() == '\'') {
        v.kind = Value::Kind::Text;
        v.bytes = unescape(token.substr(1));
        return v;
    }
    if (token.size() > 1 && token.front() == '#') {
        v.kind = Value::Kind::Blob;
        for (std::size_t i = 1; i + 1 < token.size(); i += 2) {
            unsigned byte = 0;
            if (std::from_chars(token.data() + i, token.data() + i + 2, byte, 16).ec == std::errc())
                v.bytes += static_cast<char>(byte);
        }
        return v;
    }
    const char *begin = token.data();
    const char *end = begin + token.size();
    if (!token.empty()) {
        const auto [p, ec] = std::from_chars(begin, end, v.integer);
        if (ec == std::errc() && p == end) {
            v.kind = Value::Kind::Integer;
            return v;
        }
        if (token.find_first_of(".eE") != std::string_view::npos) {
            const std::string copy(token);
            char *stop = nullptr;
            v.real = std::strtod(copy.c_str(), &stop);
            if (stop == copy.c_str() + copy.size()) {
                v.kind = Value::Kind::Real;
                return v;
            }
        }
    }
    v.kind = Value::Kind::Text;
    v.bytes = unescape(token);
    return v;
}

// Splits off the next field; rest keeps what follows it.
std::string_view nextField(std::string_view &rest)
{
    const auto start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const auto stop = std::min(rest.find(' '), rest.size());
    const std::string_view field = rest.substr(0, stop);
    rest.remove_prefix(stop);
    return field;
}

Record parseRecord(std::string_view rest)
{
    Record r;
    for (int i = 0; i < 7; ++i) {
        const std::string_view field = nextField(rest);
        if (field.empty()) {
            Value zero;
            zero.kind = Value::Kind::Integer;
            r.fields.push_back(zero);
        } else {
            r.fields.push_back(parseValue(field));
        }
    }
    if (!rest.empty())
        rest.remove_prefix(1); // the one space before the text
    if (rest.empty()) {
        r.fields.emplace_back(); // Null
    } else if (rest.front() == '=') {
        r.fields.push_back(parseValue(rest.substr(1)));
    } else {
        Value text;
        text.kind = Value::Kind::Text;
        text.bytes = unescape(rest);
        r.fields.push_back(std::move(text));
    }
    return r;
}

Value textValue(const char *text)
{
    Value v;
    v.kind = Value::Kind::Text;
    v.bytes = text;
    return v;
}

Input parse(const std::uint8_t *data, std::size_t size)
{
    Input in;
    std::string_view all(reinterpret_cast<const char *>(data), size);
    while (!all.empty()) {
        const auto eol = std::min(all.find('\n'), all.size());
        std::string_view line = all.substr(0, eol);
        all.remove_prefix(std::min(eol + 1, all.size()));
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        const char kind = line.front();
        std::string_view rest = line.substr(1);
        switch (kind) {
        case 'R':
            if (in.records.size() < kMaxRecords)
                in.records.push_back(parseRecord(rest));
            break;
        case 'C':
            if (in.commands.size() < kMaxCommandRows) {
                const Value pict = parseValue(nextField(rest));
                in.commands.emplace_back(pict, parseValue(nextField(rest)));
            }
            break;
        case 'T':
            for (const auto &row : modTree::Commands()) {
                if (in.commands.size() < kMaxCommandRows)
                    in.commands.emplace_back(textValue(row.picture), textValue(row.about));
            }
            break;
        case 'u': case 'r':
            if (in.actions.size() < kMaxActions)
                in.actions.push_back({kind, std::string()});
            break;
        case 'c': case 'm': case 'a': case 'd': case 'g': case 'o': case 'x': case 'b': case 'k': case 'e':
            if (in.actions.size() < kMaxActions)
                in.actions.push_back({kind, std::string(nextField(rest))});
            break;
        case 't': case 'p': case 'f': case 'F':
            if (in.actions.size() < kMaxActions)
                in.actions.push_back({kind, unescape(rest.empty() ? rest : rest.substr(1))});
            break;
        case 'v':
            if (in.actions.size() < kMaxActions) {
                const std::string_view format = nextField(rest);
                const std::string text = unescape(rest.empty() ? rest : rest.substr(1));
                in.actions.push_back({kind, std::string(format.substr(0, 1)) + text});
            }
            break;
        default:
            break;
        }
    }
    return in;
}

// ------------------------------------------------------------ the store

QString g_directory;   // this process's scratch folder
std::string g_path;    // the store in it

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "branchkeeper-fuzz: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void bind(sqlite3_stmt *stmt, int i, const Value &v)
{
    switch (v.kind) {
    case Value::Kind::Null: sqlite3_bind_null(stmt, i); break;
    case Value::Kind::Integer: sqlite3_bind_int64(stmt, i, v.integer); break;
    case Value::Kind::Real: sqlite3_bind_double(stmt, i, v.real); break;
    case Value::Kind::Text:
        sqlite3_bind_text64(stmt, i, v.bytes.data(), v.bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    case Value::Kind::Blob:
        sqlite3_bind_blob64(stmt, i, v.bytes.data(), v.bytes.size(), SQLITE_TRANSIENT);
        break;
    }
}

// An empty store with the program's schema, made once: parsing the schema
// for every input would cost more than most inputs' actions.
const std::string &emptyStore()
{
    static const std::string bytes = [] {
        const std::string path = g_path + ".empty";
        std::remove(path.c_str());
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK
            || sqlite3_exec(db, store::kSchemaSql, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(std::string("cannot write the empty store: ") + sqlite3_errmsg(db));
        sqlite3_close_v2(db);
        std::string out;
        if (std::FILE *file = std::fopen(path.c_str(), "rb")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
                out.append(buffer, n);
            std::fclose(file);
        }
        std::remove(path.c_str());
        if (out.empty())
            fail("cannot read the empty store back");
        return out;
    }();
    return bytes;
}

// Writes the store as another tool would: the program's schema, then every
// row through one prepared statement per table. A row the table refuses (a
// key taken twice, Null where the schema forbids it) is left out.
void writeStore(const std::string &path, const Input &in)
{
    const std::string &empty = emptyStore();
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(empty.data(), 1, empty.size(), file) != empty.size() || std::fclose(file) != 0)
        fail("cannot write the scratch store " + path);
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        fail(std::string("cannot open the scratch store: ") + sqlite3_errmsg(db));
    // A scratch file need not survive a crash of this process.
    sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, store::sql::kInsertWholeItem.data(), -1, &stmt, nullptr);
    const auto &columns = store::sql::kWholeItemFields;
    static_assert(std::is_permutation(columns.begin(), columns.end(), kLineFields.begin(), kLineFields.end()));
    for (const Record &r : in.records) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const auto at = std::find(kLineFields.begin(), kLineFields.end(), columns[i]) - kLineFields.begin();
            bind(stmt, static_cast<int>(i) + 1, r.fields[static_cast<std::size_t>(at)]);
        }
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
    sqlite3_finalize(stmt);
    sqlite3_prepare_v2(db, store::sql::kInsertCommand.data(), -1, &stmt, nullptr);
    for (const auto &[pict, about] : in.commands) {
        bind(stmt, 1, pict);
        bind(stmt, 2, about);
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(std::string("cannot commit the scratch store: ") + sqlite3_errmsg(db));
    sqlite3_close_v2(db);
}

// The file as a second connection sees it: whole, and readable by the link
// checker (broken links are the checker's result, not a failure). One
// read-only connection serves an input's checks; it takes part in nothing
// the program does.
store::LinkCheck checkFile(store::Connection &reader, const std::string &after)
{
    sqlite3_stmt *stmt = nullptr;
    std::string verdict = "no answer";
    if (sqlite3_prepare_v2(reader.handle(), "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK
        && sqlite3_step(stmt) == SQLITE_ROW) {
        verdict = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    if (verdict != "ok")
        fail("integrity check after " + after + ": " + verdict);
    const std::string &error = store::lastError();
    auto links = store::checkLinks(reader);
    if (!links)
        fail("the link checker cannot read the store after " + after + ": " + error);
    return std::move(*links);
}

// ------------------------------------------------------------ the window

QApplication *g_app = nullptr;
toolkit::KeyedTree *g_asideTree = nullptr;
toolkit::TextBox *g_asideText = nullptr;
frmTree *g_window = nullptr; // kept to the end, like the application
std::vector<std::pair<Value, Value>> g_commands;

// Each of Qt's messages once (a picture name it cannot use, say): a long run
// would repeat them by the million.
void sayOnce(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    static QSet<QString> said;
    if (type == QtFatalMsg || (said.size() < 1000 && !said.contains(message))) {
        said.insert(message);
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
    if (type == QtFatalMsg)
        std::abort();
}

void removeScratch()
{
    if (!g_directory.isEmpty())
        QDir(g_directory).removeRecursively();
}

toolkit::TreeNode findNode(const frmTree &window, std::string_view name)
{
    toolkit::KeyedTree *tree = window.tree();
    if (!name.empty() && name.front() == '@') {
        std::size_t i = 0;
        std::from_chars(name.data() + 1, name.data() + name.size(), i);
        const int rows = tree->visibleCount();
        if (rows <= 0)
            return {};
        return tree->nodeAt(tree->model()->index(static_cast<int>(i % static_cast<std::size_t>(rows)), 0));
    }
    QString key = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    if (!key.isEmpty() && key.back().isDigit())
        key += QLatin1Char('K');
    return tree->find(key);
}

// A mouse click (or double click) at the node's text or arrow, as the user
// makes it; nothing when the node is not on screen.
void mouseAt(frmTree &window, const toolkit::TreeNode &node, bool arrow, bool twice)
{
    toolkit::KeyedTree *tree = window.tree();
    const QModelIndex index = tree->indexOf(node);
    if (!index.isValid())
        return;
    tree->scrollTo(index);
    const QRect rect = arrow ? tree->arrowRect(node) : tree->nodeRect(node);
    if (rect.isNull())
        return;
    if (twice)
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
    else
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
}

// The mouse pressed on the highlighted row and let go on node's text.
void dragTo(frmTree &window, const toolkit::TreeNode &node)
{
    toolkit::KeyedTree *tree = window.tree();
    const QRect from = tree->visualRect(tree->currentIndex());
    const QRect to = tree->nodeRect(node);
    if (from.isNull() || to.isNull())
        return;
    QWidget *area = tree->viewport();
    QTest::mousePress(area, Qt::LeftButton, {}, from.center());
    QMouseEvent move(QEvent::MouseMove, to.center(), area->mapToGlobal(to.center()), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(area, &move);
    QTest::mouseRelease(area, Qt::LeftButton, {}, to.center());
}

// Which way an action may change the items the tree holds.
enum class Reach { Adds, Deletes, Either };

// One key press and release on target, with the text a keyboard would give
// it. (QTest's own key helpers refuse keys they have no character for.)
void sendKey(QWidget *target, Qt::Key key, Qt::KeyboardModifiers modifiers, const QString &text)
{
    QTest::sendKeyEvent(QTest::Click, target, key, text, modifiers);
}

// The key a character is typed with.
Qt::Key keyOf(QChar c)
{
    switch (c.unicode()) {
    case '\b': return Qt::Key_Backspace;
    case '\t': return Qt::Key_Tab;
    case '\n':
    case '\r': return Qt::Key_Return;
    case 0x1b: return Qt::Key_Escape;
    case 0x7f: return Qt::Key_Delete;
    default: break;
    }
    if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
        return static_cast<Qt::Key>(c.toUpper().unicode()); // Qt's key codes for ASCII
    return Qt::Key_unknown;
}

// One key on target, written as QKeySequence writes it; the quit key is
// never pressed. Del and Ctrl+X delete on the tree; undo and redo go either way.
Reach pressKey(QWidget *target, const std::string &text)
{
    const QKeySequence sequence = QKeySequence::fromString(QString::fromUtf8(text), QKeySequence::PortableText);
    if (sequence.isEmpty())
        return Reach::Adds;
    const QKeyCombination combination = sequence[0];
    const Qt::Key key = combination.key();
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (key == Qt::Key_Q && (modifiers & Qt::ControlModifier))
        return Reach::Adds;
    QString typed;
    if (key >= 0x20 && key < 0x7f && !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        const QChar c(static_cast<char16_t>(key));
        typed = (modifiers & Qt::ShiftModifier) ? QString(c) : QString(c.toLower());
    }
    target->setFocus();
    sendKey(target, key, modifiers, typed);
    if ((key == Qt::Key_Z || key == Qt::Key_Y) && (modifiers & Qt::ControlModifier))
        return Reach::Either;
    return key == Qt::Key_Delete || (key == Qt::Key_X && modifiers == Qt::ControlModifier) ? Reach::Deletes
                                                                                            : Reach::Adds;
}

// Runs one action; what it may do to the items the tree holds.
Reach perform(frmTree &window, const Action &action)
{
    switch (action.verb) {
    case 'c':
        emit window.tree()->nodeClick(findNode(window, action.argument));
        return Reach::Adds;
    case 'm':
    case 'a':
    case 'd':
        mouseAt(window, findNode(window, action.argument), action.verb == 'a', action.verb == 'd');
        return Reach::Adds;
    case 'g':
        dragTo(window, findNode(window, action.argument));
        return Reach::Adds;
    case 'o':
    case 'x':
        findNode(window, action.argument).setExpanded(action.verb == 'o');
        return Reach::Adds;
    case 'b': {
        int button = 0;
        const auto &arg = action.argument;
        if (std::from_chars(arg.data(), arg.data() + arg.size(), button).ec != std::errc()
            || button == modTree::CmdQuit)
            return Reach::Adds;
        QAction command;
        command.setData(button);
        emit window.toolbar()->actionTriggered(&command);
        return button == modTree::CmdDelete ? Reach::Deletes : Reach::Adds;
    }
    case 'k':
        return pressKey(window.tree(), action.argument);
    case 'e':
        pressKey(window.textBox(), action.argument);
        return Reach::Adds;
    case 't': {
        const QString text = QString::fromUtf8(action.argument).left(static_cast<qsizetype>(kMaxTyped));
        window.textBox()->setFocus();
        for (const QChar c : text)
            sendKey(window.textBox(), keyOf(c), Qt::NoModifier, QString(c));
        return Reach::Adds;
    }
    case 'p':
        window.textBox()->selectAll();
        window.textBox()->insert(QString::fromUtf8(action.argument)); // what a paste does
        return Reach::Adds;
    case 'f':
    case 'F': {
        window.tree()->setFocus();
        sendKey(window.tree(), Qt::Key_F, Qt::ControlModifier, QString());
        QLineEdit *field = window.findField()->edit();
        field->clear();
        for (const QChar c : QString::fromUtf8(action.argument).left(static_cast<qsizetype>(kMaxTyped)))
            sendKey(field, keyOf(c), Qt::NoModifier, QString(c));
        window.findIndex()->settle(10000);
        sendKey(field, Qt::Key_Return, action.verb == 'F' ? Qt::ShiftModifier : Qt::NoModifier, QString());
        return Reach::Adds;
    }
    case 'v': {
        const char format = action.argument.empty() ? 'p' : action.argument.front();
        const char lower = static_cast<char>(format | 0x20);
        const QString type = lower == 'o' ? QStringLiteral("text/x-opml")
            : lower == 'm'                ? QStringLiteral("text/markdown")
                                          : QStringLiteral("text/plain");
        auto *data = new QMimeData;
        data->setData(type, QByteArray::fromStdString(action.argument.substr(action.argument.empty() ? 0 : 1)));
        QApplication::clipboard()->setMimeData(data);
        window.tree()->setFocus();
        const auto modifiers = format == lower ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier;
        sendKey(window.tree(), Qt::Key_V, modifiers, QString());
        return Reach::Adds;
    }
    case 'u':
    case 'r':
        window.tree()->setFocus();
        sendKey(window.tree(), Qt::Key_Z,
                action.verb == 'u' ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier, QString());
        return Reach::Either;
    default:
        return Reach::Adds;
    }
}

// The window, started on the store as the program starts. Making a new one
// costs more than the rest of an input together, so one serves every input
// with the same command table (the toolbar and its keys are built from it
// once): the store is opened again, the text box bound to nothing and the
// tree rebuilt, which is what start-up leaves behind.
frmTree &startWindow(const std::vector<std::pair<Value, Value>> &commands)
{
    if (g_window && commands == g_commands) {
        modTree::AttachControls({g_window, g_window->tree(), g_window->textBox()});
        modBase::OpenBase(g_directory.toStdString());
        {
            const modTree::BusyScope programChanges;
            g_window->textBox()->setTag(std::nullopt);
            g_window->textBox()->setText(QString()); // and forgets its undo history
        }
        g_window->tree()->setFocus();
        modTree::ShowTree();
        return *g_window;
    }
    delete g_window;
    g_window = new frmTree(g_directory);
    g_commands = commands;
    g_window->Form_Load();
    g_window->show();
    g_window->activateWindow();
    QCoreApplication::processEvents(); // the platform's activation: keys reach shortcuts then
    return *g_window;
}

// A whole rebuild from the table onto the hidden tree: it must come to an
// end. The window's own tree keeps what the actions left on it.
void rebuildAside(frmTree &window)
{
    const auto current = modBase::rsTree.key(store::Field::KeyInd);
    modTree::AttachControls({&window, g_asideTree, g_asideText});
    modTree::ShowTree();
    modTree::AttachControls({&window, window.tree(), window.textBox()});
    if (current)
        modBase::rsTree.positionOn(*current);
}

// With BRANCHKEEPER_FUZZ_TRACE set (when replaying a finding), the links of
// the first records after each action, on standard error.
void trace(store::Connection &reader, const std::string &after)
{
    static const bool on = qEnvironmentVariableIsSet("BRANCHKEEPER_FUZZ_TRACE");
    if (!on)
        return;
    std::fprintf(stderr, "after %s: KeyInd KeyPar KeyChi KeyPrw KeyNxt KeySel Expand\n", after.c_str());
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(reader.handle(),
                       "SELECT quote(KeyInd), quote(KeyPar), quote(KeyChi), quote(KeyPrw), quote(KeyNxt), "
                       "quote(KeySel), quote(Expand) FROM TbTree ORDER BY KeyInd LIMIT 40",
                       -1, &stmt, nullptr);
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
        for (int i = 0; i < 7; ++i)
            std::fprintf(stderr, " %.20s", reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)));
        std::fprintf(stderr, "\n");
    }
    sqlite3_finalize(stmt);
}

// Every record's fields as SQLite quotes them, by quoted key; the mark left
// out, as an undo marks the item the command acted on, as a click does.
using Rows = std::map<std::string, std::vector<std::string>>;

Rows readRows(store::Connection &reader)
{
    Rows rows;
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(reader.handle(),
                       "SELECT quote(KeyInd), quote(KeyPar), quote(KeyChi), quote(KeyPrw), quote(KeyNxt), "
                       "quote(KeyTxt), quote(KeySel), quote(Expand), quote(KeyRef), quote(RefCut) FROM TbTree",
                       -1, &stmt, nullptr);
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
        std::vector<std::string> fields;
        for (int i = 0; i < 10; ++i) {
            const unsigned char *text = sqlite3_column_text(stmt, i);
            fields.emplace_back(text ? reinterpret_cast<const char *>(text) : "");
        }
        fields[6].clear();
        rows[fields[0]] = std::move(fields);
    }
    sqlite3_finalize(stmt);
    return rows;
}

// The records as an undo leaves them: as they were, but for each record the
// command took (appended, or free and written), left as a delete leaves an
// item unless it is under another one the command took.
Rows undone(const Rows &was, const Rows &is)
{
    std::set<std::string> made;
    for (const auto &[key, row] : is) {
        const auto old = was.find(key);
        if (old == was.end() || (old->second[1] == "NULL" && old->second[4] == "NULL" && old->second != row))
            made.insert(key);
    }
    Rows rows = was;
    for (const auto &[key, row] : is) {
        if (!made.contains(key))
            continue;
        auto &left = rows[key] = row;
        if (!made.contains(row[1]))
            left[1] = left[3] = left[4] = "0";
    }
    return rows;
}

bool linksDiffer(const Rows &a, const Rows &b)
{
    for (const auto &[key, row] : b) {
        const auto other = a.find(key);
        if (other == a.end() || !std::equal(row.begin() + 1, row.begin() + 5, other->second.begin() + 1))
            return true;
    }
    return false;
}

// A command that changed links: its undo gives the records back, its redo
// what the command left.
void checkUndo(frmTree &window, store::Connection &reader, const Rows &was, const std::string &after)
{
    const Rows is = readRows(reader);
    const Rows expected = undone(was, is);
    if (!linksDiffer(expected, is))
        return; // no link changed: no command to undo
    perform(window, {'u', {}});
    if (readRows(reader) != expected)
        fail("the undo of " + after + " did not give the records back");
    perform(window, {'r', {}});
    if (readRows(reader) != is)
        fail("the redo of " + after + " did not give the records back");
}

std::string describe(std::size_t i, const Action &action)
{
    return "action " + std::to_string(i + 1) + " (" + action.verb + " " + action.argument.substr(0, 40) + ")";
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string out;
    for (std::size_t i = 0; i < lines.size() && i < 10; ++i)
        out += "\n  " + lines[i];
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(sayOnce);
    // Qt's own copy of the arguments: it would take out those it knows.
    static int argc = 1;
    static char name[] = "branchkeeper-fuzz";
    static char *argv[] = {name, nullptr};
    g_app = new QApplication(argc, argv);
    g_directory = QDir::tempPath() + QStringLiteral("/branchkeeper-fuzz-") + QString::number(QCoreApplication::applicationPid());
    QDir(g_directory).removeRecursively();
    if (!QDir().mkpath(g_directory))
        fail("cannot make the scratch folder " + g_directory.toStdString());
    std::atexit(removeScratch);
    g_path = (g_directory + QLatin1Char('/') + QString::fromUtf8(store::kStoreFileName.data(),
                                                                 store::kStoreFileName.size()))
                 .toStdString();
    g_asideTree = new toolkit::KeyedTree;
    g_asideText = new toolkit::TextBox;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const Input in = parse(data, size);
    std::remove(g_path.c_str());
    writeStore(g_path, in);

    const std::string &error = store::lastError();
    const auto reader = store::Connection::open(g_path, store::Connection::Access::ReadOnly);
    if (!reader)
        fail("the store just written does not open: " + error);
    store::LinkCheck before = checkFile(*reader, "writing the input");
    trace(*reader, "writing the input");
    const bool sound = before.clean();

    auto checkedVersion = reader->outsideVersion();
    frmTree &window = startWindow(in.commands);
    for (std::size_t i = 0; i < in.actions.size(); ++i) {
        const bool command = sound && std::strchr("bkv", in.actions[i].verb);
        const Rows was = command ? readRows(*reader) : Rows();
        const Reach reach = perform(window, in.actions[i]);
        const std::string after = describe(i, in.actions[i]);
        // An action that wrote nothing leaves the file the last check found:
        // the same checks, and the same rebuild, would find the same.
        const auto version = reader->outsideVersion();
        if (version && version == checkedVersion)
            continue;
        checkedVersion = version;
        trace(*reader, after);
        store::LinkCheck now = checkFile(*reader, after);
        rebuildAside(window);
        if (!sound)
            continue;
        if (!now.clean())
            fail("the links were sound and broke at " + after + ":" + joined(now.problems));
        const std::set<std::int32_t> held(before.reachable.begin(), before.reachable.end());
        const std::set<std::int32_t> is(now.reachable.begin(), now.reachable.end());
        const bool deletes = reach == Reach::Deletes;
        const auto &kept = deletes ? held : is;
        const auto &other = deletes ? is : held;
        if (reach != Reach::Either && !std::includes(kept.begin(), kept.end(), other.begin(), other.end()))
            fail(std::string(deletes ? "a delete put items into the tree at " : "items left the tree at ") + after);
        // Typing would rename an item nobody sees.
        if (const auto bound = modTree::ItemOf(window.textBox()->tag()); bound && !is.contains(*bound))
            fail("the text box edits item " + std::to_string(*bound) + ", which is out of the tree, after " + after);
        if (command && reach != Reach::Either) {
            checkUndo(window, *reader, was, after);
            checkedVersion = reader->outsideVersion();
        }
        before = std::move(now);
    }

    // The next input's store takes this one's place: the program lets go of
    // the file first. (The program's own way of opening a store runs at the
    // start of every input; the checks after each action read this file.)
    modTree::ResetProgramState();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
