#include "app/frm_tree.h"
#include "toolkit/runtime.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BranchKeeper"));
    QApplication::setApplicationVersion(QStringLiteral(BRANCHKEEPER_VERSION));

    frmTree window(toolkit::executableDirectory());
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
