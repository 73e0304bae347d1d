#include "instrument/picture.h"

#include <QFileInfo>
#include <QImageReader>

#include <cstdint>
#include <cstring>

namespace {

constexpr qint64 kHeader = 2 * sizeof(std::uint32_t);
constexpr std::uint32_t kLargest = 1u << 14;

}  // namespace

QImage ReadPicture(const QString& path)
{
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QByteArray RawPictureBytes(const QImage& image)
{
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    const std::uint32_t size[2] = {std::uint32_t(pixels.width()), std::uint32_t(pixels.height())};
    QByteArray bytes(reinterpret_cast<const char*>(size), kHeader);
    for (int y = 0; y < pixels.height(); ++y)
        bytes.append(reinterpret_cast<const char*>(pixels.constScanLine(y)), qsizetype(pixels.width()) * 4);
    return bytes;
}

QImage RawPicture(const uchar* data, qint64 size)
{
    if (!data || size < kHeader)
        return {};
    std::uint32_t width = 0, height = 0;
    std::memcpy(&width, data, sizeof width);
    std::memcpy(&height, data + sizeof width, sizeof height);
    if (width == 0 || height == 0 || width > kLargest || height > kLargest ||
        size - kHeader != qint64(width) * height * 4)
        return {};
    const uchar* pixels = data + kHeader;
    const QImage image(pixels, int(width), int(height), int(width) * 4, QImage::Format_RGB32);
    // QImage reads rows a 32-bit word at a time: pixels off that grid are copied.
    if (reinterpret_cast<std::uintptr_t>(pixels) % alignof(std::uint32_t) != 0)
        return image.copy();
    return image;
}
