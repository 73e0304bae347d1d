#include "songs/recorder.h"

#include "songs/platform/files.h"
#include "songs/wholefile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>

namespace songs {

namespace {
constexpr std::int16_t kLastNoteTicks = 10;  // the wait a note keeps until the next one comes
}  // namespace

std::string NumberText(long long value) { return std::to_string(value); }

std::string SongHeader(const std::string& titleUtf8, const std::string& authorUtf8, const HalfSettings& upper,
                       const HalfSettings& lower)
{
    std::string bytes = HeaderLine(titleUtf8, authorUtf8);
    bytes.resize(std::size_t(kHeaderBytes), '\0');
    const auto append = [&bytes](Tag tag, std::string_view value) {
        const auto record = EncodeRecord(TagField(tag), value);
        bytes.append(record.data(), record.size());
    };
    for (const auto& [keyboard, half] : {std::pair{kUpperKeyboard, &upper}, std::pair{kLowerKeyboard, &lower}}) {
        append(Tag::Keyboard, NumberText(keyboard));
        append(Tag::Tone, NumberText(half->tone));
        append(Tag::Intensity, NumberText(half->intensity));
        append(Tag::Instrument, NumberText(half->instrument));
        append(Tag::Pitch, NumberText(half->pitch));
        append(Tag::Silencer, BoolText(half->silencer));
        append(Tag::Mlong, NumberText(half->mlong));
    }
    return bytes;
}

void SongRecorder::queue(std::int32_t slot, bool appended, std::string_view tag, std::string_view value)
{
    queued_.push_back({slot, appended, std::string(tag), std::string(value)});
}

bool SongRecorder::writeQueued()
{
    // Records in consecutive slots (a note and the gap of the note before
    // it) go out in one write.
    std::size_t i = 0;
    bool ok = true;
    while (ok && i < queued_.size()) {
        std::size_t run = 1;
        while (run < SongFile::kMostAtOnce && i + run < queued_.size() && queued_[i + run].slot == queued_[i].slot + std::int32_t(run))
            ++run;
        std::array<SongFile::Field, SongFile::kMostAtOnce> fields;
        for (std::size_t k = 0; k < run; ++k)
            fields[k] = {queued_[i + k].tag, queued_[i + k].value};
        ok = file_.writeRecords(queued_[i].slot, std::span<const SongFile::Field>(fields.data(), run));
        if (ok)
            i += run;
    }
    if (!ok) {
        failed_ = true;
        // Counted only once written: the end marker takes the first slot of
        // a new record that did not reach the file.
        for (std::size_t k = i; k < queued_.size(); ++k)
            if (queued_[k].appended)
                RecordNo = std::min(RecordNo, queued_[k].slot - 1);
    }
    queued_.clear();
    return ok;
}

bool SongRecorder::releaseWrites()
{
    holding_ = false;
    return writeQueued();
}

bool SongRecorder::flush()
{
    const bool written = releaseWrites();
    return file_.flush() && written;
}

bool SongRecorder::writeNext(std::string_view tag, std::string_view value)
{
    if (!file_.isOpen() || RecordNo >= std::numeric_limits<std::int32_t>::max())
        return false;
    queue(RecordNo + 1, true, tag, value);
    ++RecordNo;
    return holding_ || writeQueued();
}

bool SongRecorder::start(const std::string& path, const std::string& titleUtf8, const std::string& authorUtf8,
                         const HalfSettings& upper, const HalfSettings& lower, const SongTime& time)
{
    releaseWrites();
    file_.close();
    failed_ = true;  // until the header is written
    if (!files::Remove(path) && errno != ENOENT)
        return false;
    if (!ReplaceFile(path, SongHeader(titleUtf8, authorUtf8, upper, lower), NewFileMode()))
        return false;
    if (!file_.openForRecords(path, false))
        return false;
    RecordNo = kFirstRecordSlot - 1 + kHeaderRecords;
    LastNoteRecord = -1;
    for (const auto& [tag, value] : TimeRecords(time)) {
        if (!writeNext(tag, value)) {
            file_.close();
            return false;
        }
    }
    failed_ = false;
    return true;
}

bool SongRecorder::stop()
{
    if (!file_.isOpen())
        return false;
    // The end marker comes after the last release or pedal move.
    if (LastNoteRecord > 0 && lastLengthTicks_ >= kLastNoteTicks)
        queue(LastNoteRecord, false, NumberText(LastKey), NumberText(lastLengthTicks_ + 1));
    releaseWrites();
    const bool ended = writeNext(Tag::End, "0");
    const bool onDisk = file_.flush();
    file_.close();
    return ended && onDisk && !failed_;
}

bool SongRecorder::writeSettingRecord(Tag tag, std::string_view value)
{
    return writeNext(TagField(tag), value);
}

bool SongRecorder::writeLengthRecord(const LengthRecord& record, std::int16_t ticks)
{
    if (!file_.isOpen() || LastNoteRecord <= 0)
        return true;
    lastLengthTicks_ = std::max(lastLengthTicks_, ticks);
    return writeNext(LengthTag(record), NumberText(ticks));
}

bool SongRecorder::recordNote(std::int16_t note, std::int16_t gapTicks)
{
    if (!file_.isOpen())
        return true;
    // The slot is checked before the previous note's gap is touched: a note
    // that cannot be recorded leaves the last one as the last, with its 10.
    if (RecordNo >= kLastNoteSlot)
        return false;
    if (LastNoteRecord > 0)
        queue(LastNoteRecord, false, NumberText(LastKey), NumberText(gapTicks));
    if (!writeNext(NumberText(note), NumberText(kLastNoteTicks)))
        return false;
    lastLengthTicks_ = 0;
    LastNoteRecord = static_cast<std::int16_t>(RecordNo);
    LastKey = note;
    return true;
}

}  // namespace songs
