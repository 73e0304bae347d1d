// The window as it is created: every control at its place with its text,
// colours, tooltip and initial state.
#include "formfixture.h"

#include "instrument/picture.h"
#include "window/controls.h"

#include <QFrame>
#include <QPushButton>
#include <QResource>

namespace {

struct Expect {
    const char* name;
    int left, top, width, height;  // twips
    const char* text;               // caption or tooltip ("" for none)
};

QRect px(const Expect& e)
{
    auto p = [](int t) { return int(std::lround(t / 15.0)); };
    return QRect(p(e.left), p(e.top), p(e.width), p(e.height));
}

}  // namespace

using LayoutTest = FormTest;

TEST_F(LayoutTest, labelsSitAtTheirPlacesWithTheirCaptions)
{
    Form2& f = make(QString(), false);
    FormParts w(f);
    const Expect labels[] = {
        {"Label4", 3240, 600, 1695, 375, "Sonarel"},
        {"Label3", 4080, 1140, 3135, 255, "自由弹奏"},
        {"Label9", 4080, 1440, 2175, 255, "佚名"},
        {"Label6_0", 720, 2130, 375, 255, "录制"},
        {"Label6_1", 1320, 2130, 495, 255, "播放"},
        {"Label6_2", 1920, 2130, 495, 255, "停止"},
        {"Label6_3", 2520, 2130, 495, 255, "保存"},
        {"Label6_4", 3120, 2130, 495, 255, "打开"},
        {"Label6_5", 3720, 2130, 495, 255, "键名"},
        {"Label6_6", 4320, 2130, 495, 255, "消音"},
        {"Label6_10", 4920, 2130, 495, 255, "锁定"},
        {"Label6_11", 7440, 2130, 495, 255, "音 长"},
        {"Label6_7", 8520, 2130, 735, 255, "音 调"},
        {"Label6_8", 9960, 2130, 735, 255, "乐 器"},
        {"Label6_12", 180, 2760, 495, 255, "随机"},
        {"Label6_9", 165, 3780, 495, 255, "关闭"},
    };
    for (const auto& e : labels) {
        auto* label = f.findChild<QLabel*>(QString::fromLatin1(e.name));
        ASSERT_NE(label, nullptr) << e.name;
        EXPECT_EQ(label->geometry(), px(e)) << e.name;
        EXPECT_EQ(label->text(), QString::fromUtf8(e.text)) << e.name;
    }
    // The two fixed captions are sized to their text and start at their place.
    EXPECT_EQ(w.Label2[1]->text(), QStringLiteral("音乐名:"));
    EXPECT_EQ(w.Label2[0]->text(), QStringLiteral("演奏者:"));
    EXPECT_EQ(w.Label2[1]->pos(), QPoint(208, 76));
    EXPECT_EQ(w.Label2[0]->pos(), QPoint(208, 96));

    EXPECT_EQ(w.Label4->palette().color(QPalette::WindowText), QColor(255, 128, 0));
    EXPECT_EQ(w.Label3->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    EXPECT_EQ(w.Label6[3]->palette().color(QPalette::WindowText), QColor(107, 115, 116));
    EXPECT_TRUE(w.Label4->font().bold());
    EXPECT_DOUBLE_EQ(w.Label4->font().pointSizeF(), 18);
    EXPECT_DOUBLE_EQ(w.Label3->font().pointSizeF(), 10.5);
    EXPECT_TRUE(w.Label4->font().families().contains(QStringLiteral("SimSun")));

    // The clock shows the product's name until its first tick.
    EXPECT_EQ(w.Label10->objectName(), QStringLiteral("Label10"));
    EXPECT_EQ(w.Label10->geometry(), px({"Label10", 6360, 1410, 1215, 255, ""}));
    EXPECT_EQ(w.Label10->text(), QStringLiteral("Sonarel"));
    EXPECT_EQ(w.Label10->palette().color(QPalette::WindowText), QColor(255, 128, 0));
    EXPECT_TRUE(w.Label10->font().bold());
    EXPECT_DOUBLE_EQ(w.Label10->font().pointSizeF(), 12);
}

TEST_F(LayoutTest, theClockDrawsItsTextOverTheSkinBeneathIt)
{
    Form2& f = make(QString(), false);
    FormParts w(f);
    const QImage skin = f.grab().toImage();
    w.Label10->setText(QStringLiteral("12:34:56"));
    const QImage clock = w.Label10->grab().toImage();
    const QPoint at = w.Label10->pos();
    int text = 0, skinShown = 0;
    for (int y = 0; y < clock.height(); ++y) {
        for (int x = 0; x < clock.width(); ++x) {
            const QColor c = clock.pixelColor(x, y);
            if (c == QColor(255, 128, 0))
                ++text;
            else if (c == skin.pixelColor(at + QPoint(x, y)))
                ++skinShown;
        }
    }
    EXPECT_GT(text, 20);
    // Apart from the glyphs' edges, what is not text is the window's picture.
    EXPECT_GT(skinShown, clock.width() * clock.height() / 2);
    // The far right, past the text, is untouched skin.
    EXPECT_EQ(clock.pixelColor(clock.width() - 1, 0), skin.pixelColor(at + QPoint(clock.width() - 1, 0)));
}

// The skin is built in as raw pixels made from the artwork's JPEG.
TEST_F(LayoutTest, theWindowShowsTheSkinItIsBuiltWith)
{
    const QImage artwork = ReadPicture(QStringLiteral(SONAREL_ASSETS "/window/skin.jpg"));
    const QResource resource(QStringLiteral(":/window/skin.rgb32"));
    const QImage skin = RawPicture(resource.data(), resource.size());
    ASSERT_FALSE(artwork.isNull());
    EXPECT_EQ(skin, artwork.convertToFormat(QImage::Format_RGB32));
    Form2& f = make(QString(), false);
    EXPECT_EQ(f.grab().toImage().pixel(2, 2), artwork.pixel(2, 2));

    // Anything else is no picture, and the window falls back to its colour.
    const QByteArray bytes = RawPictureBytes(QImage(3, 2, QImage::Format_RGB32));
    auto data = [](const QByteArray& b) { return reinterpret_cast<const uchar*>(b.constData()); };
    EXPECT_EQ(RawPicture(data(bytes), bytes.size()).size(), QSize(3, 2));
    EXPECT_TRUE(RawPicture(data(bytes), bytes.size() - 1).isNull());
    EXPECT_TRUE(RawPicture(data(bytes), 4).isNull());
    EXPECT_TRUE(RawPicture(nullptr, 0).isNull());
}

TEST_F(LayoutTest, buttonsKnobsZonesAndEntriesAtTheirPlaces)
{
    Form2& f = make(QString(), false);
    FormParts w(f);
    const Expect controls[] = {
        {"Com_1", 720, 2390, 420, 270, "录制音乐"},
        {"Com_2", 1320, 2390, 420, 270, "播放音乐"},
        {"Com_7", 1920, 2390, 420, 270, "停止操作"},
        {"Com_3", 2520, 2390, 420, 270, "保存音乐"},
        {"Com_4", 3120, 2390, 420, 270, "打开音乐文件"},
        {"Com_5", 3720, 2390, 420, 270, "显示键名"},
        {"Com_6", 4320, 2390, 420, 270, "自动消音"},
        {"Com_8", 4920, 2390, 420, 270, "自动播放音乐时锁定键盘属性"},
        {"Com_9", 150, 3120, 420, 360, ""},
        {"Com_0", 150, 4080, 420, 360, "关闭程序"},
        {"Picture4_1", 8190, 600, 165, 285, "音高调节"},
        {"Picture4_2", 8690, 360, 165, 285, "音量调节"},
        {"Text3", 7320, 2360, 735, 300, ""},
        {"ComDevies", 8160, 2360, 1335, 300, ""},
        {"ComSounds", 9600, 2360, 1335, 300, ""},
        {"MIDi2", 720, 2720, 10380, 1095, ""},
        {"MIDi1", 720, 3840, 10380, 1095, ""},
        {"LABEL1", 11160, 2640, 495, 1095, "鼠标在此移动消音"},
        {"Image1", 11160, 3840, 495, 975, "鼠标在此移动消音"},
        {"Picture1", 3840, 1440, 3975, 1815, ""},
    };
    for (const auto& e : controls) {
        auto* w = f.findChild<QWidget*>(QString::fromLatin1(e.name));
        ASSERT_NE(w, nullptr) << e.name;
        EXPECT_EQ(w->geometry(), px(e)) << e.name;
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(e.text)) << e.name;
    }
    EXPECT_EQ(f.size(), QSize(785, 334));
    EXPECT_TRUE(f.windowFlags() & Qt::FramelessWindowHint);

    // Lists: exact entries, no selection until the window first becomes active.
    ASSERT_EQ(w.ComDevies->count(), 12);
    EXPECT_EQ(w.ComDevies->itemText(0), QStringLiteral("C     调"));
    EXPECT_EQ(w.ComDevies->itemText(2), QStringLiteral("D     调             "));
    EXPECT_EQ(w.ComDevies->itemText(11), QStringLiteral("B     调"));
    ASSERT_EQ(w.ComSounds->count(), 128);
    EXPECT_EQ(w.ComSounds->itemText(12), QStringLiteral("立奏木琴"));
    EXPECT_EQ(w.ComSounds->itemText(53), QStringLiteral("（喔）语音 "));
    EXPECT_EQ(w.ComSounds->itemText(68), QStringLiteral("双簧管 "));
    EXPECT_EQ(w.ComSounds->itemText(3), w.ComSounds->itemText(112));
    EXPECT_EQ(w.ComSounds->itemText(127), QStringLiteral("模拟声-枪声"));
    EXPECT_EQ(w.ComDevies->currentIndex(), -1);
    EXPECT_EQ(w.ComSounds->currentIndex(), -1);

    EXPECT_EQ(w.Text3->text(), QStringLiteral("100"));
    EXPECT_EQ(w.Text3->maxLength(), 4);
    EXPECT_EQ(w.Text1->text(), QStringLiteral("自由弹奏"));
    EXPECT_EQ(w.Text2->text(), QStringLiteral("佚名"));
    EXPECT_EQ(w.Text1->maxLength(), 20);
    EXPECT_EQ(w.Command1->text(), QStringLiteral("确  定"));
    EXPECT_EQ(w.Command1->geometry(), QRect(104, 88, 57, 25));
    EXPECT_EQ(w.Text1->geometry(), QRect(80, 16, 137, 22));
    EXPECT_TRUE(w.Picture1->isHidden());
    EXPECT_EQ(w.Picture1->palette().color(QPalette::Window), QColor(159, 164, 164));

    // The instruments carry their designed settings.
    EXPECT_TRUE(w.MIDi1->Silencer());
    EXPECT_EQ(w.MIDi1->KeyBoardBlock(), 1);
    EXPECT_TRUE(w.MIDi1->Logo());
    EXPECT_EQ(w.MIDi1->Channel(), 0);
    EXPECT_TRUE(w.MIDi2->Silencer());
    EXPECT_FALSE(w.MIDi2->Logo());
    EXPECT_EQ(w.MIDi2->Channel(), 1);
    EXPECT_EQ(w.MIDi2->Instrument(), 12);
    EXPECT_EQ(w.MIDi2->KeyBoardBlock(), 2);

    // Timers: the clock runs, playback and random play wait.
    EXPECT_TRUE(w.Timer2.isActive());
    EXPECT_EQ(w.Timer2.interval(), 10);  // the first tick; then at each turn of the second
    EXPECT_FALSE(w.Timer3.isActive());
    EXPECT_EQ(w.Timer3.interval(), 10);
    EXPECT_FALSE(w.Timer4.isActive());
    EXPECT_EQ(w.Timer4.interval(), 500);
}
