#include "window/form2.h"

#include "notation/jianpu.h"
#include "performance/metronome.h"
#include "performance/tempo.h"
#include "window/followwindow.h"
#include "window/lessonrun.h"

#include "instrument/instrument.h"
#include "instrument/picture.h"
#include "instrument/propertybag.h"
#include "songs/recorder.h"
#include "window/buttons.h"
#include "window/controls.h"
#include "window/look.h"
#include "window/portchooser.h"
#include "window/randomplay.h"
#include "window/settingspanel.h"
#include "window/songcommands.h"
#include "instrument/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QActionGroup>
#include <QMenu>
#include <QMessageBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QResource>
#include <QSpinBox>
#include <QTextEdit>
#include <QTime>
#include <QWidgetAction>
#include <QWindow>

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
constexpr int kNoticeMs = 2000;

struct LabelSpec {
    int left, top, width, height;
    const char* caption;
    QColor color;
    double points;  // 0: the window's default font
    bool bold;
};

Caption* addCaption(QWidget* parent, const LabelSpec& s, const QString& name)
{
    auto* label = new Caption(parent);
    label->setObjectName(name);
    label->setText(QString::fromUtf8(s.caption));
    label->setGeometry(twips::Rect(s.left, s.top, s.width, s.height));
    look::SetTextColor(label, s.color);
    if (s.points > 0)
        label->setFont(look::SongTi(s.points, s.bold));
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

}  // namespace

Form2::Form2(const Form2Options& options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), songArgument_(options.songArgument)
{
    initWindowResources();
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString::fromUtf8(kProductName));
    setFixedSize(twips::ToPixels(kClientWidthTwips), twips::ToPixels(kClientHeightTwips));
    setMouseTracking(true);  // every move over the background counts towards a drag
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(74, 107, 196));
    p.setColor(QPalette::WindowText, QColor(255, 255, 255));
    setPalette(p);
    QIcon icon;
    for (const char* size : {"16", "32", "48"})
        icon.addPixmap(QPixmap::fromImage(ReadPicture(QStringLiteral(":/window/icon%1.png").arg(QLatin1String(size)))));
    setWindowIcon(icon);
    const QResource skin(QStringLiteral(":/window/skin.rgb32"));
    skin_ = RawPicture(skin.data(), skin.size());

    // In the order the window stacks them.
    panel_ = std::make_unique<SettingsPanel>(ActiveMIDi);
    buildDisplay();
    buildCaptions();
    panel_->buildKnobs(this);
    buildButtons();
    panel_->buildFields(this);
    buildKeyboards();
    MIDi1->setPort(options.port);
    MIDi2->setPort(options.port);
    metronome_ = std::make_unique<performance::Metronome>(performance::ClickSender(options.port),
                                                         &std::chrono::steady_clock::now,
                                                         performance::TimedClicks(options.port));
    commands_ = makeSongCommands(options);
    wireParts();

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

    Timer2.setSingleShot(true);
    Timer2.setTimerType(Qt::PreciseTimer);
    Timer2.setInterval(kClockFirstTickMs);
    Timer4.setInterval(500);
    connect(&Timer2, &QTimer::timeout, this, &Form2::Timer2_Timer);
    connect(&Timer4, &QTimer::timeout, this, &Form2::Timer4_Timer);
    Timer2.start();
    noticeTimer_.setSingleShot(true);
    noticeTimer_.setInterval(kNoticeMs);
    connect(&noticeTimer_, &QTimer::timeout, this, &Form2::endNotice);
}

Form2::~Form2()
{
    Timer2.stop();
    Timer4.stop();
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
    Label10->setGeometry(twips::Rect(6360, 1410, 1215, 255));
    look::SetTextColor(Label10, brand);
    Label10->setFont(look::SongTi(12, true));
    Label10->setText(QString::fromUtf8(kProductName));
    if (!skin_.isNull())
        Label10->setBackdrop(QPixmap::fromImage(skin_.copy(Label10->geometry())));
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
        button->setGeometry(twips::Rect(b.left, b.top, 420, b.height));
        if (b.tip)
            button->setToolTip(QString::fromUtf8(b.tip));
        connect(button, &PictureButton::mouseDown, this, &Form2::Com_MouseDown);
        connect(button, &PictureButton::mouseUp, this, &Form2::Com_MouseUp);
        connect(button, &PictureButton::clicked, this, &Form2::Com_Click);
        Com[b.index] = button;
    }

    const QSize faceSize(38, 26);
    Image3 = look::LoadPicture(":/window/face_pressed.png", faceSize, QColor(90, 90, 90));
    Image4 = look::LoadPicture(":/window/face_normal.png", faceSize, QColor(150, 150, 150));
    Image5 = look::LoadPicture(":/window/face_lit.png", faceSize, QColor(120, 200, 90));

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
    MIDi2->setGeometry(twips::Rect(720, 2720, 10380, 1095));
    MIDi1 = new MIDi(this);
    MIDi1->setObjectName(QStringLiteral("MIDi1"));
    MIDi1->LoadSettings(lower, true);
    MIDi1->setGeometry(twips::Rect(720, 3840, 10380, 1095));
    for (MIDi* instrument : {MIDi1, MIDi2}) {
        instrument->setAttribute(Qt::WA_NoMousePropagation);
        connect(instrument, &MIDi::NotePlayed, this,
                [this, instrument](std::int16_t note) { NotePlayed(instrument, note); }, Qt::DirectConnection);
        instrument->setKeyGate([this] { return keysBelongToKeyboard(); });
        const int number = instrument == MIDi1 ? songs::kLowerKeyboard : songs::kUpperKeyboard;
        instrument->releaseRecorder = [this, number](int key, bool down) { commands_->recordLength(number, key, down); };
    }

    LABEL1 = new MouseZone(this);
    LABEL1->setObjectName(QStringLiteral("LABEL1"));
    LABEL1->setGeometry(twips::Rect(11160, 2640, 495, 1095));
    Image1 = new MouseZone(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twips::Rect(11160, 3840, 495, 975));
    for (MouseZone* zone : {LABEL1, Image1})
        zone->setToolTip(QStringLiteral("鼠标在此移动消音"));
    connect(LABEL1, &MouseZone::moved, this, [this] { MIDi2->Mute(); });
    connect(Image1, &MouseZone::moved, this, [this] { MIDi1->Mute(); });

}

std::unique_ptr<SongCommands> Form2::makeSongCommands(const Form2Options& options)
{
    SongCommands::Parts parts;
    parts.window = this;
    parts.lower = MIDi1;
    parts.upper = MIDi2;
    parts.buttons = &Com;
    parts.normalFace = &Image4;
    parts.litFace = &Image5;
    parts.title = Label3;
    parts.author = Label9;
    parts.dialog = &co;
    parts.panel = panel_.get();
    auto commands = std::make_unique<SongCommands>(parts, ActiveMIDi, options.appDir, options.dataDir);
    commands->buildSongPanel();
    return commands;
}

// The parts speak to each other through the window.
void Form2::wireParts()
{
    // The panel's changes are recorded while a recording runs.
    panel_->writeRecord = [this](songs::Tag tag, const QString& value) { commands_->writeSettingRecord(tag, value); };
    panel_->focusAway = [this] { moveFocusToClose(); };
    panel_->showSilencer = [this](bool on) { Com[buttons::kSilencer]->paintFace(on ? Image5 : Image4); };
    commands_->beep = [this] {
        if (beep)
            beep();
    };
    commands_->warn = [this](const QString& message) {
        if (warn)
            warn(message);
    };
    commands_->notice = [this](const QString& text) { notice(text); };
    commands_->displayedTitle = [this] { return displayedTitle(); };
    commands_->focusAway = [this] { moveFocusToClose(); };
    commands_->activeChanged = [this] { showKeyNames(); };
    commands_->recordingStarts = [this] {
        if (!choices_.metronome)
            return songs::SongTime{};
        applyMetronome(true);  // the bar before the first note is the count-in
        return metronome_->beat().songTime();
    };
    commands_->playbackStarting = [this](const QString& song) {
        if (follow_ && follow_->isVisible())
            follow_->showSong(song);
    };
    commands_->commandGiven = [this] { endRandomPlay(); };
    lesson_ = std::make_unique<LessonRun>(*MIDi1, *MIDi2);
    lesson_->status = [this](const QString& text) { Label3->setText(text); };
    lesson_->songStopping = [this] {
        if (commands_->isPlaying())
            commands_->StopPlayback();
    };
    commands_->songTimeRead = [this](const songs::SongTime& time) { followSong(time, commands_->tempo(), true); };
    commands_->playbackEnded = [this] { followSong({}, 100, false); };
    lesson_->countIn = [this](const QString& song, int percent) { return countInLesson(song, percent); };
    lesson_->ended = [this] { followSong({}, 100, false); };
    // The score shows the lesson on the song it draws: a loop chosen on it
    // is the lesson's.
    const auto lessonScore = [this]() -> FollowWindow* { return follow_ && follow_->isVisible() ? follow_ : nullptr; };
    lesson_->loopSpan = [this, lessonScore](const QString& song) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
        FollowWindow* follow = lessonScore();
        if (!follow)
            return std::nullopt;
        if (follow->shownPath() != commands_->scoreOf(song))
            follow->showSong(commands_->scoreOf(song));
        return follow->loopSpan();
    };
    lesson_->nextNotes = [lessonScore](const std::vector<performance::LessonNote>& next) {
        if (FollowWindow* follow = lessonScore())
            follow->markLessonNext(next);
    };
    lesson_->weakBars = [lessonScore](const std::vector<std::int64_t>& weakMs) {
        if (FollowWindow* follow = lessonScore())
            follow->markWeakBars(weakMs);
    };
    lesson_->keepBest = [this](const QString& song, int percent) {
        const PlayingChoices before = choices_;
        const int best = KeepLessonBest(choices_, commands_->lessonKey(song), percent);
        if (choices_ != before && choicesChanged)
            choicesChanged(choices_);
        return best;
    };
}

void Form2::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (skin_.isNull())
        painter.fillRect(rect(), palette().color(QPalette::Window));
    else
        painter.drawImage(0, 0, skin_);  // unscaled, at the window's origin
}

// ---------------------------------------------------------------- start-up

void Form2::Load()
{
    for (PictureButton* button : Com)
        button->paintFace(Image4);
    ActiveMIDi = MIDi2;
    NotePlayed(MIDi1, 24);  // makes MIDi1 active and brings the panel in line with it
    MIDi1->StartMIDi();
    MIDi2->StartMIDi();

    // From here on a failing step is skipped.
    panel_->RefreshSilencer();
    showKeyNames();
    commands_->load(songArgument_);
}

void Form2::playHandedSong(const QString& path)
{
    commands_->playHandedSong(path);
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
    commands_->unload();
    MIDi1->StopMIDi();
    // The process ends at once: no further handler runs.
    Timer2.stop();
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
    panel_->chooseFirstEntries();
}

void Form2::mousePressEvent(QMouseEvent* e)
{
    const double X = e->position().x() * twips::kPerPixel, Y = e->position().y() * twips::kPerPixel;
    // Where the compositor alone places the windows (Wayland), a window that
    // moves itself stays where it is: the press hands the drag to the
    // compositor. The right button opens the menu, which a compositor's move
    // would take the pointer from.
    if (compositorPlacesWindows_ && X != 0 && Y != 0 && e->button() != Qt::RightButton && windowHandle() &&
        windowHandle()->startSystemMove())
        return;
    Form_MouseDown(X, Y);
}

void Form2::mouseMoveEvent(QMouseEvent* e)
{
    Form_MouseMove(e->position().x() * twips::kPerPixel, e->position().y() * twips::kPerPixel);
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
        move(pos() + QPoint(twips::ToPixels(X - DragStartX), twips::ToPixels(Y - DragStartY)));
}

void Form2::Form_MouseUp()
{
    DragStartX = 0;
    DragStartY = 0;
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
    const RandomStep step = NextRandomStep(Rnd);
    Timer4.setInterval(step.waitMs);
    ActiveMIDi->Play(step.key, step.ticks);
}

// ---------------------------------------------------------------- ports menu

QMenu* Form2::portMenu()
{
    if (!ports_)
        return nullptr;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const auto addChoices = [menu](const QString& title, const QString& none, const PortChooser::Choice& choice,
                                   const std::function<void(int)>& choose) {
        QMenu* sub = menu->addMenu(title);
        auto* group = new QActionGroup(sub);
        for (int i = -1; i < int(choice.ports.size()); ++i) {
            QAction* action = sub->addAction(i < 0 ? none : choice.ports[i]);
            action->setCheckable(true);
            action->setChecked(i == choice.current);
            group->addAction(action);
            QObject::connect(action, &QAction::triggered, sub, [choose, i] { choose(i); });
        }
    };
    PortChooser* ports = ports_;
    const auto told = [this] {
        if (choicesChanged)
            choicesChanged(choices_);
    };
    addChoices(QStringLiteral("MIDI 输出"), QStringLiteral("内置合成器"), ports->outputs(), [ports, told](int i) {
        ports->chooseOutput(i);
        told();
    });
    addChoices(QStringLiteral("MIDI 输入"), QStringLiteral("无"), ports->inputs(), [ports, told](int i) {
        ports->chooseInput(i);
        told();
    });
    // The ways of playing, each a check mark.
    menu->addSeparator();
    const auto addChoice = [this, menu, told](const QString& title, bool PlayingChoices::*member) {
        QAction* action = menu->addAction(title);
        action->setCheckable(true);
        action->setChecked(choices_.*member);
        QObject::connect(action, &QAction::toggled, this, [this, member, told](bool on) {
            PlayingChoices changed = choices_;
            changed.*member = on;
            setChoices(changed);
            told();
        });
    };
    addChoice(QStringLiteral("下键盘按住发声"), &PlayingChoices::holdLower);
    addChoice(QStringLiteral("上键盘按住发声"), &PlayingChoices::holdUpper);
    addChoice(QStringLiteral("钢琴式键位"), &PlayingChoices::pianoKeys);
    addChoice(QStringLiteral("边听边弹"), &PlayingChoices::playAlong);
    addChoice(QStringLiteral("节拍器"), &PlayingChoices::metronome);
    // Its tempo and meter: a few of each, as a keyboard's buttons offer them.
    QMenu* beat = menu->addMenu(QStringLiteral("节拍器速度"));
    auto* beatGroup = new QActionGroup(beat);
    const auto addBeat = [this, told, beat, beatGroup](const QString& title, bool checked, auto change) {
        QAction* action = beat->addAction(title);
        action->setCheckable(true);
        action->setChecked(checked);
        beatGroup->addAction(action);
        QObject::connect(action, &QAction::triggered, this, [this, told, change] {
            PlayingChoices changed = choices_;
            change(changed);
            setChoices(changed);
            told();
        });
    };
    for (const int tempo : {40, 60, 72, 80, 90, 100, 108, 120, 132, 144, 160, 180, 200, 240})
        addBeat(QStringLiteral("\u2669=%1").arg(tempo), choices_.metronomeTempo == tempo,
                [tempo](PlayingChoices& c) { c.metronomeTempo = tempo; });
    beat->addSeparator();
    beatGroup = new QActionGroup(beat);
    for (const auto& [beats, unit] : {std::pair{2, 4}, std::pair{3, 4}, std::pair{4, 4}, std::pair{6, 8}})
        addBeat(QStringLiteral("%1/%2").arg(beats).arg(unit),
                choices_.metronomeBeats == beats && choices_.metronomeUnit == unit,
                [beats, unit](PlayingChoices& c) {
                    c.metronomeBeats = beats;
                    c.metronomeUnit = unit;
                });
    addChoice(QStringLiteral("键位"), &PlayingChoices::keyLabels);
    // Numbered notation: the score that follows the music, and the digits
    // on the keys.
    menu->addSeparator();
    commands_->addBankMenu(menu);
    QObject::connect(menu->addAction(QStringLiteral("显示简谱")), &QAction::triggered, this, [this] { showFollowWindow(); });
    QMenu* digits = menu->addMenu(QStringLiteral("键上数字"));
    auto* digitGroup = new QActionGroup(digits);
    for (int tonic = -1; tonic < 12; ++tonic) {
        const QString title = tonic < 0 ? QStringLiteral("固定调")
                                        : QStringLiteral("首调 1=%1").arg(QString::fromStdString(notation::TonicName(tonic)));
        QAction* action = digits->addAction(title);
        action->setCheckable(true);
        action->setChecked(choices_.digitKey == tonic);
        digitGroup->addAction(action);
        QObject::connect(action, &QAction::triggered, this, [this, tonic, told] {
            PlayingChoices changed = choices_;
            changed.digitKey = tonic;
            setChoices(changed);
            told();
        });
    }
    // 速度, for a song played and for a lesson alike: a box, so that any
    // tempo can be typed, stepping by tens.
    auto* tempoBox = new QSpinBox(menu);
    tempoBox->setObjectName(QStringLiteral("tempoBox"));
    tempoBox->setRange(performance::kSlowestTempoPercent, performance::kFastestTempoPercent);
    tempoBox->setSingleStep(10);
    tempoBox->setPrefix(QStringLiteral("速度 "));
    tempoBox->setSuffix(QStringLiteral(" %"));
    tempoBox->setValue(choices_.tempo);
    auto* tempoAction = new QWidgetAction(menu);
    tempoAction->setDefaultWidget(tempoBox);
    menu->addAction(tempoAction);
    QObject::connect(tempoBox, &QSpinBox::valueChanged, this, [this, told](int percent) {
        PlayingChoices changed = choices_;
        changed.tempo = percent;
        setChoices(changed);
        told();
    });
    lesson_->addMenu(menu, [this] { return commands_->shownSong(); });
    return menu;
}

void Form2::contextMenuEvent(QContextMenuEvent* event)
{
    // The window's background only: the controls keep their own menus.
    if (QMenu* menu = portMenu())
        menu->popup(event->globalPos());
}

// ---------------------------------------------------------------- buttons and keys

void Form2::Com_MouseDown(int Index) { Com[Index]->paintFace(Image3); }

void Form2::Com_MouseUp(int Index) { Com[Index]->paintFace(Image4); }

void Form2::Com_Click(int Index)
{
    using namespace buttons;
    if (Index != kRandom)
        endRandomPlay();
    switch (Index) {
    case kClose:
        Unload();
        break;
    case kRecord:
        commands_->RecordCommand();
        break;
    case kPlay:
        commands_->PlayCommand();
        break;
    case kSave:
        commands_->SaveCommand();
        break;
    case kOpen:
        commands_->OpenCommand();
        break;
    case kKeyNames:
        ActiveMIDi->SetLogo(!ActiveMIDi->Logo());
        showKeyNames();
        break;
    case kSilencer:
        ActiveMIDi->Mute();
        ActiveMIDi->SetSilencer(!ActiveMIDi->Silencer());
        panel_->RefreshSilencer();
        break;
    case kStop:
        commands_->StopCommand();
        break;
    case kLock:
        commands_->toggleLock();
        Com[kLock]->paintFace(commands_->locked() ? Image5 : Image4);
        break;
    case kRandom:
        if (Timer4.isActive())
            Timer4.stop();
        else
            Timer4.start();
        Com[kRandom]->paintFace(Timer4.isActive() ? Image5 : Image4);
        break;
    default:
        break;
    }
}

void Form2::endRandomPlay()
{
    if (Timer4.isActive())
        Com_Click(buttons::kRandom);
}

void Form2::showKeyNames() { Com[buttons::kKeyNames]->paintFace(ActiveMIDi->Logo() ? Image5 : Image4); }

void Form2::moveFocusToClose()
{
    // Keeps typed keys out of the list or box just edited; before the window
    // is shown there is nowhere to move the focus, which is fine.
    if (isVisible())
        Com[buttons::kClose]->setFocus(Qt::OtherFocusReason);
}

void Form2::NotePlayed(MIDi* reporter, std::int16_t Note)
{
    // The key's records wait in memory until its note is out, so that the
    // note-on never waits for the disk.
    commands_->holdRecordsForKey();
    if (lesson_ && !reporter->strikingFromSong())
        lesson_->struck(reporter, Note);
    MIDi* other = reporter == MIDi1 ? MIDi2 : MIDi1;
    // A recording's first key switches too, so that it starts with "@TonD".
    if (reporter->objectName() != ActiveMIDi->objectName() || commands_->awaitingFirstKey()) {
        ActiveMIDi = reporter;
        commands_->writeSettingRecord(songs::Tag::Keyboard,
                                      QString::number(reporter == MIDi1 ? songs::kLowerKeyboard : songs::kUpperKeyboard));
        // The panel still shows the instrument active before: push only what differs.
        panel_->showDifferences(*other);
        showKeyNames();
    }
    commands_->RecordNote(Note);
    const auto note = reporter->noteOfKey(Note);
    if (follow_ && follow_->isVisible() && note) {
        // The score follows after the note is out.
        const bool upper = reporter == MIDi2;
        const int sounding = *note;
        const bool recording = commands_->isRecording();
        const bool fromSong = reporter->strikingFromSong();
        // A recording is written down as its song will be: in its key, under
        // the title the display shows.
        const FollowWindow::Heading heading{displayedTitle(), commands_->recordingTonic()};
        QMetaObject::invokeMethod(
            follow_,
            [follow = follow_, upper, sounding, recording, fromSong, heading] {
                if (recording)
                    follow->recorded(upper, sounding, heading);
                else if (fromSong)
                    follow->struck(upper, sounding);
            },
            Qt::QueuedConnection);
    }
}

MIDi* Form2::keyboardOfChannel(int channel) const { return channel == 0 ? MIDi1 : channel == 1 ? MIDi2 : ActiveMIDi; }

void Form2::MidiIn_Pedal(bool down, int channel)
{
    if (MIDi* target = keyboardOfChannel(channel))
        target->setPedal(down);
}

void Form2::setChoices(const PlayingChoices& choices)
{
    choices_ = choices;
    MIDi1->setHoldMode(choices.holdLower);
    MIDi2->setHoldMode(choices.holdUpper);
    // The piano map is the lower keyboard's; the upper one keeps the
    // classic right-hand block.
    MIDi1->setKeyLayout(choices.pianoKeys ? keymap::Layout::Piano : keymap::Layout::Classic);
    commands_->setPlayAlong(choices.playAlong);
    MIDi1->setKeyLabelsShown(choices.keyLabels);
    MIDi2->setKeyLabelsShown(choices.keyLabels);
    MIDi1->setDigitKey(choices.digitKey);
    MIDi2->setDigitKey(choices.digitKey);
    commands_->setTempo(choices.tempo);
    lesson_->setTempo(choices.tempo);
    // The song or lesson the metronome follows goes on at the new tempo.
    if (songTime_.known())
        songPercent_ = performance::ClampTempoPercent(choices.tempo);
    applyMetronome(false);
}

void Form2::applyMetronome(bool countIn)
{
    if (!metronome_)
        return;
    if (!choices_.metronome) {
        metronome_->stop();
        return;
    }
    performance::BeatClock beat;
    beat.setTempo(choices_.metronomeTempo);
    beat.setMeter(choices_.metronomeBeats, choices_.metronomeUnit);
    beat.followSong(songTime_, songPercent_);
    const performance::BeatClock& now = metronome_->beat();
    const bool same = now.tempo() == beat.tempo() && now.beats() == beat.beats() && now.unit() == beat.unit();
    if (countIn || !metronome_->running() || (!same && !songTime_.known()))
        metronome_->start(beat);
    else if (!same)
        metronome_->retime(beat);  // in step with the song, which keeps its place
}

void Form2::followSong(const songs::SongTime& time, int percent, bool countIn)
{
    songTime_ = time;
    songPercent_ = percent;
    applyMetronome(countIn && time.known());
}

std::int64_t Form2::countInLesson(const QString& song, int percent)
{
    if (!choices_.metronome)
        return 0;
    songs::SongTime time;
    int tone = 0;
    if (!songs::ReadSongTime(song.toStdString(), time, tone))
        time = {};  // unreadable: the chosen beat
    songTime_ = time;
    songPercent_ = percent;
    applyMetronome(true);  // beat one now: the lesson's first note is a bar away
    return std::chrono::duration_cast<std::chrono::milliseconds>(metronome_->beat().bar()).count();
}

FollowWindow& Form2::followWindow()
{
    if (!follow_) {
        follow_ = new FollowWindow(this);
        follow_->setAttribute(Qt::WA_QuitOnClose, false);
        follow_->setWindowIcon(windowIcon());
    }
    return *follow_;
}

void Form2::showFollowWindow()
{
    FollowWindow& follow = followWindow();
    if (!commands_->shownSong().isEmpty() && !follow.isVisible())
        follow.showSong(commands_->scoreOf(commands_->shownSong()));
    follow.show();
    follow.raise();
}

void Form2::MidiIn_Note(bool on, int channel, int note, int velocity)
{
    MIDi* target = keyboardOfChannel(channel);
    if (!target)
        return;
    const auto key = target->keyOfNote(note);
    if (!key)
        return;  // off the keys: nothing plays, as no typed key could strike it
    target->PlayLive(*key, on, liveVelocity_ ? velocity : -1);
}

void Form2::setSoundState(SoundLamp::State state, const QString& why) { lamp_->setState(state, why); }
