#include "window/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using std::chrono::steady_clock;

// Callers still come while the program is out of descriptors; trying again
// at once would only spin.
constexpr std::chrono::milliseconds kAcceptPause{250};
// How often a second start tries a keyboard whose backlog is full.
constexpr int kConnectRetryMs = 20;

// A folder another user made, or may write in, would let that user listen at
// the socket's name and be handed this user's songs.
bool onlyOurs(const QString& folder)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The session's runtime folder, else a folder of our own in the temporary
// folder, where anyone may take a name first; empty when neither is only ours.
QString socketFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && onlyOurs(QDir::cleanPath(runtime)))
        return QDir::cleanPath(runtime);
    const QString own = QStringLiteral("%1/sonarel-%2").arg(QDir::tempPath()).arg(::getuid());
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    return onlyOurs(own) ? own : QString();
}

bool addressOf(const QString& path, sockaddr_un& address)
{
    const QByteArray bytes = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (std::size_t(bytes.size()) >= sizeof(address.sun_path))
        return false;
    std::copy(bytes.begin(), bytes.end(), address.sun_path);
    return true;
}

// Waits for `events` on `fd` until `deadline`; false when the time is up.
bool waitFor(int fd, short events, steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(left.count()));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// Hands the song to whoever listens at `address`, if that is this user:
// true when it answered.
bool handOver(const sockaddr_un& address, const QByteArray& line)
{
    struct stat st {};
    if (::lstat(address.sun_path, &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::getuid())
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A full backlog refuses at once: the keyboard is busy with other callers.
    const auto connectBy = steady_clock::now() + handover::kConnectTime;
    int connected;
    while ((connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address))) != 0 &&
           (errno == EAGAIN || errno == EINTR) && steady_clock::now() < connectBy)
        ::poll(nullptr, 0, kConnectRetryMs);
    ucred peer{};
    socklen_t size = sizeof(peer);
    bool answered = false;
    if (connected == 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid()) {
        qsizetype sent = 0;
        const auto deadline = steady_clock::now() + handover::kAnswerTime;
        while (sent < line.size() && waitFor(fd, POLLOUT, deadline)) {
            const ssize_t n = ::send(fd, line.constData() + sent, std::size_t(line.size() - sent), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
            sent += n > 0 ? n : 0;
        }
        QByteArray answer;
        while (sent == line.size() && !answer.endsWith('\n') && answer.size() < 16 && waitFor(fd, POLLIN, deadline)) {
            char buffer[16];
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                break;
            if (n > 0)
                answer.append(buffer, n);
        }
        answered = handover::IsAnswer(answer);
    }
    ::close(fd);
    return answered;
}

}  // namespace

// The listening socket and the callers it holds.
class SingleInstance::Listener : public QObject {
public:
    Listener(SingleInstance& owner, int fd, QString path);
    ~Listener() override;

private:
    void takeConnections();
    void readCaller(int fd);
    void dropCaller(int fd);
    void listenWhenRoom();

    SingleInstance& owner_;
    int fd_;
    QString path_;
    QSocketNotifier* listening_;
    handover::Callers callers_;
    std::map<int, QSocketNotifier*> notifiers_;  // children, one per held caller
    QTimer acceptPause_;  // while it runs, no caller is taken
};

SingleInstance::SingleInstance(const QString& desktop, QObject* parent) : QObject(parent), tag_(desktop)
{
    for (QChar& c : tag_)
        if (!c.isLetterOrNumber())
            c = QLatin1Char('_');
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Listener::Listener(SingleInstance& owner, int fd, QString path)
    : owner_(owner), fd_(fd), path_(std::move(path)), listening_(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    acceptPause_.setSingleShot(true);
    acceptPause_.setInterval(kAcceptPause);
    connect(&acceptPause_, &QTimer::timeout, this, &Listener::listenWhenRoom);
    connect(&callers_, &handover::Callers::silent, this, [this](qintptr caller) { dropCaller(int(caller)); });
    connect(listening_, &QSocketNotifier::activated, this, &Listener::takeConnections);
}

SingleInstance::Listener::~Listener()
{
    for (auto& [fd, notifier] : notifiers_) {
        notifier->setEnabled(false);
        ::close(fd);
    }
    listening_->setEnabled(false);
    ::close(fd_);
    ::unlink(QFile::encodeName(path_).constData());
}

SingleInstance::Outcome SingleInstance::start(const QString& song)
{
    const QString folder = socketFolder();
    sockaddr_un address;
    path_ = folder.isEmpty() ? QString()
                             : QStringLiteral("%1/sonarel-%2%3.socket")
                                   .arg(folder)
                                   .arg(::getuid())
                                   .arg(tag_.isEmpty() ? QString() : QLatin1Char('-') + tag_);
    if (path_.isEmpty() || !addressOf(path_, address)) {
        path_.clear();
        return Outcome::Alone;
    }
    // Two starts at the same moment take turns: the first listens, the
    // second finds it.
    QLockFile lock(path_ + QStringLiteral(".lock"));
    lock.tryLock(int((handover::kConnectTime + handover::kAnswerTime).count()));

    if (handOver(address, handover::LineOf(song)))
        return Outcome::HandedOver;
    // Nobody of ours answers: a socket left by a keyboard that is gone, or
    // one that is stuck, whose name this start takes over; the folder is
    // ours, so whatever else was there goes too.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Outcome::Alone;
    ::unlink(address.sun_path);
    // Only this user may hand songs over.
    const mode_t mask = ::umask(077);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::umask(mask);
    if (!bound || ::listen(fd, 16) != 0) {
        ::close(fd);
        return Outcome::Alone;
    }
    listener_ = std::make_unique<Listener>(*this, fd, path_);
    return Outcome::Listening;
}

void SingleInstance::Listener::takeConnections()
{
    while (!callers_.full()) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            // Out of descriptors, or anything else that would fail again at
            // once: the caller waits in the backlog meanwhile.
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                acceptPause_.start();
            break;
        }
        callers_.add(fd);
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] { readCaller(fd); });
        notifiers_[fd] = notifier;
    }
    listenWhenRoom();
}

void SingleInstance::Listener::listenWhenRoom()
{
    if (listening_)
        listening_->setEnabled(!callers_.full() && !acceptPause_.isActive());
}

void SingleInstance::Listener::readCaller(int fd)
{
    char buffer[4096];
    QString song;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;  // the rest of the line is still on its way
        if (n <= 0) {
            dropCaller(fd);  // gone before its line was whole
            return;
        }
        switch (callers_.hear(fd, QByteArrayView(buffer, n), song)) {
        case handover::Callers::Heard::More:
            continue;
        case handover::Callers::Heard::Refused:
            dropCaller(fd);
            return;
        case handover::Callers::Heard::Line:
            ::send(fd, handover::Answer().data(), std::size_t(handover::Answer().size()), MSG_NOSIGNAL | MSG_DONTWAIT);
            dropCaller(fd);
            emit owner_.songHanded(song);
            return;
        }
    }
}

void SingleInstance::Listener::dropCaller(int fd)
{
    const auto it = notifiers_.find(fd);
    if (it == notifiers_.end())
        return;
    it->second->setEnabled(false);
    // The notifier may be the one calling: it goes once the event is done.
    it->second->deleteLater();
    notifiers_.erase(it);
    callers_.remove(fd);
    ::close(fd);
    listenWhenRoom();
}
