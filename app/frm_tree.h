#pragma once

#include "store/mod_base.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class QAction;
class QToolBar;
namespace toolkit {
class ImageList;
class KeyedTree;
class FindField;
class TextBox;
class TreeNode;
} // namespace toolkit
namespace modTree {
class FindIndex;
struct FindResult;
} // namespace modTree

// The one window: the toolbar, the tree of items and the text box of the item
// clicked last. Its handlers are thin; the work is in modTree.
class frmTree : public QWidget {
    Q_OBJECT
public:
    // storeDirectory holds dbPro.mdb and the picture folders: the
    // executable's directory in the program, a scratch folder in tests.
    explicit frmTree(const QString &storeDirectory, QWidget *parent = nullptr);
    ~frmTree() override;

    // Start-up, before the window is first shown: open the store, fill the
    // toolbar, place and size the window, build the tree.
    void Form_Load();

    const modBase::OpenReport &openReport() const { return m_openReport; }

    // The controls, for what drives the window: tests, benchmarks, the fuzzer.
    toolkit::KeyedTree *tree() const { return TreeV; }
    toolkit::TextBox *textBox() const { return txtItem; }
    QToolBar *toolbar() const { return Toolbar1; }
    toolkit::ImageList *normalImages() const { return ImageList1; }
    toolkit::ImageList *hotImages() const { return ImageList2; }
    toolkit::FindField *findField() const { return txtFind; }
    modTree::FindIndex *findIndex() const { return m_find; }

protected:
    void changeEvent(QEvent *event) override;

private:
    // The window's events.
    void Toolbar1_ButtonClick(QAction *button);
    void TreeV_NodeClick(const toolkit::TreeNode &node);
    void TreeV_Expand(const toolkit::TreeNode &node);
    void TreeV_Collapse(const toolkit::TreeNode &node);
    void txtItem_Change();
    // A command's key on the tree: it acts on the highlighted item.
    void TreeV_CommandKey(int button);
    // Cut and the pastes: one user action each.
    void TreeV_ClipboardKey(const char *what, void (*run)());
    // Ctrl+Z and Ctrl+Shift+Z (Ctrl+Y): one user action each.
    void TreeV_UndoKey(bool redo);
    void TreeV_FilesDropped(const toolkit::TreeNode &node, const QStringList &paths);
    // Keys that move between the tree and the text box.
    void TreeV_EditKey();
    void txtItem_Escape();
    // Find: Ctrl+F opens the field, typing counts the matches off the
    // window's thread, a step goes to the next or previous one (one user
    // action), Escape goes back to the tree.
    void TreeV_FindKey();
    void txtFind_Change();
    void txtFind_Step(bool forward);
    void txtFind_Close();
    void find_Result(const modTree::FindResult &result);
    // The text box and the writing commands follow whether the store can be
    // written.
    void showWritable();

    QToolBar *Toolbar1 = nullptr;
    toolkit::KeyedTree *TreeV = nullptr;
    toolkit::TextBox *txtItem = nullptr;
    toolkit::ImageList *ImageList1 = nullptr;
    toolkit::ImageList *ImageList2 = nullptr;
    toolkit::FindField *txtFind = nullptr;
    modTree::FindIndex *m_find = nullptr;
    int m_pendingStep = 0; // +1 or -1: a step waiting for the count of what is typed

    QString m_storeDirectory;
    modBase::OpenReport m_openReport;
};
