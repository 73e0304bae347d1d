#include "notation/scorefile.h"

#include "notation/scoredrawing.h"
#include "notation/svgpainter.h"
#include "songs/paths.h"
#include "songs/wholefile.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>


namespace notation {
namespace {

// A4 in points: the page's unit is a point at 72 dots an inch.
constexpr double kPageWidth = 595, kPageHeight = 842;

QByteArray pdfOf(const Score& score)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(72);
        pdf.setTitle(QString::fromStdString(score.title));
        pdf.setCreator(QStringLiteral("Sonarel"));
        const ScoreDrawing drawing(score, kPageWidth, kPageHeight);
        QPainter painter(&pdf);
        for (int page = 0; page < drawing.pages(); ++page) {
            if (page > 0)
                pdf.newPage();
            drawing.paint(painter, page);
        }
    }
    return buffer.data();
}

}  // namespace

bool WriteScoreFile(const Score& score, const std::string& path, std::string& error)
{
    const std::string ext = songs::LowerExtension(path);
    QByteArray bytes;
    if (ext == "txt" || ext == "jianpu") {
        bytes = QByteArray::fromStdString(WriteJianpu(score));
    } else if (ext == "pdf") {
        bytes = pdfOf(score);
    } else if (ext == "svg") {
        const ScoreDrawing drawing(score, kPageWidth, 0);
        SvgDocument svg(QSizeF(kPageWidth, drawing.height()), QString::fromStdString(score.title));
        {
            QPainter painter(&svg);
            drawing.paint(painter, 0);
        }
        bytes = svg.bytes();
    } else {
        error = path + ": the score is written as .txt, .pdf or .svg";
        return false;
    }
    if (!songs::ReplaceFile(path, std::string_view(bytes.constData(), std::size_t(bytes.size())), songs::NewFileMode())) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace notation
