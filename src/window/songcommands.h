#pragma once
// The song commands behind the picture buttons: Record (with the song panel
// that asks for the title), Play, Stop, Open and Save, the playback that
// strikes a song's keys on the keyboards, and the song named on the command
// line or handed over by a second start.
#include "performance/instrumenthost.h"
#include "songs/player.h"
#include "songs/recorder.h"
#include "songs/takes.h"

#include <QObject>
#include <QPixmap>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>

class Co;
class MIDi;
class PictureButton;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QWidget;
class SettingsPanel;

class SongCommands : public QObject {
    Q_OBJECT
public:
    // The window's parts the commands work: they stay the window's.
    struct Parts {
        QWidget* window = nullptr;
        MIDi* lower = nullptr;
        MIDi* upper = nullptr;
        std::array<PictureButton*, 10>* buttons = nullptr;
        const QPixmap* normalFace = nullptr;
        const QPixmap* litFace = nullptr;
        QLabel* title = nullptr;   // the display's song title
        QLabel* author = nullptr;
        Co* dialog = nullptr;
        SettingsPanel* panel = nullptr;
    };
    // `active` is the window's keyboard played last, which a song switches.
    // Songs live in the Music folder of `appDir` (the program's folder when
    // empty), or of `dataDir` where that folder is not the user's to write.
    SongCommands(const Parts& parts, MIDi*& active, const QString& appDir, const QString& dataDir,
                 QObject* parent = nullptr);
    ~SongCommands() override;

    // The song panel over the display, hidden until a recording starts.
    void buildSongPanel();
    // Start-up: the Music folder, the dialog's places, the current song; a
    // song named on the command line plays.
    void load(const QString& songArgument);
    // The window closes: what was recorded is on the disk, nothing runs on.
    void unload();

    void RecordCommand();
    void PlayCommand();
    void OpenCommand();
    void SaveCommand();
    void StopCommand();  // ends a recording, or else a playback
    void StopPlayback();
    void Command1_Click();
    // 取消 (or Esc) on the song panel: the Record command ends as if it had
    // never been given, and the scratch file is not touched.
    void Command2_Click();
    void Timer3_Timer();  // one tick of the playback
    void playbackDue();   // the playback timer's work: the ticks the clock says are due
    // 速度 in percent (40..150): the song's gaps and key lengths stretched by
    // 100 / percent; a song under way goes on at it from where it is.
    void setTempo(int percent);
    int tempo() const { return tempo_; }
    // 锁定: while on, a playback skips the song's setting records.
    void toggleLock() { LockSettings = !LockSettings; }
    bool locked() const { return LockSettings; }
    // 边听边弹: the keyboards stay playable while a song plays; a change
    // during a playback applies at once.
    void setPlayAlong(bool on);
    bool playAlong() const { return playAlong_; }

    // The song named on the command line (quotes around it dropped): its
    // title shows and it plays.
    void playSongArgument(QString path);
    // A song handed over by a second start: whatever runs (the song panel, a
    // recording, a playback) ends first, then it plays.
    void playHandedSong(const QString& path);
    // 曲库: the song bank by group, each song played at once as a second
    // start hands it over. The bank is read the first time the menu opens,
    // never at start-up.
    void addBankMenu(QMenu* menu);
    // Where the bank was found beside the program; empty when it was not.
    QString bankFolder() const { return bankFolder_; }

    // While recording: a setting record at the next slot.
    void writeSettingRecord(songs::Tag tag, const QString& value);
    // A key is being struck: its records wait in memory until its note is
    // out, and are written as soon as the event loop comes back.
    void holdRecordsForKey();
    void releaseRecords();
    // A recording has begun and holds no note yet: its first key writes
    // "@TonD" and the keyboard's settings whatever keyboard it is on.
    bool awaitingFirstKey() const;
    bool isRecording() const { return Recording; }
    bool isPlaying() const { return Timer3.isActive(); }
    // The key the recording is written down in, as its song will be.
    int recordingTonic() const { return recordingTonic_; }
    void RecordNote(std::int16_t Note);
    // A held key released or the pedal moved on keyboard 1 or 2 (key
    // MIDi::kPedalEvent): a recording keeps it, with its time.
    void recordLength(int keyboard, int key, bool down);

    // A monotonic clock in milliseconds; the recording gap is measured on it.
    void setMonotonicClock(std::function<std::int64_t()> clock);
    // 10 ms ticks since the last note record (or since the clock was set),
    // at most 300. Read off the clock, so a busy machine does not stretch it.
    std::int16_t GapTicks() const;

    QString scratchPath() const;
    QString musicFolder() const { return AppDir + QStringLiteral("Music"); }

    // Hooks the window sets.
    std::function<void()> beep;
    std::function<void(const QString& message)> warn;  // a failure the user must hear of
    std::function<void(const QString& text)> notice;   // a short line where the title shows
    std::function<QString()> displayedTitle;           // the title under a notice
    std::function<void()> commandGiven;                // a command starts: random play stops
    std::function<void()> focusAway;                   // the keys go back to the keyboards
    std::function<void(const QString& song)> playbackStarting;  // a song is about to play
    std::function<void(const songs::SongTime& time)> songTimeRead;  // the playing song's tempo and meter
    std::function<void()> playbackEnded;                            // its end, or Stop
    std::function<void()> activeChanged;               // a song made the other keyboard the active one
    // A take begins: the tempo and meter it is played to (none when the
    // metronome is off); the metronome counts a bar in from here.
    std::function<songs::SongTime()> recordingStarts;
    // Exports offered by the Save dialog besides copying the song; false
    // (with the target left alone) on failure.
    std::function<bool(const QString& song, const QString& target)> exportMidi;
    std::function<bool(const QString& song, const QString& target)> exportWav;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void chooseAppDir(const QString& appDir, const QString& dataDir);
    void setButtonsEnabled(std::initializer_list<int> indexes, bool on);
    void paintFace(int index, bool lit);
    void say(const QString& text);
    // What Stop and the end of a song both do: the window back to playing.
    void finishPlayback();
    // The buttons back from a recording, its end marker written and the
    // scratch file free for another keyboard.
    void endRecording();
    // A record the file refused: the take ends, and the display says so.
    void recordingCannotGoOn();
    // The scratch file this recording may write: the shared one, or one of
    // its own when another keyboard is recording into that.
    QString lockScratch();
    void armPlayback();   // the timer, for the next tick on the grid
    // A MIDI file or jianpu text opened becomes a song beside the scratch
    // recording.
    static bool isMidiFile(const QString& path);
    // `why`, when given, gets where a jianpu text went wrong ("第3行第5列有误").
    bool openImportedFile(const QString& path, QString* why = nullptr);
    QString importedSongPath() const;
    bool saveCopy(const QString& source, const QString& target);

    Parts parts_;
    MIDi*& ActiveMIDi;
    QFrame* Picture1 = nullptr;  // the song panel
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;  // 取消
    QTimer Timer3;  // playback, 10 ms
    std::int64_t gridStartMs_ = 0;
    std::int64_t ticksDone_ = 0;
    int tempo_ = 100;

    QString AppDir;  // ends in the path separator
    QString SongPath;
    bool Recording = false;
    bool LockSettings = false;
    bool playAlong_ = false;
    songs::SongRecorder recorder;
    songs::SongPlayer player;
    performance::InstrumentHost host_;
    // What Save keeps: the song the display shows (the last recording, the
    // last song opened, or the song made of the last MIDI file opened).
    QString shownSong_;

    // The jianpu text the imported song was made of: its score has the
    // lyrics, ties and repeats the song has no room for.
    QString importedText_;
    QString importedFrom_;  // the MIDI file or text it was made of

public:
    // The song on the display: the one played, saved and written down.
    const QString& shownSong() const { return shownSong_; }
    // What 显示简谱 draws for a song: the text it was made of while that
    // text is there, else the song itself.
    QString scoreOf(const QString& song) const;
    // What a lesson's best result is kept under, across runs: the file the
    // user opened (a MIDI file or text, not the song made of it), or the
    // title of a recording, which has no file of its own.
    QString lessonKey(const QString& song) const;

private:
    songs::ScratchLock scratchLock_;
    int recordingTonic_ = 0;
    bool waitingForTitle_ = false;
    bool recordCancelled_ = false;
    QString pendingSong_;  // handed over while the song panel waited
    bool unloaded_ = false;
    std::function<std::int64_t()> monotonicMs_;
    std::int64_t gapStartMs_ = 0;
    QString programDir_;
    QString bankFolder_;
    bool bankRead_ = false;
    struct BankEntry {
        std::string group;
        QString label, path;
    };
    std::vector<BankEntry> bank_;
};
