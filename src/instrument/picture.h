#pragma once
// The program's own pictures, read the quick way.
#include <QByteArray>
#include <QImage>
#include <QString>

// Reads a picture whose type its name tells (".png", ".jpg"). Left to guess,
// Qt loads every image plugin on the system to ask whether it can read the
// file, which costs a start milliseconds before the window shows; told the
// type, it uses its own PNG reader or the one plugin that reads it.
QImage ReadPicture(const QString& path);

// Raw pixels built into the program: width and height as two 32-bit numbers,
// then the rows of 0xffRRGGBB pixels, all in the machine's byte order (they
// are made on the machine that builds the program). Shown straight from the
// program's own pages, such a picture is neither decoded nor copied into
// fresh memory at each start.
QByteArray RawPictureBytes(const QImage& image);
// The picture over `data`, which must outlive it; a null image when `data`
// is not such a picture.
QImage RawPicture(const uchar* data, qint64 size);
