#pragma once
// A paint device that writes what is painted on it as SVG: text as text,
// lines and shapes as paths. Enough for the score, without a library that
// every start of the program would have to load.
#include <QPaintDevice>
#include <QSizeF>
#include <QString>

#include <memory>

class SvgPaintEngine;

class SvgDocument : public QPaintDevice {
public:
    // The page in points (one unit a point, 72 to the inch).
    explicit SvgDocument(QSizeF size, QString title = {});
    ~SvgDocument() override;

    QPaintEngine* paintEngine() const override;
    // The document once painting has ended.
    QByteArray bytes() const;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QSizeF size_;
    QString title_;
    std::unique_ptr<SvgPaintEngine> engine_;
};
