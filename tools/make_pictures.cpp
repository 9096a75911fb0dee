// branchkeeper-pictures OUTDIR: writes the toolbar pictures to OUTDIR/pic1
// (normal) and OUTDIR/pic2 (highlighted), one BMP per toolbar button.

#include "toolkit/artwork.h"
#include "tools/command_set.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

namespace {

bool makeDir(const QString &path)
{
    if (QDir().mkpath(path))
        return true;
    std::fprintf(stderr, "branchkeeper-pictures: cannot create folder %s\n",
                 qUtf8Printable(QDir::toNativeSeparators(path)));
    return false;
}

bool writePicture(const QImage &picture, const QString &path)
{
    if (picture.save(path, "BMP"))
        return true;
    std::fprintf(stderr, "branchkeeper-pictures: cannot write %s\n",
                 qUtf8Printable(QDir::toNativeSeparators(path)));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: branchkeeper-pictures OUTDIR\n");
        return 2;
    }

    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QString normalDir = out.filePath(QStringLiteral("pic1"));
    const QString highlightDir = out.filePath(QStringLiteral("pic2"));
    if (!makeDir(normalDir) || !makeDir(highlightDir))
        return 1;

    for (std::size_t i = 0; i < tools::kCommandSet.size(); ++i) {
        const int command = int(i) + 1;
        const QString name = QString::fromUtf8(tools::kCommandSet[i].picture);
        if (!writePicture(artwork::drawButtonPicture(command, false), QDir(normalDir).filePath(name))
            || !writePicture(artwork::drawButtonPicture(command, true),
                             QDir(highlightDir).filePath(name)))
            return 1;
    }
    return 0;
}
