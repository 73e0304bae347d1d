#include "platform/testsystem.h"

#include <windows.h>

#include <atomic>

namespace songtest {
namespace {

std::wstring wide(const std::string& utf8)
{
    std::wstring out(utf8.size(), L'\0');
    out.resize(std::size_t(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), int(out.size()))));
    return out;
}

}  // namespace

// Named pipes live apart from the file system: `where` only makes the name unique.
Pipe::Pipe(const std::string&)
{
    static std::atomic<int> made {0};
    path_ = "\\\\.\\pipe\\sonarel-songs-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
    const HANDLE h = CreateNamedPipeW(wide(path_).c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 4, 4096,
                                      4096, 0, nullptr);
    made_ = h != INVALID_HANDLE_VALUE;
    handle_ = std::intptr_t(h);
}

Pipe::~Pipe()
{
    if (made_)
        CloseHandle(HANDLE(handle_));
}

// Without the right to make links (or under Wine, which says it made one and
// did not) there is no link to test with.
bool MakeLink(const std::string& target, const std::string& link)
{
    if (!CreateSymbolicLinkW(wide(link).c_str(), wide(target).c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return false;
    const DWORD attributes = GetFileAttributesW(wide(link).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

struct DiskFull::Limit {};
DiskFull::DiskFull(std::uintmax_t) {}
DiskFull::~DiskFull() = default;
bool DiskFull::active() const { return false; }
void DiskFull::lift() {}

bool SetMode(const std::string&, unsigned) { return false; }

bool RefuseNewFiles(const std::string&, bool) { return false; }

}  // namespace songtest
