// The computer keyboard as the two instrument keyboards hear it, for the
// README: every key that plays is labelled with the note it sounds, read from
// the key map itself, so the picture says what the program does.
#include "drawart/paint.h"
#include "drawart/pictures.h"
#include "instrument/keymap.h"

#include <QPainter>

#include <utility>

namespace art {

namespace {

// A key cap: its label, its set-1 scan code (the extended keys carry 0x80)
// and its place, in quarter key widths, on the rows of a full-size keyboard.
struct Cap {
    const char* label;
    int code;
    int x, row, width = 4, height = 1;
};

constexpr int kUnit = 13;  // pixels in a quarter of a key's width
constexpr int kRowHeight = 52;
constexpr int kPitch = 36;  // both keyboards' Pitch as the window starts, Tone 0

// clang-format off
constexpr Cap kCaps[] = {
    {"PrtSc", 0x80 | 55, 61, 0}, {"ScrLk", 70, 65, 0}, {"Pause", 0x80 | 69, 69, 0},
    {"`", 41, 0, 1}, {"1", 2, 4, 1}, {"2", 3, 8, 1}, {"3", 4, 12, 1}, {"4", 5, 16, 1}, {"5", 6, 20, 1},
    {"6", 7, 24, 1}, {"7", 8, 28, 1}, {"8", 9, 32, 1}, {"9", 10, 36, 1}, {"0", 11, 40, 1}, {"-", 12, 44, 1},
    {"=", 13, 48, 1}, {"Backspace", 14, 52, 1, 8},
    {"Tab", 15, 0, 2, 6}, {"Q", 16, 6, 2}, {"W", 17, 10, 2}, {"E", 18, 14, 2}, {"R", 19, 18, 2}, {"T", 20, 22, 2},
    {"Y", 21, 26, 2}, {"U", 22, 30, 2}, {"I", 23, 34, 2}, {"O", 24, 38, 2}, {"P", 25, 42, 2}, {"[", 26, 46, 2},
    {"]", 27, 50, 2}, {"\\", 43, 54, 2, 6},
    {"Caps", 58, 0, 3, 7}, {"A", 30, 7, 3}, {"S", 31, 11, 3}, {"D", 32, 15, 3}, {"F", 33, 19, 3}, {"G", 34, 23, 3},
    {"H", 35, 27, 3}, {"J", 36, 31, 3}, {"K", 37, 35, 3}, {"L", 38, 39, 3}, {";", 39, 43, 3}, {"'", 40, 47, 3},
    {"Enter", 28, 51, 3, 9},
    {"Shift", 42, 0, 4, 9}, {"Z", 44, 9, 4}, {"X", 45, 13, 4}, {"C", 46, 17, 4}, {"V", 47, 21, 4}, {"B", 48, 25, 4},
    {"N", 49, 29, 4}, {"M", 50, 33, 4}, {",", 51, 37, 4}, {".", 52, 41, 4}, {"/", 53, 45, 4}, {"Shift", 54, 49, 4, 11},
    {"Ctrl", 29, 0, 5, 6}, {"Alt", 56, 10, 5, 5}, {"Space", 57, 15, 5, 25}, {"Alt", 0x80 | 56, 40, 5, 5},
    {"Ctrl", 0x80 | 29, 54, 5, 6},
    {"Ins", 0x80 | 82, 61, 1}, {"Home", 0x80 | 71, 65, 1}, {"PgUp", 0x80 | 73, 69, 1},
    {"Del", 0x80 | 83, 61, 2}, {"End", 0x80 | 79, 65, 2}, {"PgDn", 0x80 | 81, 69, 2},
    {"↑", 0x80 | 72, 65, 4}, {"←", 0x80 | 75, 61, 5}, {"↓", 0x80 | 80, 65, 5}, {"→", 0x80 | 77, 69, 5},
    {"Num", 69, 75, 1}, {"/", 0x80 | 53, 79, 1}, {"*", 55, 83, 1}, {"-", 74, 87, 1},
    {"7", 71, 75, 2}, {"8", 72, 79, 2}, {"9", 73, 83, 2}, {"+", 78, 87, 2, 4, 2},
    {"4", 75, 75, 3}, {"5", 76, 79, 3}, {"6", 77, 83, 3},
    {"1", 79, 75, 4}, {"2", 80, 79, 4}, {"3", 81, 83, 4}, {"Enter", 0x80 | 28, 87, 4, 4, 2},
    {"0", 82, 75, 5, 8}, {".", 83, 83, 5},
};
// clang-format on

const QColor kLower(70, 120, 215), kUpper(225, 130, 40), kPedal(120, 160, 90), kSilence(150, 150, 150);

QString noteName(int midi)
{
    static const char* const names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return QString::fromUtf8(names[midi % 12]) + QString::number(midi / 12 - 1);
}

}  // namespace

QImage drawKeymap(keymap::Layout layout)
{
    constexpr int kMargin = 10;
    QImage image(kMargin * 2 + 91 * kUnit, kMargin * 2 + 6 * kRowHeight + 28, QImage::Format_RGB32);
    image.fill(QColor(250, 250, 248));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (const Cap& cap : kCaps) {
        const QRectF r(kMargin + cap.x * kUnit + 2, kMargin + cap.row * kRowHeight + 2, cap.width * kUnit - 4,
                       cap.height * kRowHeight - 4);
        const int key = keymap::KeyForScanCode(cap.code, layout);
        QColor fill(228, 228, 224);
        QString what;
        if (key != keymap::kNoKey) {
            fill = keymap::InMainBlock(cap.code) ? kLower : kUpper;
            what = noteName(key + kPitch);
        } else if (cap.code == keymap::kMainPedalScanCode || cap.code == keymap::kRightHandPedalScanCode) {
            fill = kPedal;
            what = QStringLiteral("pedal");
        } else if (cap.code == keymap::kSpaceBarScanCode) {
            fill = kSilence;
            what = QStringLiteral("silence both keyboards");
        }
        p.setPen(QPen(shade(fill, -60), 1));
        p.setBrush(what.isEmpty() ? fill : mix(fill, Qt::white, 0.55));
        p.drawRoundedRect(r, 4, 4);
        p.setPen(QColor(60, 60, 60));
        p.setFont(uiFont(12, true));
        p.drawText(r.adjusted(5, 3, -4, 0), Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(cap.label));
        if (!what.isEmpty()) {
            QFont bold = uiFont(what.size() > 4 ? 12 : 15, true);
            bold.setBold(true);
            p.setFont(bold);
            p.setPen(shade(fill, -90));
            p.drawText(r.adjusted(3, 0, -3, -4), Qt::AlignHCenter | Qt::AlignBottom, what);
        }
    }
    // The legend under the keys.
    p.setFont(uiFont(13, true));
    const int y = kMargin + 6 * kRowHeight + 4;
    int x = kMargin;
    for (const auto& [colour, text] : {std::pair{kLower, "lower keyboard"}, std::pair{kUpper, "upper keyboard"},
                                       std::pair{kPedal, "sustain pedal of that keyboard"}}) {
        p.setPen(shade(colour, -60));
        p.setBrush(mix(colour, Qt::white, 0.55));
        p.drawRoundedRect(QRectF(x, y + 3, 16, 16), 3, 3);
        p.setPen(QColor(60, 60, 60));
        p.drawText(QPointF(x + 22, y + 16), QString::fromUtf8(text));
        x += 250;
    }
    p.drawText(QPointF(x, y + 16), QStringLiteral("notes with pitch and key (调) as at start"));
    return image;
}

}  // namespace art
