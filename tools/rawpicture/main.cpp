// Turns a picture into the raw pixels the program keeps built in (see
// instrument/picture.h); the build runs it on the skin.
//
//   rawpicture PICTURE OUTPUT
#include "instrument/picture.h"

#include <QFile>
#include <QImage>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: rawpicture PICTURE OUTPUT\n");
        return 2;
    }
    const QImage image(QString::fromLocal8Bit(argv[1]));
    if (image.isNull()) {
        std::fprintf(stderr, "rawpicture: cannot read %s\n", argv[1]);
        return 1;
    }
    QSaveFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly) || out.write(RawPictureBytes(image)) < 0 || !out.commit()) {
        std::fprintf(stderr, "rawpicture: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
