// The window as it is created: its picture, every control inside it and clear
// of the others, each caption over the control it names, and the texts,
// colours and initial state the controls show.
#include "formfixture.h"

#include "instrument/picture.h"
#include "window/controls.h"

#include <QFrame>
#include <QPushButton>
#include <QResource>

using LayoutTest = FormTest;

namespace {

// A widget found by its caption, its tooltip or its name.
QWidget* shown(const Form2& f, const QString& what)
{
    for (QWidget* w : f.findChildren<QWidget*>()) {
        const auto* label = qobject_cast<const QLabel*>(w);
        if ((label && label->text() == what) || w->toolTip() == what || w->objectName() == what)
            return w;
    }
    ADD_FAILURE() << "nothing shows " << what.toStdString();
    return nullptr;
}

}  // namespace

TEST_F(LayoutTest, everyControlLiesInsideTheWindowAndClearOfTheOthers)
{
    Form2& f = make(QString(), false);
    EXPECT_EQ(f.size(), ReadPicture(QStringLiteral(SONAREL_ASSETS "/window/skin.jpg")).size());
    EXPECT_TRUE(f.windowFlags() & Qt::FramelessWindowHint);
    // The controls that take the mouse, and the texts, each in a place of its own.
    std::vector<QWidget*> controls, texts;
    for (QWidget* w : f.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isHidden())
            continue;
        EXPECT_TRUE(f.rect().contains(w->geometry())) << w->objectName().toStdString();
        (qobject_cast<Caption*>(w) || qobject_cast<ClockFace*>(w) ? texts : controls).push_back(w);
    }
    EXPECT_EQ(controls.size(), 20u);  // ten buttons, two knobs, the box, two lists, the keyboards, their zones, the lamp
    for (const auto* group : {&controls, &texts})
        for (std::size_t i = 0; i < group->size(); ++i)
            for (std::size_t j = i + 1; j < group->size(); ++j)
                EXPECT_FALSE((*group)[i]->geometry().intersects((*group)[j]->geometry()))
                    << (*group)[i]->objectName().toStdString() << " " << (*group)[j]->objectName().toStdString();
    // The song panel, when it shows, lies over the display and holds its own controls.
    const QWidget* panel = control(QStringLiteral("Picture1"));
    EXPECT_TRUE(panel->isHidden());
    EXPECT_TRUE(f.rect().contains(panel->geometry()));
    for (const QWidget* w : panel->findChildren<QWidget*>())
        EXPECT_TRUE(panel->rect().contains(w->geometry())) << w->objectName().toStdString();
    EXPECT_FALSE(control(QStringLiteral("Text1"))->geometry().intersects(control(QStringLiteral("Command1"))->geometry()));
}

TEST_F(LayoutTest, eachCaptionNamesTheControlBeneathOrBesideIt)
{
    Form2& f = make(QString(), false);
    const std::pair<const char*, const char*> above[] = {
        {"录制", "录制音乐"}, {"播放", "播放音乐"}, {"停止", "停止操作"}, {"保存", "保存音乐"},
        {"打开", "打开音乐文件"}, {"键名", "显示键名"}, {"消音", "自动消音"},
        {"锁定", "自动播放音乐时锁定键盘属性"}, {"随机", "Com_9"}, {"关闭", "关闭程序"},
        {"音 长", "Text3"}, {"音 调", "ComDevies"}, {"乐 器", "ComSounds"},
    };
    for (const auto& [caption, what] : above) {
        const QRect c = shown(f, QString::fromUtf8(caption))->geometry(), w = shown(f, QString::fromUtf8(what))->geometry();
        EXPECT_TRUE(c.center().y() < w.top() && w.top() - c.bottom() < 20) << caption;
        EXPECT_TRUE(c.center().x() > w.left() && c.center().x() < w.right()) << caption;
    }
    // The display's captions stand left of their texts, on their rows.
    for (const auto& [caption, what] : {std::pair{"音乐名:", "Label3"}, std::pair{"演奏者:", "Label9"}}) {
        const QRect c = shown(f, QString::fromUtf8(caption))->geometry(), w = shown(f, QString::fromUtf8(what))->geometry();
        EXPECT_TRUE(c.right() < w.left() && w.left() - c.right() < 20) << caption;
        EXPECT_TRUE(c.center().y() > w.top() && c.center().y() < w.bottom()) << caption;
    }
    // The upper keyboard above the lower, as wide, each with its mute zone at its right.
    const QRect up = upper->geometry(), low = lower->geometry();
    EXPECT_LT(up.bottom(), low.top());
    EXPECT_EQ(up.size(), low.size());
    for (const auto& [zone, keys] : {std::pair{"LABEL1", up}, std::pair{"Image1", low}}) {
        const QWidget* w = control(QString::fromLatin1(zone));
        EXPECT_EQ(w->toolTip(), QStringLiteral("鼠标在此移动消音"));
        EXPECT_GT(w->x(), keys.right());
        EXPECT_TRUE(w->geometry().center().y() > keys.top() && w->geometry().center().y() < keys.bottom()) << zone;
    }
}

TEST_F(LayoutTest, theControlsShowTheirTextsColoursAndFirstState)
{
    Form2& f = make(QString(), false);
    const QLabel* name = control<QLabel>(QStringLiteral("Label4"));
    EXPECT_EQ(name->text(), QStringLiteral("Sonarel"));
    EXPECT_EQ(title(), QStringLiteral("自由弹奏"));
    EXPECT_EQ(author(), QStringLiteral("佚名"));
    EXPECT_EQ(name->palette().color(QPalette::WindowText), QColor(255, 128, 0));
    EXPECT_EQ(control(QStringLiteral("Label3"))->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    EXPECT_EQ(shown(f, QStringLiteral("保存"))->palette().color(QPalette::WindowText), QColor(107, 115, 116));
    EXPECT_TRUE(name->font().bold());
    EXPECT_DOUBLE_EQ(name->font().pointSizeF(), 18);
    EXPECT_DOUBLE_EQ(control(QStringLiteral("Label3"))->font().pointSizeF(), 10.5);
    EXPECT_TRUE(name->font().families().contains(QStringLiteral("SimSun")));
    // The clock shows the product's name until its first tick.
    const ClockFace* clock = control<ClockFace>(QStringLiteral("Label10"));
    EXPECT_EQ(clock->text(), QStringLiteral("Sonarel"));
    EXPECT_EQ(clock->palette().color(QPalette::WindowText), QColor(255, 128, 0));
    EXPECT_TRUE(clock->font().bold());
    EXPECT_DOUBLE_EQ(clock->font().pointSizeF(), 12);
    EXPECT_EQ(shown(f, QStringLiteral("Picture4_1"))->toolTip(), QStringLiteral("音高调节"));
    EXPECT_EQ(shown(f, QStringLiteral("Picture4_2"))->toolTip(), QStringLiteral("音量调节"));
    EXPECT_EQ(button(9)->toolTip(), QString());

    // Lists: exact entries, no selection until the window first becomes active.
    ASSERT_EQ(keyList()->count(), 12);
    EXPECT_EQ(keyList()->itemText(0), QStringLiteral("C     调"));
    EXPECT_EQ(keyList()->itemText(2), QStringLiteral("D     调             "));
    EXPECT_EQ(keyList()->itemText(11), QStringLiteral("B     调"));
    ASSERT_EQ(instrumentList()->count(), 128);
    EXPECT_EQ(instrumentList()->itemText(12), QStringLiteral("立奏木琴"));
    EXPECT_EQ(instrumentList()->itemText(53), QStringLiteral("（喔）语音 "));
    EXPECT_EQ(instrumentList()->itemText(68), QStringLiteral("双簧管 "));
    EXPECT_EQ(instrumentList()->itemText(3), instrumentList()->itemText(112));
    EXPECT_EQ(instrumentList()->itemText(127), QStringLiteral("模拟声-枪声"));
    EXPECT_EQ(keyList()->currentIndex(), -1);
    EXPECT_EQ(instrumentList()->currentIndex(), -1);

    const auto* length = control<QLineEdit>(QStringLiteral("Text3"));
    const auto* songTitle = control<QLineEdit>(QStringLiteral("Text1"));
    EXPECT_EQ(length->text(), QStringLiteral("100"));
    EXPECT_EQ(length->maxLength(), 4);
    EXPECT_EQ(songTitle->text(), QStringLiteral("自由弹奏"));
    EXPECT_EQ(control<QLineEdit>(QStringLiteral("Text2"))->text(), QStringLiteral("佚名"));
    EXPECT_EQ(songTitle->maxLength(), 20);
    EXPECT_EQ(control<QPushButton>(QStringLiteral("Command1"))->text(), QStringLiteral("确  定"));
    EXPECT_EQ(control(QStringLiteral("Picture1"))->palette().color(QPalette::Window), QColor(159, 164, 164));

    // The instruments carry their designed settings.
    EXPECT_TRUE(lower->Silencer());
    EXPECT_EQ(lower->KeyBoardBlock(), 1);
    EXPECT_TRUE(lower->Logo());
    EXPECT_EQ(lower->Channel(), 0);
    EXPECT_TRUE(upper->Silencer());
    EXPECT_FALSE(upper->Logo());
    EXPECT_EQ(upper->Channel(), 1);
    EXPECT_EQ(upper->Instrument(), 12);
    EXPECT_EQ(upper->KeyBoardBlock(), 2);
}

TEST_F(LayoutTest, theClockDrawsItsTextOverTheSkinBeneathIt)
{
    Form2& f = make(QString(), false);
    ClockFace* face = control<ClockFace>(QStringLiteral("Label10"));
    const QImage skin = f.grab().toImage();
    face->setText(QStringLiteral("12:34:56"));
    const QImage clock = face->grab().toImage();
    const QPoint at = face->pos();
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
