#pragma once

#include "app/frm_tree.h"
#include "tests/support/test_store.h"
#include "tests/support/write_log.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// Every node of the view, depth first, as "parentKey>key 'text' flags":
// flags are "+" expanded, "*" selected, "#RRGGBB" own colour.
std::vector<std::string> describeTree(const toolkit::KeyedTree &tree);

// The text box's tag in its text form ("12K"); empty without a tag.
std::string tagText(const toolkit::TextBox &box);

// A window on a scratch store, started the way the program starts.
class GuiTest : public ::testing::Test {
public:
    // The user's own actions, through the real widgets.
    void press(int button);
    void click(const QString &nodeKey);
    void clickArrow(const QString &nodeKey);
    // Presses the mouse on one node and lets it go on another: no click.
    void drag(const QString &from, const QString &to);
    void type(const QString &text);
    void key(Qt::Key key, QWidget *target = nullptr);

protected:
    void TearDown() override;
    // Closes the window and empties the store (the log's tables too), so one
    // test can start again on another store.
    void restart();

    // Writes the store and runs start-up on it.
    void start(const std::vector<Item> &items);
    // Runs start-up on whatever the store holds (or does not).
    void startOnStore();
    // Writes the store with a write log in it, starts up, shows the window
    // and clears the log, so the log holds what the test does from then on.
    void startLogged(const std::vector<Item> &items);

    // The same with the program's toolbar in tbCmd and its pictures beside
    // the store.
    void startWithToolbar(const std::vector<Item> &items);

    toolkit::TreeNode node(const QString &key) const;

    TestStore store;
    WriteLog log{store};
    std::unique_ptr<frmTree> window;
};

} // namespace testing_support
