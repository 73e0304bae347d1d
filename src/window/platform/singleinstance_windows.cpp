// One keyboard per desktop on Windows: the first program serves a named
// pipe whose name holds the user's SID and the session, and which only that
// user may open; a second start connects, checks that the pipe's server runs
// as the same user, hands its song over and ends. A few pipe instances are
// served at once, so a caller that never speaks holds one for a second at
// most (handover's rule) while the others go on.
#include "window/singleinstance.h"

#include <QWinEventNotifier>

#include <array>
#include <chrono>
#include <memory>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace {

using std::chrono::steady_clock;

constexpr DWORD kPipeBuffer = 4096;

struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void reset(HANDLE handle = nullptr)
    {
        if (h)
            CloseHandle(h);
        h = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }
    explicit operator bool() const { return h != nullptr; }
};

// The user a process token stands for, as its SID.
std::unique_ptr<BYTE[]> tokenUser(HANDLE token)
{
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return nullptr;
    auto buffer = std::make_unique<BYTE[]>(size);
    if (!GetTokenInformation(token, TokenUser, buffer.get(), size, &size))
        return nullptr;
    return buffer;
}

PSID sidOf(const std::unique_ptr<BYTE[]>& user) { return reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid; }

std::unique_ptr<BYTE[]> ourUser()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    auto user = tokenUser(token);
    CloseHandle(token);
    return user;
}

// Whether the process serving the pipe runs as this user: a pipe of that
// name made by someone else first is never handed a song.
bool servedByUs(HANDLE pipe, PSID us)
{
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(pipe, &pid))
        return false;
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    HANDLE token = nullptr;
    if (!process || !OpenProcessToken(process.h, TOKEN_QUERY, &token))
        return false;
    const auto them = tokenUser(token);
    CloseHandle(token);
    return them && EqualSid(sidOf(them), us);
}

// Waits for an overlapped operation until `deadline`; false when it did not
// finish in time (it is then cancelled).
bool finish(HANDLE pipe, OVERLAPPED& ov, DWORD& bytes, steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
    if (WaitForSingleObject(ov.hEvent, DWORD(std::max<long long>(left.count(), 0))) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &ov, &bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &ov, &bytes, FALSE) != 0;
}

// Hands the song to the keyboard serving `name`, if it is this user's: true
// when it answered.
bool handOver(const std::wstring& name, const QByteArray& line, PSID us)
{
    const auto connectBy = steady_clock::now() + handover::kConnectTime;
    Handle pipe;
    for (;;) {
        pipe.reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr));
        if (pipe)
            break;
        // Every instance busy with other callers: wait for one to come free.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(connectBy - steady_clock::now());
        if (GetLastError() != ERROR_PIPE_BUSY || left.count() <= 0 || !WaitNamedPipeW(name.c_str(), DWORD(left.count())))
            return false;
    }
    if (!servedByUs(pipe.h, us))
        return false;
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov{};
    ov.hEvent = event.h;
    const auto deadline = steady_clock::now() + handover::kAnswerTime;
    DWORD bytes = 0;
    if (!WriteFile(pipe.h, line.constData(), DWORD(line.size()), nullptr, &ov) && GetLastError() != ERROR_IO_PENDING)
        return false;
    if (!finish(pipe.h, ov, bytes, deadline) || bytes != DWORD(line.size()))
        return false;
    QByteArray answer;
    while (!answer.endsWith('\n') && answer.size() < 16) {
        char buffer[16];
        ResetEvent(event.h);
        ov = OVERLAPPED{};
        ov.hEvent = event.h;
        if (!ReadFile(pipe.h, buffer, sizeof buffer, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING)
            break;
        if (!finish(pipe.h, ov, bytes, deadline) || bytes == 0)
            break;
        answer.append(buffer, int(bytes));
    }
    return handover::IsAnswer(answer);
}

// Only this user may open the pipe: its access list names nobody else.
struct OwnerOnly {
    SECURITY_ATTRIBUTES attributes{};
    SECURITY_DESCRIPTOR descriptor{};
    std::unique_ptr<BYTE[]> acl;

    bool make(PSID us)
    {
        const DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(us);
        acl = std::make_unique<BYTE[]>(size);
        auto* list = reinterpret_cast<ACL*>(acl.get());
        if (!InitializeAcl(list, size, ACL_REVISION) || !AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, us) ||
            !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE))
            return false;
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = &descriptor;
        attributes.bInheritHandle = FALSE;
        return true;
    }
};

HANDLE makePipe(const std::wstring& name, bool first, OwnerOnly& security)
{
    return CreateNamedPipeW(name.c_str(),
                            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                            handover::kCallersHeld, kPipeBuffer, kPipeBuffer, 0, &security.attributes);
}

}  // namespace

// The pipe's instances, each waiting for a caller or holding one.
class SingleInstance::Listener : public QObject {
public:
    Listener(SingleInstance& owner, std::wstring name, std::unique_ptr<OwnerOnly> security, HANDLE first);
    ~Listener() override;

private:
    struct Instance {
        Handle pipe, event;
        OVERLAPPED ov{};
        QWinEventNotifier* notifier = nullptr;
        bool connected = false;
        bool answered = false;
        char buffer[kPipeBuffer];
    };
    void listen(int i);
    void completed(int i);
    void read(int i);
    void drop(int i);

    SingleInstance& owner_;
    std::wstring name_;
    std::unique_ptr<OwnerOnly> security_;  // points into itself: never moved
    handover::Callers callers_;
    std::array<Instance, handover::kCallersHeld> instances_;
};

SingleInstance::Listener::Listener(SingleInstance& owner, std::wstring name, std::unique_ptr<OwnerOnly> security,
                                   HANDLE first)
    : owner_(owner), name_(std::move(name)), security_(std::move(security))
{
    connect(&callers_, &handover::Callers::silent, this, [this](qintptr i) { drop(int(i)); });
    for (int i = 0; i < int(instances_.size()); ++i) {
        Instance& in = instances_[std::size_t(i)];
        in.pipe.reset(i == 0 ? first : makePipe(name_, false, *security_));
        in.event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!in.pipe || !in.event)
            continue;
        in.notifier = new QWinEventNotifier(in.event.h, this);
        connect(in.notifier, &QWinEventNotifier::activated, this, [this, i] { completed(i); });
        listen(i);
    }
}

SingleInstance::Listener::~Listener()
{
    for (Instance& in : instances_) {
        if (in.notifier)
            in.notifier->setEnabled(false);
        if (in.pipe) {
            CancelIo(in.pipe.h);
            DWORD bytes = 0;
            GetOverlappedResult(in.pipe.h, &in.ov, &bytes, TRUE);
        }
    }
}

void SingleInstance::Listener::listen(int i)
{
    Instance& in = instances_[std::size_t(i)];
    in.connected = in.answered = false;
    ResetEvent(in.event.h);
    in.ov = OVERLAPPED{};
    in.ov.hEvent = in.event.h;
    if (ConnectNamedPipe(in.pipe.h, &in.ov))
        return;  // the event tells
    switch (GetLastError()) {
    case ERROR_IO_PENDING:
        return;
    case ERROR_PIPE_CONNECTED:
        SetEvent(in.event.h);  // a caller came between the instance's making and this
        return;
    default:
        DisconnectNamedPipe(in.pipe.h);
        return;
    }
}

void SingleInstance::Listener::completed(int i)
{
    Instance& in = instances_[std::size_t(i)];
    DWORD bytes = 0;
    const bool ok = GetOverlappedResult(in.pipe.h, &in.ov, &bytes, FALSE) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!in.connected) {
        if (!ok) {
            listen(i);
            return;
        }
        in.connected = true;
        callers_.add(i);
        read(i);
        return;
    }
    if (!ok || bytes == 0) {
        drop(i);  // gone, after its answer or before its line was whole
        return;
    }
    if (in.answered) {
        read(i);  // more than a line: waits for the caller to go
        return;
    }
    QString song;
    switch (callers_.hear(i, QByteArrayView(in.buffer, qsizetype(bytes)), song)) {
    case handover::Callers::Heard::More:
        read(i);
        return;
    case handover::Callers::Heard::Refused:
        drop(i);
        return;
    case handover::Callers::Heard::Line: {
        // The answer goes into the pipe's buffer at once. The caller then
        // closes its end, which ends the read below; one that does not is
        // let go when its second is up.
        DWORD written = 0;
        OVERLAPPED ov{};
        Handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ov.hEvent = done.h;
        if (WriteFile(in.pipe.h, handover::Answer().data(), DWORD(handover::Answer().size()), nullptr, &ov) ||
            GetLastError() == ERROR_IO_PENDING)
            finish(in.pipe.h, ov, written, steady_clock::now() + std::chrono::milliseconds(100));
        in.answered = true;
        callers_.remove(i);
        callers_.add(i);
        read(i);
        emit owner_.songHanded(song);
        return;
    }
    }
}

void SingleInstance::Listener::read(int i)
{
    Instance& in = instances_[std::size_t(i)];
    ResetEvent(in.event.h);
    in.ov = OVERLAPPED{};
    in.ov.hEvent = in.event.h;
    if (!ReadFile(in.pipe.h, in.buffer, sizeof in.buffer, nullptr, &in.ov) && GetLastError() != ERROR_IO_PENDING)
        SetEvent(in.event.h);  // the failure is read from the result
}

void SingleInstance::Listener::drop(int i)
{
    Instance& in = instances_[std::size_t(i)];
    callers_.remove(i);
    CancelIo(in.pipe.h);
    DWORD bytes = 0;
    GetOverlappedResult(in.pipe.h, &in.ov, &bytes, TRUE);
    DisconnectNamedPipe(in.pipe.h);
    listen(i);
}

SingleInstance::SingleInstance(const QString& desktop, QObject* parent) : QObject(parent), tag_(desktop)
{
    for (QChar& c : tag_)
        if (!c.isLetterOrNumber())
            c = QLatin1Char('_');
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Outcome SingleInstance::start(const QString& song)
{
    const auto us = ourUser();
    LPWSTR sidText = nullptr;
    if (!us || !ConvertSidToStringSidW(sidOf(us), &sidText))
        return Outcome::Alone;
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    path_ = QStringLiteral("\\\\.\\pipe\\sonarel-%1-%2%3")
                .arg(QString::fromWCharArray(sidText))
                .arg(session)
                .arg(tag_.isEmpty() ? QString() : QLatin1Char('-') + tag_);
    LocalFree(sidText);
    const std::wstring name = path_.toStdWString();
    const QByteArray line = handover::LineOf(song);
    auto security = std::make_unique<OwnerOnly>();
    if (!security->make(sidOf(us))) {
        path_.clear();
        return Outcome::Alone;
    }
    // Two starts at the same moment: only one can make the pipe's first
    // instance, and the other then finds it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (handOver(name, line, sidOf(us)))
            return Outcome::HandedOver;
        HANDLE first = makePipe(name, true, *security);
        if (first != INVALID_HANDLE_VALUE) {
            listener_ = std::make_unique<Listener>(*this, name, std::move(security), first);
            return Outcome::Listening;
        }
    }
    // Someone else serves that name, or it cannot be made: on its own.
    return Outcome::Alone;
}
