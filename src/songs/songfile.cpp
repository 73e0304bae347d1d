#include "songs/songfile.h"

#include "songs/wholefile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace songs {

namespace {

// The code page of the header line; "GBK" is tried where a C library does
// not know it as CP936.
constexpr const char* kHeaderCodePage = "CP936";
constexpr const char* kHeaderCodePageFallback = "GBK";
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

iconv_t openConverter(const char* to, const char* from)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        const bool toGbk = std::strcmp(to, kHeaderCodePage) == 0;
        cd = toGbk ? iconv_open(kHeaderCodePageFallback, from) : iconv_open(to, kHeaderCodePageFallback);
    }
    return cd;
}

// Runs iconv over the whole input; at each byte it cannot take, `onBad`
// appends a stand-in and says how many input bytes to skip.
template <typename OnBad>
std::string convert(iconv_t cd, std::string_view in, OnBad onBad)
{
    std::string out;
    char buffer[256];
    std::size_t pos = 0;
    while (pos < in.size()) {
        char* inPtr = const_cast<char*>(in.data() + pos);
        std::size_t inLeft = in.size() - pos;
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        pos = in.size() - inLeft;
        if (rc != static_cast<std::size_t>(-1))
            break;
        if (err == E2BIG)
            continue;
        // EILSEQ, EINVAL (cut short at the end) or anything else: replace and go on.
        pos += onBad(out, pos);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

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

std::size_t readAll(int fd, char* data, std::size_t size, off_t offset, bool& failed)
{
    failed = false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, data + done, size - done, offset + static_cast<off_t>(done));
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

// Only a plain file is a song: a folder opens but cannot be read, and a pipe
// or a device would block the window. O_NONBLOCK keeps the open itself from
// waiting on a pipe.
int openRegularFileForReading(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, 0);
    return fd;
}

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
    const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
    fd_ = ::open(path.c_str(), flags, 0666);
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
        ::close(fd_);
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
    const off_t offset = static_cast<off_t>(slot - 1) * kSlotSize;
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
    const off_t offset = static_cast<off_t>(slot - 1) * kSlotSize;
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
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0)
        return -1;
    return st.st_size;
}

std::string Utf8ToGbk(std::string_view utf8)
{
    iconv_t cd = openConverter(kHeaderCodePage, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No converter on this system: ASCII is the same in both.
        std::string out;
        for (std::size_t i = 0; i < utf8.size(); i += utf8SequenceLength(utf8, i))
            out += static_cast<unsigned char>(utf8[i]) < 0x80 ? utf8[i] : '?';
        return out;
    }
    std::string out = convert(cd, utf8, [utf8](std::string& o, std::size_t pos) {
        o += '?';
        return pos < utf8.size() ? utf8SequenceLength(utf8, pos) : std::size_t{1};
    });
    iconv_close(cd);
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
    iconv_t cd = openConverter("UTF-8", kHeaderCodePage);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::string out;
        for (char c : gbk) {
            if (static_cast<unsigned char>(c) < 0x80)
                out += c;
            else
                out += kReplacementUtf8;
        }
        return out;
    }
    std::string out = convert(cd, gbk, [](std::string& o, std::size_t) {
        o += kReplacementUtf8;
        return std::size_t{1};
    });
    iconv_close(cd);
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
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool ok = WriteAll(fd, line) && SyncData(fd);
    const bool closed = ::close(fd) == 0;
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
    ::close(fd);
    if (failed)
        return false;
    return ParseHeaderLine(std::string_view(bytes, n), titleUtf8, authorUtf8);
}

}  // namespace songs
