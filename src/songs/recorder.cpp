#include "songs/recorder.h"

#include <cerrno>
#include <limits>
#include <unistd.h>

namespace songs {

std::string NumberText(long long value) { return std::to_string(value); }

std::string_view BoolText(bool value) { return value ? "True" : "False"; }

bool SongRecorder::writeNext(std::string_view tag, std::string_view value)
{
    if (!file_.isOpen() || RecordNo >= std::numeric_limits<std::int32_t>::max())
        return false;
    if (!file_.writeRecord(RecordNo + 1, tag, value))
        return false;
    // Counted only once written, so the end marker takes the slot of a failed write.
    ++RecordNo;
    return true;
}

bool SongRecorder::writeHalf(const HalfSettings& half)
{
    return writeNext("@DiaZ", NumberText(half.tone)) && writeNext("@YinL", NumberText(half.intensity)) &&
           writeNext("@YueQ", NumberText(half.instrument)) && writeNext("@YinG", NumberText(half.pitch)) &&
           writeNext("@XiaY", BoolText(half.silencer)) && writeNext("@YinC", NumberText(half.mlong));
}

bool SongRecorder::start(const std::string& path, const std::string& titleUtf8, const std::string& authorUtf8,
                         const HalfSettings& upper, const HalfSettings& lower)
{
    file_.close();
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        return false;
    if (!WriteHeaderLine(path, titleUtf8, authorUtf8))
        return false;
    if (!file_.openForRecords(path, false))
        return false;
    // Upper half first, so that the song goes on with the lower half selected.
    RecordNo = kFirstRecordSlot - 1;
    const bool written = writeNext("@TonD", "2") && writeHalf(upper) && writeNext("@TonD", "1") && writeHalf(lower);
    if (!written) {
        file_.close();
        return false;
    }
    LastNoteRecord = -1;
    return true;
}

void SongRecorder::stop()
{
    if (!file_.isOpen())
        return;
    writeNext("@END ", "0");
    file_.close();
}

bool SongRecorder::writeSettingRecord(std::string_view tag, std::string_view value)
{
    return writeNext(tag, value);
}

bool SongRecorder::recordNote(std::int16_t note, std::int16_t gapTicks)
{
    if (!file_.isOpen())
        return true;
    // The slot is checked before the previous note's gap is touched: a note
    // that cannot be recorded leaves the last one as the last, with its 10.
    if (RecordNo >= kLastNoteSlot)
        return false;
    if (LastNoteRecord > 0 && LastNoteRecord == RecordNo) {
        // The last note is the record before: its gap and this note go to
        // the file in one write.
        if (!file_.writeRecords(LastNoteRecord, {{NumberText(LastKey), NumberText(gapTicks)}, {NumberText(note), "10"}}))
            return false;
        ++RecordNo;
        LastNoteRecord = static_cast<std::int16_t>(RecordNo);
        LastKey = note;
        return true;
    }
    if (LastNoteRecord > 0 && !file_.writeRecord(LastNoteRecord, NumberText(LastKey), NumberText(gapTicks)))
        return false;
    if (!writeNext(NumberText(note), "10"))
        return false;
    LastNoteRecord = static_cast<std::int16_t>(RecordNo);
    LastKey = note;
    return true;
}

}  // namespace songs
