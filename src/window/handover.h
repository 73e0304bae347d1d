#pragma once
// What a second start and the running keyboard say to each other, whatever
// carries it: the second start sends its song's path as one line, the
// keyboard answers "ok". Whoever connects may as well be a script that got
// stuck, so the keyboard holds only a few callers at a time and none of them
// longer than a second; the way callers reach it is the platform's.
#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <map>

namespace handover {

// A running keyboard answers at once; one that does not is stuck, and
// waiting longer would only hold up the start.
constexpr std::chrono::milliseconds kConnectTime{500};
constexpr std::chrono::milliseconds kAnswerTime{1000};
// A second start says its line as soon as it is connected.
constexpr std::chrono::milliseconds kLineTime{1000};
// The rest wait where the platform keeps callers not yet taken (a socket's
// backlog), or are refused.
constexpr int kCallersHeld = 4;
// A song's path and its newline; a caller that sends more is no second start.
constexpr qsizetype kLongestLine = 64 * 1024;

QByteArray LineOf(const QString& song);
bool IsAnswer(QByteArrayView answer);
QByteArrayView Answer();

// The callers a keyboard holds, by the number the platform knows each one by.
class Callers : public QObject {
    Q_OBJECT
public:
    explicit Callers(QObject* parent = nullptr);

    bool full() const { return held_.size() >= std::size_t(kCallersHeld); }
    void add(qintptr id);
    void remove(qintptr id);

    enum class Heard {
        More,     // no whole line yet
        Line,     // `song` holds the caller's song: answer, then remove it
        Refused,  // too long for a song's path: remove it
    };
    Heard hear(qintptr id, QByteArrayView bytes, QString& song);

signals:
    // `id` sent no whole line in time: the platform lets it go (and removes it).
    void silent(qintptr id);

private:
    void expire();

    struct Held {
        QByteArray line;
        std::chrono::steady_clock::time_point deadline;
    };
    std::map<qintptr, Held> held_;
    QTimer timer_;
};

}  // namespace handover
