#include "view/find.h"

#include "store/branches.h"
#include "store/connection.h"
#include "store/format.h"
#include "store/mod_base.h"
#include "view/expand.h"
#include "view/selection.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace modTree {

namespace {

// The code point at text[at], and where the next one starts; U+FFFD and the
// next byte for what is no well-formed UTF-8.
std::pair<char32_t, std::size_t> decodeAt(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return {lead, at + 1};
    // The lead byte gives the length and the least value; the second byte's
    // range rules out overlong forms, surrogates and values over U+10FFFF.
    int length = 0;
    char32_t cp = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || at + static_cast<std::size_t>(length) > text.size() || byte(at + 1) < low
        || byte(at + 1) > high)
        return {0xFFFD, at + 1};
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(at + static_cast<std::size_t>(i));
        if ((next & 0xC0u) != 0x80)
            return {0xFFFD, at + 1};
        cp = cp << 6 | (next & 0x3Fu);
    }
    return {cp, at + static_cast<std::size_t>(length)};
}

void appendUtf8(char32_t cp, std::string &out)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Appends text folded to out: plain ASCII (most texts) in place, the rest a
// code point at a time, without an allocation per text.
void appendFolded(std::string_view text, std::string &out)
{
    const std::size_t from = out.size();
    out.append(text);
    char *const at = out.data() + from;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(at[i]);
        if (c >= 0x80)
            break;
        if (static_cast<unsigned>(c - 'A') < 26u)
            at[i] = static_cast<char>(c - 'A' + 'a');
    }
    if (i == text.size())
        return;
    out.resize(from + i);
    while (i < text.size()) {
        const auto [cp, next] = decodeAt(text, i);
        i = next;
        // Qt folds one character to one; "ß" is the common one that folds to two.
        const char32_t folded = QChar::toCaseFolded(cp);
        if (folded == 0x00DF)
            out += "ss";
        else
            appendUtf8(folded, out);
    }
}

} // namespace

std::string FoldForFind(std::string_view utf8)
{
    std::string folded;
    appendFolded(utf8, folded);
    return folded;
}

std::string FoldForFind(QStringView text)
{
    const QByteArray utf8 = text.toUtf8();
    return FoldForFind(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

namespace {

std::shared_ptr<const FindSnapshot> readSnapshot(const std::string &path)
{
    auto tree = store::readTreeTexts(path, [](std::int32_t key, std::string_view text, std::string &out) {
        appendFolded(key == store::kRootKey ? store::kRootText : text, out); // the root's row shows its own text
    });
    if (!tree)
        return nullptr;
    auto snapshot = std::make_shared<FindSnapshot>();
    snapshot->items.assign(tree->textAt.size() - 1, -1);
    for (std::size_t i = 0; i < tree->records.size(); ++i)
        snapshot->items[tree->records[i]] = static_cast<std::int32_t>(i);
    snapshot->folded = std::move(tree->texts);
    snapshot->textAt = std::move(tree->textAt);
    snapshot->keys = std::move(tree->keys);
    snapshot->depths = std::move(tree->depths);
    return snapshot;
}

// The position of item in the snapshot; -1 when it is not there.
std::ptrdiff_t positionOf(const FindSnapshot &snapshot, std::int32_t item)
{
    const auto it = std::find(snapshot.keys.begin(), snapshot.keys.end(), item);
    return it == snapshot.keys.end() ? -1 : it - snapshot.keys.begin();
}

// The positions of the items whose folded text holds needle, in display order.
std::vector<std::size_t> scan(const FindSnapshot &snapshot, const std::string &needle)
{
    std::vector<std::size_t> matches;
    if (needle.empty() || snapshot.keys.empty())
        return matches;
    // The texts are in the table's order: mark the items hit, then read the marks in the tree's.
    std::vector<char> hit(snapshot.keys.size(), 0);
    std::size_t count = 0;
    const char *const all = snapshot.folded.data();
    const std::size_t size = snapshot.folded.size();
    std::size_t from = 0;
    while (from < size) {
        const void *found = ::memmem(all + from, size - from, needle.data(), needle.size());
        if (!found)
            break;
        const auto at = static_cast<std::size_t>(static_cast<const char *>(found) - all);
        // The record the hit starts in; a hit running on into the next record's
        // text is none, and neither is any later one starting in this record.
        const auto next = std::upper_bound(snapshot.textAt.begin(), snapshot.textAt.end(), at);
        const auto record = static_cast<std::size_t>(next - snapshot.textAt.begin()) - 1;
        const std::int32_t item = snapshot.items[record];
        if (at + needle.size() <= *next && item >= 0) {
            hit[static_cast<std::size_t>(item)] = 1;
            ++count;
        }
        from = *next;
    }
    matches.reserve(count);
    for (std::size_t i = 0; i < hit.size(); ++i)
        if (hit[i])
            matches.push_back(i);
    return matches;
}

// The index in matches of the first match after position, wrapping; of the
// match at position itself when atPosition and it is one.
std::size_t following(const std::vector<std::size_t> &matches, std::ptrdiff_t position, bool atPosition)
{
    const auto it = std::partition_point(matches.begin(), matches.end(), [&](std::size_t match) {
        const auto m = static_cast<std::ptrdiff_t>(match);
        return atPosition ? m < position : m <= position;
    });
    return it == matches.end() ? 0 : static_cast<std::size_t>(it - matches.begin());
}

} // namespace

FindIndex::FindIndex(QObject *parent) : QObject(parent)
{
    m_reader = std::thread([this] { run(); });
}

FindIndex::~FindIndex()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_reader.join();
}

void FindIndex::search(const std::string &path, const QString &text, std::int32_t highlighted, Ordinal ordinal)
{
    {
        const std::lock_guard lock(m_mutex);
        m_pending = Request{++m_asked, path, FoldForFind(text), highlighted, ordinal};
    }
    m_wake.notify_one();
}

void FindIndex::search(const QString &text, std::int32_t highlighted, Ordinal ordinal)
{
    const store::Connection *connection = modBase::rsTree.connection();
    search(connection ? connection->path() : std::string(), text, highlighted, ordinal);
}

void FindIndex::refresh()
{
    const store::Connection *connection = modBase::rsTree.connection();
    {
        const std::lock_guard lock(m_mutex);
        if (m_pending || !connection)
            return;
        m_pending = Request{0, connection->path(), {}, 0, Ordinal::Next}; // generation 0: no answer
    }
    m_wake.notify_one();
}

FindIndex::OwnWrite FindIndex::ownWriteBegins() const
{
    store::Connection *connection = modBase::rsTree.connection();
    // A read-only connection may be replaced by a writable one within the
    // action, and two connections' data versions say nothing of each other.
    if (!m_latest.snapshot || !connection || connection->isReadOnly())
        return {};
    // The data version first: a commit by another connection after it shows at the end.
    OwnWrite begun;
    begun.connection = connection;
    begun.outside = connection->outsideVersion();
    begun.file = store::fileVersion(connection->path());
    return begun;
}

bool FindIndex::ownWriteEnded(const OwnWrite &begun, bool readAgain)
{
    store::Connection *connection = modBase::rsTree.connection();
    std::optional<store::FileVersion> now;
    bool same = false;
    if (begun.outside && begun.file && connection && connection == begun.connection) {
        now = store::fileVersion(connection->path());
        same = now && now->device == begun.file->device && now->inode == begun.file->inode
            && connection->outsideVersion() == begun.outside;
    }
    if (same) {
        const std::lock_guard lock(m_mutex);
        if (m_sameTree.known && m_sameTree.to == *begun.file)
            m_sameTree.to = *now; // one more own write on the same tree
        else
            m_sameTree = {true, *begun.file, *now};
    } else if (readAgain) {
        refresh();
    }
    return same;
}

void FindIndex::run()
{
    std::string readPath;
    std::optional<store::FileVersion> version;
    SameTree sameTree;
    std::shared_ptr<const FindSnapshot> snapshot;
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_pending; });
            if (m_stop)
                return;
            request = std::move(*m_pending);
            m_pending.reset();
            sameTree = m_sameTree;
        }
        // The version before the reading: a change landing during it is read again next time.
        const auto now = store::fileVersion(request.path);
        if (snapshot && version && now && sameTree.holds(*version) && sameTree.holds(*now))
            version = now; // only the window's own writes of marks and open states between
        if (!snapshot || !now || now != version || request.path != readPath) {
            ++m_readings;
            version = now;
            readPath = request.path;
            try {
                snapshot = readSnapshot(request.path);
            } catch (const std::bad_alloc &) {
                snapshot = nullptr;
            }
            if (!snapshot) { // nothing to find now; read it again next time
                snapshot = std::make_shared<const FindSnapshot>();
                version.reset();
            }
        }
        {
            const std::lock_guard lock(m_mutex);
            if (m_pending || request.generation == 0)
                continue; // typed on meanwhile: only the newest search is answered
        }
        auto result = std::make_shared<FindResult>();
        result->generation = request.generation;
        result->needle = request.needle;
        result->snapshot = snapshot;
        try {
            result->matches = scan(*snapshot, request.needle);
        } catch (const std::bad_alloc &) {
            result->matches.clear(); // answered with no match rather than not at all
        }
        if (!result->matches.empty()) {
            const auto position = positionOf(*snapshot, request.highlighted);
            result->ordinal = static_cast<int>(following(result->matches, position,
                                                         request.ordinal == Ordinal::Highlighted && position >= 0))
                + 1;
        }
        QMetaObject::invokeMethod(this, [this, result] { deliver(std::move(*result)); }, Qt::QueuedConnection);
    }
}

void FindIndex::deliver(FindResult result)
{
    if (result.generation != m_asked)
        return; // a newer search is on its way
    m_latest = std::move(result);
    if (m_observer)
        m_observer(m_latest);
}

std::optional<FindTarget> FindIndex::step(std::int32_t highlighted, bool forward) const
{
    const auto &matches = m_latest.matches;
    if (matches.empty() || !m_latest.snapshot)
        return std::nullopt;
    const FindSnapshot &snapshot = *m_latest.snapshot;
    const auto position = positionOf(snapshot, highlighted);
    std::size_t index = following(matches, position, false);
    if (!forward) {
        // The one before the first match at or after position, wrapping.
        const auto atOrAfter = std::lower_bound(matches.begin(), matches.end(),
                                                static_cast<std::size_t>(std::max<std::ptrdiff_t>(position, 0)));
        index = atOrAfter == matches.begin() ? matches.size() - 1
                                             : static_cast<std::size_t>(atOrAfter - matches.begin()) - 1;
    }
    FindTarget target{snapshot.keys[matches[index]], static_cast<int>(index) + 1, {}};
    // Up the display order: each nearer item one level less deep is the next ancestor.
    std::size_t at = matches[index];
    for (std::int32_t depth = snapshot.depths[at] - 1; depth >= 1 && at > 0;) {
        --at;
        if (snapshot.depths[at] == depth) {
            target.ancestors.push_back(snapshot.keys[at]);
            --depth;
        }
    }
    std::reverse(target.ancestors.begin(), target.ancestors.end());
    return target;
}

bool FindIndex::settle(int ms)
{
    const QDeadlineTimer deadline(ms);
    QTimer wake; // ends the last wait at the deadline
    wake.setSingleShot(true);
    wake.start(ms);
    // Sleeps between events: a spinning wait would take the reader's core.
    while (!current() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return current();
}

bool GoToItem(const FindTarget &target)
{
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    if (!tree)
        return false;
    bool opened = false;
    for (const std::int32_t ancestor : target.ancestors)
        opened = OpenItem(ancestor) || opened;
    if (opened)
        ShowTree();
    const toolkit::TreeNode node = tree->find(ItemNode(target.item));
    if (!node.isValid())
        return false;
    tree->highlight(node);
    tree->scrollTo(tree->indexOf(node));
    NodeClick(node);
    return true;
}

} // namespace modTree
