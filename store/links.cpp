#include "store/links.h"

#include "store/mod_base.h"

namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

// A link field of the current record; an empty or unreadable link is none.
std::int32_t link(Field f)
{
    return rsTree.key(f).value_or(0);
}

bool write(Field f, std::int32_t key)
{
    return rsTree.update(f, std::int64_t{key});
}

} // namespace

void UnlinkItem(std::int32_t item)
{
    if (item == 0)
        return;
    rsTree.positionOn(item);
    const std::int32_t par = link(Field::KeyPar);
    const std::int32_t prw = link(Field::KeyPrw);
    const std::int32_t nxt = link(Field::KeyNxt);
    rsTree.update({{Field::KeyPar, std::int64_t{0}},
                   {Field::KeyPrw, std::int64_t{0}},
                   {Field::KeyNxt, std::int64_t{0}},
                   {Field::KeySel, false}});
    // A neighbour is mended only where it names the item: a record out of the
    // tree may still name a parent or siblings in it, and mending them would
    // cut the tree.
    if (par != 0) {
        if (prw == 0) {
            rsTree.positionOn(par);
            if (link(Field::KeyChi) == item)
                write(Field::KeyChi, nxt);
        } else {
            rsTree.positionOn(prw);
            if (link(Field::KeyNxt) == item)
                write(Field::KeyNxt, nxt);
        }
    }
    if (nxt != 0) {
        rsTree.positionOn(nxt);
        if (link(Field::KeyPrw) == item)
            write(Field::KeyPrw, prw);
    }
}

void LinkBefore(std::int32_t item, std::int32_t anchor)
{
    if (item == 0 || anchor == 0 || item == anchor)
        return;
    rsTree.positionOn(anchor);
    const std::int32_t par = link(Field::KeyPar);
    const std::int32_t prw = link(Field::KeyPrw);
    write(Field::KeyPrw, item);
    // As in UnlinkItem: only a neighbour that names the anchor.
    if (par != 0) {
        if (prw == 0) {
            rsTree.positionOn(par);
            if (link(Field::KeyChi) == anchor)
                write(Field::KeyChi, item);
        } else {
            rsTree.positionOn(prw);
            if (link(Field::KeyNxt) == anchor)
                write(Field::KeyNxt, item);
        }
    }
    rsTree.positionOn(item);
    write(Field::KeyPar, par);
    write(Field::KeyPrw, prw);
    write(Field::KeyNxt, anchor);
}

void LinkAfter(std::int32_t item, std::int32_t anchor)
{
    if (item == 0 || anchor == 0 || item == anchor)
        return;
    rsTree.positionOn(anchor);
    const std::int32_t nxt = link(Field::KeyNxt);
    const std::int32_t par = link(Field::KeyPar);
    write(Field::KeyNxt, item);
    if (nxt != 0) {
        rsTree.positionOn(nxt);
        if (link(Field::KeyPrw) == anchor)
            write(Field::KeyPrw, item);
    }
    rsTree.positionOn(item);
    write(Field::KeyPar, par);
    write(Field::KeyPrw, anchor);
    write(Field::KeyNxt, nxt);
}

void LinkFirstChild(std::int32_t item, std::int32_t parent)
{
    if (item == 0 || parent == 0 || item == parent)
        return;
    rsTree.positionOn(parent);
    write(Field::KeyChi, item);
    rsTree.positionOn(item);
    write(Field::KeyPar, parent);
}

} // namespace modTree
