#include "songs/wholefile.h"

#include "songs/platform/files.h"

#include <cerrno>
#include <utility>

namespace songs {

bool WriteAll(int fd, std::string_view bytes, std::int64_t offset)
{
    while (!bytes.empty()) {
        const long long n = files::WriteAt(fd, bytes.data(), bytes.size(), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
        offset += n;
    }
    return true;
}

bool SyncData(int fd)
{
    while (!files::SyncData(fd)) {
        if (errno == EINTR)
            continue;
        return errno == EINVAL;
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of(files::kSeparators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void SyncFolder(const std::string& folder) { files::SyncFolder(folder); }

unsigned NewFileMode() { return files::NewFileMode(); }

ReplacingFile::ReplacingFile(std::string path, unsigned mode) : path_(std::move(path)), mode_(mode) {}

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::discard()
{
    if (fd_ < 0)
        return;
    const int why = errno;
    files::Close(fd_);
    files::Remove(temp_);
    fd_ = -1;
    errno = why;
}

bool ReplacingFile::open()
{
    discard();
    fd_ = files::CreateTempIn(FolderOf(path_), mode_, temp_);
    written_ = 0;
    return fd_ >= 0;
}

bool ReplacingFile::write(std::string_view bytes)
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (!WriteAll(fd_, bytes, written_)) {
        discard();
        return false;
    }
    written_ += std::int64_t(bytes.size());
    return true;
}

bool ReplacingFile::commit()
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (!SyncData(fd_)) {
        discard();
        return false;
    }
    const int fd = std::exchange(fd_, -1);
    if (!files::Close(fd) || !files::Replace(temp_, path_)) {
        const int why = errno;
        files::Remove(temp_);
        errno = why;
        return false;
    }
    SyncFolder(FolderOf(path_));
    return true;
}

bool ReplaceFile(const std::string& path, std::string_view bytes, unsigned mode, bool* folderRefused)
{
    ReplacingFile file(path, mode);
    const bool opened = file.open();
    if (folderRefused)
        *folderRefused = !opened;
    return opened && file.write(bytes) && file.commit();
}

ReadOutcome ReadWholeFile(const std::string& path, std::string& data, std::size_t largest)
{
    data.clear();
    bool notAFile = false;
    const int fd = files::OpenToRead(path, &notAFile);
    if (fd < 0)
        return notAFile ? ReadOutcome::NotAFile : ReadOutcome::CannotOpen;
    files::Info info;
    ReadOutcome outcome = ReadOutcome::Ok;
    if (!files::InfoOf(fd, info))
        outcome = ReadOutcome::NotAFile;
    else if (std::uint64_t(info.size) > largest)
        outcome = ReadOutcome::TooLarge;
    // A file may still grow or shrink while it is read: what is there counts.
    char buffer[1 << 16];
    std::int64_t offset = 0;
    while (outcome == ReadOutcome::Ok) {
        const long long n = files::ReadAt(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            outcome = ReadOutcome::ReadError;
        else if (n == 0)
            break;
        else if (data.size() + std::size_t(n) > largest)
            outcome = ReadOutcome::TooLarge;
        else
            data.append(buffer, std::size_t(n));
        offset += n > 0 ? n : 0;
    }
    const int why = errno;
    files::Close(fd);
    errno = why;
    if (outcome != ReadOutcome::Ok)
        data.clear();
    return outcome;
}

std::string ReadFileStart(const std::string& path, std::size_t size)
{
    std::string data(size, '\0');
    const int fd = files::OpenToRead(path);
    if (fd < 0)
        return {};
    std::size_t got = 0;
    while (got < size) {
        const long long n = files::ReadAt(fd, data.data() + got, size - got, std::int64_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    files::Close(fd);
    data.resize(got);
    return data;
}

}  // namespace songs
