// branchkeeper-pictures OUTDIR: writes the toolbar pictures to OUTDIR/pic1
// (normal) and OUTDIR/pic2 (highlighted), one BMP per toolbar button and one
// at twice the size beside each.
// branchkeeper-pictures --icon FILE: writes the program's icon as a PNG, for
// the desktop's icon theme.

#include "commands/toolbar.h"
#include "toolkit/artwork.h"

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--icon") == 0) {
        if (toolkit::artwork::drawAppIcon().save(QString::fromLocal8Bit(argv[2]), "PNG"))
            return 0;
        std::fprintf(stderr, "branchkeeper-pictures: cannot write %s\n", argv[2]);
        return 1;
    }
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: branchkeeper-pictures OUTDIR\n       branchkeeper-pictures --icon FILE\n");
        return 2;
    }
    QString error;
    if (!modTree::WriteButtonPictures(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "branchkeeper-pictures: %s\n", qUtf8Printable(error));
        return 1;
    }
    return 0;
}
