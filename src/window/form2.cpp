#include "window/form2.h"

#include "instrument/midi.h"
#include "instrument/propertybag.h"
#include "songs/instrumentnames.h"
#include "songs/paths.h"
#include "songs/songfile.h"
#include "window/controls.h"
#include "window/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QActionGroup>
#include <QMenu>
#include <QMessageBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTime>

#include <algorithm>
#include <chrono>
#include <random>

// The pictures live in this static library; without an explicit reference
// the linker would leave them out of the program.
static void initWindowResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(window);
        return true;
    }();
    (void)done;
}

namespace {

const char* const kProductName = "Sonarel";
const char* const kDefaultTitle = "自由弹奏";
const char* const kDefaultAuthor = "佚名";
constexpr int kClientWidthTwips = 11775;
constexpr int kClientHeightTwips = 5010;
// The clock shows the time from its first tick, just after the window is made.
constexpr int kClockFirstTickMs = 10;
constexpr int kTickMs = 10;
constexpr std::int16_t kLongestGapTicks = 300;
constexpr int kNoticeMs = 2000;

// The only font the window asks for by name; the CJK families after it stand
// in where SimSun is not installed.
QFont songTi(double points, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("WenQuanYi Zen Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("Droid Sans Fallback")});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void setTextColor(QWidget* widget, QColor text, QColor background = QColor())
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::ButtonText, text);
    if (background.isValid()) {
        p.setColor(QPalette::Base, background);
        p.setColor(QPalette::Button, background);
        p.setColor(QPalette::Window, background);
    }
    widget->setPalette(p);
}

struct LabelSpec {
    int left, top, width, height;
    const char* caption;
    QColor color;
    double points;  // 0: the window's default font
    bool bold;
};

// The note length box, the lists and the song panel's buttons.
const QColor kFieldBack(159, 164, 164), kFieldText(64, 64, 64);

Caption* addCaption(QWidget* parent, const LabelSpec& s, const QString& name)
{
    auto* label = new Caption(parent);
    label->setObjectName(name);
    label->setText(QString::fromUtf8(s.caption));
    label->setGeometry(TwipsRect(s.left, s.top, s.width, s.height));
    setTextColor(label, s.color);
    if (s.points > 0)
        label->setFont(songTi(s.points, s.bold));
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}


QPixmap loadPicture(const char* path, QSize fallbackSize, QColor fallback)
{
    QPixmap pixmap(QString::fromLatin1(path));
    if (pixmap.isNull()) {
        pixmap = QPixmap(fallbackSize);
        pixmap.fill(fallback);
    }
    return pixmap;
}

}  // namespace

Form2::Form2(const Form2Options& options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), songArgument_(options.songArgument)
{
    initWindowResources();
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString::fromUtf8(kProductName));
    setFixedSize(TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips));
    setMouseTracking(true);  // every move over the background counts towards a drag
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(74, 107, 196));
    p.setColor(QPalette::WindowText, QColor(255, 255, 255));
    setPalette(p);
    QIcon icon;
    for (const char* size : {"16", "32", "48"})
        icon.addFile(QStringLiteral(":/window/icon%1.png").arg(QLatin1String(size)));
    setWindowIcon(icon);
    skin_ = QPixmap(QStringLiteral(":/window/skin.jpg"));

    buildLayout();

    beep = [] { QApplication::beep(); };
    warn = [this](const QString& message) { QMessageBox::warning(this, QString::fromUtf8(kProductName), message); };
    exitProcess = [] { QCoreApplication::exit(0); };
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    Rnd = [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
    Randomize = [engine] { engine->seed(std::uint32_t(QTime::currentTime().msecsSinceStartOfDay())); };

    // The user's own time format, with seconds, without a zone name; worked
    // out once, since the clock is redrawn every 10 ms.
    clockFormat_ = QLocale::system().timeFormat(QLocale::LongFormat);
    clockFormat_ = clockFormat_.remove(QLatin1Char('t')).replace(QStringLiteral("  "), QStringLiteral(" ")).trimmed();

    setMonotonicClock([] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    });
    Timer2.setSingleShot(true);
    Timer2.setTimerType(Qt::PreciseTimer);
    Timer2.setInterval(kClockFirstTickMs);
    Timer3.setInterval(10);
    Timer4.setInterval(500);
    connect(&Timer2, &QTimer::timeout, this, &Form2::Timer2_Timer);
    connect(&Timer3, &QTimer::timeout, this, &Form2::Timer3_Timer);
    connect(&Timer4, &QTimer::timeout, this, &Form2::Timer4_Timer);
    Timer2.start();
    noticeTimer_.setSingleShot(true);
    noticeTimer_.setInterval(kNoticeMs);
    connect(&noticeTimer_, &QTimer::timeout, this, &Form2::endNotice);
    // A click anywhere ends typing in the note-length box.
    qApp->installEventFilter(this);

    chooseAppDir(options.appDir, options.dataDir);
}

Form2::~Form2()
{
    Timer2.stop();
    Timer3.stop();
    Timer4.stop();
}

void Form2::buildLayout()
{
    // In the order the window stacks them.
    buildDisplay();
    buildCaptions();
    buildKnobs();
    buildButtons();
    buildFields();
    buildKeyboards();
    buildSongPanel();
}

// The display: product name, title, author and the clock.
void Form2::buildDisplay()
{
    const QColor display(0, 255, 0), brand(255, 128, 0), caption(255, 255, 0);
    Label4 = addCaption(this, {3240, 600, 1695, 375, kProductName, brand, 18, true}, QStringLiteral("Label4"));
    Label2[1] = addCaption(this, {3120, 1140, 795, 210, "音乐名:", caption, 10.5, true}, QStringLiteral("Label2_1"));
    Label3 = addCaption(this, {4080, 1140, 3135, 255, kDefaultTitle, display, 10.5, false}, QStringLiteral("Label3"));
    Label2[0] = addCaption(this, {3120, 1440, 795, 210, "演奏者:", caption, 10.5, true}, QStringLiteral("Label2_0"));
    Label9 = addCaption(this, {4080, 1440, 2175, 255, kDefaultAuthor, display, 10.5, false}, QStringLiteral("Label9"));
    Label10 = new ClockFace(this);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label10->setGeometry(TwipsRect(6360, 1410, 1215, 255));
    setTextColor(Label10, brand);
    Label10->setFont(songTi(12, true));
    Label10->setText(QString::fromUtf8(kProductName));
    if (!skin_.isNull())
        Label10->setBackdrop(skin_.copy(Label10->geometry()));
    // Over the skin's lamp at the right of the panel.
    lamp_ = new SoundLamp(this);
    lamp_->setObjectName(QStringLiteral("SoundLamp"));
    lamp_->setGeometry(743, 159, 13, 13);
    // "Sized to its text": the two fixed captions grow to what they show.
    for (QLabel* label : Label2)
        label->adjustSize();

}

// The captions over the command buttons and the settings.
void Form2::buildCaptions()
{
    const QColor command(107, 115, 116);
    const struct { int index, left, width; const char* caption; } commandCaptions[] = {
        {0, 720, 375, "录制"},  {1, 1320, 495, "播放"},  {2, 1920, 495, "停止"},  {3, 2520, 495, "保存"},
        {4, 3120, 495, "打开"}, {5, 3720, 495, "键名"},  {6, 4320, 495, "消音"},  {10, 4920, 495, "锁定"},
        {11, 7440, 495, "音 长"}, {7, 8520, 735, "音 调"}, {8, 9960, 735, "乐 器"},
    };
    for (const auto& c : commandCaptions)
        Label6[c.index] = addCaption(this, {c.left, 2130, c.width, 255, c.caption, command, 0, false},
                                    QStringLiteral("Label6_%1").arg(c.index));
    Label6[12] = addCaption(this, {180, 2760, 495, 255, "随机", command, 0, false}, QStringLiteral("Label6_12"));
    Label6[9] = addCaption(this, {165, 3780, 495, 255, "关闭", command, 0, false}, QStringLiteral("Label6_9"));

}

// The pitch and volume knobs.
void Form2::buildKnobs()
{
    const QPixmap knob = loadPicture(":/window/knob.png", QSize(11, 19), QColor(160, 160, 160));
    const struct { int index, left, top; const char* tip; } knobs[] = {
        {1, 8190, 600, "音高调节"}, {2, 8690, 360, "音量调节"}};
    for (const auto& k : knobs) {
        auto* widget = new Knob(k.index, this);
        widget->setObjectName(QStringLiteral("Picture4_%1").arg(k.index));
        widget->setPixmap(knob);
        widget->setGeometry(TwipsToPixels(k.left), TwipsToPixels(k.top), knob.width(), knob.height());
        widget->setTop(k.top);
        widget->setToolTip(QString::fromUtf8(k.tip));
        connect(widget, &Knob::mouseDown, this, &Form2::Picture4_MouseDown);
        connect(widget, &Knob::mouseMove, this, &Form2::Picture4_MouseMove);
        connect(widget, &Knob::mouseUp, this, [this](int index, double) { Picture4_MouseUp(index); });
        Picture4[k.index] = widget;
    }

}

// The ten picture buttons and their faces.
void Form2::buildButtons()
{
    const struct { int index, left, top, height; const char* tip; } buttons[] = {
        {1, 720, 2390, 270, "录制音乐"},  {2, 1320, 2390, 270, "播放音乐"}, {7, 1920, 2390, 270, "停止操作"},
        {3, 2520, 2390, 270, "保存音乐"},  {4, 3120, 2390, 270, "打开音乐文件"}, {5, 3720, 2390, 270, "显示键名"},
        {6, 4320, 2390, 270, "自动消音"},
        {8, 4920, 2390, 270, "自动播放音乐时锁定键盘属性"},
        {9, 150, 3120, 360, nullptr},     {0, 150, 4080, 360, "关闭程序"},
    };
    for (const auto& b : buttons) {
        auto* button = new PictureButton(b.index, this);
        button->setObjectName(QStringLiteral("Com_%1").arg(b.index));
        button->setGeometry(TwipsRect(b.left, b.top, 420, b.height));
        if (b.tip)
            button->setToolTip(QString::fromUtf8(b.tip));
        connect(button, &PictureButton::mouseDown, this, &Form2::Com_MouseDown);
        connect(button, &PictureButton::mouseUp, this, &Form2::Com_MouseUp);
        connect(button, &PictureButton::clicked, this, &Form2::Com_Click);
        Com[b.index] = button;
    }

    const QSize faceSize(38, 26);
    Image3 = loadPicture(":/window/face_pressed.png", faceSize, QColor(90, 90, 90));
    Image4 = loadPicture(":/window/face_normal.png", faceSize, QColor(150, 150, 150));
    Image5 = loadPicture(":/window/face_lit.png", faceSize, QColor(120, 200, 90));
    Image2 = loadPicture(":/window/face_unused.png", faceSize, QColor(150, 150, 150));

}

// The note length box and the key and instrument lists.
void Form2::buildFields()
{
    Text3 = new QLineEdit(QStringLiteral("100"), this);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setGeometry(TwipsRect(7320, 2360, 735, 300));
    Text3->setMaxLength(4);
    Text3->setAlignment(Qt::AlignCenter);
    Text3->setFrame(false);
    // Only a click puts the caret here: typed keys play the keyboards, and a
    // box that took the focus by itself would swallow them as a note length.
    Text3->setFocusPolicy(Qt::ClickFocus);
    setTextColor(Text3, kFieldText, kFieldBack);
    connect(Text3, &QLineEdit::textChanged, this, [this] { Text3_Change(); });
    // The box keeps the keys while a length is typed; Enter, Tab, Esc or a
    // click elsewhere give them back to the keyboards.
    connect(Text3, &QLineEdit::returnPressed, this, &Form2::moveFocusToClose);
    Text3->installEventFilter(this);

    auto makeList = [&](const QString& name, int left, const char* const* entries, int count) {
        auto* list = new DropList(this);
        list->setObjectName(name);
        list->setGeometry(TwipsRect(left, 2360, 1335, 300));
        list->setEditable(false);
        list->setFocusPolicy(Qt::ClickFocus);
        for (int i = 0; i < count; ++i)
            list->addItem(QString::fromUtf8(entries[i]));
        list->setCurrentIndex(-1);  // no selection until the window first becomes active
        list->setMaxVisibleItems(16);
        setTextColor(list, kFieldText, kFieldBack);
        list->setAttribute(Qt::WA_NoMousePropagation);
        return list;
    };
    ComDevies = makeList(QStringLiteral("ComDevies"), 8160, songs::kKeyNames, songs::kKeyCount);
    ComSounds = makeList(QStringLiteral("ComSounds"), 9600, songs::kInstrumentNames, songs::kInstrumentCount);
    // The user's choice runs Click even when it picks the entry already shown.
    connect(ComDevies, &QComboBox::activated, this, [this] { ComDevies_Click(); });
    connect(ComSounds, &QComboBox::activated, this, [this] { ComSounds_Click(); });
    for (QComboBox* list : {ComDevies, ComSounds})
        connect(static_cast<DropList*>(list), &DropList::closed, this, &Form2::moveFocusToClose);

}

// The two keyboards and their mute zones.
void Form2::buildKeyboards()
{
    // The keyboards, with the values they were designed with.
    PropertyBag upper = UpperKeyboardSettings();
    PropertyBag lower = LowerKeyboardSettings();
    MIDi2 = new MIDi(this);
    MIDi2->setObjectName(QStringLiteral("MIDi2"));
    MIDi2->LoadSettings(upper, true);
    MIDi2->setGeometry(TwipsRect(720, 2720, 10380, 1095));
    MIDi1 = new MIDi(this);
    MIDi1->setObjectName(QStringLiteral("MIDi1"));
    MIDi1->LoadSettings(lower, true);
    MIDi1->setGeometry(TwipsRect(720, 3840, 10380, 1095));
    for (MIDi* instrument : {MIDi1, MIDi2}) {
        instrument->setAttribute(Qt::WA_NoMousePropagation);
        connect(instrument, &MIDi::NotePlayed, this,
                [this, instrument](std::int16_t& note) { NotePlayed(instrument, note); }, Qt::DirectConnection);
        instrument->setKeyGate([this] { return keysBelongToKeyboard(); });
    }

    LABEL1 = new MouseZone(this);
    LABEL1->setObjectName(QStringLiteral("LABEL1"));
    LABEL1->setGeometry(TwipsRect(11160, 2640, 495, 1095));
    Image1 = new MouseZone(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(TwipsRect(11160, 3840, 495, 975));
    for (MouseZone* zone : {LABEL1, Image1})
        zone->setToolTip(QStringLiteral("鼠标在此移动消音"));
    connect(LABEL1, &MouseZone::moved, this, [this] { MIDi2->Mute(); });
    connect(Image1, &MouseZone::moved, this, [this] { MIDi1->Mute(); });

}

// The song-information panel, hidden until a recording starts.
void Form2::buildSongPanel()
{
    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(TwipsRect(3840, 1440, 3975, 1815));
    Picture1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Picture1->setAutoFillBackground(true);
    Picture1->setAttribute(Qt::WA_NoMousePropagation);
    setTextColor(Picture1, QColor(0, 0, 0), kFieldBack);
    auto panelLabel = [this](const QString& name, int top, const char* text) {
        auto* label = new QLabel(QString::fromUtf8(text), Picture1);
        label->setObjectName(name);
        label->setGeometry(TwipsRect(240, top, 735, 375));
        label->setFont(songTi(10.5, false));
        setTextColor(label, QColor(0, 0, 0));
        return label;
    };
    auto panelText = [this](const QString& name, int top, const char* text) {
        auto* box = new QLineEdit(QString::fromUtf8(text), Picture1);
        box->setObjectName(name);
        box->setGeometry(TwipsRect(1200, top, 2055, 330));
        box->setMaxLength(20);
        box->setAlignment(Qt::AlignCenter);
        box->setFont(songTi(12, false));
        setTextColor(box, QColor(255, 255, 0), QColor(128, 128, 128));
        return box;
    };
    Label7 = panelLabel(QStringLiteral("Label7"), 360, "音乐名:");
    Text1 = panelText(QStringLiteral("Text1"), 240, kDefaultTitle);
    Label8 = panelLabel(QStringLiteral("Label8"), 840, "演奏者:");
    Text2 = panelText(QStringLiteral("Text2"), 720, kDefaultAuthor);
    Command1 = new QPushButton(QStringLiteral("确  定"), Picture1);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(TwipsRect(1560, 1320, 855, 375));
    setTextColor(Command1, QColor(0, 0, 0), kFieldBack);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    Command2 = new QPushButton(QStringLiteral("取  消"), Picture1);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(TwipsRect(2640, 1320, 855, 375));
    setTextColor(Command2, QColor(0, 0, 0), kFieldBack);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    // Enter confirms from either box, Esc cancels.
    connect(Text1, &QLineEdit::returnPressed, this, &Form2::Command1_Click);
    connect(Text2, &QLineEdit::returnPressed, this, &Form2::Command1_Click);
    for (QWidget* part : std::initializer_list<QWidget*>{Text1, Text2, Command1, Command2})
        part->installEventFilter(this);
    Picture1->hide();
}

void Form2::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (skin_.isNull())
        painter.fillRect(rect(), palette().color(QPalette::Window));
    else
        painter.drawPixmap(0, 0, skin_);  // unscaled, at the window's origin
}

// ---------------------------------------------------------------- start-up

void Form2::chooseAppDir(const QString& appDir, const QString& dataDir)
{
    QString dir = appDir.isEmpty() ? QCoreApplication::applicationDirPath() : appDir;
    dir = QDir::cleanPath(dir);
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    // An installed program's folder is not the user's to write: an installed
    // program (one in a bin folder), or one whose folder can neither hold nor
    // make a writable Music, keeps Music in the user's data folder instead.
    // Root may write to /usr/bin, which must not get a Music folder.
    const QFileInfo music(dir + QStringLiteral("Music"));
    const bool installed = QDir(dir).dirName() == QLatin1String("bin");
    const bool usable = !installed && (music.isDir() ? music.isWritable() : QFileInfo(dir).isWritable());
    if (!usable) {
        QString fallback = dataDir.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                                             : dataDir;
        if (!fallback.isEmpty()) {
            QDir().mkpath(fallback);
            dir = QDir::cleanPath(fallback);
            if (!dir.endsWith(QLatin1Char('/')))
                dir += QLatin1Char('/');
        }
    }
    AppDir = dir;
}

QString Form2::scratchPath() const { return AppDir + QStringLiteral("Music/~Mid.Dat"); }

void Form2::Load()
{
    for (PictureButton* button : Com)
        button->paintFace(Image4);
    ActiveMIDi = MIDi2;
    std::int16_t note = 24;
    NotePlayed(MIDi1, note);  // makes MIDi1 active and brings the panel in line with it
    MIDi1->StartMIDi();
    MIDi2->StartMIDi();

    // From here on a failing step is skipped.
    const QString music = AppDir + QStringLiteral("Music");
    if (!QFileInfo::exists(music))
        QDir().mkpath(music);
    co.InitDir = music;
    co.Places = {music, QString::fromStdString(songs::TakesFolder(scratchPath().toStdString()))};
    RefreshSilencer();

    SongPath = scratchPath();
    shownSong_ = SongPath;
    if (!songArgument_.isEmpty())
        playSongArgument(songArgument_);
}

void Form2::playSongArgument(QString path)
{
    // The shells here already remove the quotes around a path; drop them
    // only where they are still there.
    if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"')))
        path = path.mid(1, path.size() - 2);
    const QString name = QFileInfo(path).fileName();
    if (isMidiFile(path)) {
        // A MIDI file plays as a song made of it; one that cannot be read
        // leaves the window as without a song.
        SongPath = scratchPath();
        if (openMidiFile(path))
            Com_Click(2);
        else
            notice(QStringLiteral("无法打开 %1").arg(name));
        return;
    }
    SongPath = path;
    shownSong_ = path;
    std::string title, author;
    songs::ReadHeaderLine(SongPath.toStdString(), title, author);
    Label3->setText(QString::fromStdString(title));
    Label9->setText(QString::fromStdString(author));
    Com_Click(2);
    if (!songs::WhyUnreadable(path.toStdString()).empty())
        notice(QFileInfo::exists(path) ? QStringLiteral("无法打开 %1").arg(name) : QStringLiteral("找不到 %1").arg(name));
}

void Form2::playHandedSong(const QString& path)
{
    if (waitingForTitle_) {
        // The Record command is waiting for its title: it is cancelled, and
        // the song plays once that command has ended.
        pendingSong_ = path;
        Command2_Click();
        return;
    }
    if (!path.isEmpty()) {
        if (Recording)
            RecordCommand();  // the take ends with its end marker, as Stop does
        if (player.isOpen())
            StopPlayback();
        playSongArgument(path);
    }
    showNormal();
    raise();
    activateWindow();
}

bool Form2::keysBelongToKeyboard() const
{
    if (QApplication::activePopupWidget() || QApplication::activeModalWidget())
        return false;  // an open list, a menu, a dialog
    const QWidget* focus = QApplication::focusWidget();
    return !(qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QComboBox*>(focus) ||
             qobject_cast<const QAbstractSpinBox*>(focus) || qobject_cast<const QTextEdit*>(focus) ||
             qobject_cast<const QPlainTextEdit*>(focus));
}

bool Form2::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        watched->isWidgetType() && static_cast<QWidget*>(watched)->parentWidget() == Picture1) {
        Command2_Click();
        return true;
    }
    if (watched == Text3 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            moveFocusToClose();
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonPress && watched != Text3 && Text3->hasFocus() &&
               watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this) {
        moveFocusToClose();
    }
    return QWidget::eventFilter(watched, event);
}

void Form2::notice(const QString& text)
{
    if (Label3->text() != noticeText_ || !noticeTimer_.isActive())
        titleUnderNotice_ = Label3->text();
    noticeText_ = text;
    Label3->setText(text);
    noticeTimer_.start();
}

void Form2::endNotice()
{
    noticeTimer_.stop();
    // A song shown meanwhile keeps its title.
    if (!noticeText_.isEmpty() && Label3->text() == noticeText_)
        Label3->setText(titleUnderNotice_);
    noticeText_.clear();
}

QString Form2::displayedTitle() const
{
    return !noticeText_.isEmpty() && Label3->text() == noticeText_ ? titleUnderNotice_ : Label3->text();
}

void Form2::Unload()
{
    if (unloaded_)
        return;
    unloaded_ = true;
    // A recording in progress keeps every record written so far, on the disk.
    recorder.flush();
    MIDi1->StopMIDi();
    // The process ends at once: no further handler runs. A recording in
    // progress keeps every record written so far, without its end marker.
    Timer2.stop();
    Timer3.stop();
    Timer4.stop();
    hide();
    if (exitProcess)
        exitProcess();
}

void Form2::closeEvent(QCloseEvent* event)
{
    Unload();
    event->accept();
}

bool Form2::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate && !activated_)
        Activate();
    return QWidget::event(e);
}

// ---------------------------------------------------------------- chrome

void Form2::Activate()
{
    // Only the first activation: switching back from another application
    // leaves the lists as the user set them.
    activated_ = true;
    setWindowTitle(QString::fromUtf8(kProductName));
    setListIndex(ComDevies, 0);
    setListIndex(ComSounds, 0);
}

void Form2::mousePressEvent(QMouseEvent* e)
{
    Form_MouseDown(e->position().x() * kTwipsPerPixel, e->position().y() * kTwipsPerPixel);
}

void Form2::mouseMoveEvent(QMouseEvent* e)
{
    Form_MouseMove(e->position().x() * kTwipsPerPixel, e->position().y() * kTwipsPerPixel);
}

void Form2::mouseReleaseEvent(QMouseEvent*) { Form_MouseUp(); }

void Form2::Form_MouseDown(double X, double Y)
{
    DragStartX = X;
    DragStartY = Y;
}

void Form2::Form_MouseMove(double X, double Y)
{
    if (++DragMoves < 3)
        return;
    DragMoves = 0;
    // A press on the very first column or row leaves a start at 0: no drag.
    if (DragStartX != 0 && DragStartY != 0)
        move(pos() + QPoint(TwipsToPixels(X - DragStartX), TwipsToPixels(Y - DragStartY)));
}

void Form2::Form_MouseUp()
{
    DragStartX = 0;
    DragStartY = 0;
}

void Form2::setMonotonicClock(std::function<std::int64_t()> clock)
{
    monotonicMs_ = std::move(clock);
    gapStartMs_ = monotonicMs_();
}

std::int16_t Form2::GapTicks() const
{
    const std::int64_t ticks = (monotonicMs_() - gapStartMs_) / kTickMs;
    return std::int16_t(std::clamp<std::int64_t>(ticks, 0, kLongestGapTicks));
}

void Form2::Timer2_Timer()
{
    // The display shows whole seconds: the next tick comes when the second
    // turns, not every 10 ms. The recording gap is counted by the clock.
    const QTime now = QTime::currentTime();
    Label10->setText(QLocale::system().toString(now, clockFormat_));
    Timer2.start(1000 - now.msec());
}

void Form2::Timer4_Timer()
{
    Randomize();
    const int a = int(RoundHalfEven(Rnd() * 3));
    const int interval = int(RoundHalfEven(Rnd() * 300 * a + 1));
    Timer4.setInterval(interval);
    const int key = int(RoundHalfEven(Rnd() * 64));
    ActiveMIDi->Play(key, int(RoundHalfEven(interval / 10.0)));
}

// ---------------------------------------------------------------- ports menu

QMenu* Form2::portMenu()
{
    if (!outputPorts || !inputPorts)
        return nullptr;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const auto addChoices = [menu](const QString& title, const QString& none, const PortChoice& choice,
                                   const std::function<void(int)>& choose) {
        QMenu* sub = menu->addMenu(title);
        auto* group = new QActionGroup(sub);
        for (int i = -1; i < int(choice.ports.size()); ++i) {
            QAction* action = sub->addAction(i < 0 ? none : choice.ports[i]);
            action->setCheckable(true);
            action->setChecked(i == choice.current);
            group->addAction(action);
            QObject::connect(action, &QAction::triggered, sub, [choose, i] {
                if (choose)
                    choose(i);
            });
        }
    };
    addChoices(QStringLiteral("MIDI 输出"), QStringLiteral("内置合成器"), outputPorts(), chooseOutput);
    addChoices(QStringLiteral("MIDI 输入"), QStringLiteral("无"), inputPorts(), chooseInput);
    return menu;
}

void Form2::contextMenuEvent(QContextMenuEvent* event)
{
    // The window's background only: the controls keep their own menus.
    if (QMenu* menu = portMenu())
        menu->popup(event->globalPos());
}
