#include "instrument/propertybag.h"

namespace {

constexpr int kStoredTrue = -1;
constexpr int kStoredFalse = 0;

bool isBool(const QVariant& v) { return v.typeId() == QMetaType::Bool; }

// Booleans become the numbers the layout keeps, so that a stored -1 compares
// equal to a default of True.
QVariant storedForm(const QVariant& v)
{
    if (isBool(v))
        return QVariant(v.toBool() ? kStoredTrue : kStoredFalse);
    return v;
}

bool sameValue(const QVariant& a, const QVariant& b)
{
    bool aNumber = false;
    bool bNumber = false;
    const qlonglong an = a.toLongLong(&aNumber);
    const qlonglong bn = b.toLongLong(&bNumber);
    if (aNumber && bNumber && a.typeId() != QMetaType::QString && b.typeId() != QMetaType::QString)
        return an == bn;
    return a == b;
}

}  // namespace

std::vector<PropertyBag::Entry>::const_iterator PropertyBag::find(const QString& name) const
{
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it->name.compare(name, Qt::CaseInsensitive) == 0)
            return it;
    return entries_.end();
}

QVariant PropertyBag::read(const QString& name, const QVariant& defaultValue) const
{
    const auto it = find(name);
    if (it == entries_.end())
        return defaultValue;
    if (isBool(defaultValue)) {
        bool ok = false;
        const qlonglong n = it->value.toLongLong(&ok);
        return QVariant(ok ? n != 0 : it->value.toBool());
    }
    return it->value;
}

void PropertyBag::write(const QString& name, const QVariant& value, const QVariant& defaultValue)
{
    const QVariant stored = storedForm(value);
    const auto it = find(name);
    const auto index = it - entries_.cbegin();
    if (sameValue(stored, storedForm(defaultValue))) {
        if (it != entries_.end())
            entries_.erase(entries_.begin() + index);
        return;
    }
    if (it != entries_.end())
        entries_[std::size_t(index)].value = stored;
    else
        entries_.push_back({name, stored});
}

bool PropertyBag::contains(const QString& name) const { return find(name) != entries_.end(); }

QStringList PropertyBag::names() const
{
    QStringList out;
    for (const Entry& e : entries_)
        out << e.name;
    return out;
}

PropertyBag LowerKeyboardSettings()
{
    PropertyBag bag;
    bag.write(QStringLiteral("Silencer"), true, false);
    bag.write(QStringLiteral("KeyBoardBlock"), 1, 3);
    return bag;
}

PropertyBag UpperKeyboardSettings()
{
    PropertyBag bag;
    bag.write(QStringLiteral("Silencer"), true, false);
    bag.write(QStringLiteral("Logo"), false, true);
    bag.write(QStringLiteral("Channel"), 1, 0);
    bag.write(QStringLiteral("Instrument"), 12, 0);
    bag.write(QStringLiteral("KeyBoardBlock"), 2, 3);
    return bag;
}
