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
    // A neighbour is mended only where it names the item: a record out of the
    // tree may still name a parent or siblings in it, and mending them would
    // cut the tree.
    if (par != 0) {
        if (prw == 0) {
            tree.positionOn(par);
            if (link(tree, Field::KeyChi) == item)
                write(tree, Field::KeyChi, nxt);
        } else {
            tree.positionOn(prw);
            if (link(tree, Field::KeyNxt) == item)
                write(tree, Field::KeyNxt, nxt);
        }
    }
    if (nxt != 0) {
        tree.positionOn(nxt);
        if (link(tree, Field::KeyPrw) == item)
            write(tree, Field::KeyPrw, prw);
    }
}

void LinkBefore(store::TreeCursor &tree, std::int32_t item, std::int32_t anchor)
{
    if (item == 0 || anchor == 0 || item == anchor)
        return;
    tree.positionOn(anchor);
    const std::int32_t par = link(tree, Field::KeyPar);
    const std::int32_t prw = link(tree, Field::KeyPrw);
    write(tree, Field::KeyPrw, item);
    // As in UnlinkItem: only a neighbour that names the anchor.
    if (par != 0) {
        if (prw == 0) {
            tree.positionOn(par);
            if (link(tree, Field::KeyChi) == anchor)
                write(tree, Field::KeyChi, item);
        } else {
            tree.positionOn(prw);
            if (link(tree, Field::KeyNxt) == anchor)
                write(tree, Field::KeyNxt, item);
        }
    }
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
    if (nxt != 0) {
        tree.positionOn(nxt);
        if (link(tree, Field::KeyPrw) == anchor)
            write(tree, Field::KeyPrw, item);
    }
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
