// The artwork drawn by tools/drawart: sizes, the notation strip's content and
// mask colour, transparency of the icons, and that the skin's wells, display
// and bay sit under the window's controls.

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRect>
#ifdef SONAREL_HAVE_SVG
#include <QSvgRenderer>
#endif

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

// The skin is built into the program as raw pixels made from its JPEG.
QImage load(const char* path)
{
    const QString name = QString::fromLatin1(path);
    QImage image(name.startsWith(QLatin1Char(':')) ? name : QStringLiteral(SONAREL_ASSETS "/") + name);
    EXPECT_FALSE(image.isNull()) << path;
    return image;
}

struct Expected {
    const char* path;
    int width;
    int height;
    bool alpha;
};

constexpr Expected kPictures[] = {
    {":/instrument/strip.png", 690, 27, false},
    {":/instrument/strip@2x.png", 1380, 54, false},
    {":/instrument/dragicon.png", 32, 32, true},
    {":/instrument/dragicon@2x.png", 64, 64, true},
    {":/instrument/dragicon16.png", 16, 16, true},
    {":/instrument/dragicon16@2x.png", 32, 32, true},
    {"window/skin.jpg", 785, 334, false},
    {":/window/knob.png", 11, 19, false},
    {":/window/face_pressed.png", 38, 26, false},
    {":/window/face_normal.png", 38, 26, false},
    {":/window/face_lit.png", 38, 26, false},
    {":/window/face_unused.png", 38, 26, false},
    {":/window/icon16.png", 16, 16, true},
    {":/window/icon32.png", 32, 32, true},
    {":/window/icon48.png", 48, 48, true},
};

TEST(Artwork, everyPictureIsInItsResourceWithItsSize)
{
    for (const Expected& e : kPictures) {
        SCOPED_TRACE(e.path);
        const QImage image = load(e.path);
        EXPECT_EQ(image.width(), e.width);
        EXPECT_EQ(image.height(), e.height);
        EXPECT_EQ(image.hasAlphaChannel(), e.alpha);
        if (e.alpha) {
            // Transparent corners: the icons are not boxes.
            for (QPoint c : {QPoint(0, 0), QPoint(e.width - 1, e.height - 1)})
                EXPECT_EQ(qAlpha(image.pixel(c)), 0);
        }
    }
}

// Centres of the 38 white keys in pixels, from their left edges and widths in
// twips (15 to a pixel); the strip starts at the keyboard's left edge.
std::vector<double> whiteKeyCentres()
{
    constexpr int keys[][2] = {
        {0, 265},    {270, 265},  {540, 265},  {810, 265},  {1080, 265}, {1350, 265}, {1620, 265}, {1890, 265},
        {2160, 265}, {2430, 265}, {2700, 280}, {2985, 280}, {3270, 280}, {3555, 265}, {3825, 265}, {4080, 285},
        {4365, 265}, {4635, 265}, {4905, 280}, {5190, 280}, {5475, 280}, {5760, 280}, {6045, 265}, {6315, 265},
        {6585, 265}, {6855, 265}, {7125, 265}, {7395, 265}, {7665, 265}, {7935, 265}, {8205, 265}, {8475, 265},
        {8745, 265}, {9015, 265}, {9285, 265}, {9555, 280}, {9840, 265}, {10095, 265},
    };
    std::vector<double> centres;
    for (const auto& k : keys)
        centres.push_back((k[0] + k[1] / 2.0) / 15.0);
    return centres;
}

bool isInk(const QImage& strip, int x, int y)
{
    return strip.pixel(x, y) != qRgb(255, 255, 255);
}

// Column ranges [first, last] that carry ink, left to right.
std::vector<std::pair<int, int>> inkGroups(const QImage& strip)
{
    std::vector<std::pair<int, int>> groups;
    bool inside = false;
    for (int x = 0; x < strip.width(); ++x) {
        bool ink = false;
        for (int y = 0; y < strip.height() && !ink; ++y)
            ink = isInk(strip, x, y);
        if (ink && !inside)
            groups.push_back({x, x});
        if (ink)
            groups.back().second = x;
        inside = ink;
    }
    return groups;
}

// Runs of inked rows within the columns of one group, top to bottom.
std::vector<std::pair<int, int>> inkRows(const QImage& strip, std::pair<int, int> columns)
{
    std::vector<std::pair<int, int>> runs;
    bool inside = false;
    for (int y = 0; y < strip.height(); ++y) {
        bool ink = false;
        for (int x = columns.first; x <= columns.second && !ink; ++x)
            ink = isInk(strip, x, y);
        if (ink && !inside)
            runs.push_back({y, y});
        if (ink)
            runs.back().second = y;
        inside = ink;
    }
    return runs;
}

class Strip : public ::testing::TestWithParam<int> {
protected:
    QImage strip() const
    {
        return load(GetParam() == 1 ? ":/instrument/strip.png" : ":/instrument/strip@2x.png")
            .convertToFormat(QImage::Format_RGB32);
    }
};

TEST_P(Strip, backgroundIsPureWhiteAndDigitsOneGreyWithoutFringe)
{
    const QImage s = strip();
    EXPECT_EQ(s.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(s.pixel(s.width() - 1, s.height() - 1), qRgb(255, 255, 255));
    // Only two colours: the white mask and the digit grey. Any pale edge pixel
    // would survive the mask and show as a fringe over a lit key.
    QRgb grey = 0;
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x) {
            const QRgb p = s.pixel(x, y);
            if (p == qRgb(255, 255, 255))
                continue;
            if (grey == 0)
                grey = p;
            ASSERT_EQ(p, grey) << "at " << x << "," << y;
        }
    EXPECT_EQ(qRed(grey), qGreen(grey));
    EXPECT_EQ(qGreen(grey), qBlue(grey));
    EXPECT_LT(qGray(grey), 128);
}

TEST_P(Strip, oneDigitCentredUnderEachWhiteKey)
{
    const QImage s = strip();
    const int scale = GetParam();
    const auto groups = inkGroups(s);
    const auto centres = whiteKeyCentres();
    ASSERT_EQ(groups.size(), 38u);
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const double centre = (groups[i].first + groups[i].second + 1) / 2.0 / scale;
        EXPECT_NEAR(centre, centres[i], 1.0) << "digit " << i;
    }
}

TEST_P(Strip, octaveDotsAboveAndBelowTheDigits)
{
    const QImage s = strip();
    const int scale = GetParam();
    const auto groups = inkGroups(s);
    ASSERT_EQ(groups.size(), 38u);
    // Two dots below for the first seven digits, one below for the next
    // seven, none, then one, two and three dots above.
    const int expected[6] = {-2, -1, 0, 1, 2, 3};
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const auto runs = inkRows(s, groups[i]);
        int digit = -1;
        for (std::size_t r = 0; r < runs.size(); ++r)
            if (runs[r].second - runs[r].first + 1 >= 8 * scale)
                digit = int(r);
        ASSERT_GE(digit, 0) << "digit " << i;
        const int above = digit;
        const int below = int(runs.size()) - 1 - digit;
        const int want = expected[i / 7];
        EXPECT_EQ(above, std::max(want, 0)) << "digit " << i;
        EXPECT_EQ(below, std::max(-want, 0)) << "digit " << i;
        // Everything shows in the 25 px the keyboard gives the strip.
        EXPECT_LT(runs.back().second, 25 * scale) << "digit " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Artwork, Strip, ::testing::Values(1, 2));

// JPEG moves colours a little; compare within a tolerance.
void expectColour(const QImage& image, QPoint at, QRgb want, int tolerance, const char* what)
{
    const QRgb got = image.pixel(at);
    EXPECT_LE(std::abs(qRed(got) - qRed(want)), tolerance) << what << " at " << at.x() << "," << at.y();
    EXPECT_LE(std::abs(qGreen(got) - qGreen(want)), tolerance) << what << " at " << at.x() << "," << at.y();
    EXPECT_LE(std::abs(qBlue(got) - qBlue(want)), tolerance) << what << " at " << at.x() << "," << at.y();
}

TEST(Artwork, skinWellsLieExactlyUnderTheControls)
{
    const QImage skin = load("window/skin.jpg");
    // The command buttons, then the note-length box and the two lists.
    const QRect buttons[] = {{48, 159, 28, 18},  {88, 159, 28, 18},  {128, 159, 28, 18}, {168, 159, 28, 18},
                             {208, 159, 28, 18}, {248, 159, 28, 18}, {288, 159, 28, 18}, {328, 159, 28, 18},
                             {10, 208, 28, 24},  {10, 272, 28, 24}};
    const QRect boxes[] = {{488, 157, 49, 20}, {544, 157, 89, 20}, {640, 157, 89, 20}};
    auto check = [&](const QRect& r, QRgb floor) {
        expectColour(skin, r.center(), floor, 14, "well floor");
        expectColour(skin, r.topLeft() + QPoint(2, 3), floor, 18, "well floor");
        expectColour(skin, r.bottomRight() - QPoint(2, 2), floor, 18, "well floor");
        // The edge just outside is dark above and light below: a recess.
        EXPECT_LT(qGray(skin.pixel(r.center().x(), r.top() - 1)), 110);
        EXPECT_GT(qGray(skin.pixel(r.center().x(), r.bottom() + 1)), 200);
    };
    for (const QRect& r : buttons)
        check(r, qRgb(128, 128, 128));
    for (const QRect& r : boxes)
        check(r, qRgb(159, 164, 164));
}

TEST(Artwork, skinRegionsUnderDisplayKnobsBayAndMuteZones)
{
    const QImage skin = load("window/skin.jpg");
    // Blue display behind the title, author and clock labels.
    for (QPoint p : {QPoint(230, 50), QPoint(300, 84), QPoint(460, 102)}) {
        const QRgb c = skin.pixel(p);
        EXPECT_GT(qBlue(c), qRed(c) + 60) << p.x() << "," << p.y();
    }
    // The knobs' slots are dark along their whole travel (knob tops 24..88).
    for (int x : {546 + 5, 579 + 5})
        for (int y = 24 + 9; y <= 88 + 9; y += 8)
            EXPECT_LT(qGray(skin.pixel(x, y)), 50) << x << "," << y;
    // The keyboard bay is black where the keyboards leave it visible.
    for (QPoint p : {QPoint(46, 200), QPoint(741, 300), QPoint(400, 332 - 1)})
        EXPECT_LT(qGray(skin.pixel(p)), 60) << p.x() << "," << p.y();
    // Mute buttons are dark raised parts on the light margin.
    EXPECT_LT(qGray(skin.pixel(760, 200)), 110);
    EXPECT_LT(qGray(skin.pixel(760, 300)), 110);
    EXPECT_GT(qGray(skin.pixel(778, 253)), 150);
}

#ifdef SONAREL_HAVE_SVG
TEST(Artwork, theScalableIconIsTheSameDrawing)
{
    // The desktop's icons: every size drawn, and the scalable one renders
    // as the largest looks.
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage icon(QStringLiteral(SONAREL_ASSETS "/desktop/icon-%1.png").arg(size));
        EXPECT_EQ(icon.size(), QSize(size, size)) << size;
    }
    QSvgRenderer svg(QStringLiteral(SONAREL_ASSETS "/desktop/icon.svg"));
    ASSERT_TRUE(svg.isValid());
    QImage drawn(256, 256, QImage::Format_ARGB32);
    drawn.fill(Qt::transparent);
    QPainter p(&drawn);
    svg.render(&p);
    p.end();
    const QImage png = QImage(QStringLiteral(SONAREL_ASSETS "/desktop/icon-256.png")).convertToFormat(QImage::Format_ARGB32);
    long long differ = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            if (std::abs(qAlpha(drawn.pixel(x, y)) - qAlpha(png.pixel(x, y))) > 64 ||
                std::abs(qGray(drawn.pixel(x, y)) - qGray(png.pixel(x, y))) > 48)
                ++differ;
    EXPECT_LT(differ, 256 * 256 / 50);  // edges may fall a pixel apart
}
#endif

TEST(Artwork, facesReadAsNormalPressedLitAndUnused)
{
    auto meanGrey = [](const QImage& image) {
        double sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                sum += qGray(image.pixel(x, y));
        return sum / (image.width() * image.height());
    };
    const QImage normal = load(":/window/face_normal.png");
    const QImage pressed = load(":/window/face_pressed.png");
    const QImage lit = load(":/window/face_lit.png");
    EXPECT_LT(meanGrey(pressed), meanGrey(normal) - 15);
    const QRgb led = lit.pixel(19, 13);
    EXPECT_GT(qGreen(led), 200);
    EXPECT_GT(qGreen(led), qRed(led) + 60);
    const QRgb off = normal.pixel(19, 13);
    EXPECT_LT(qGreen(off), 100);
}

} // namespace

int main(int argc, char** argv)
{
    // Only for the image-format plugins (JPEG); nothing is shown.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
