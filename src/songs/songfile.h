#pragma once
// Song data file: 12-byte slots numbered from 1; a header line of two quoted
// fields (code page 936) inside the first 108 bytes; records from slot 10.
// (Contract shared with the window; implemented in songfile.cpp.)
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace songs {

constexpr int kSlotSize = 12;
constexpr int kFirstRecordSlot = 10;
constexpr int kHeaderBytes = (kFirstRecordSlot - 1) * kSlotSize;  // 108

// Fills a record: length 10 little-endian, tag and value left-aligned,
// blank-padded, cut at 5 characters.
std::array<char, kSlotSize> EncodeRecord(std::string_view tag, std::string_view value);

struct Record {
    std::string tag;    // 5 characters as stored
    std::string value;  // 5 characters as stored
    std::int16_t number = 0;  // leading decimal number of the value (0 when none)
    bool isSetting() const { return !tag.empty() && tag[0] == '@'; }
};

enum class ReadStatus { Ok, Missing, Short, BadNumber, IoError };

// One song file open in record mode. Writes are on disk when they return.
class SongFile {
public:
    SongFile() = default;
    ~SongFile();
    SongFile(const SongFile&) = delete;
    SongFile& operator=(const SongFile&) = delete;

    bool openForRecords(const std::string& path, bool create);
    bool isOpen() const { return fd_ >= 0; }
    void close();

    bool writeRecord(std::int32_t slot, std::string_view tag, std::string_view value);
    // Reads slot n: Missing past the end of the file, Short for a last record
    // cut short, BadNumber when the value's number does not fit 16 bits.
    ReadStatus readRecord(std::int32_t slot, Record& out) const;

private:
    int fd_ = -1;
};

// Header line: "title","author" CR LF, GBK; characters GBK cannot hold become '?'.
bool WriteHeaderLine(const std::string& path, const std::string& titleUtf8, const std::string& authorUtf8);
// Reads the two quoted fields (UTF-8). False when the file cannot be read;
// missing fields come back empty.
bool ReadHeaderLine(const std::string& path, std::string& titleUtf8, std::string& authorUtf8);

}  // namespace songs
