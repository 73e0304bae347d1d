#include "songs/songfile.h"

#include "songs/platform/codepage.h"
#include "songs/platform/files.h"
#include "songs/wholefile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace songs {

namespace {

constexpr const char* kReplacementUtf8 = "\xEF\xBF\xBD";  // U+FFFD
constexpr const char* kFullWidthQuoteUtf8 = "\xEF\xBC\x82";  // U+FF02, GBK A3 A2
constexpr std::int16_t kInt16Min = -32768;
constexpr std::int16_t kInt16Max = 32767;

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

struct ParsedNumber {
    bool hasDigits = false;
    bool fits = true;
    std::int16_t value = 0;
    std::size_t end = 0;  // first byte after the number
};

// Sign, digits and fraction from `pos`; rounding is done on the digits, so
// there is no binary fraction to round wrongly.
ParsedNumber parseNumber(std::string_view s, std::size_t pos)
{
    ParsedNumber r;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) {
        negative = s[pos] == '-';
        ++pos;
    }
    // Anything past this cannot fit 16 bits, so the accumulation stops growing.
    constexpr std::int64_t kCap = 1000000;
    std::int64_t magnitude = 0;
    while (pos < s.size() && isDigit(s[pos])) {
        r.hasDigits = true;
        magnitude = std::min<std::int64_t>(magnitude * 10 + (s[pos] - '0'), kCap);
        ++pos;
    }
    int firstFraction = 0;
    bool restNonZero = false;
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        bool first = true;
        while (pos < s.size() && isDigit(s[pos])) {
            r.hasDigits = true;
            if (first)
                firstFraction = s[pos] - '0';
            else if (s[pos] != '0')
                restNonZero = true;
            first = false;
            ++pos;
        }
    }
    r.end = pos;
    // Nearest whole number, halves to the even neighbour.
    if (firstFraction > 5 || (firstFraction == 5 && (restNonZero || magnitude % 2 == 1)))
        ++magnitude;
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < kInt16Min || value > kInt16Max) {
        r.fits = false;
        return r;
    }
    r.value = static_cast<std::int16_t>(value);
    return r;
}

// Length of the UTF-8 sequence at s[i], or 1 when it is not valid there.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(s[i]);
    std::size_t n = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4;
    else
        return 1;
    if (i + n > s.size())
        return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 1;
    return n;
}

// The code point of a whole UTF-8 sequence; false for what UTF-8 forbids
// (a longer form than needed, a surrogate, past U+10FFFF).
bool utf8CodePoint(std::string_view s, char32_t& c)
{
    static constexpr char32_t kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    c = static_cast<unsigned char>(s[0]) & kLeadMask[s.size()];
    for (std::size_t k = 1; k < s.size(); ++k)
        c = c << 6 | (static_cast<unsigned char>(s[k]) & 0x3F);
    return c >= kLeast[s.size()] && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Windows maps code page 936's user-defined byte pairs to private-use
// characters, iconv does not: they mean nothing from one computer to the
// next, so on both systems no bytes hold them and no bytes read as them.
bool isPrivateUse(char32_t c) { return c >= 0xE000 && c <= 0xF8FF; }

// Makes a header field safe: at most 20 characters, no double quote (it would
// end the field early), no line break (it would end the line).
std::string sanitizeHeaderField(std::string_view utf8)
{
    std::string out;
    int chars = 0;
    for (std::size_t i = 0; i < utf8.size() && chars < kMaxHeaderFieldChars; ++chars) {
        const std::size_t n = utf8SequenceLength(utf8, i);
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (n == 1 && c >= 0x80)
            out += '?';
        else if (c == '"')
            out += kFullWidthQuoteUtf8;
        else if (c < 0x20 || c == 0x7F)
            out += ' ';
        else
            out.append(utf8.substr(i, n));
        i += n;
    }
    return out;
}

std::size_t readAll(int fd, char* data, std::size_t size, std::int64_t offset, bool& failed)
{
    failed = false;
    std::size_t done = 0;
    while (done < size) {
        const long long n = files::ReadAt(fd, data + done, size - done, offset + static_cast<std::int64_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed = true;
            break;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// A file system without a sync of its own (EINVAL) has nothing more to flush.
std::mutex g_syncMutex;
std::function<bool(int)> g_sync;

bool dataSync(int fd)
{
    std::function<bool(int)> sync;
    {
        std::lock_guard<std::mutex> lock(g_syncMutex);
        sync = g_sync;
    }
    return sync ? sync(fd) : SyncData(fd);
}

// Records written within this time reach the disk with one sync.
constexpr auto kSyncBatch = std::chrono::milliseconds(500);

// Only a plain file is a song: a folder cannot be read, and a pipe or a
// device would block the window.
int openRegularFileForReading(const std::string& path) { return files::OpenToRead(path); }

}  // namespace

std::array<char, kSlotSize> EncodeRecord(std::string_view tag, std::string_view value)
{
    std::array<char, kSlotSize> bytes;
    bytes.fill(' ');
    bytes[0] = static_cast<char>(kRecordTextLength & 0xFF);
    bytes[1] = static_cast<char>((kRecordTextLength >> 8) & 0xFF);
    tag = tag.substr(0, kFieldWidth);
    value = value.substr(0, kFieldWidth);
    std::copy(tag.begin(), tag.end(), bytes.begin() + 2);
    std::copy(value.begin(), value.end(), bytes.begin() + 2 + kFieldWidth);
    return bytes;
}

bool LeadingNumber(std::string_view field, std::int16_t& out)
{
    std::size_t pos = 0;
    while (pos < field.size() && isBlank(field[pos]))
        ++pos;
    const ParsedNumber n = parseNumber(field, pos);
    if (!n.hasDigits) {
        out = 0;
        return true;
    }
    if (!n.fits)
        return false;
    out = n.value;
    return true;
}

bool KeyNumber(std::string_view tag, std::int16_t& out)
{
    std::size_t pos = 0;
    while (pos < tag.size() && isBlank(tag[pos]))
        ++pos;
    const ParsedNumber n = parseNumber(tag, pos);
    if (!n.hasDigits || !n.fits)
        return false;
    for (std::size_t i = n.end; i < tag.size(); ++i)
        if (!isBlank(tag[i]))
            return false;
    out = n.value;
    return true;
}

void SetDataSyncForTesting(std::function<bool(int fd)> sync)
{
    std::lock_guard<std::mutex> lock(g_syncMutex);
    g_sync = std::move(sync);
}

// Puts a file's records on the disk away from the thread that writes them.
class SongFile::Syncer {
public:
    explicit Syncer(int fd) : fd_(fd), thread_([this] { run(); }) {}
    ~Syncer()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    void markDirty()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (dirty_)
                return;
            dirty_ = true;
        }
        wake_.notify_all();
    }

    bool failed()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return failed_;
    }

    // On the caller's thread: whatever is dirty now is synced before return.
    bool flush()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (dirty_) {
            dirty_ = false;
            lock.unlock();
            const bool ok = dataSync(fd_);
            lock.lock();
            failed_ = failed_ || !ok;
        }
        return !failed_;
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return dirty_ || stop_; });
            if (stop_)
                return;
            // More records of the same moment (a chord, a setting and its
            // note) ride on the same sync.
            wake_.wait_for(lock, kSyncBatch, [this] { return stop_; });
            if (stop_ || !dirty_)
                continue;
            dirty_ = false;
            lock.unlock();
            const bool ok = dataSync(fd_);
            lock.lock();
            failed_ = failed_ || !ok;
        }
    }

    const int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool dirty_ = false;
    bool stop_ = false;
    bool failed_ = false;
    std::thread thread_;  // last: it starts with the members above in place
};

SongFile::SongFile() = default;
SongFile::~SongFile() { close(); }

bool SongFile::openForRecords(const std::string& path, bool create)
{
    close();
    fd_ = files::OpenToWrite(path, create ? unsigned(files::kCreate) : 0u);
    return fd_ >= 0;
}

bool SongFile::openForReading(const std::string& path)
{
    close();
    fd_ = openRegularFileForReading(path);
    readOnly_ = fd_ >= 0;
    return fd_ >= 0;
}

bool SongFile::flush()
{
    return !syncer_ || syncer_->flush();
}

void SongFile::close()
{
    if (syncer_) {
        syncer_->flush();
        syncer_.reset();
    }
    if (fd_ >= 0)
        files::Close(fd_);
    fd_ = -1;
    readOnly_ = false;
    cache_.clear();
}

bool SongFile::writeRecord(std::int32_t slot, std::string_view tag, std::string_view value)
{
    return writeRecords(slot, {{tag, value}});
}

bool SongFile::writeRecords(std::int32_t slot, std::span<const Field> records)
{
    if (fd_ < 0 || slot < kFirstRecordSlot || records.size() == 0 || records.size() > kMostAtOnce)
        return false;
    std::array<char, kMostAtOnce * kSlotSize> bytes{};
    std::size_t size = 0;
    for (const Field& record : records) {
        const auto one = EncodeRecord(record.tag, record.value);
        std::copy(one.begin(), one.end(), bytes.begin() + std::ptrdiff_t(size));
        size += one.size();
    }
    const std::int64_t offset = static_cast<std::int64_t>(slot - 1) * kSlotSize;
    // In the file at once, so a killed program keeps every record written
    // before it; on the disk within the batch time, so a power cut costs at
    // most the last half second, and the key press that wrote it never waits.
    if (syncer_ && syncer_->failed())
        return false;
    if (!WriteAll(fd_, std::string_view(bytes.data(), size), offset))
        return false;
    if (!syncer_)
        syncer_ = std::make_unique<Syncer>(fd_);
    syncer_->markDirty();
    return true;
}

ReadStatus SongFile::readRecord(std::int32_t slot, Record& out) const
{
    out = Record{};
    if (fd_ < 0)
        return ReadStatus::IoError;
    if (slot < 1)
        return ReadStatus::Missing;
    std::array<char, kSlotSize> one{};
    const char* bytes = one.data();
    std::size_t n = 0;
    bool failed = false;
    const std::int64_t offset = static_cast<std::int64_t>(slot - 1) * kSlotSize;
    if (readOnly_) {
        // A song that is only read is read a block of slots at a time: a
        // playback or a dump reads each slot in order.
        constexpr std::size_t kBlockSlots = 4096;
        const auto inBlock = std::int64_t(slot) - cacheFirst_;
        if (inBlock < 0 || (inBlock + 1) * kSlotSize > std::int64_t(cache_.size())) {
            cache_.resize(kBlockSlots * kSlotSize);
            cache_.resize(readAll(fd_, cache_.data(), cache_.size(), offset, failed));
            cacheFirst_ = slot;
            if (failed) {
                cache_.clear();
                return ReadStatus::IoError;
            }
        }
        const std::size_t from = std::size_t(slot - cacheFirst_) * kSlotSize;
        bytes = cache_.data() + from;
        n = std::min<std::size_t>(cache_.size() - from, kSlotSize);
    } else {
        n = readAll(fd_, one.data(), one.size(), offset, failed);
        if (failed)
            return ReadStatus::IoError;
    }
    if (n == 0)
        return ReadStatus::Missing;
    if (n < std::size_t(kSlotSize))
        return ReadStatus::Short;
    // The length word is not trusted: the fields are where the slot puts them.
    out.tag.assign(bytes + 2, kFieldWidth);
    out.value.assign(bytes + 2 + kFieldWidth, kFieldWidth);
    if (!LeadingNumber(out.value, out.number))
        return ReadStatus::BadNumber;
    return ReadStatus::Ok;
}

std::int64_t SongFile::fileSize() const
{
    files::Info info;
    if (fd_ < 0 || !files::InfoOf(fd_, info))
        return -1;
    return info.size;
}

std::string Utf8ToGbk(std::string_view utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            out += utf8[i++];
            continue;
        }
        const std::size_t n = utf8SequenceLength(utf8, i);
        char32_t c = 0;
        if (n == 1 || !utf8CodePoint(utf8.substr(i, n), c) || isPrivateUse(c) || !codepage::Encode936(c, out))
            out += '?';
        i += n;
    }
    return out;
}

bool IsUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = std::uint8_t(s[i]);
        const int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (more < 0 || s.size() - i - 1 < std::size_t(more))
            return false;
        for (int k = 0; k < more; ++k)
            if ((std::uint8_t(s[++i]) & 0xC0) != 0x80)
                return false;
    }
    return true;
}

std::string GbkToUtf8(std::string_view gbk)
{
    std::string out;
    for (std::size_t i = 0; i < gbk.size();) {
        if (static_cast<unsigned char>(gbk[i]) < 0x80) {
            out += gbk[i++];
            continue;
        }
        // A byte of its own (0x80, the euro sign), else a lead and a trail byte.
        char32_t c = 0;
        std::size_t n = 1;
        if (!codepage::Decode936(gbk.substr(i, 1), c) || isPrivateUse(c)) {
            n = 2;
            if (i + 1 >= gbk.size() || !codepage::Decode936(gbk.substr(i, 2), c) || isPrivateUse(c)) {
                out += kReplacementUtf8;
                ++i;
                continue;
            }
        }
        appendUtf8(out, c);
        i += n;
    }
    return out;
}

std::string HeaderLine(const std::string& titleUtf8, const std::string& authorUtf8)
{
    return "\"" + Utf8ToGbk(sanitizeHeaderField(titleUtf8)) + "\",\"" + Utf8ToGbk(sanitizeHeaderField(authorUtf8)) +
           "\"\r\n";
}

bool WriteHeaderLine(const std::string& path, const std::string& titleUtf8, const std::string& authorUtf8)
{
    const std::string line = HeaderLine(titleUtf8, authorUtf8);
    const int fd = files::OpenToWrite(path, files::kWriteOnly | files::kCreate | files::kTruncate);
    if (fd < 0)
        return false;
    const bool ok = WriteAll(fd, line) && SyncData(fd);
    const bool closed = files::Close(fd);
    if (ok)
        SyncFolder(FolderOf(path));  // a new file survives a power cut only with its folder entry
    return ok && closed;
}

bool ParseHeaderLine(std::string_view bytes, std::string& titleUtf8, std::string& authorUtf8)
{
    // The line ends at CR, LF or the first zero byte (the unwritten rest of
    // the header slots), and never reaches into slot 10.
    std::string_view line = bytes.substr(0, kHeaderBytes);
    const auto end = line.find_first_of(std::string_view("\r\n\0", 3));
    if (end != std::string_view::npos)
        line = line.substr(0, end);

    // GBK trail bytes are never '"' or ',', so splitting on bytes is safe.
    std::size_t pos = 0;
    bool separated = false;  // a comma ended the field just read
    auto nextField = [&]() -> std::string {
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        std::string_view field;
        if (pos < line.size() && line[pos] == '"') {
            const std::size_t start = pos + 1;
            const std::size_t close = line.find('"', start);
            const std::size_t stop = close == std::string_view::npos ? line.size() : close;
            field = line.substr(start, stop - start);
            // Whatever stands between the closing quote and the comma is dropped.
            const std::size_t comma = line.find(',', stop);
            separated = comma != std::string_view::npos;
            pos = separated ? comma + 1 : line.size();
        } else {
            const std::size_t comma = line.find(',', pos);
            const std::size_t stop = comma == std::string_view::npos ? line.size() : comma;
            field = line.substr(pos, stop - pos);
            while (!field.empty() && isBlank(field.back()))
                field.remove_suffix(1);
            separated = comma != std::string_view::npos;
            pos = separated ? comma + 1 : line.size();
        }
        return GbkToUtf8(field);
    };
    titleUtf8 = nextField();
    const bool twoFields = separated;
    authorUtf8 = nextField();
    return twoFields;
}

bool ReadHeaderLine(const std::string& path, std::string& titleUtf8, std::string& authorUtf8)
{
    titleUtf8.clear();
    authorUtf8.clear();
    const int fd = openRegularFileForReading(path);
    if (fd < 0)
        return false;
    char bytes[kHeaderBytes];
    bool failed = false;
    const std::size_t n = readAll(fd, bytes, sizeof bytes, 0, failed);
    files::Close(fd);
    if (failed)
        return false;
    return ParseHeaderLine(std::string_view(bytes, n), titleUtf8, authorUtf8);
}

}  // namespace songs
