#pragma once
// One keyboard per desktop: the first program listens on a local socket in
// the user's runtime folder; a second start hands its song to it and ends.
// Plain Unix sockets: the window needs no network library for this.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QSocketNotifier;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `desktop` tells one desktop session from another (the display's name).
    explicit SingleInstance(const QString& desktop, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Outcome {
        HandedOver,  // a running keyboard took the song: this program ends
        Listening,   // this program is the keyboard of the desktop
        Alone,       // a keyboard runs but does not answer: this one runs beside it
    };
    // Hands `song` (an absolute path, or empty) to a running keyboard, or
    // becomes the one others hand theirs to. Waits at most about a second.
    Outcome start(const QString& song);

    QString socketPath() const { return path_; }

signals:
    // A second start's song (empty: it only asks for the window).
    void songHanded(const QString& path);

private:
    struct Caller;
    void takeConnection();
    void readCaller(int fd);
    void dropCaller(int fd);

    QString path_;
    int listener_ = -1;
    QSocketNotifier* listening_ = nullptr;
    std::map<int, std::unique_ptr<Caller>> callers_;
};
