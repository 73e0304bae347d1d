#pragma once
// A small store of named values standing in for the host's saved layout:
// what the instrument control reads when it is created and writes when the
// layout is saved. Names are compared without regard to case.
#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

class PropertyBag {
public:
    // The stored value, or defaultValue when the name is missing. With a
    // Boolean default the stored number is read back as a Boolean (non-zero
    // is True).
    QVariant read(const QString& name, const QVariant& defaultValue) const;

    // Stores value under name, replacing any value stored under that name in
    // any case. A value equal to its default is left out (and one stored
    // before is dropped), so reading it back yields the default. Booleans are
    // stored as -1 (True) and 0 (False).
    void write(const QString& name, const QVariant& value, const QVariant& defaultValue);

    bool contains(const QString& name) const;
    QStringList names() const;  // in the order they were first written
    int size() const { return int(entries_.size()); }
    void clear() { entries_.clear(); }

private:
    struct Entry {
        QString name;
        QVariant value;
    };
    std::vector<Entry>::const_iterator find(const QString& name) const;

    std::vector<Entry> entries_;
};

// The saved layouts of the window's two instrument controls. Everything not
// listed here is at the control's own default.
PropertyBag LowerKeyboardSettings();  // MIDi1: silencer on, main block
PropertyBag UpperKeyboardSettings();  // MIDi2: silencer on, no strip, channel 1, instrument 12, right-hand block
