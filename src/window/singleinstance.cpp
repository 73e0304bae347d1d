#include "window/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A running keyboard answers at once; one that does not is stuck, and
// waiting longer would only hold up the start.
constexpr int kConnectMs = 500;
constexpr int kAnswerMs = 1000;
const QByteArray kAnswer = "ok\n";
// A song's path and its newline; a caller that sends more is no second start.
constexpr qsizetype kLongestLine = 64 * 1024;

QString runtimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() || !QDir(runtime).exists() ? QDir::tempPath() : runtime;
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
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
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

// Hands the song to whoever listens at `path`: true when it answered.
bool handOver(const QString& path, const QByteArray& line)
{
    sockaddr_un address;
    if (!addressOf(path, address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto start = std::chrono::steady_clock::now();
    bool answered = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ||
        ((errno == EINPROGRESS || errno == EAGAIN) &&
         waitFor(fd, POLLOUT, start + std::chrono::milliseconds(kConnectMs)))) {
        int error = 0;
        socklen_t size = sizeof(error);
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        qsizetype sent = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
        while (error == 0 && sent < line.size() && waitFor(fd, POLLOUT, deadline)) {
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
        answered = answer == kAnswer;
    }
    ::close(fd);
    return answered;
}

}  // namespace

struct SingleInstance::Caller {
    QSocketNotifier* notifier;  // a child of the SingleInstance
    QByteArray line;
};

SingleInstance::SingleInstance(const QString& desktop, QObject* parent) : QObject(parent)
{
    QString tag = desktop;
    for (QChar& c : tag)
        if (!c.isLetterOrNumber())
            c = QLatin1Char('_');
    path_ = QStringLiteral("%1/sonarel-%2%3.socket").arg(runtimeFolder()).arg(getuid()).arg(tag.isEmpty() ? QString() : QLatin1Char('-') + tag);
}

SingleInstance::~SingleInstance()
{
    for (auto& [fd, caller] : callers_) {
        caller->notifier->setEnabled(false);
        ::close(fd);
    }
    callers_.clear();
    if (listener_ >= 0) {
        listening_->setEnabled(false);
        ::close(listener_);
        ::unlink(QFile::encodeName(path_).constData());
    }
}

SingleInstance::Outcome SingleInstance::start(const QString& song)
{
    // Two starts at the same moment take turns: the first listens, the
    // second finds it.
    QLockFile lock(path_ + QStringLiteral(".lock"));
    lock.tryLock(kConnectMs + kAnswerMs);

    if (handOver(path_, song.toUtf8() + '\n'))
        return Outcome::HandedOver;
    // Nobody answers: a socket left by a keyboard that is gone, or one that
    // is stuck, whose socket this start takes over.
    sockaddr_un address;
    if (!addressOf(path_, address))
        return Outcome::Alone;
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
    listener_ = fd;
    listening_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(listening_, &QSocketNotifier::activated, this, &SingleInstance::takeConnection);
    return Outcome::Listening;
}

void SingleInstance::takeConnection()
{
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        auto caller = std::make_unique<Caller>(Caller{new QSocketNotifier(fd, QSocketNotifier::Read, this), {}});
        connect(caller->notifier, &QSocketNotifier::activated, this, [this, fd] { readCaller(fd); });
        callers_[fd] = std::move(caller);
    }
}

void SingleInstance::readCaller(int fd)
{
    Caller& caller = *callers_.at(fd);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n > 0) {
            caller.line.append(buffer, n);
            if (caller.line.size() > kLongestLine) {
                dropCaller(fd);
                return;
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        dropCaller(fd);  // gone before its line was whole
        return;
    }
    const qsizetype end = caller.line.indexOf('\n');
    if (end < 0)
        return;
    const QString song = QString::fromUtf8(caller.line.left(end));
    ::send(fd, kAnswer.constData(), std::size_t(kAnswer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    dropCaller(fd);
    emit songHanded(song);
}

void SingleInstance::dropCaller(int fd)
{
    const auto it = callers_.find(fd);
    if (it == callers_.end())
        return;
    it->second->notifier->setEnabled(false);
    // The notifier may be the one calling: it goes once the event is done.
    it->second->notifier->deleteLater();
    callers_.erase(it);
    ::close(fd);
}
