#pragma once
// One keyboard per desktop: the first program listens on a local socket in
// a folder only its user can reach; a second start of the same user hands
// its song to it and ends. Plain Unix sockets: the window needs no network
// library for this. What is said, and how long a caller may take, is
// handover's.
#include "window/handover.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <map>

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
        Alone,       // no safe place to listen, or the socket would not bind: this one runs on its own
    };
    // Hands `song` (an absolute path, or empty) to a running keyboard of this
    // user, or becomes the one others hand theirs to. Waits at most about a
    // second and a half.
    Outcome start(const QString& song);

    // Set by start(); empty when no folder only this user can reach was found.
    QString socketPath() const { return path_; }

signals:
    // A second start's song (empty: it only asks for the window).
    void songHanded(const QString& path);

private:
    void takeConnections();
    void readCaller(int fd);
    void dropCaller(int fd);
    void listenWhenRoom();

    QString tag_;
    QString path_;
    int listener_ = -1;
    QSocketNotifier* listening_ = nullptr;
    handover::Callers callers_;
    std::map<int, QSocketNotifier*> notifiers_;  // children, one per held caller
    QTimer acceptPause_;  // while it runs, no caller is taken
};
