#pragma once
// Song data file: 12-byte slots numbered from 1; a header line of two quoted
// fields (code page 936) inside the first 108 bytes; records from slot 10.
// (Contract shared with the window; implemented in songfile.cpp.)
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace songs {

constexpr int kSlotSize = 12;
constexpr int kFirstRecordSlot = 10;
constexpr int kHeaderBytes = (kFirstRecordSlot - 1) * kSlotSize;  // 108
constexpr int kFieldWidth = 5;      // tag and value fields
constexpr int kRecordTextLength = 2 * kFieldWidth;  // the length word always says 10
// The text boxes that feed the header hold at most this many characters; two
// GBK bytes each keeps the whole line (at most 87 bytes) ahead of slot 10.
constexpr int kMaxHeaderFieldChars = 20;

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

// The leading decimal number of a field, the way the value field is read:
// blanks before it are skipped, an optional sign, digits, an optional
// fraction; whatever follows is ignored; no digits at all reads as 0 (so
// "True " and "False" are 0). Rounded to the nearest whole number, halves to
// even ("12.5" -> 12, "13.5" -> 14). False when it does not fit 16 bits.
bool LeadingNumber(std::string_view field, std::int16_t& out);

// The key index of a note record's tag field: a number as above, but the
// field must hold nothing else than blanks around it. A tag that is no
// number, or does not fit 16 bits, is a damaged record.
bool KeyNumber(std::string_view tag, std::int16_t& out);

// One song file open in record mode. A record written is in the file when the
// write returns, so a program that is killed loses nothing; a thread of the
// file's own puts it on the disk (fdatasync) at most about half a second
// later, so that the note a key press records never waits on the disk. close()
// and flush() wait until everything written is on the disk.
class SongFile {
public:
    SongFile();
    ~SongFile();
    SongFile(const SongFile&) = delete;
    SongFile& operator=(const SongFile&) = delete;

    // Read and write; create makes the file when it does not exist.
    bool openForRecords(const std::string& path, bool create);
    // Read only: playing or dumping a song never changes it.
    bool openForReading(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    // Puts every record written on the disk, then closes the file.
    void close();
    // Puts every record written on the disk now; false when the disk refused
    // (then every later write fails too).
    bool flush();

    // Writes slot `slot` (10 or later; the slots before belong to the header
    // line), extending the file when the slot lies past its end. False when
    // the record cannot be written, or an earlier one could not be put on
    // the disk.
    bool writeRecord(std::int32_t slot, std::string_view tag, std::string_view value);
    // Writes records into consecutive slots from `slot` on in one write, so
    // that a note and the gap of the note before it cost the key one call.
    struct Field {
        std::string_view tag, value;
    };
    static constexpr std::size_t kMostAtOnce = 4;
    bool writeRecords(std::int32_t slot, std::span<const Field> records);  // at most kMostAtOnce
    bool writeRecords(std::int32_t slot, std::initializer_list<Field> records)
    {
        return writeRecords(slot, std::span<const Field>(records.begin(), records.size()));
    }
    // Reads slot n: Missing past the end of the file, Short for a last record
    // cut short, BadNumber when the value's number does not fit 16 bits (tag
    // and value are filled all the same).
    ReadStatus readRecord(std::int32_t slot, Record& out) const;
    // Size in bytes, -1 when it cannot be told.
    std::int64_t fileSize() const;

private:
    class Syncer;
    int fd_ = -1;
    std::unique_ptr<Syncer> syncer_;
    // Opened for reading only: slots come from a block read ahead.
    bool readOnly_ = false;
    mutable std::vector<char> cache_;
    mutable std::int32_t cacheFirst_ = 0;
};

// The call that puts a file's data on the disk (fdatasync). Tests and
// benchmarks make it slow or failing; an empty function restores the real one.
void SetDataSyncForTesting(std::function<bool(int fd)> sync);

// Header line: "title","author" CR LF, GBK; characters GBK cannot hold become '?'.
// Replaces the file with one holding only the line. Each field is cut to 20
// characters; a double quote inside a field is written as the full-width
// quote U+FF02 and a line break or other control character as a blank, so
// that the line always reads back as the two fields it was given.
bool WriteHeaderLine(const std::string& path, const std::string& titleUtf8, const std::string& authorUtf8);
// The bytes of that line.
std::string HeaderLine(const std::string& titleUtf8, const std::string& authorUtf8);
// Reads the two quoted fields (UTF-8). False when the file cannot be read or
// has no header line of two fields (an empty file, or no comma after the
// first field); what was found still comes back, missing fields empty. Only
// the first line within the first 108 bytes is looked at; bytes that are not
// GBK become U+FFFD.
bool ReadHeaderLine(const std::string& path, std::string& titleUtf8, std::string& authorUtf8);

// The two fields of a header line given as bytes (the reading rule of
// ReadHeaderLine without the file); true when the line holds two fields.
bool ParseHeaderLine(std::string_view bytes, std::string& titleUtf8, std::string& authorUtf8);

// Code page 936 <-> UTF-8, the same bytes on every system. Encoding puts '?'
// for what GBK cannot hold (and for bytes that are not UTF-8); decoding puts
// U+FFFD for bytes that are not GBK. Code page 936 is taken as Windows has it,
// with 0x80 for the euro sign, but without its user-defined byte pairs: no
// private-use character is written, and such a pair reads as U+FFFD.
std::string Utf8ToGbk(std::string_view utf8);
std::string GbkToUtf8(std::string_view gbk);
// Whether the bytes are well-formed UTF-8 (an empty text is).
bool IsUtf8(std::string_view bytes);

}  // namespace songs
