#include "notation/svgpainter.h"

#include <QPaintEngine>
#include <QPainterPath>
#include <QTextItem>

namespace {

QString number(qreal v) { return QString::number(v, 'f', 2); }

QString colour(const QColor& c) { return c.name(QColor::HexRgb); }

QString escaped(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

class SvgPaintEngine : public QPaintEngine {
public:
    SvgPaintEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState& state) override
    {
        if (state.state() & DirtyPen)
            pen_ = state.pen();
        if (state.state() & DirtyBrush)
            brush_ = state.brush();
        if (state.state() & DirtyFont)
            font_ = state.font();
        if (state.state() & DirtyTransform)
            transform_ = state.transform();
    }

    void drawPath(const QPainterPath& path) override
    {
        const QPainterPath mapped = transform_.map(path);
        QString d;
        for (int i = 0; i < mapped.elementCount(); ++i) {
            const QPainterPath::Element e = mapped.elementAt(i);
            if (e.isMoveTo()) {
                d += QStringLiteral("M%1 %2 ").arg(number(e.x), number(e.y));
            } else if (e.isLineTo()) {
                d += QStringLiteral("L%1 %2 ").arg(number(e.x), number(e.y));
            } else if (e.isCurveTo()) {
                const QPainterPath::Element c2 = mapped.elementAt(i + 1), to = mapped.elementAt(i + 2);
                d += QStringLiteral("C%1 %2 %3 %4 %5 %6 ")
                         .arg(number(e.x), number(e.y), number(c2.x), number(c2.y), number(to.x), number(to.y));
                i += 2;
            }
        }
        shape(d.trimmed(), brush_.style() != Qt::NoBrush);
    }

    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        QPainterPath path;
        path.moveTo(points[0]);
        for (int i = 1; i < count; ++i)
            path.lineTo(points[i]);
        if (mode != PolylineMode)
            path.closeSubpath();
        const QBrush kept = brush_;
        if (mode == PolylineMode)
            brush_ = Qt::NoBrush;
        drawPath(path);
        brush_ = kept;
    }

    void drawLines(const QLineF* lines, int count) override
    {
        for (int i = 0; i < count; ++i) {
            const QLineF l = transform_.map(lines[i]);
            out_ += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" stroke=\"%5\" stroke-width=\"%6\"/>\n")
                        .arg(number(l.x1()), number(l.y1()), number(l.x2()), number(l.y2()), colour(pen_.color()),
                             number(pen_.widthF() > 0 ? pen_.widthF() : 1));
        }
    }

    void drawTextItem(const QPointF& at, const QTextItem& item) override
    {
        // The painter has laid the text out: `at` is its baseline's start.
        const QPointF p = transform_.map(at);
        const QFont font = item.font();
        out_ += QStringLiteral("<text x=\"%1\" y=\"%2\" font-family=\"%3\" font-size=\"%4\" fill=\"%5\">%6</text>\n")
                    .arg(number(p.x()), number(p.y()), escaped(font.families().join(QStringLiteral(", "))),
                         number(font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF()), colour(pen_.color()),
                         escaped(item.text()));
    }

    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}

    QString out_;

private:
    void shape(const QString& d, bool filled)
    {
        out_ += QStringLiteral("<path d=\"%1\" fill=\"%2\" stroke=\"%3\"%4/>\n")
                    .arg(d, filled ? colour(brush_.color()) : QStringLiteral("none"),
                         pen_.style() == Qt::NoPen ? QStringLiteral("none") : colour(pen_.color()),
                         pen_.style() == Qt::NoPen ? QString() : QStringLiteral(" stroke-width=\"%1\"").arg(number(pen_.widthF() > 0 ? pen_.widthF() : 1)));
    }

    QPen pen_;
    QBrush brush_;
    QFont font_;
    QTransform transform_;
};

SvgDocument::SvgDocument(QSizeF size, QString title)
    : size_(size), title_(std::move(title)), engine_(std::make_unique<SvgPaintEngine>())
{
}

SvgDocument::~SvgDocument() = default;

QPaintEngine* SvgDocument::paintEngine() const { return engine_.get(); }

int SvgDocument::metric(PaintDeviceMetric metric) const
{
    switch (metric) {
    case PdmWidth:
        return int(size_.width());
    case PdmHeight:
        return int(size_.height());
    case PdmWidthMM:
        return int(size_.width() * 25.4 / 72);
    case PdmHeightMM:
        return int(size_.height() * 25.4 / 72);
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return 72;
    case PdmDepth:
        return 32;
    case PdmNumColors:
        return INT_MAX;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return int(QPaintDevice::devicePixelRatioFScale());
    }
    return 0;
}

QByteArray SvgDocument::bytes() const
{
    QByteArray svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                    "<svg xmlns=\"http://www.w3.org/2000/svg\" xml:space=\"preserve\" width=\"%1pt\" height=\"%2pt\" "
                                    "viewBox=\"0 0 %1 %2\">\n<title>%3</title>\n"
                                    "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n")
                         .arg(number(size_.width()), number(size_.height()), escaped(title_))
                         .toUtf8();
    return svg + engine_->out_.toUtf8() + "</svg>\n";
}
