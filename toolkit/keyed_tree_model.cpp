#include "toolkit/keyed_tree_model.h"

#include <QColor>

#include <algorithm>

namespace toolkit {

namespace {

QColor colorFromBgr(int bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

} // namespace

QString KeyedTreeModel::text(int id) const
{
    const std::string_view t = utf8(id);
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

int KeyedTreeModel::foreColor(int id) const
{
    const auto it = foreColors.find(id);
    return it == foreColors.end() ? -1 : it->second;
}

QString KeyedTreeModel::shownText(int id) const
{
    const std::string_view t = utf8(id);
    if (t.size() <= kShownBytes)
        return text(id);
    std::size_t end = kShownBytes;
    while (end > 0 && (static_cast<unsigned char>(t[end]) & 0xC0) == 0x80)
        --end; // not inside a character
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(end)) + QChar(0x2026);
}

int KeyedTreeModel::decode(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return -1;
    const quintptr v = index.internalId();
    const int id = static_cast<int>(v & 0xFFFFFFFFu);
    return alive(id, static_cast<std::uint32_t>(v >> 32)) ? id : -1;
}

QModelIndex KeyedTreeModel::indexFor(int id) const
{
    const int row = node(id).row;
    if (resetOpen || row < 0)
        return {};
    return createIndex(row, 0, (quintptr(generation) << 32) | quint32(id));
}

QModelIndex KeyedTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || column != 0 || row < 0 || row >= static_cast<int>(rows.size()))
        return {};
    return createIndex(row, 0, (quintptr(generation) << 32) | quint32(rows[row]));
}

int KeyedTreeModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

QVariant KeyedTreeModel::data(const QModelIndex &index, int role) const
{
    const int id = decode(index);
    if (id < 0)
        return {};
    if (role == Qt::DisplayRole)
        return shownText(id);
    // Black, the colour of every unmarked node, is the desktop's own text
    // colour: black on a dark desktop would not be read.
    if (role == Qt::ForegroundRole) {
        if (const int bgr = foreColor(id); bgr > 0)
            return colorFromBgr(bgr);
    }
    return {};
}

Qt::ItemFlags KeyedTreeModel::flags(const QModelIndex &index) const
{
    return decode(index) < 0 ? Qt::NoItemFlags
                             : Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void KeyedTreeModel::beginReset()
{
    if (!resetOpen) {
        beginResetModel();
        resetOpen = true;
    }
}

void KeyedTreeModel::endReset()
{
    if (resetOpen) {
        resetOpen = false;
        endResetModel();
    }
}

void KeyedTreeModel::clearAll()
{
    nodes.clear();
    texts.clear();
    foreColors.clear();
    emptyNames.clear();
    std::vector<int>().swap(top);
    std::vector<int>().swap(rows);
    std::vector<int>().swap(places);
    byKey.clear();
    selected = -1;
    maxDepth = 0;
    if (++generation == 0)
        generation = 1;
}

int KeyedTreeModel::add(int parent, NodeKey key, std::string_view utf8)
{
    const int id = count();
    Node n;
    n.keyLow = static_cast<std::uint32_t>(key.packed());
    n.keyHigh = static_cast<std::uint32_t>(key.packed() >> 32);
    n.parent = parent;
    n.depth = parent < 0 ? 0 : node(parent).depth + 1;
    n.text = texts.append(utf8);
    maxDepth = std::max(maxDepth, static_cast<int>(n.depth));
    nodes.push_back(n);
    if (parent < 0) {
        top.push_back(id);
    } else {
        Node &p = node(parent);
        Node &added = node(id);
        if (p.lastChild < 0) {
            added.nextSibling = id;
        } else {
            added.nextSibling = node(p.lastChild).nextSibling;
            node(p.lastChild).nextSibling = id;
        }
        p.lastChild = id;
    }
    byKey.insert(key.packed(), id);
    return id;
}

int KeyedTreeModel::placeOf(int id) const
{
    if (places.size() < nodes.size())
        places.resize(nodes.size(), 0);
    if (places[id] == 0) {
        int place = 0;
        if (const int parent = node(id).parent; parent < 0) {
            for (const int t : top)
                places[t] = ++place;
        } else {
            for (int c = firstChild(parent); c >= 0; c = nextSibling(c))
                places[c] = ++place;
        }
    }
    return places[id];
}

int KeyedTreeModel::siblingsOf(int id) const
{
    const int parent = node(id).parent;
    return parent < 0 ? static_cast<int>(top.size()) : placeOf(node(parent).lastChild);
}

void KeyedTreeModel::appendVisibleBelow(int id, std::vector<int> &out) const
{
    if (!node(id).expanded)
        return;
    std::vector<int> next{firstChild(id)}; // the next node to show at each open level
    while (!next.empty()) {
        const int at = next.back();
        if (at < 0) {
            next.pop_back();
            continue;
        }
        next.back() = nextSibling(at);
        out.push_back(at);
        if (node(at).expanded && node(at).hasChildren())
            next.push_back(firstChild(at));
    }
}

void KeyedTreeModel::renumber(std::size_t from)
{
    for (std::size_t r = from; r < rows.size(); ++r)
        node(rows[r]).row = static_cast<int>(r);
}

void KeyedTreeModel::layOutRows()
{
    for (std::size_t i = 0; i < nodes.size(); ++i)
        nodes[i].row = -1;
    rows.clear();
    rows.reserve(nodes.size());
    for (const int t : top) {
        rows.push_back(t);
        appendVisibleBelow(t, rows);
    }
    renumber(0);
}

int KeyedTreeModel::subtreeEnd(int id) const
{
    std::size_t r = static_cast<std::size_t>(node(id).row) + 1;
    while (r < rows.size() && node(rows[r]).depth > node(id).depth)
        ++r;
    return static_cast<int>(r);
}

void KeyedTreeModel::insertRows(int at, const std::vector<int> &ids)
{
    if (ids.empty())
        return;
    beginInsertRows({}, at, at + static_cast<int>(ids.size()) - 1);
    rows.insert(rows.begin() + at, ids.begin(), ids.end());
    renumber(static_cast<std::size_t>(at));
    endInsertRows();
}

void KeyedTreeModel::removeRowsRange(int first, int end)
{
    if (end <= first)
        return;
    beginRemoveRows({}, first, end - 1);
    for (int r = first; r < end; ++r)
        node(rows[r]).row = -1;
    rows.erase(rows.begin() + first, rows.begin() + end);
    renumber(static_cast<std::size_t>(first));
    endRemoveRows();
}

void KeyedTreeModel::changed(int id)
{
    const QModelIndex i = indexFor(id);
    if (i.isValid())
        emit dataChanged(i, i);
}

} // namespace toolkit
