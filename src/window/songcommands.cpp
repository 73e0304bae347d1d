#include "window/songcommands.h"

#include "instrument/instrument.h"
#include "performance/settings.h"
#include "performance/tempo.h"
#include "notation/songbank.h"
#include "notation/songscore.h"
#include "songs/midiimport.h"
#include "songs/paths.h"
#include "songs/songcopy.h"
#include "songs/songfile.h"
#include "window/buttons.h"
#include "window/co.h"
#include "window/controls.h"
#include "window/look.h"
#include "window/platform/folders.h"
#include "window/settingspanel.h"
#include "instrument/twips.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

using namespace buttons;

namespace {

const char* const kDefaultTitle = "自由弹奏";
const char* const kDefaultAuthor = "佚名";
constexpr int kTickMs = 10;
constexpr std::int16_t kLongestGapTicks = 300;

}  // namespace

SongCommands::SongCommands(const Parts& parts, MIDi*& active, const QString& appDir, const QString& dataDir,
                           QObject* parent)
    : QObject(parent), parts_(parts), ActiveMIDi(active), host_(*parts.lower, *parts.upper)
{
    Timer3.setInterval(kTickMs);
    Timer3.setSingleShot(true);
    Timer3.setTimerType(Qt::PreciseTimer);
    connect(&Timer3, &QTimer::timeout, this, &SongCommands::playbackDue);
    // The song plays on the keyboards; the panel follows its settings.
    host_.locked = [this] { return LockSettings; };
    host_.timer = [this](bool on) {
        if (on)
            armPlayback();
        else
            Timer3.stop();
    };
    host_.ended = [this] { finishPlayback(); };
    host_.timeRead = [this](const songs::SongTime& time) {
        if (songTimeRead)
            songTimeRead(time);
    };
    host_.selected = [this](MIDi* keyboard) {
        const bool changed = keyboard != ActiveMIDi;
        ActiveMIDi = keyboard;
        if (changed && activeChanged)
            activeChanged();
    };
    // The panel shows the song's settings while it edits the keyboard the
    // song plays (a player playing along may have the other one).
    host_.settingApplied = [this](songs::Tag tag, std::int16_t value) {
        if (host_.active() == ActiveMIDi)
            parts_.panel->showSetting(tag, value);
    };
    setMonotonicClock([] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    });
    chooseAppDir(appDir, dataDir);
}

SongCommands::~SongCommands() { Timer3.stop(); }

// ---------------------------------------------------------------- the song panel

void SongCommands::buildSongPanel()
{
    QWidget* window = parts_.window;
    Picture1 = new QFrame(window);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twips::Rect(3840, 1440, 3975, 1815));
    Picture1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Picture1->setAutoFillBackground(true);
    Picture1->setAttribute(Qt::WA_NoMousePropagation);
    look::SetTextColor(Picture1, QColor(0, 0, 0), look::kFieldBack);
    auto panelLabel = [this](const QString& name, int top, const char* text) {
        auto* label = new QLabel(QString::fromUtf8(text), Picture1);
        label->setObjectName(name);
        label->setGeometry(twips::Rect(240, top, 735, 375));
        label->setFont(look::SongTi(10.5, false));
        look::SetTextColor(label, QColor(0, 0, 0));
        return label;
    };
    auto panelText = [this](const QString& name, int top, const char* text) {
        auto* box = new QLineEdit(QString::fromUtf8(text), Picture1);
        box->setObjectName(name);
        box->setGeometry(twips::Rect(1200, top, 2055, 330));
        box->setMaxLength(songs::kMaxHeaderFieldChars);
        box->setAlignment(Qt::AlignCenter);
        box->setFont(look::SongTi(12, false));
        look::SetTextColor(box, QColor(255, 255, 0), QColor(128, 128, 128));
        return box;
    };
    panelLabel(QStringLiteral("Label7"), 360, "音乐名:");
    Text1 = panelText(QStringLiteral("Text1"), 240, kDefaultTitle);
    panelLabel(QStringLiteral("Label8"), 840, "演奏者:");
    Text2 = panelText(QStringLiteral("Text2"), 720, kDefaultAuthor);
    auto panelButton = [this](const QString& name, int left, const QString& text) {
        auto* button = new QPushButton(text, Picture1);
        button->setObjectName(name);
        button->setGeometry(twips::Rect(left, 1320, 855, 375));
        look::SetTextColor(button, QColor(0, 0, 0), look::kFieldBack);
        return button;
    };
    Command1 = panelButton(QStringLiteral("Command1"), 1560, QStringLiteral("确  定"));
    Command2 = panelButton(QStringLiteral("Command2"), 2640, QStringLiteral("取  消"));
    connect(Command1, &QPushButton::clicked, this, &SongCommands::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &SongCommands::Command2_Click);
    // Enter confirms from either box, Esc cancels.
    connect(Text1, &QLineEdit::returnPressed, this, &SongCommands::Command1_Click);
    connect(Text2, &QLineEdit::returnPressed, this, &SongCommands::Command1_Click);
    for (QWidget* part : std::initializer_list<QWidget*>{Text1, Text2, Command1, Command2})
        part->installEventFilter(this);
    Picture1->hide();
}

bool SongCommands::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        watched->isWidgetType() && static_cast<QWidget*>(watched)->parentWidget() == Picture1) {
        Command2_Click();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// ---------------------------------------------------------------- start and end

void SongCommands::chooseAppDir(const QString& appDir, const QString& dataDir)
{
    QString dir = appDir.isEmpty() ? QCoreApplication::applicationDirPath() : appDir;
    dir = QDir::cleanPath(dir);
    // The bank ships with the program, wherever its Music folder ends up.
    programDir_ = dir;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    // An installed program's folder is not the user's to write: an installed
    // program, or one whose folder can neither hold nor make a writable
    // Music, keeps Music in the user's own folder instead.
    const QFileInfo music(dir + QStringLiteral("Music"));
    const bool usable = !InstalledProgram(dir) && (music.isDir() ? music.isWritable() : QFileInfo(dir).isWritable());
    if (!usable) {
        QString fallback = dataDir.isEmpty() ? UserSongsFolder() : dataDir;
        if (!fallback.isEmpty()) {
            QDir().mkpath(fallback);
            dir = QDir::cleanPath(fallback);
            if (!dir.endsWith(QLatin1Char('/')))
                dir += QLatin1Char('/');
        }
    }
    AppDir = dir;
}

QString SongCommands::scratchPath() const { return AppDir + QStringLiteral("Music/~Mid.Dat"); }

QString SongCommands::importedSongPath() const { return AppDir + QStringLiteral("Music/~Import.Dat"); }

void SongCommands::load(const QString& songArgument)
{
    // A failing step is skipped.
    if (!QFileInfo::exists(musicFolder()))
        QDir().mkpath(musicFolder());
    parts_.dialog->InitDir = musicFolder();
    bankFolder_ = QString::fromStdString(notation::BankFolder(programDir_.toStdString()));
    parts_.dialog->Places = {musicFolder(), QString::fromStdString(songs::TakesFolder(scratchPath().toStdString()))};
    if (!bankFolder_.isEmpty())
        parts_.dialog->Places << bankFolder_;
    SongPath = scratchPath();
    shownSong_ = SongPath;
    if (!songArgument.isEmpty())
        playSongArgument(songArgument);
}

void SongCommands::unload()
{
    unloaded_ = true;
    // A recording in progress keeps every record written so far, on the disk,
    // without its end marker.
    recorder.flush();
    Timer3.stop();
}

void SongCommands::say(const QString& text)
{
    if (notice)
        notice(text);
}

void SongCommands::setButtonsEnabled(std::initializer_list<int> indexes, bool on)
{
    for (const int i : indexes)
        (*parts_.buttons)[std::size_t(i)]->setEnabled(on);
}

void SongCommands::paintFace(int index, bool lit)
{
    (*parts_.buttons)[std::size_t(index)]->paintFace(lit ? *parts_.litFace : *parts_.normalFace);
}

void SongCommands::playSongArgument(QString path)
{
    // The shells here already remove the quotes around a path; drop them
    // only where they are still there.
    if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"')))
        path = path.mid(1, path.size() - 2);
    const QString name = QFileInfo(path).fileName();
    // Played as the Play button plays, which first ends random play.
    const auto play = [this] {
        if (commandGiven)
            commandGiven();
        PlayCommand();
    };
    if (isMidiFile(path) || notation::HasJianpuExtension(path.toStdString())) {
        // A MIDI file or a jianpu text plays as a song made of it; one that
        // cannot be read leaves the window as without a song.
        SongPath = scratchPath();
        QString why;
        if (openImportedFile(path, &why))
            play();
        else
            say(why.isEmpty() ? QStringLiteral("无法打开 %1").arg(name) : QStringLiteral("%1 %2").arg(name, why));
        return;
    }
    SongPath = path;
    shownSong_ = path;
    std::string title, author;
    songs::ReadHeaderLine(SongPath.toStdString(), title, author);
    parts_.title->setText(QString::fromStdString(title));
    parts_.author->setText(QString::fromStdString(author));
    play();
    if (!songs::WhyUnreadable(path.toStdString()).empty())
        say(QFileInfo::exists(path) ? QStringLiteral("无法打开 %1").arg(name) : QStringLiteral("找不到 %1").arg(name));
}

void SongCommands::playHandedSong(const QString& path)
{
    if (waitingForTitle_) {
        // The Record command is waiting for its title: it is cancelled, and
        // the song plays once that command has ended.
        pendingSong_ = path;
        Command2_Click();
        return;
    }
    if (path.isEmpty())
        return;
    if (Recording)
        RecordCommand();  // the take ends with its end marker, as Stop does
    if (player.isOpen())
        StopPlayback();
    playSongArgument(path);
}

void SongCommands::addBankMenu(QMenu* menu)
{
    if (!bankRead_ && !bankFolder_.isEmpty()) {
        bankRead_ = true;
        std::vector<std::string> errors, warnings;
        for (const notation::BankSong& song : notation::ReadBank(bankFolder_.toStdString(), errors, warnings))
            bank_.push_back({song.score.group, QString::fromStdString(notation::BankEntryLabel(song.score)),
                             QString::fromStdString(song.path)});
        for (const std::string& e : errors)
            std::fprintf(stderr, "sonarel: %s\n", e.c_str());
    }
    QMenu* songsMenu = menu->addMenu(QStringLiteral("曲库"));
    songsMenu->setEnabled(!bank_.empty());
    for (const std::string_view group : notation::kBankGroups) {
        QMenu* sub = nullptr;
        for (const BankEntry& entry : bank_) {
            if (entry.group != group)
                continue;
            if (!sub)
                sub = songsMenu->addMenu(QString::fromUtf8(group.data(), qsizetype(group.size())));
            const QString path = entry.path;
            connect(sub->addAction(entry.label), &QAction::triggered, this, [this, path] { playHandedSong(path); });
        }
    }
}

// ---------------------------------------------------------------- recording

void SongCommands::Command1_Click()
{
    Picture1->setVisible(false);
    parts_.lower->SetEnabled(true);
    parts_.upper->SetEnabled(true);
    paintFace(kPlay, false);
    setButtonsEnabled({kClose, kRecord, kKeyNames, kSilencer, kStop}, true);
    parts_.title->setText(Text1->text());
    parts_.author->setText(Text2->text());
    // The panel's boxes are gone: keys typed from now on are music, so the
    // focus must not fall to the note-length box.
    if (focusAway)
        focusAway();
}

void SongCommands::Command2_Click()
{
    if (!waitingForTitle_)
        return;
    recordCancelled_ = true;
    Picture1->setVisible(false);
    if (focusAway)
        focusAway();
}

void SongCommands::RecordCommand()
{
    auto& buttons = *parts_.buttons;
    // What a cancelled Record gives back: the buttons as they were.
    std::array<bool, 8> enabledBefore{};
    for (int i = 0; i <= kStop; ++i)
        enabledBefore[std::size_t(i)] = buttons[std::size_t(i)]->isEnabled();

    Recording = !Recording;
    buttons[kPlay]->setEnabled(!Recording);
    if (!Recording) {
        endRecording();
        return;
    }
    if (beep)
        beep();
    parts_.lower->SetEnabled(false);
    parts_.upper->SetEnabled(false);
    for (int i = 0; i <= kStop; ++i)
        buttons[std::size_t(i)]->setEnabled(false);

    // Wait for the title and author, letting the window's other events (the
    // OK button, the timers, lock and random play) through.
    Picture1->setVisible(true);
    Picture1->raise();
    Text1->setFocus();
    waitingForTitle_ = true;
    recordCancelled_ = false;
    while (!Picture1->isHidden() && !unloaded_)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    waitingForTitle_ = false;
    if (unloaded_)
        return;
    if (recordCancelled_) {
        Recording = false;
        for (int i = 0; i <= kStop; ++i)
            buttons[std::size_t(i)]->setEnabled(enabledBefore[std::size_t(i)]);
        parts_.lower->SetEnabled(true);
        parts_.upper->SetEnabled(true);
        if (!pendingSong_.isNull())
            playHandedSong(std::exchange(pendingSong_, QString()));
        return;
    }

    paintFace(kRecord, true);
    QDir().mkpath(musicFolder());
    const QString scratch = lockScratch();
    SongPath = scratch;
    // The take the scratch file holds goes to the takes folder first: a new
    // recording never destroys the last one.
    const std::string takes = songs::TakesFolder(scratch.toStdString());
    std::string kept, error;
    const bool keptLast = songs::KeepTake(scratch.toStdString(), takes, kept, error);
    bool started = false;
    if (keptLast) {
        const songs::HalfSettings lower = performance::SettingsOf(*parts_.lower);
        const songs::SongTime time = recordingStarts ? recordingStarts() : songs::SongTime{};
        started = recorder.start(scratch.toStdString(), parts_.title->text().toStdString(),
                                 parts_.author->text().toStdString(), performance::SettingsOf(*parts_.upper), lower,
                                 time);
        recordingTonic_ = notation::SongTonic(lower);
        if (!started)
            error = "cannot write " + scratch.toStdString();
    }
    if (!started) {
        // End the command cleanly rather than leave a recording running into
        // nothing, and say so where the title shows.
        std::fprintf(stderr, "sonarel: %s\n", error.c_str());
        Recording = false;
        endRecording();
        say(keptLast ? QStringLiteral("无法录音：无法写入录音文件") : QStringLiteral("无法录音：无法保留上一次录音"));
        return;
    }
    shownSong_ = scratch;  // Save keeps this recording from now on
}

void SongCommands::endRecording()
{
    setButtonsEnabled({kPlay, kSave, kOpen}, true);
    paintFace(kRecord, false);
    // The end marker, where a recording was written. Only a take that holds a
    // note and reached the disk whole makes room for itself among the kept
    // ones: a recording the disk refused never costs an older take.
    const bool holdsANote = recorder.isOpen() && recorder.LastNoteRecord > 0;
    if (recorder.stop() && holdsANote)
        songs::PruneTakes(songs::TakesFolder(SongPath.toStdString()), songs::kTakesKept);
    scratchLock_.unlock();
}

void SongCommands::recordingCannotGoOn()
{
    // Said once: the take ends here with what reached the file.
    std::fprintf(stderr, "sonarel: cannot write %s\n", SongPath.toLocal8Bit().constData());
    RecordCommand();
    say(QStringLiteral("录音已停止：无法写入录音文件"));
}

QString SongCommands::lockScratch()
{
    const QString shared = scratchPath();
    if (scratchLock_.tryLock(shared.toStdString()))
        return shared;
    // Another keyboard (started with --new-instance) records into the shared
    // scratch file: this one records beside it.
    const QString own = AppDir + QStringLiteral("Music/~Mid-%1.Dat").arg(QCoreApplication::applicationPid());
    scratchLock_.tryLock(own.toStdString());
    return own;
}

void SongCommands::writeSettingRecord(songs::Tag tag, const QString& value)
{
    // Nothing is written while the title panel is still open: the scratch
    // file is not open again until its header has been written.
    if (!Recording || !recorder.isOpen())
        return;
    recorder.writeSettingRecord(tag, value.toStdString());
}

void SongCommands::holdRecordsForKey()
{
    if (Recording && recorder.isOpen() && !recorder.holding()) {
        recorder.holdWrites();
        QMetaObject::invokeMethod(this, &SongCommands::releaseRecords, Qt::QueuedConnection);
    }
}

void SongCommands::releaseRecords()
{
    // A record the file refused ends the recording, with its end marker.
    if (!recorder.releaseWrites() && Recording && recorder.isOpen())
        recordingCannotGoOn();
}

bool SongCommands::awaitingFirstKey() const { return Recording && recorder.isOpen() && recorder.LastNoteRecord == -1; }

void SongCommands::RecordNote(std::int16_t Note)
{
    if (!Recording || !recorder.isOpen())
        return;
    // The next gap counts from this key press.
    const bool room = recorder.recordNote(Note, GapTicks());
    gapStartMs_ = monotonicMs_();
    if (room)
        return;
    if (recorder.failed())
        recordingCannotGoOn();
    else
        RecordCommand();  // the song is full: end it with its end marker
}

void SongCommands::setMonotonicClock(std::function<std::int64_t()> clock)
{
    monotonicMs_ = std::move(clock);
    gapStartMs_ = monotonicMs_();
}

std::int16_t SongCommands::GapTicks() const
{
    const std::int64_t ticks = (monotonicMs_() - gapStartMs_) / kTickMs;
    return std::int16_t(std::clamp<std::int64_t>(ticks, 0, kLongestGapTicks));
}

// ---------------------------------------------------------------- playback

void SongCommands::PlayCommand()
{
    // Playing along, the keyboards stay the player's while the song plays.
    parts_.lower->SetEnabled(playAlong_);
    parts_.upper->SetEnabled(playAlong_);
    host_.setActive(ActiveMIDi);
    paintFace(kPlay, true);
    const bool opened = player.start(SongPath.toStdString());  // closes a file it opened before
    setButtonsEnabled({kRecord, kSave, kOpen}, false);
    if (!opened) {
        finishPlayback();  // nothing to read: ends as at the end marker
        return;
    }
    if (playbackStarting)
        playbackStarting(scoreOf(SongPath));
    gridStartMs_ = monotonicMs_();
    ticksDone_ = 0;
    armPlayback();
}

void SongCommands::setPlayAlong(bool on)
{
    playAlong_ = on;
    if (player.isOpen() && !Recording) {
        parts_.lower->SetEnabled(on);
        parts_.upper->SetEnabled(on);
    }
}

void SongCommands::Timer3_Timer() { player.tick(host_); }

// The playback's ticks lie on a grid of 10 ms of song time from the start of
// the song, on the monotonic clock stretched by the tempo: a tick the machine
// delayed, or the time a group of keys took, is made up at once, so a song
// ends when it was recorded to end (at 100 %) or in proportion.
void SongCommands::playbackDue()
{
    constexpr std::int64_t kMostCaughtUp = 100;  // a machine that slept does not rush the song
    if (ticksDone_ == 0) {
        // The grid starts once the song's first tick has played: a window
        // still opening, or the header's settings reaching the panel, do not
        // make the first notes hurry.
        ticksDone_ = 1;
        Timer3_Timer();
        gridStartMs_ = monotonicMs_() - performance::RealTimeReaching(kTickMs, tempo_);
    } else {
        const std::int64_t due = performance::ToSongTime(monotonicMs_() - gridStartMs_, tempo_) / kTickMs;
        if (due - ticksDone_ > kMostCaughtUp)
            ticksDone_ = due - 1;
        while (ticksDone_ < due && player.isOpen()) {
            ++ticksDone_;
            Timer3_Timer();
        }
    }
    if (player.isOpen())
        armPlayback();
}

void SongCommands::armPlayback()
{
    const std::int64_t next = gridStartMs_ + performance::RealTimeReaching((ticksDone_ + 1) * kTickMs, tempo_);
    Timer3.start(int(std::clamp<std::int64_t>(next - monotonicMs_(), 0, performance::RealTimeReaching(kTickMs, tempo_))));
}

void SongCommands::setTempo(int percent)
{
    tempo_ = performance::ClampTempoPercent(percent);
    host_.tempo = tempo_;
    // A song under way goes on from the tick it is at.
    if (player.isOpen() && ticksDone_ > 0)
        gridStartMs_ = monotonicMs_() - performance::RealTimeReaching(ticksDone_ * kTickMs, tempo_);
    if (Timer3.isActive())
        armPlayback();
}

void SongCommands::finishPlayback()
{
    Timer3.stop();
    setButtonsEnabled({kRecord, kSave, kOpen}, true);
    player.stop();
    parts_.lower->SetEnabled(true);
    parts_.upper->SetEnabled(true);
    paintFace(kPlay, false);
    if (playbackEnded)
        playbackEnded();
}

void SongCommands::StopPlayback()
{
    player.endLengths(host_);
    finishPlayback();
}

void SongCommands::recordLength(int keyboard, int key, bool down)
{
    if (!Recording || !recorder.isOpen())
        return;
    songs::LengthRecord r;
    r.keyboard = keyboard;
    if (key == MIDi::kPedalEvent) {
        r.kind = down ? songs::LengthRecord::Kind::PedalDown : songs::LengthRecord::Kind::PedalUp;
    } else {
        if (down)
            return;
        r.key = key;
    }
    if (!recorder.writeLengthRecord(r, GapTicks()))
        recordingCannotGoOn();  // the take ends with its end marker
}

void SongCommands::StopCommand()
{
    if (Recording)
        RecordCommand();
    else
        StopPlayback();
}

// ---------------------------------------------------------------- open

bool SongCommands::openImportedFile(const QString& path, QString* why)
{
    // The song made of it lives beside the scratch recording, which it must
    // not replace: the last take stays until the next recording.
    QDir().mkpath(musicFolder());
    songs::ImportedSong song;
    std::string error;
    std::vector<std::string> notices;
    const bool made = isMidiFile(path)
                          ? songs::ImportMidiFile(path.toStdString(), importedSongPath().toStdString(), song, error)
                          : notation::ImportJianpuFile(path.toStdString(), importedSongPath().toStdString(), song, error, notices);
    if (!made) {
        // A typed tune with a mistake says where it is.
        const QRegularExpressionMatch at =
            QRegularExpression(QStringLiteral("line (\\d+)(, column (\\d+))?")).match(QString::fromStdString(error));
        if (why && error.find(notation::kNotUtf8) != std::string::npos)
            *why = QStringLiteral("不是 UTF-8 文本");
        else if (why && at.hasMatch())
            *why = at.captured(3).isEmpty() ? QStringLiteral("第%1行有误").arg(at.captured(1))
                                            : QStringLiteral("第%1行第%2列有误").arg(at.captured(1), at.captured(3));
        return false;
    }
    SongPath = importedSongPath();
    shownSong_ = SongPath;
    importedText_ = isMidiFile(path) ? QString() : path;
    importedFrom_ = QFileInfo(path).absoluteFilePath();
    parts_.title->setText(QString::fromStdString(song.title));
    parts_.author->setText(QString::fromStdString(song.author));
    // A file longer than a song plays its start, and the display says so
    // over the title for a moment.
    if (song.partial)
        say(QStringLiteral("只导入了前 %1 个音符").arg(song.notes));
    return true;
}

bool SongCommands::isMidiFile(const QString& path)
{
    if (songs::HasMidiExtension(path.toStdString()))
        return true;
    // Only a plain file is looked into: a pipe would never answer.
    if (!songs::IsRegularFile(path.toStdString()))
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && songs::LooksLikeSmf(file.read(4).toStdString());
}

void SongCommands::OpenCommand()
{
    Co& co = *parts_.dialog;
    // Everything the keyboard opens first, then each kind.
    const QString kinds = Co::kSongFilter + QStringLiteral("|MIDI 文件|*.mid *.midi|简谱文件|*.txt *.jianpu");
    QStringList patterns;
    for (int i = 1; i < kinds.count(QLatin1Char('|')) + 1; i += 2)
        patterns << kinds.section(QLatin1Char('|'), i, i);
    co.Filter = QStringLiteral("全部可打开的文件|") + patterns.join(QLatin1Char(' ')) + QLatin1Char('|') + kinds;
    const bool chosen = co.ShowOpen(parts_.window);
    co.Filter = Co::kSongFilter;
    if (!chosen)
        return;  // cancelled: nothing opened, nothing played
    const QString name = QFileInfo(co.FileName).fileName();
    if (isMidiFile(co.FileName) || notation::HasJianpuExtension(co.FileName.toStdString())) {
        // A file that is no MIDI file or jianpu text after all is refused:
        // nothing plays and the current song stays.
        QString why;
        if (openImportedFile(co.FileName, &why))
            PlayCommand();
        else
            say(why.isEmpty() ? QStringLiteral("无法打开 %1").arg(name) : QStringLiteral("%1 %2").arg(name, why));
        return;
    }
    SongPath = co.FileName;
    std::string title, author;
    if (!songs::ReadHeaderLine(SongPath.toStdString(), title, author)) {
        say(QStringLiteral("无法打开 %1").arg(name));
        return;
    }
    shownSong_ = SongPath;
    parts_.title->setText(QString::fromStdString(title));
    parts_.author->setText(QString::fromStdString(author));
    PlayCommand();
}

// ---------------------------------------------------------------- save

bool SongCommands::saveCopy(const QString& source, const QString& target)
{
    std::string error;
    return songs::CopySongFile(source.toStdString(), target.toStdString(), error) != songs::CopyResult::Failed;
}

void SongCommands::SaveCommand()
{
    Co& co = *parts_.dialog;
    co.FileName = (displayedTitle ? displayedTitle() : parts_.title->text()).trimmed();
    // The song filter stays first and is the default; the song can also
    // leave as a MIDI file or as audio.
    co.Filter = Co::kSongFilter + QStringLiteral("|MIDI 文件|*.mid") +
                (exportWav ? QStringLiteral("|WAV 音频|*.wav") : QString());
    const bool chosen = co.ShowSave(parts_.window);
    co.Filter = Co::kSongFilter;
    if (!chosen)
        return;  // cancelled: nothing copied
    const QString target = co.FileName;
    // The song on the display, never another one under its name.
    const QString source = shownSong_;
    const bool midi = co.SelectedFilter == QStringLiteral("*.mid") && exportMidi;
    const bool wav = co.SelectedFilter == QStringLiteral("*.wav") && exportWav;
    bool saved;
    if ((midi || wav) && !songs::WhyNotTarget(source.toStdString(), target.toStdString()).empty())
        saved = false;  // the song itself, or no plain file: nothing is written over it
    else if (midi)
        saved = exportMidi(source, target);
    else if (wav)
        saved = exportWav(source, target);
    else
        saved = saveCopy(source, target);  // onto the open song itself: nothing to do
    if (!saved && warn)
        warn(QStringLiteral("无法保存到 %1").arg(QDir::toNativeSeparators(target)));
}

QString SongCommands::lessonKey(const QString& song) const
{
    if (song == importedSongPath())
        return importedFrom_;
    if (song == scratchPath()) {
        std::string title, author;
        songs::ReadHeaderLine(song.toStdString(), title, author);
        return QStringLiteral("录音:") + QString::fromStdString(title).trimmed();
    }
    return QFileInfo(song).absoluteFilePath();
}

QString SongCommands::scoreOf(const QString& song) const
{
    if (song == importedSongPath() && !importedText_.isEmpty() && QFileInfo::exists(importedText_))
        return importedText_;
    return song;
}
