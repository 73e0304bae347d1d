#pragma once
// One keyboard per desktop: the first program listens where only its user
// can reach it (a Unix socket in a folder of the user's own, a named pipe
// only the user may open on Windows); a second start of the same user hands
// its song to it and ends. The platform's own means: the window needs no
// network library for this. What is said, and how long a caller may take, is
// handover's; how callers reach the keyboard is platform/singleinstance_*.
#include "window/handover.h"

#include <QObject>
#include <QString>

#include <memory>

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

    // Where callers reach it, set by start(); empty when no place only this
    // user can reach was found.
    QString socketPath() const { return path_; }

signals:
    // A second start's song (empty: it only asks for the window).
    void songHanded(const QString& path);

private:
    class Listener;  // the platform's

    QString tag_;
    QString path_;
    std::unique_ptr<Listener> listener_;
};
