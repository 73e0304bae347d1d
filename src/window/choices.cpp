#include "window/choices.h"

#include "performance/metronome.h"
#include "performance/tempo.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

namespace {

const QString kHoldLower = QStringLiteral("playing/holdLower");
const QString kHoldUpper = QStringLiteral("playing/holdUpper");
const QString kKeys = QStringLiteral("playing/keys");
const QString kKeyLabels = QStringLiteral("playing/keylabels");
const QString kPlayAlong = QStringLiteral("playing/playAlong");
const QString kDigitKey = QStringLiteral("playing/digitKey");
const QString kTempo = QStringLiteral("playing/tempo");
const QString kMetronomeTempo = QStringLiteral("metronome/tempo");
const QString kMetronomeMeter = QStringLiteral("metronome/meter");
const QString kMidiOut = QStringLiteral("ports/midiOut");
const QString kMidiIn = QStringLiteral("ports/midiIn");
const QString kLessons = QStringLiteral("lessons");
const QString kLessonSong = QStringLiteral("song");
const QString kLessonBest = QStringLiteral("best");

void say(const char* what, const QString& path)
{
    std::fprintf(stderr, "sonarel: %s %s; the defaults are used\n", what, qPrintable(QDir::toNativeSeparators(path)));
}

}  // namespace

int KeepLessonBest(PlayingChoices& choices, const QString& song, int percent)
{
    std::vector<LessonBest>& bests = choices.lessonBests;
    const auto found = std::find_if(bests.begin(), bests.end(), [&](const LessonBest& b) { return b.song == song; });
    if (found == bests.end() && percent < 0)
        return -1;
    LessonBest best{song, found == bests.end() ? percent : std::max(found->percent, percent)};
    if (found != bests.end())
        bests.erase(found);
    bests.insert(bests.begin(), best);
    if (bests.size() > std::size_t(kMostLessonBests))
        bests.resize(std::size_t(kMostLessonBests));
    return best.percent;
}

QString ChoicesPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/sonarel.conf");
}

PlayingChoices LoadChoices(const QString& path)
{
    PlayingChoices choices;
    const QFileInfo file(path);
    if (!file.exists())
        return choices;
    // Only a plain file is read: a pipe would never answer.
    if (!file.isFile() || !file.isReadable()) {
        say("cannot read", path);
        return choices;
    }
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        say("ignored the broken settings file", path);
        return choices;
    }
    choices.holdLower = settings.value(kHoldLower, false).toBool();
    choices.holdUpper = settings.value(kHoldUpper, false).toBool();
    choices.pianoKeys = settings.value(kKeys).toString() == QLatin1String("piano");
    choices.playAlong = settings.value(kPlayAlong, false).toBool();
    choices.keyLabels = settings.value(kKeyLabels, true).toBool();
    const int digitKey = settings.value(kDigitKey, -1).toInt();
    choices.digitKey = digitKey >= 0 && digitKey < 12 ? digitKey : -1;
    bool tempoRead = false;
    const int tempo = settings.value(kTempo).toInt(&tempoRead);
    if (tempoRead)
        choices.tempo = performance::ClampTempoPercent(tempo);
    choices.midiOut = settings.value(kMidiOut).toString();
    choices.midiIn = settings.value(kMidiIn).toString();
    // Whatever the file says goes through the clock's own limits.
    performance::BeatClock beat;
    beat.setTempo(settings.value(kMetronomeTempo, beat.tempo()).toInt());
    int beats = 0, unit = 0;
    if (songs::ParseMeterText(settings.value(kMetronomeMeter).toString().toStdString(), beats, unit))
        beat.setMeter(beats, unit);
    choices.metronomeTempo = beat.tempo();
    choices.metronomeBeats = beat.beats();
    choices.metronomeUnit = beat.unit();
    const int lessons = std::min(settings.beginReadArray(kLessons), kMostLessonBests);
    for (int i = 0; i < lessons; ++i) {
        settings.setArrayIndex(i);
        const QString song = settings.value(kLessonSong).toString();
        const int percent = settings.value(kLessonBest, -1).toInt();
        if (!song.isEmpty() && percent >= 0 && percent <= 100)
            choices.lessonBests.push_back({song, percent});
    }
    settings.endArray();
    return choices;
}

bool SaveChoices(const QString& path, const PlayingChoices& choices)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kHoldLower, choices.holdLower);
    settings.setValue(kHoldUpper, choices.holdUpper);
    settings.setValue(kKeys, choices.pianoKeys ? QStringLiteral("piano") : QStringLiteral("classic"));
    settings.setValue(kPlayAlong, choices.playAlong);
    settings.setValue(kKeyLabels, choices.keyLabels);
    settings.setValue(kDigitKey, choices.digitKey);
    settings.setValue(kTempo, choices.tempo);
    settings.setValue(kMidiOut, choices.midiOut);
    settings.setValue(kMidiIn, choices.midiIn);
    settings.setValue(kMetronomeTempo, choices.metronomeTempo);
    settings.setValue(kMetronomeMeter, QStringLiteral("%1/%2").arg(choices.metronomeBeats).arg(choices.metronomeUnit));
    settings.remove(kLessons);  // a shorter list leaves no entries of the longer behind
    settings.beginWriteArray(kLessons, int(choices.lessonBests.size()));
    for (int i = 0; i < int(choices.lessonBests.size()); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(kLessonSong, choices.lessonBests[std::size_t(i)].song);
        settings.setValue(kLessonBest, choices.lessonBests[std::size_t(i)].percent);
    }
    settings.endArray();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        std::fprintf(stderr, "sonarel: cannot write %s\n", qPrintable(QDir::toNativeSeparators(path)));
        return false;
    }
    return true;
}
