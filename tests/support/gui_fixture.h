#pragma once

#include "app/frm_tree.h"
#include "app/toolkit/keyed_tree.h"
#include "tests/support/test_store.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// Every node of the view, depth first, as "parentKey>key 'text' flags":
// flags are "+" expanded, "*" selected, "#RRGGBB" own colour.
std::vector<std::string> describeTree(const toolkit::KeyedTree &tree);

// A window on a scratch store, started the way the program starts.
class GuiTest : public ::testing::Test {
protected:
    void TearDown() override;

    // Writes the store and runs start-up on it.
    void start(const std::vector<Item> &items);
    // Runs start-up on whatever the store holds (or does not).
    void startOnStore();

    TestStore store;
    std::unique_ptr<frmTree> window;
};

} // namespace testing_support
