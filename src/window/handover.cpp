#include "window/handover.h"

#include <algorithm>
#include <vector>

namespace handover {

QByteArrayView Answer() { return "ok\n"; }

QByteArray LineOf(const QString& song) { return song.toUtf8() + '\n'; }

bool IsAnswer(QByteArrayView answer) { return answer == Answer(); }

Callers::Callers(QObject* parent) : QObject(parent)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Callers::expire);
}

void Callers::add(qintptr id)
{
    held_[id] = Held{{}, std::chrono::steady_clock::now() + kLineTime};
    // Callers come in time order: a running timer is already due sooner.
    if (!timer_.isActive())
        timer_.start(kLineTime);
}

void Callers::remove(qintptr id) { held_.erase(id); }

Callers::Heard Callers::hear(qintptr id, QByteArrayView bytes, QString& song)
{
    const auto it = held_.find(id);
    if (it == held_.end())
        return Heard::Refused;
    QByteArray& line = it->second.line;
    line.append(bytes);
    const qsizetype end = line.indexOf('\n');
    if (end < 0)
        return line.size() > kLongestLine ? Heard::Refused : Heard::More;
    song = QString::fromUtf8(line.left(end));
    return Heard::Line;
}

void Callers::expire()
{
    const auto now = std::chrono::steady_clock::now();
    std::vector<qintptr> late;
    for (const auto& [id, held] : held_)
        if (held.deadline <= now)
            late.push_back(id);
    for (qintptr id : late) {
        emit silent(id);
        held_.erase(id);
    }
    if (held_.empty())
        return;
    const auto next = std::min_element(held_.begin(), held_.end(), [](const auto& a, const auto& b) {
        return a.second.deadline < b.second.deadline;
    });
    timer_.start(std::chrono::ceil<std::chrono::milliseconds>(next->second.deadline - now));
}

}  // namespace handover
