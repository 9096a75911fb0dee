#include "store/links.h"

#include "store/tree_cursor.h"

namespace modTree {

using store::Field;

namespace {

// A link field of the current record; an empty or unreadable link is none.
std::int32_t link(const store::TreeCursor &tree, Field f)
{
    return tree.key(f).value_or(0);
}

bool write(store::TreeCursor &tree, Field f, std::int32_t key)
{
    return tree.update(f, std::int64_t{key});
}

// Field f of record at is set to `to` where it names `from`, and only there: a
// record out of the tree may still name a parent or siblings in it, and
// mending them would cut the tree. Nothing for at 0.
void repoint(store::TreeCursor &tree, std::int32_t at, Field f, std::int32_t from, std::int32_t to)
{
    if (at == 0)
        return;
    tree.positionOn(at);
    if (link(tree, f) == from)
        write(tree, f, to);
}

// What leads to `from` from before it: its parent's KeyChi when it is the
// first child (prw 0), else its previous sibling's KeyNxt; none without a
// parent.
void repointBefore(store::TreeCursor &tree, std::int32_t par, std::int32_t prw, std::int32_t from, std::int32_t to)
{
    if (par != 0)
        repoint(tree, prw == 0 ? par : prw, prw == 0 ? Field::KeyChi : Field::KeyNxt, from, to);
}

} // namespace

void UnlinkItem(store::TreeCursor &tree, std::int32_t item)
{
    if (item == 0)
        return;
    tree.positionOn(item);
    const std::int32_t par = link(tree, Field::KeyPar);
    const std::int32_t prw = link(tree, Field::KeyPrw);
    const std::int32_t nxt = link(tree, Field::KeyNxt);
    tree.update({{Field::KeyPar, std::int64_t{0}},
                 {Field::KeyPrw, std::int64_t{0}},
                 {Field::KeyNxt, std::int64_t{0}},
                 {Field::KeySel, false}});
    repointBefore(tree, par, prw, item, nxt);
    repoint(tree, nxt, Field::KeyPrw, item, prw);
}

void LinkBefore(store::TreeCursor &tree, std::int32_t item, std::int32_t anchor)
{
    if (item == 0 || anchor == 0 || item == anchor)
        return;
    tree.positionOn(anchor);
    const std::int32_t par = link(tree, Field::KeyPar);
    const std::int32_t prw = link(tree, Field::KeyPrw);
    write(tree, Field::KeyPrw, item);
    repointBefore(tree, par, prw, anchor, item);
    tree.positionOn(item);
    write(tree, Field::KeyPar, par);
    write(tree, Field::KeyPrw, prw);
    write(tree, Field::KeyNxt, anchor);
}

void LinkAfter(store::TreeCursor &tree, std::int32_t item, std::int32_t anchor)
{
    if (item == 0 || anchor == 0 || item == anchor)
        return;
    tree.positionOn(anchor);
    const std::int32_t nxt = link(tree, Field::KeyNxt);
    const std::int32_t par = link(tree, Field::KeyPar);
    write(tree, Field::KeyNxt, item);
    repoint(tree, nxt, Field::KeyPrw, anchor, item);
    tree.positionOn(item);
    write(tree, Field::KeyPar, par);
    write(tree, Field::KeyPrw, anchor);
    write(tree, Field::KeyNxt, nxt);
}

void LinkFirstChild(store::TreeCursor &tree, std::int32_t item, std::int32_t parent)
{
    if (item == 0 || parent == 0 || item == parent)
        return;
    tree.positionOn(parent);
    write(tree, Field::KeyChi, item);
    tree.positionOn(item);
    write(tree, Field::KeyPar, parent);
}

} // namespace modTree
