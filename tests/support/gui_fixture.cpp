#include "tests/support/gui_fixture.h"

#include "commands/toolbar.h"
#include "store/connection.h"
#include "store/mod_base.h"
#include "toolkit/text_box.h"
#include "view/browsing.h"
#include "view/tree_state.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QToolBar>

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

std::string tagText(const toolkit::TextBox &box)
{
    const auto tag = box.tag();
    return tag ? tag->toString().toStdString() : std::string();
}

void GuiTest::TearDown()
{
    window.reset();
    modTree::ResetProgramState();
}

void GuiTest::restart()
{
    TearDown();
    store.exec("DROP TABLE TbTree; DROP TABLE tbCmd; DROP TABLE WriteLog; DROP TABLE WriteSeq");
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
    if (log.installed() && modBase::rsTree.connection())
        log.attach(modBase::rsTree.connection()->handle());
}

} // namespace testing_support

namespace testing_support {

void GuiTest::startLogged(const std::vector<Item> &items)
{
    store.create(items);
    log.install();
    startOnStore();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    log.clear();
}

void GuiTest::startWithToolbar(const std::vector<Item> &items)
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto &command : modTree::Commands())
        rows.emplace_back(command.picture, command.about);
    store.create(items, rows);
    ASSERT_TRUE(modTree::WriteButtonPictures(store.qDirectory(), nullptr));
    log.install();
    startOnStore();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    log.clear();
}

void GuiTest::press(int button)
{
    const auto buttons = window->toolbar()->actions();
    ASSERT_LE(button, buttons.size()) << "no button " << button;
    QWidget *widget = window->toolbar()->widgetForAction(buttons.at(button - 1));
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton);
}

toolkit::TreeNode GuiTest::node(const QString &key) const
{
    return window->tree()->find(key);
}

void GuiTest::click(const QString &nodeKey)
{
    const QRect rect = window->tree()->nodeRect(node(nodeKey));
    ASSERT_FALSE(rect.isNull()) << nodeKey.toStdString() << " is not on screen";
    window->tree()->scrollTo(window->tree()->indexOf(node(nodeKey)));
    QTest::mouseClick(window->tree()->viewport(), Qt::LeftButton, {},
                      window->tree()->nodeRect(node(nodeKey)).center());
}

void GuiTest::clickArrow(const QString &nodeKey)
{
    const QRect rect = window->tree()->arrowRect(node(nodeKey));
    ASSERT_FALSE(rect.isNull()) << nodeKey.toStdString() << " is not on screen";
    QTest::mouseClick(window->tree()->viewport(), Qt::LeftButton, {}, rect.center());
}

void GuiTest::drag(const QString &from, const QString &to)
{
    QWidget *area = window->tree()->viewport();
    const QPoint end = window->tree()->nodeRect(node(to)).center();
    QTest::mousePress(area, Qt::LeftButton, {}, window->tree()->nodeRect(node(from)).center());
    QMouseEvent move(QEvent::MouseMove, end, area->mapToGlobal(end), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(area, &move);
    QTest::mouseRelease(area, Qt::LeftButton, {}, end);
}

void GuiTest::type(const QString &text)
{
    window->textBox()->setFocus();
    QTest::keyClicks(window->textBox(), text);
}

void GuiTest::key(Qt::Key k, QWidget *target)
{
    QWidget *w = target ? target : window->tree();
    w->setFocus();
    QTest::keyClick(w, k);
}

} // namespace testing_support
