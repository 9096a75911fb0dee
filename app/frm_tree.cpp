#include "app/frm_tree.h"

#include "commands/clipboard.h"
#include "commands/history.h"
#include "commands/toolbar.h"
#include "toolkit/announcer.h"
#include "toolkit/artwork.h"
#include "toolkit/find_field.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/runtime.h"
#include "toolkit/text_box.h"
#include "toolkit/tool_bar.h"
#include "toolkit/twips.h"
#include "view/browsing.h"
#include "view/expand.h"
#include "view/find.h"
#include "view/layout.h"
#include "view/selection.h"
#include "view/show_tree.h"
#include "view/tree_state.h"
#include "view/user_action.h"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QKeySequence>
#include <QPixmap>

#include <cstdio>
#include <utility>

frmTree::frmTree(const QString &storeDirectory, QWidget *parent)
    : QWidget(parent), m_storeDirectory(storeDirectory)
{
    setObjectName(QStringLiteral("frmTree"));
    setWindowTitle(QStringLiteral("BranchKeeper"));
    setWindowIcon(QIcon(QPixmap::fromImage(toolkit::artwork::drawAppIcon())));

    Toolbar1 = new toolkit::TopAlignedToolBar(this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));

    TreeV = new toolkit::KeyedTree(this);
    TreeV->setObjectName(QStringLiteral("TreeV"));
    TreeV->setAccessibleName(tr("Items"));

    txtItem = new toolkit::TextBox(this);
    txtItem->setObjectName(QStringLiteral("txtItem"));
    txtItem->setAccessibleName(tr("Item text"));

    ImageList1 = new toolkit::ImageList(this);
    ImageList1->setObjectName(QStringLiteral("ImageList1"));
    ImageList2 = new toolkit::ImageList(this);
    ImageList2->setObjectName(QStringLiteral("ImageList2"));

    txtFind = new toolkit::FindField(this, Toolbar1);
    // What a screen reader must hear that no focus change carries (a refused paste).
    new toolkit::Announcer(this);
    txtFind->setObjectName(QStringLiteral("txtFind"));
    txtFind->hide();
    m_find = new modTree::FindIndex(this);

    // Designed geometry; every rebuild of the tree lays the two out again.
    namespace tw = toolkit::twips;
    using namespace layout;
    tw::setWidth(this, kDesignedForm.width);
    tw::setHeight(this, kDesignedForm.height);
    tw::setTop(TreeV, kDesignedTree.top);
    tw::setWidth(TreeV, kDesignedTree.width);
    tw::setHeight(TreeV, kDesignedTree.height);
    tw::setTop(txtItem, kDesignedText.top);
    tw::setWidth(txtItem, kDesignedText.width);
    tw::setHeight(txtItem, kDesignedText.height);
    setTabOrder(TreeV, txtItem);

    modTree::AttachControls({this, TreeV, txtItem});
    txtItem->setDescriber(&modTree::TextBoxDescription);
    modTree::OnBrowsingChanged([this] { showWritable(); });

    // Every event arrives synchronously, so a handler's writes are in the file
    // when the event returns.
    connect(Toolbar1, &QToolBar::actionTriggered, this, &frmTree::Toolbar1_ButtonClick);
    connect(TreeV, &toolkit::KeyedTree::nodeClick, this, &frmTree::TreeV_NodeClick);
    connect(TreeV, &toolkit::KeyedTree::nodeExpand, this, &frmTree::TreeV_Expand);
    connect(TreeV, &toolkit::KeyedTree::nodeCollapse, this, &frmTree::TreeV_Collapse);
    connect(txtItem, &toolkit::TextBox::change, this, &frmTree::txtItem_Change);

    // Between the tree and the text box by keyboard: F2 or Enter on the tree
    // edits the highlighted item's text, Escape in the text box goes back.
    for (const auto key : {Qt::Key_F2, Qt::Key_Return, Qt::Key_Enter})
        TreeV->addCommandKey(QKeySequence(key), [this] { TreeV_EditKey(); });
    connect(txtItem, &toolkit::TextBox::escape, this, &frmTree::txtItem_Escape);

    // The clipboard on the tree: the highlighted item's branch out, an outline in.
    TreeV->addCommandKey(QKeySequence::Copy, [] { modTree::CopyKey(); });
    TreeV->addCommandKey(QKeySequence::Cut, [this] { TreeV_ClipboardKey("cut", modTree::CutKey); });
    TreeV->addCommandKey(QKeySequence::Paste, [this] {
        TreeV_ClipboardKey("paste", [] { modTree::PasteKey(modTree::PastePlace::After); });
    });
    TreeV->addCommandKey(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), [this] {
        TreeV_ClipboardKey("paste", [] { modTree::PasteKey(modTree::PastePlace::FirstChildren); });
    });
    connect(TreeV, &toolkit::KeyedTree::filesDropped, this, &frmTree::TreeV_FilesDropped);

    // Undo and redo of the tree's commands; the text box keeps its own Ctrl+Z.
    TreeV->addCommandKey(QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { TreeV_UndoKey(false); });
    for (const QKeyCombination key : {Qt::CTRL | Qt::SHIFT | Qt::Key_Z, Qt::CTRL | Qt::Key_Y})
        TreeV->addCommandKey(QKeySequence(key), [this] { TreeV_UndoKey(true); });
    // Find, in the toolbar row: it covers neither the tree nor the text box.
    TreeV->addCommandKey(QKeySequence::Find, [this] { TreeV_FindKey(); });
    TreeV->addCommandKey(QKeySequence(Qt::Key_F3), [this] { txtFind_Step(true); });
    TreeV->addCommandKey(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { txtFind_Step(false); });
    connect(txtFind, &toolkit::FindField::edited, this, &frmTree::txtFind_Change);
    connect(txtFind, &toolkit::FindField::next, this, [this] { txtFind_Step(true); });
    connect(txtFind, &toolkit::FindField::previous, this, [this] { txtFind_Step(false); });
    connect(txtFind, &toolkit::FindField::closed, this, &frmTree::txtFind_Close);
    m_find->onResult([this](const modTree::FindResult &result) { find_Result(result); });
}

frmTree::~frmTree()
{
    modTree::OnBrowsingChanged(nullptr);
}

void frmTree::Form_Load()
{
    m_openReport = modBase::OpenBase(m_storeDirectory.toStdString());
    // The store cannot be opened: the window still opens, empty. Say why once,
    // where someone starting the program from a terminal will see it.
    if (!m_openReport.ok())
        std::fprintf(stderr, "branchkeeper: %s\n", m_openReport.message().c_str());
    if (!m_openReport.warning.empty())
        std::fprintf(stderr, "branchkeeper: %s\n", m_openReport.warning.c_str());

    // A store that cannot be written is browsed; this says so once.
    modTree::CheckWritable();

    modTree::FillToolbar(Toolbar1, ImageList1, ImageList2, m_storeDirectory, TreeV,
                         [this](int button) { TreeV_CommandKey(button); });
    showWritable();

    namespace tw = toolkit::twips;
    tw::setTop(this, layout::kStartForm.top);
    tw::setLeft(this, layout::kStartForm.left);
    tw::setHeight(this, layout::kStartForm.height);
    tw::setWidth(this, layout::kStartForm.width);

    modTree::ShowTree();
}

// Each handler is one user action: one transaction, committed on return.

void frmTree::Toolbar1_ButtonClick(QAction *button)
{
    const modTree::UserAction action("command");
    if (!button || !action.mayRun())
        return;
    // Inside the action's transaction the file cannot change any more.
    modTree::ShowTreeIfChangedOutside();
    const modTree::CommandRecording recording;
    modTree::ButtonClick(button->data().toInt());
}

void frmTree::TreeV_CommandKey(int button)
{
    const modTree::UserAction action("command");
    if (!action.mayRun())
        return;
    modTree::ShowTreeIfChangedOutside();
    const modTree::CommandRecording recording;
    modTree::KeyCommand(button);
}

void frmTree::TreeV_ClipboardKey(const char *what, void (*run)())
{
    const modTree::UserAction action(what);
    if (!action.mayRun() || modTree::Browsing())
        return; // nothing goes into or out of a tree that cannot be written
    showWritable(); // what the last refused paste said is over
    modTree::ShowTreeIfChangedOutside();
    const modTree::CommandRecording recording;
    run();
}

void frmTree::TreeV_UndoKey(bool redo)
{
    const modTree::UserAction action(redo ? "redo" : "undo");
    if (!action.mayRun() || modTree::Browsing())
        return;
    modTree::ShowTreeIfChangedOutside();
    if (redo)
        modTree::Redo();
    else
        modTree::Undo();
}

void frmTree::TreeV_FilesDropped(const toolkit::TreeNode &node, const QStringList &paths)
{
    // The item, not its node: a rebuild for another program's change throws the node away.
    const auto item = modTree::IsPlaceholder(node.nodeKey()) ? std::nullopt : modTree::ItemOf(node.nodeKey());
    const modTree::UserAction action("drop");
    if (!action.mayRun() || modTree::Browsing())
        return;
    modTree::ShowTreeIfChangedOutside();
    const modTree::CommandRecording recording;
    modTree::DropFiles(item.value_or(0), paths);
}

// A click, an opening and a closing write marks and open states only: the
// find keeps the tree it read.
void frmTree::TreeV_NodeClick(const toolkit::TreeNode &node)
{
    const auto begun = m_find->ownWriteBegins();
    {
        const modTree::UserAction action("click");
        if (action.mayRun())
            modTree::NodeClick(node);
    }
    m_find->ownWriteEnded(begun, false);
}

void frmTree::TreeV_Expand(const toolkit::TreeNode &node)
{
    const auto begun = m_find->ownWriteBegins();
    {
        const modTree::UserAction action("opening");
        if (action.mayRun())
            modTree::ExpandNode(node);
    }
    m_find->ownWriteEnded(begun, false);
}

void frmTree::TreeV_Collapse(const toolkit::TreeNode &node)
{
    const auto begun = m_find->ownWriteBegins();
    {
        const modTree::UserAction action("closing");
        if (action.mayRun())
            modTree::CollapseNode(node);
    }
    m_find->ownWriteEnded(begun, false);
}

void frmTree::showWritable()
{
    const bool writable = !modTree::Browsing();
    txtItem->setReadOnly(!writable);
    modTree::EnableCommands(Toolbar1, writable);
    // Heard with the tree's name, for those who do not see the greyed buttons.
    const QString description = writable ? QString() : tr("Read only: the store cannot be written, nothing is kept");
    if (TreeV->accessibleDescription() != description) // a screen reader hears each change
        TreeV->setAccessibleDescription(description);
}

void frmTree::changeEvent(QEvent *event)
{
    // Coming back to the window after another program changed the file.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        modTree::ShowTreeIfChangedOutside();
    QWidget::changeEvent(event);
}

void frmTree::TreeV_EditKey()
{
    // The text to edit is the highlighted item's: a highlight the text box is
    // not bound to yet (the stored selection at start-up) is clicked first.
    const toolkit::TreeNode node = TreeV->nodeAt(TreeV->currentIndex());
    if (node.isValid() && txtItem->tag() != node.nodeKey())
        TreeV_NodeClick(node);
    txtItem->setFocus(Qt::ShortcutFocusReason);
    txtItem->selectAll();
}

void frmTree::txtItem_Escape()
{
    TreeV->setFocus(Qt::ShortcutFocusReason);
}

void frmTree::txtItem_Change()
{
    const modTree::UserAction action("keystroke");
    if (action.mayRun())
        modTree::TextChange();
}

namespace {

// The item of the tree's highlighted node; 0 for none.
std::int32_t highlightedItem(const toolkit::KeyedTree *tree)
{
    return modTree::ItemOf(tree->nodeAt(tree->currentIndex()).nodeKey()).value_or(0);
}

QString foundText(int ordinal, int count)
{
    return count == 0 ? frmTree::tr("no match") : frmTree::tr("%1 of %2").arg(ordinal).arg(count);
}

} // namespace

void frmTree::TreeV_FindKey()
{
    txtFind->open();
    if (!txtFind->text().isEmpty())
        txtFind_Change(); // the file or the highlight may have changed since
    else
        m_find->refresh(); // read while the user starts typing
}

void frmTree::txtFind_Change()
{
    m_pendingStep = 0;
    if (txtFind->text().isEmpty())
        txtFind->setFound(QString());
    m_find->search(txtFind->text(), highlightedItem(TreeV), modTree::FindIndex::Ordinal::Next);
}

void frmTree::find_Result(const modTree::FindResult &result)
{
    if (!txtFind->text().isEmpty())
        txtFind->setFound(foundText(result.ordinal, result.count()));
    if (const int step = std::exchange(m_pendingStep, 0))
        txtFind_Step(step > 0);
}

void frmTree::txtFind_Step(bool forward)
{
    if (txtFind->text().isEmpty())
        return;
    if (!m_find->answers(txtFind->text())) {
        m_pendingStep = forward ? 1 : -1; // taken when the count comes
        return;
    }
    const auto target = m_find->step(highlightedItem(TreeV), forward);
    if (!target)
        return;
    const auto begun = m_find->ownWriteBegins();
    {
        const modTree::UserAction action("find");
        if (!action.mayRun())
            return;
        modTree::ShowTreeIfChangedOutside();
        if (!modTree::GoToItem(*target))
            return;
    }
    m_find->ownWriteEnded(begun, true); // else read it again before the next keystroke
    // Heard in the field, which keeps the focus for the next step.
    const toolkit::TreeNode node = TreeV->nodeAt(TreeV->currentIndex());
    const QString found = foundText(target->ordinal, m_find->latest().count());
    txtFind->setFound(found, found + QStringLiteral(": ") + node.shownText());
}

void frmTree::txtFind_Close()
{
    m_pendingStep = 0;
    txtFind->hide();
    TreeV->setFocus(Qt::ShortcutFocusReason);
}
