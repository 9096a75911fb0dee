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

namespace modTree {

QString FoldForFind(QStringView text)
{
    // Qt folds one character to one; "ß" is the common one that folds to two.
    QString folded = text.toString().toCaseFolded();
    folded.replace(QChar(0x00DF), QLatin1String("ss"));
    return folded;
}

namespace {

// Writes text folded at out, and returns the end: plain ASCII (most texts)
// by hand, the rest through Qt. Never longer in UTF-16 than text in UTF-8.
QChar *writeFolded(QChar *out, std::string_view text)
{
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        for (const char c : text)
            *out++ = QChar(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return out;
    }
    const QString folded = FoldForFind(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    return std::copy(folded.cbegin(), folded.cend(), out);
}

std::shared_ptr<const FindSnapshot> readSnapshot(const std::string &path)
{
    auto tree = store::readTreeTexts(path);
    if (!tree)
        return nullptr;
    auto snapshot = std::make_shared<FindSnapshot>();
    const std::size_t n = tree->keys.size();
    snapshot->starts.reserve(n + 1);
    // One buffer of room for all, cut to what was written.
    snapshot->folded.resize(static_cast<qsizetype>(tree->texts.size() + store::kRootText.size()));
    QChar *const begin = snapshot->folded.data();
    QChar *out = begin;
    for (std::size_t i = 0; i < n; ++i) {
        snapshot->starts.push_back(out - begin);
        // What the rows show: the root's node has its own text.
        out = writeFolded(out, tree->depths[i] == 0 ? store::kRootText : tree->text(i));
    }
    snapshot->starts.push_back(out - begin);
    snapshot->folded.truncate(out - begin);
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

// The positions of the items whose folded text holds needle, in order.
std::vector<std::size_t> scan(const FindSnapshot &snapshot, const QString &needle)
{
    std::vector<std::size_t> matches;
    if (needle.isEmpty() || snapshot.keys.empty())
        return matches;
    const QStringView all(snapshot.folded);
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = all.indexOf(needle, from);
        if (at < 0)
            break;
        // The item the hit starts in; a hit running on into the next item's
        // text is none, and neither is any later one starting in this item.
        const auto next = std::upper_bound(snapshot.starts.begin(), snapshot.starts.end(), at);
        const std::size_t item = static_cast<std::size_t>(next - snapshot.starts.begin()) - 1;
        if (at + needle.size() <= *next)
            matches.push_back(item);
        from = *next;
    }
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

void FindIndex::run()
{
    std::string readPath;
    std::optional<store::FileVersion> version;
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
        }
        // The version before the reading: a change landing during it is read again next time.
        const auto now = store::fileVersion(request.path);
        if (!snapshot || !now || now != version || request.path != readPath) {
            version = now;
            readPath = request.path;
            snapshot = readSnapshot(request.path);
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
        result->matches = scan(*snapshot, request.needle);
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
