// SPDX-License-Identifier: MIT
// Writes the program's icon in the sizes the desktop's icon theme takes:
// icons/32x32/nubaro.png (the 256-colour window icon) and larger smoothed
// renderings of the same drawing, under the folder given on the command line.
#include "application_setup.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int size : {32, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/%2x%2").arg(root).arg(size);
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(folder));
            return 1;
        }
        const QImage image = size == 32 ? nubaro::iconImage() : nubaro::iconRendering(size);
        const QString file = folder + QStringLiteral("/nubaro.png");
        if (!image.save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
