// branchkeeper-pictures OUTDIR: writes the toolbar pictures to OUTDIR/pic1
// (normal) and OUTDIR/pic2 (highlighted), one BMP per toolbar button.

#include "commands/command_table.h"

#include <QString>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: branchkeeper-pictures OUTDIR\n");
        return 2;
    }
    QString error;
    if (!modTree::WriteButtonPictures(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "branchkeeper-pictures: %s\n", qUtf8Printable(error));
        return 1;
    }
    return 0;
}
