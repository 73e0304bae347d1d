#pragma once
// The settings panel: the pitch and volume knobs, the note-length box and the
// key and instrument lists. It always edits the keyboard played last, and
// hands every change to the window's record writer (which writes it while a
// recording runs).
#include "songs/tags.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

class Knob;
class MIDi;
class QComboBox;
class QLineEdit;
class QWidget;

class SettingsPanel : public QObject {
    Q_OBJECT
public:
    // `active` is the window's keyboard played last, which the panel edits.
    explicit SettingsPanel(MIDi*& active, QObject* parent = nullptr);

    // The controls, placed on the window in its stacking order.
    void buildKnobs(QWidget* window);
    void buildFields(QWidget* window);

    // Hooks the window sets.
    std::function<void(songs::Tag tag, const QString& value)> writeRecord;
    std::function<void()> focusAway;  // the keys go back to the keyboards
    std::function<void(bool on)> showSilencer;  // the silencer button's face

    // What the controls' events run.
    void ComDevies_Click();
    void ComSounds_Click();
    void Text3_Change();
    void Picture4_MouseDown(int Index, double Y);
    void Picture4_MouseMove(int Index, double Y);
    void Picture4_MouseUp(int Index);
    void SetPitch(int Value);
    void SetIntensity(int Value);
    // Shows the silencer of the active keyboard and records it.
    void RefreshSilencer();
    // Assigning a list's selection in code runs its Click handling, as a
    // user's choice does (also when the index does not change).
    void setListIndex(QComboBox* list, int index);

    // The active keyboard changed: every setting in which it differs from
    // `other` is shown, and recorded, in the order a song's records keep.
    void showDifferences(const MIDi& other);
    // A song's setting record changed the active keyboard: the panel shows it.
    void showSetting(songs::Tag tag, std::int16_t value);
    // The lists' first entries, chosen when the window first becomes active.
    void chooseFirstEntries();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placePitchKnob();
    void placeVolumeKnob(int value);
    void write(songs::Tag tag, const QString& value);
    void giveKeysBack();

    MIDi*& ActiveMIDi;
    std::array<Knob*, 3> Picture4{};  // 1 pitch, 2 volume (0 unused)
    QLineEdit* Text3 = nullptr;
    QComboBox* ComDevies = nullptr;
    QComboBox* ComSounds = nullptr;
    double KnobDragY = 0;
    std::int16_t KnobVolume = 0;
    std::int16_t KnobMoves = 0;
};
