// The on-screen keys: their places, playing them with the mouse, the size
// limit and what they look like.
#include "instrument/keyboardview.h"
#include "instrument/usercontrol1.h"
#include "rig.h"

#include <QFile>
#include <map>
#include <set>
#include <QImage>
#include <QTest>

namespace {

constexpr int kStripMidY = 55;     // inside the notation strip, over the white keys only
constexpr int kBlackKeyMidY = 20;  // upper part, where the black keys are

QPoint at(int key, int y) { return QPoint(KeyboardView::keyRect(key).center().x(), y); }

// A white key's point that no black key covers, high up on the key.
QPoint whiteTop(int key)
{
    const QRect r = KeyboardView::keyRect(key);
    for (int x = r.left() + 1; x < r.right(); ++x) {
        QPoint p(x, kBlackKeyMidY);
        bool covered = false;
        for (int k = 0; k < KeyboardView::kKeyCount; ++k)
            covered = covered || (KeyboardView::keyRectTwips(k).height() < 700 && KeyboardView::keyRect(k).contains(p));
        if (!covered)
            return p;
    }
    return r.center();
}

}  // namespace

class ViewTest : public QObject {
    Q_OBJECT
private slots:
    void keysSitAtTheirPlaces();
    void slidingStrikesEveryKeyEntered();
    void staysOnAKeyWithoutStrikingAgain();
    void disabledControlTakesNoMouse();
    void sizeIsLimited();
    void struckKeysAreDrawnInTheirColours();
    void stripDrawnOnlyWithLogo();
    void movableDigitsFollowTheKeyOnTheSoundingNotes();
    void keyNamesFollowTheMapInsideTheirKeys();
};

void ViewTest::keyNamesFollowTheMapInsideTheirKeys()
{
    // What the names add to the picture lies on the named keys, inside the
    // part of the face no other key covers, and every named key gets ink.
    const auto check = [](MIDi& midi, const std::map<int, QString>& expected) {
        KeyboardView* view = midi.keyboardView();
        for (const auto& [key, text] : expected)
            QCOMPARE(view->keyLabel(key), text);
        view->setLabelsShown(false);
        const QImage bare = view->grab().toImage();
        view->setLabelsShown(true);
        const QImage named = view->grab().toImage();
        std::set<int> inked;
        for (int y = 0; y < bare.height(); ++y)
            for (int x = 0; x < bare.width(); ++x) {
                if (bare.pixel(x, y) == named.pixel(x, y))
                    continue;
                const int key = view->keyAt(QPoint(x, y));
                QVERIFY2(key >= 0 && !view->keyLabel(key).isEmpty() && view->labelRect(key).contains(x, y),
                         qPrintable(QStringLiteral("ink at %1,%2 on key %3").arg(x).arg(y).arg(key)));
                inked.insert(key);
            }
        for (int k = 0; k < KeyboardView::kKeyCount; ++k)
            QCOMPARE(inked.count(k) == 1, !view->keyLabel(k).isEmpty());
    };
    Rig lower(LowerKeyboardSettings());
    lower.midi->resize(lower.midi->sizeHint());
    check(*lower.midi, {{12, "Z"}, {13, ""}, {24, "A"}, {36, "Q"}, {48, "1"}, {64, "0"}, {19, "B"}});
    lower.midi->setKeyLayout(keymap::Layout::Piano);
    lower.midi->Play(13, 1);  // a lit key keeps its name
    check(*lower.midi, {{12, "Z"}, {13, "S"}, {25, "L"}, {30, "5"}, {43, "]"}, {44, ""}});
    Rig upper(UpperKeyboardSettings());
    upper.midi->resize(upper.midi->sizeHint());
    check(*upper.midi, {{12, "←"}, {17, "↑"}, {19, "小0"}, {53, "Ins"}, {64, ""}});
}

void ViewTest::keysSitAtTheirPlaces()
{
    int white = 0, black = 0;
    for (int k = 0; k < KeyboardView::kKeyCount; ++k) {
        const QRect r = KeyboardView::keyRectTwips(k);
        const bool isBlack = r.height() < 700;
        const int n = k % 12;
        QCOMPARE(isBlack, n == 1 || n == 3 || n == 6 || n == 8 || n == 10);
        (isBlack ? black : white)++;
        QCOMPARE(r.height(), isBlack ? 600 : 1100);
    }
    QCOMPARE(white, 38);
    QCOMPARE(black, 27);
    QCOMPARE(KeyboardView::keyRectTwips(26), QRect(4080, 0, 285, 1100));
    QCOMPARE(KeyboardView::keyRectTwips(25), QRect(4005, 0, 165, 600));
    QVERIFY(KeyboardView::keyRectTwips(25).intersects(KeyboardView::keyRectTwips(26)));
    QCOMPARE(KeyboardView::keyRectTwips(64).right() + 1, 10360);
    // At 96 dpi: 15 twips to the pixel.
    QCOMPARE(KeyboardView::keyRect(2), QRect(18, 0, 18, 73));
    QCOMPARE(KeyboardView::keyRect(1), QRect(12, 0, 11, 40));

    Rig rig;
    KeyboardView* view = rig.midi->keyboardView();
    UserControl1* strip = view->strip();
    QCOMPARE(strip->objectName(), QStringLiteral("UserControl11"));
    QCOMPARE(strip->geometry(), QRect(0, 44, 689, 25));
    QVERIFY(strip->testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(view->focusPolicy(), Qt::NoFocus);
    QCOMPARE(rig.midi->focusPolicy(), Qt::NoFocus);
    // Black keys are hit before the white keys under them; the strip is no
    // obstacle.
    QCOMPARE(view->keyAt(at(1, kBlackKeyMidY)), 1);
    QCOMPARE(view->keyAt(at(1, 50)), 0);
    QCOMPARE(view->keyAt(at(25, kBlackKeyMidY)), 25);
    QCOMPARE(view->keyAt(at(26, kStripMidY)), 26);
}

void ViewTest::slidingStrikesEveryKeyEntered()
{
    Rig rig(LowerKeyboardSettings());
    rig.start();
    rig.midi->show();
    rig.midi->pollTick();  // the button has been seen up
    KeyboardView* view = rig.midi->keyboardView();
    std::vector<std::pair<int, int>> drags;
    connect(view, &KeyboardView::dragOver, view, [&drags](int key, int state) { drags.push_back({key, state}); });
    const QColor gold(250, 210, 0), blue(0, 180, 230), rest = restWhite();

    rig.keys->setLeftButton(true);  // what a poll would see from here on
    QTest::mousePress(view, Qt::LeftButton, {}, at(0, kStripMidY));  // on the strip
    QCOMPARE(rig.played, std::vector<int>{0});
    QCOMPARE(rig.bytes(), std::string("90 24 7F"));
    QCOMPARE(rig.midi->keyColor(0), gold);

    QTest::mouseMove(view, at(2, kStripMidY));
    QCOMPARE(rig.played, (std::vector<int>{0, 2}));
    QCOMPARE(rig.midi->keyColor(0), rest);
    QCOMPARE(rig.midi->keyColor(2), gold);

    QTest::mouseMove(view, at(3, kBlackKeyMidY));  // up onto a black key
    QCOMPARE(rig.played, (std::vector<int>{0, 2, 3}));
    QCOMPARE(rig.midi->keyColor(2), rest);
    QCOMPARE(rig.midi->keyColor(3), blue);

    QTest::mouseMove(view, whiteTop(4));
    QCOMPARE(rig.played, (std::vector<int>{0, 2, 3, 4}));
    QCOMPARE(rig.midi->keyColor(3), QColor(0, 0, 0));

    // Off the keyboard and back: leaving shows the key released, coming back
    // strikes it again.
    QTest::mouseMove(view, QPoint(view->width() + 40, kStripMidY));
    QCOMPARE(rig.midi->keyColor(4), rest);
    QTest::mouseMove(view, whiteTop(4));
    QCOMPARE(rig.played, (std::vector<int>{0, 2, 3, 4}));  // still the key struck last, button still down

    QTest::mouseMove(view, at(5, kStripMidY));
    QTest::mouseRelease(view, Qt::LeftButton, {}, at(5, kStripMidY));  // the drop
    rig.keys->setLeftButton(false);
    QCOMPARE(rig.played, (std::vector<int>{0, 2, 3, 4, 5}));
    for (int k = 0; k < 65; ++k)
        QVERIFY2(rig.midi->keyColor(k) == rest || rig.midi->keyColor(k) == QColor(0, 0, 0), qPrintable(QString::number(k)));
    // The key left is always reported leaving before the next is entered.
    const std::vector<std::pair<int, int>> enterLeave = [&] {
        std::vector<std::pair<int, int>> out;
        for (const auto& d : drags)
            if (d.second != KeyboardView::kDragOver)
                out.push_back(d);
        return out;
    }();
    QCOMPARE(enterLeave, (std::vector<std::pair<int, int>>{
                             {0, 0}, {0, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}, {4, 0}, {4, 1}, {4, 0}, {4, 1}, {5, 0}}));
    // Each struck key's note-on went out, after the silencer's note-off.
    QCOMPARE(rig.count(0x90, 36 + 3, 0x7F), 1);
}

void ViewTest::staysOnAKeyWithoutStrikingAgain()
{
    Rig rig;
    rig.start();
    rig.midi->show();
    KeyboardView* view = rig.midi->keyboardView();
    auto click = [&](bool wiggle) {
        rig.keys->setLeftButton(true);
        QTest::mousePress(view, Qt::LeftButton, {}, at(7, kStripMidY));
        if (wiggle)
            QTest::mouseMove(view, at(7, kStripMidY) + QPoint(2, 3));
        QTest::mouseRelease(view, Qt::LeftButton, {}, at(7, kStripMidY));
        rig.keys->setLeftButton(false);
    };
    rig.midi->pollTick();
    click(true);
    QCOMPARE(rig.played, std::vector<int>{7});

    // Pressing the key struck last again needs the poll to have seen the
    // button up in between...
    click(false);
    QCOMPARE(rig.played, std::vector<int>{7});
    rig.midi->pollTick();
    click(false);
    QCOMPARE(rig.played, (std::vector<int>{7, 7}));
    // ...or a Play since.
    rig.midi->Play(7, 1);
    click(false);
    QCOMPARE(rig.played, (std::vector<int>{7, 7, 7, 7}));
}

void ViewTest::disabledControlTakesNoMouse()
{
    Rig rig;
    rig.start();
    rig.midi->show();
    rig.midi->pollTick();
    KeyboardView* view = rig.midi->keyboardView();

    // Disabled in the middle of a slide (playback locks the keyboards): the
    // key under the pointer is not left lit.
    rig.keys->setLeftButton(true);
    QTest::mousePress(view, Qt::LeftButton, {}, at(9, kStripMidY));
    QCOMPARE(rig.midi->keyColor(9), QColor(250, 210, 0));
    rig.midi->SetEnabled(false);
    QCOMPARE(rig.midi->keyColor(9), restWhite());
    QTest::mouseRelease(view, Qt::LeftButton, {}, at(9, kStripMidY));
    rig.keys->setLeftButton(false);

    rig.played.clear();
    rig.midi->pollTick();
    QTest::mousePress(view, Qt::LeftButton, {}, at(11, kStripMidY));
    QTest::mouseRelease(view, Qt::LeftButton, {}, at(11, kStripMidY));
    QVERIFY(rig.played.empty());
}

void ViewTest::sizeIsLimited()
{
    Rig rig;
    QCOMPARE(rig.midi->size(), QSize(692, 73));  // as first placed, limited
    rig.midi->resize(800, 133);                   // 12000 x 2000 twips
    QCOMPARE(rig.midi->size(), QSize(692, 73));   // 10380 x 1100
    rig.midi->resize(333, 53);                    // 5000 x 800: kept, the keys cut off
    QCOMPARE(rig.midi->size(), QSize(333, 53));
    QCOMPARE(rig.midi->keyboardView()->pos(), QPoint(0, 0));
    QCOMPARE(rig.midi->keyboardView()->keyAt(at(50, kStripMidY - 10)), -1);
    QCOMPARE(rig.midi->keyboardView()->keyAt(at(10, kBlackKeyMidY)), 10);
    rig.midi->resize(1000, 60);
    QCOMPARE(rig.midi->size(), QSize(692, 60));
}

void ViewTest::struckKeysAreDrawnInTheirColours()
{
    Rig rig;
    rig.start();
    rig.midi->SetLogo(false);
    rig.midi->show();
    rig.midi->Play(0, 1);
    rig.midi->Play(1, 1);
    const QPoint whiteInside = whiteTop(0) + QPoint(0, 25);
    const QPoint blackInside = at(1, kBlackKeyMidY);
    QImage image = rig.midi->grab().toImage();
    QCOMPARE(QColor(image.pixel(whiteInside)), QColor(250, 210, 0));
    QCOMPARE(QColor(image.pixel(blackInside)), QColor(0, 180, 230));
    QCOMPARE(QColor(image.pixel(at(2, 30))), restWhite());

    rig.midi->releaseTick();
    image = rig.midi->grab().toImage();
    QCOMPARE(QColor(image.pixel(whiteInside)), restWhite());
    QCOMPARE(QColor(image.pixel(blackInside)), QColor(0, 0, 0));
    // The control's own background is black where no key reaches.
    rig.midi->resize(692, 73);
    image = rig.midi->grab().toImage();
    QCOMPARE(QColor(image.pixel(691, 10)), QColor(0, 0, 0));

    // A disabled keyboard (during playback) only stops taking the mouse:
    // its keys and their edges look as they did.
    const QImage enabled = image;
    rig.midi->SetEnabled(false);
    const QImage disabled = rig.midi->grab().toImage();
    QCOMPARE(QColor(disabled.pixel(whiteInside)), restWhite());
    QCOMPARE(disabled, enabled);
    QVERIFY(restWhite() != rig.midi->palette().color(QPalette::Disabled, QPalette::Base));  // else nothing is shown
}

void ViewTest::stripDrawnOnlyWithLogo()
{
    Rig rig;
    rig.midi->show();
    if (!rig.midi->keyboardView()->strip()->hasPicture())
        QSKIP("the notation strip picture is not in the resources");
    const QRect stripArea(0, 44, 689, 25);
    auto stripPixels = [&] {
        const QImage image = rig.midi->grab().toImage();
        int marked = 0;
        for (int y = stripArea.top(); y <= stripArea.bottom(); ++y)
            for (int x = stripArea.left(); x <= stripArea.right(); ++x) {
                const int key = rig.midi->keyboardView()->keyAt(QPoint(x, y));
                if (key >= 0 && QColor(image.pixel(x, y)) != rig.midi->keyColor(key))
                    ++marked;
            }
        return marked;
    };
    // Compare against the keys' own faces: the bevel lines differ anyway, so
    // count with the strip and without it.
    rig.midi->SetLogo(false);
    const int without = stripPixels();
    rig.midi->SetLogo(true);
    const int with = stripPixels();
    QVERIFY2(with > without + 100, qPrintable(QString("%1 vs %2").arg(with).arg(without)));
}

void ViewTest::movableDigitsFollowTheKeyOnTheSoundingNotes()
{
    Rig rig;
    rig.midi->show();
    KeyboardView& view = *rig.midi->keyboardView();
    using Digit = std::pair<int, int>;  // digit (0 none), octave
    const auto digit = [&view](int k) { return Digit{view.movableDigit(k).digit, view.movableDigit(k).octave}; };
    // 1=D with the default pitch 36: key k sounds 36 + k.
    rig.midi->setDigitKey(2);
    QVERIFY(view.strip()->isHidden());
    QCOMPARE(digit(26), (Digit{1, 0}));   // D4, the tonic above middle C: no dots
    QCOMPARE(digit(30), (Digit{3, 0}));   // F#4
    QCOMPARE(digit(37), (Digit{7, 0}));   // C#5
    QCOMPARE(digit(6), (Digit{3, -2}));   // F#2
    QCOMPARE(digit(25), (Digit{7, -1}));  // C#4, the 7 just below the tonic
    QCOMPARE(digit(24), (Digit{0, 0}));   // C is no degree of D major
    QCOMPARE(digit(38), (Digit{1, 1}));   // D5
    // The key 调 moves what the keys sound, and the digits with it.
    rig.midi->SetTone(2);
    QCOMPARE(digit(24), (Digit{1, 0}));  // the C key now sounds D4
    QCOMPARE(digit(28), (Digit{3, 0}));
    // Drawn on the keys, black ones too: the F# key's face carries ink.
    rig.midi->SetTone(0);
    const QImage image = rig.midi->grab().toImage();
    const QRect black = KeyboardView::keyRect(30);
    int inked = 0;
    for (int y = black.top(); y <= black.bottom(); ++y)
        for (int x = black.left() + 2; x < black.right() - 1; ++x)
            inked += QColor(image.pixel(x, y)) != rig.midi->keyColor(30) ? 1 : 0;
    QVERIFY2(inked > 10, qPrintable(QString::number(inked)));
    // The fixed strip again.
    rig.midi->setDigitKey(-1);
    QVERIFY(!view.strip()->isHidden());
    QCOMPARE(digit(26), (Digit{0, 0}));
}

QTEST_MAIN(ViewTest)
#include "test_view.moc"
