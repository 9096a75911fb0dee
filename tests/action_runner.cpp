// A child process for tests that must see the program die or end: starts the
// window on the store in a folder, offscreen, and performs one user action
// through the window's own handlers.
//
//   action_runner DIR command N    a click on toolbar button N
//   action_runner DIR click K      a click on the node of item K
//   action_runner DIR open K       opens the node of item K
//   action_runner DIR paste K      Ctrl+V on item K, the clipboard holding
//                                  "one", "two" under it, and "three"
//   action_runner DIR undo K       Del on item K, then Ctrl+Z
//   action_runner DIR find TEXT    Ctrl+F, TEXT typed, Enter once counted
//
// With BRANCHKEEPER_KILLER set to a trigger's event and condition ("AFTER
// UPDATE OF KeySel ON TbTree WHEN ..."), the process gives its connection a
// TEMP trigger that calls die() then: it kills the process on the spot, in
// the middle of the action. (A store runs no triggers of its own.)
// Exit codes: 0 when the action ended the program, 3 when it returned, 2 for
// a bad call.

#include "app/frm_tree.h"
#include "store/connection.h"
#include "store/mod_base.h"
#include "toolkit/find_field.h"
#include "toolkit/keyed_tree.h"
#include "view/find.h"
#include "view/tree_state.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolBar>

#include <sqlite3.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void die(sqlite3_context *, int, sqlite3_value **)
{
    std::raise(SIGKILL);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s DIR command N | DIR click KEY | DIR open KEY | DIR paste KEY | DIR undo KEY | DIR find TEXT\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    frmTree window(QString::fromLocal8Bit(argv[1]));
    window.Form_Load();
    if (!window.openReport().ok()) {
        std::fprintf(stderr, "%s\n", window.openReport().message().c_str());
        return 2;
    }
    sqlite3_create_function(modBase::rsTree.connection()->handle(), "die", 0, SQLITE_UTF8, nullptr, die, nullptr,
                            nullptr);
    if (const QByteArray killer = qgetenv("BRANCHKEEPER_KILLER"); !killer.isEmpty()) {
        const std::string trigger = "CREATE TEMP TRIGGER killer " + killer.toStdString() + " BEGIN SELECT die(); END";
        if (sqlite3_exec(modBase::rsTree.connection()->handle(), trigger.c_str(), nullptr, nullptr, nullptr)
            != SQLITE_OK)
            return 2;
    }
    const std::string action = argv[2];
    if (action == "find") {
        QKeyEvent find(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier);
        QApplication::sendEvent(window.tree(), &find);
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8(argv[3]));
        QApplication::sendEvent(window.findField()->edit(), &typed);
        if (!window.findIndex()->settle(10000))
            return 2;
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(window.findField()->edit(), &enter);
        return 3;
    }
    const int n = std::atoi(argv[3]);
    if (action == "command") {
        // The button as FillToolbar makes it; the store need not have a toolbar.
        QAction button;
        button.setData(n);
        emit window.toolbar()->actionTriggered(&button);
        return 3;
    }
    const toolkit::TreeNode node = window.tree()->find(modTree::ItemNode(n));
    if (!node.isValid())
        return 2;
    if (action == "click") {
        emit window.tree()->nodeClick(node);
    } else if (action == "paste") {
        QApplication::clipboard()->setText(QStringLiteral("one\n\ttwo\nthree"));
        window.tree()->highlight(node);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
        QApplication::sendEvent(window.tree(), &press);
    } else if (action == "undo") {
        window.tree()->highlight(node);
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(window.tree(), &del);
        QKeyEvent undo(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
        QApplication::sendEvent(window.tree(), &undo);
    } else if (action == "open" && !node.isExpanded()) {
        node.setExpanded(true); // raises the expand event, as the user's opening does
    } else {
        return 2;
    }
    return 3;
}
