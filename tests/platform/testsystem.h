#pragma once
// What the song tests make that only some systems have: a pipe where a song
// is looked for, a link, a full disk, a mode, a folder that takes no new
// file. Each says whether it could, so that a test skips where the system has
// no such thing (testsystem_posix.cpp, testsystem_windows.cpp).
#include <cstdint>
#include <memory>
#include <string>

namespace songtest {

// A pipe nobody writes to, for as long as the object lives: reading it would
// wait for ever. A FIFO at `where`; on Windows a named pipe (\\.\pipe\...).
class Pipe {
public:
    explicit Pipe(const std::string& where);
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool made() const { return made_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool made_ = false;
    std::intptr_t handle_ = -1;
};

// A symbolic link; false where the system (or the user's rights) refuse one.
bool MakeLink(const std::string& target, const std::string& link);

// No file grows past `bytes` while it lives; active() is false where the
// system has no such limit.
class DiskFull {
public:
    explicit DiskFull(std::uintmax_t bytes);
    ~DiskFull();
    bool active() const;
    void lift();

private:
    struct Limit;
    std::unique_ptr<Limit> limit_;
};

// Sets the permission bits; false where files have none.
bool SetMode(const std::string& path, unsigned mode);

// The folder refuses new files while its files stay writable; false where
// the system cannot be made to.
bool RefuseNewFiles(const std::string& folder, bool on);

}  // namespace songtest
