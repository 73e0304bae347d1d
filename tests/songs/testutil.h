#pragma once
// Temporary folders and raw bytes for the song tests; nothing is written
// inside the repository. Paths are UTF-8, as the library takes them.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace songtest {

// A UTF-8 path as the standard library takes it on every system.
inline std::filesystem::path fsPath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

class TempDir {
public:
    TempDir()
    {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path p = base / ("sonarel-songs-" + std::to_string(random()));
            if (std::filesystem::create_directory(p, ec)) {
                const std::u8string name = p.u8string();
                path_.assign(name.begin(), name.end());
            }
        }
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(fsPath(path_), ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(fsPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(fsPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A record built by hand: length 10, then the 10 characters as given.
inline std::string rawRecord(const std::string& tenChars) { return std::string("\x0a\x00", 2) + tenChars; }

inline std::string dataFile(const std::string& name) { return std::string(SONGS_TEST_DATA_DIR) + "/" + name; }

}  // namespace songtest
