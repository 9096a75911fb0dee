#include "tests/support/gui_fixture.h"

#include "store/mod_base.h"
#include "view/tree_state.h"

#include <cstdio>
#include <functional>

namespace testing_support {

std::vector<std::string> describeTree(const toolkit::KeyedTree &tree)
{
    std::vector<std::string> out;
    std::function<void(const toolkit::TreeNode &)> walk = [&](const toolkit::TreeNode &node) {
        std::string line = node.parent().key().toStdString() + ">" + node.key().toStdString() + " '"
            + node.text().toStdString() + "'";
        if (node.isExpanded())
            line += " +";
        if (node.isSelected())
            line += " *";
        if (const auto c = node.foreColor()) {
            char buf[16];
            std::snprintf(buf, sizeof buf, " #%02X%02X%02X", *c & 0xFF, (*c >> 8) & 0xFF, (*c >> 16) & 0xFF);
            line += buf;
        }
        out.push_back(line);
        for (const auto &child : node.children())
            walk(child);
    };
    for (const auto &top : tree.topLevelNodes())
        walk(top);
    return out;
}

void GuiTest::TearDown()
{
    window.reset();
    modTree::AttachControls({});
    modTree::CurrentNode = {};
    modTree::TreeBusy = false;
    modBase::rsTree.close();
    modBase::rsCmd.close();
}

void GuiTest::start(const std::vector<Item> &items)
{
    store.create(items);
    startOnStore();
}

void GuiTest::startOnStore()
{
    window = std::make_unique<frmTree>(store.qDirectory());
    window->Form_Load();
}

} // namespace testing_support
