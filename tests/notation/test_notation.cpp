// The jianpu text read note by note, songs made of it and written back, and
// the printed score checked where its glyphs land.
#include "notation/jianpu.h"
#include "notation/scoredrawing.h"
#include "notation/scorefile.h"
#include "notation/songscore.h"
#include "songs/recorder.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <tuple>
#include <time.h>

using namespace notation;

namespace {

using Notes = std::vector<std::pair<int, int>>;  // (pitch or -1, length in 64ths)

Notes notesOf(const std::vector<Note>& voice)
{
    Notes out;
    for (const Note& n : voice)
        out.push_back({n.pitch, n.length});
    return out;
}

Score parse(const std::string& text, std::vector<std::string>* warnings = nullptr)
{
    Score score;
    std::string error;
    std::vector<std::string> w;
    EXPECT_TRUE(ParseJianpu(text, score, error, w)) << text << ": " << error;
    if (warnings)
        *warnings = w;
    return score;
}

std::string parseError(const std::string& text)
{
    Score score;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_FALSE(ParseJianpu(text, score, error, warnings)) << text;
    return error;
}

}  // namespace

TEST(JianpuText, everyRuleGivesItsNotes)
{
    struct Case {
        std::string text;
        Notes lower, upper;
    };
    const std::vector<Case> cases = {
        // 1 is the tonic from middle C up; the degrees of a major scale.
        {"1 2 3 4 5 6 7", {{60, 16}, {62, 16}, {64, 16}, {65, 16}, {67, 16}, {69, 16}, {71, 16}}, {}},
        {"1=D\n1", {{62, 16}}, {}},
        {"调: 1=bB\n1", {{70, 16}}, {}},
        {"key: 1=B\n1", {{71, 16}}, {}},
        {"1=#F\n#4 b7", {{66 + 6, 16}, {66 + 10, 16}}, {}},
        // Octave marks in any number and order with the length marks.
        {"1' 1'' 1, 5,, 1_' 1,_", {{72, 16}, {84, 16}, {48, 16}, {43, 16}, {72, 8}, {48, 8}}, {}},
        // Lengths: _ halves, . adds half (again), - adds a quarter; 0 rests.
        {"1_ 2__ 3___ 4. 5_. 6.. 7 - - 0 0_ 0 -",
         {{60, 8}, {62, 4}, {64, 2}, {65, 24}, {67, 12}, {69, 28}, {71, 48}, {-1, 16}, {-1, 8}, {-1, 32}},
         {}},
        // Bars may touch notes; comments end the line; voices by prefix, a
        // line without one continues the voice before.
        {"标题: 歌\n拍号: 3/4\n速度: 120\n上: 3 2 1|5 - -|] % end\n下：1, - -|\n1, - - ||",
         {{48, 48}, {48, 48}},
         {{64, 16}, {62, 16}, {60, 16}, {67, 48}}},
        {"3/4  \xE2\x99\xA9=72  1=C\n1", {{60, 16}}, {}},
    };
    for (const Case& c : cases) {
        const Score s = parse(c.text);
        EXPECT_EQ(notesOf(s.lower), c.lower) << c.text;
        EXPECT_EQ(notesOf(s.upper), c.upper) << c.text;
        // Written back, each reads as the same notes.
        const Score again = parse(WriteJianpu(s));
        EXPECT_EQ(notesOf(again.lower), c.lower) << WriteJianpu(s);
        EXPECT_EQ(notesOf(again.upper), c.upper) << WriteJianpu(s);
    }
    const Score headed = parse("标题: 歌\n作者: 人\n拍号: 3/4\n速度: 120\n1=bE\n1");
    EXPECT_EQ(headed.title, "歌");
    EXPECT_EQ(headed.author, "人");
    EXPECT_EQ(headed.barLength(), 48);
    EXPECT_EQ(headed.tempo, 120);
    EXPECT_EQ(headed.tonic, 3);
}

// What sounds: (start, MIDI note, length) in ms; at 125 a 64th lasts 30 ms.
using Played = std::vector<std::tuple<long, int, long>>;
Played playedOf(const Score& score, bool upper)
{
    Played out;
    for (const songs::SmfNote& n : ToSmf(score).notes)
        if ((n.channel == 1) == upper)
            out.emplace_back(std::lround(n.timeMs), n.note, std::lround(n.lengthMs));
    return out;
}

TEST(JianpuText, handWrittenSignsPlayAsWrittenOutAndReadBackTheSame)
{
    struct Case {
        std::string text;
        Played upper;
    };
    const std::string head = "速度: 125\r\n拍号: 2/4\r\n";
    const std::vector<Case> cases = {
        // A tie, with either sign and across a bar line: one note sounds.
        {"上: 1 ⌒ 1 | 2~2 | 3 - ~ | 3 5 ||", {{0, 60, 960}, {960, 62, 960}, {1920, 64, 1440}, {3360, 67, 480}}},
        // A slur is drawn, not heard; a 3 on the bracket makes a triplet.
        {"上: (1 2) | 3(1_ 2_ 3_) 4 ||", {{0, 60, 480}, {480, 62, 480}, {960, 60, 160}, {1120, 62, 160}, {1280, 64, 160}, {1440, 65, 480}}},
        // Repeats with endings, played as written out; a fermata holds on.
        {"上: |: 1 1 | [1. 2 2 :| [2. 3^ 3 ||",
         {{0, 60, 480}, {480, 60, 480}, {960, 62, 480}, {1440, 62, 480}, {1920, 60, 480}, {2400, 60, 480},
          {2880, 64, 720}, {3600, 64, 480}}},
        // Full-width signs; a pickup bar, and :|| repeating from the start.
        {"上：5 ｜ 1 — ｜（2_ 3_）5：｜｜",
         {{0, 67, 480}, {480, 60, 960}, {1440, 62, 240}, {1680, 64, 240}, {1920, 67, 480}, {2400, 67, 480},
          {2880, 60, 960}, {3840, 62, 240}, {4080, 64, 240}, {4320, 67, 480}}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> warnings;
        const Score s = parse(head + c.text, &warnings);
        EXPECT_EQ(playedOf(s, true), c.upper) << c.text;
        EXPECT_TRUE(warnings.empty()) << c.text << ": " << warnings.front();
        // Written back, each reads as the same score, and writes the same.
        const std::string written = WriteJianpu(s);
        EXPECT_EQ(playedOf(parse(written), true), c.upper) << written;
        EXPECT_EQ(WriteJianpu(parse(written)), written);
    }
    EXPECT_TRUE(parse(head + "上: 5 | 1 - ||").pickup);
    EXPECT_TRUE(parse(head + "弱起\n上: 5 - | 1 - ||").pickup);
    EXPECT_EQ(parseError("上: 3(1 2"), "a triplet 3( with no ) after it");
}

TEST(JianpuText, lyricsGoOneSyllableToEachSungNoteAndAreWrittenBack)
{
    std::vector<std::string> warnings;
    const Score s = parse("上: 1 2 3 0 | 5~ 5 6 - |\n词: 好一朵，_ 美\n上: 1 2 3 4 ||\n词: Twin-kle star\n", &warnings);
    std::vector<std::string> lyrics;
    for (const Note& n : s.upper)
        lyrics.push_back(n.lyric);
    // Rests and tied-on notes take none; a short line leaves its last bare.
    const std::vector<std::string> expected = {"好", "一", "朵，", "", "_", "", "美", "Twin-", "kle", "star", ""};
    EXPECT_EQ(lyrics, expected);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "line 4: 3 syllables for 4 notes sung in the line above");
    std::vector<std::string> again;
    for (const Note& n : parse(WriteJianpu(s)).upper)
        again.push_back(n.lyric);
    EXPECT_EQ(again, expected) << WriteJianpu(s);
    // An old editor's GBK text reads, and says so.
    const Score gbk = parse("\xB1\xEA\xCC\xE2: \xDC\xD4\xC0\xF2\xBB\xA8\n\xC9\xCF: 3 5 - - |\n\xB4\xCA: \xBA\xC3\xD2\xBB\n", &warnings);
    EXPECT_EQ(gbk.title, "茉莉花");
    EXPECT_EQ(gbk.upper.at(1).lyric, "一");
    EXPECT_EQ(warnings, std::vector<std::string>{"the text is not UTF-8: read as GBK"});
}

TEST(JianpuText, badInputGivesOneClearErrorNamingTheSpot)
{
    EXPECT_EQ(parseError("1=D\n1 2 3\n1 2 x 3"), "line 3, column 5: \"x\" is not a note");
    EXPECT_EQ(parseError("上: 1 2 8"), "line 1, column 8: \"8\" is not a note");
    EXPECT_EQ(parseError("调: 1=H\n1"), "line 1: the key \"1=H\" is none of 1=C, 1=#F, 1=bB ...");
    EXPECT_EQ(parseError("速度: fast\n1"), "line 1: the tempo \"fast\" is no number of quarter notes a minute (20 to 400)");
    EXPECT_EQ(parseError("颜色: 红\n1"), "line 1: unknown header \"颜色\" (标题 作者 调 拍号 速度)");
    EXPECT_EQ(parseError("- 1"), "line 1, column 1: a dash with no note before it in its bar");
    EXPECT_EQ(parseError("1 ||\n2"), "line 2, column 1: notes after the final bar line");
    EXPECT_EQ(parseError("% nothing"), "the text holds no notes");
    EXPECT_EQ(parseError(std::string(10 << 20, '1')), "the text is longer than 1 MB: more than a song can hold");
    // A bar that does not fill the meter plays as written, and is reported.
    std::vector<std::string> warnings;
    const Score s = parse("3/4\n1 2 3 | 4 5 |\n6 - - ||", &warnings);
    EXPECT_EQ(s.lower.size(), 6u);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "line 2: a bar of 32/64 where the meter 3/4 has 48/64; played as written");
    // A text of such bars names the first ten and counts the rest.
    std::string bars = "3/4\n";
    for (int i = 0; i < 30; ++i)
        bars += "1 | ";
    parse(bars, &warnings);
    ASSERT_EQ(warnings.size(), 11u);
    EXPECT_EQ(warnings[10], "20 more bars differ from the meter; played as written");
}

TEST(JianpuSong, textToSongToTextKeepsEveryNoteRestAndLength)
{
    QTemporaryDir dir;
    const std::string text = dir.filePath(QStringLiteral("tune.txt")).toStdString();
    const std::string song = dir.filePath(QStringLiteral("tune.hbk")).toStdString();
    std::ofstream(text) << "标题: 茉莉花\n1=D 4/4 \xE2\x99\xA9=80\n"
                           "上: 3 3_ 5_ 6_ 1'_ 1'_ 6_ | 5 5_ 6_ 5 - | 0 3__ 5__ 6_ 1'. 6_ | 5 - 0 0 ||\n"
                           "下: 1, - 5,, - | 1, - 5,, - | 1, - 4,, - | 5,, - 1, - ||\n";
    songs::ImportedSong imported;
    std::string error;
    std::vector<std::string> notices;
    ASSERT_TRUE(ImportJianpuFile(text, song, imported, error, notices)) << error;
    EXPECT_EQ(imported.lower.tone, 2);  // the keys play in D: 1 lies on the keys marked 1
    Score back;
    ASSERT_TRUE(ScoreOfFile(song, std::nullopt, back, error, notices)) << error;
    std::ifstream in(text);
    const Score original = parse(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_EQ(original.upper.size(), 20u);
    EXPECT_EQ(back.tempo, 80);
    EXPECT_EQ(back.tonic, 2);
    EXPECT_EQ(back.title, "茉莉花");
    // The song's trailing rests are silence, not notes: the text keeps the notes.
    Notes upper = notesOf(original.upper);
    upper.resize(upper.size() - 2);
    EXPECT_EQ(notesOf(back.upper), upper);
    EXPECT_EQ(notesOf(back.lower), notesOf(original.lower));
    // And the text written of it reads back as the same score.
    const Score again = parse(WriteJianpu(back));
    EXPECT_EQ(notesOf(again.upper), upper);
    EXPECT_EQ(notesOf(again.lower), notesOf(original.lower));
    // The upper voice alone stays the upper keyboard's.
    std::ofstream(text) << "上: 1 2 3 ||\n";
    ASSERT_TRUE(ImportJianpuFile(text, song, imported, error, notices)) << error;
    ASSERT_TRUE(ScoreOfFile(song, std::nullopt, back, error, notices)) << error;
    EXPECT_EQ(notesOf(back.upper).size(), 3u);
    EXPECT_TRUE(notesOf(back.lower).empty());
}

TEST(JianpuScore, thePrintedPageHasItsGlyphsWhereTheLayoutPutsThem)
{
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (pdftoppm.isEmpty())
        GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
    QTemporaryDir dir;
    const Score score = parse("标题: 音阶\n1=C\n上: 1 2 3 4 | 5 6 7 1' ||\n下: 1, - 5, - | 1, - - - ||");
    const std::string pdf = dir.filePath(QStringLiteral("scale.pdf")).toStdString();
    std::string error;
    ASSERT_TRUE(WriteScoreFile(score, pdf, error)) << error;
    // At 72 dots an inch a pixel is a point of the page.
    ASSERT_EQ(QProcess::execute(pdftoppm, {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-png"),
                                           QStringLiteral("-singlefile"), QString::fromStdString(pdf),
                                           dir.filePath(QStringLiteral("page"))}),
              0);
    QImage page(dir.filePath(QStringLiteral("page.png")));
    ASSERT_FALSE(page.isNull());
    const auto ink = [&page](const QRectF& r) {
        int dark = 0;
        for (int y = int(r.top()); y <= int(r.bottom()); ++y)
            for (int x = int(r.left()); x <= int(r.right()); ++x)
                dark += page.valid(x, y) && qGray(page.pixel(x, y)) < 128 ? 1 : 0;
        return dark;
    };
    const ScoreDrawing drawing(score, 595, 842);
    // Each digit where its box is; the octave dot above 1' and below 1,.
    for (const auto& [upper, index] : {std::pair{true, 0}, {true, 7}, {false, 1}}) {
        const QRectF box = drawing.boxOf(upper, index);
        EXPECT_GT(ink(box), 8) << (upper ? "upper " : "lower ") << index;
    }
    const QRectF high = drawing.boxOf(true, 7);
    EXPECT_GT(ink(QRectF(high.left(), high.top() - 4, high.width(), 6)), 0) << "the dot above 1'";
    const QRectF low = drawing.boxOf(false, 0);
    EXPECT_GT(ink(QRectF(low.left(), low.bottom() - 4, low.width(), 8)), 0) << "the dot below 1,";
    // Between the two lines of a system, nothing but the bar lines through both.
    const QRectF firstBar = drawing.boxOf(true, 0).united(drawing.boxOf(true, 3));
    EXPECT_EQ(ink(QRectF(firstBar.left(), high.bottom() + 8, firstBar.width(), low.top() - high.bottom() - 16)), 0);
    EXPECT_GT(ink(QRectF(firstBar.right() + 2, high.bottom() + 8, 10, 6)), 0) << "a bar line through both";

    // A lyric under its digit, the tie's arc over the tied notes, a repeat's
    // dots before its closing bar line; in the SVG, the syllable as text there.
    const Score sung = parse("上: |: 1 2 3 - ~ | 3 5 5 5 :|\n词: 天上星_ 亮\n下: 1, - - - | 5,, - - - ||");
    ASSERT_TRUE(WriteScoreFile(sung, pdf, error)) << error;
    ASSERT_EQ(QProcess::execute(pdftoppm, {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-png"),
                                           QStringLiteral("-singlefile"), QString::fromStdString(pdf),
                                           dir.filePath(QStringLiteral("page"))}),
              0);
    page = QImage(dir.filePath(QStringLiteral("page.png")));
    const ScoreDrawing sungDrawing(sung, 595, 842);
    const QRectF one = sungDrawing.boxOf(true, 0), three = sungDrawing.boxOf(true, 2), tiedOn = sungDrawing.boxOf(true, 3);
    EXPECT_GT(ink(QRectF(one.left(), one.bottom() + 4, one.width(), 14)), 4) << "天 under 1";
    EXPECT_EQ(ink(QRectF(tiedOn.left(), tiedOn.bottom() + 4, tiedOn.width(), 14)), 0) << "no syllable under a tied-on note";
    const double middle = (three.center().x() + tiedOn.center().x()) / 2;
    EXPECT_GT(ink(QRectF(middle - 3, three.top() - 10, 6, 9)), 0) << "the tie's arc";
    const QRectF last = sungDrawing.boxOf(true, 6);
    EXPECT_GT(ink(QRectF(last.right() + 2, last.center().y() - 6, 8, 4)), 0) << "the repeat's upper dot";
    const std::string svg = dir.filePath(QStringLiteral("sung.svg")).toStdString();
    ASSERT_TRUE(WriteScoreFile(sung, svg, error)) << error;
    std::ifstream in(svg);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    const auto at = text.find(">天</text>");
    ASSERT_NE(at, std::string::npos);
    const auto x = text.rfind("<text x=\"", at);
    EXPECT_NEAR(std::stod(text.substr(x + 9)), one.center().x(), one.width());
}

TEST(JianpuText, aLongLineIsReadInLinearTimeAndQuotedShortAndOtherEncodingsAreNamed)
{
    // A line of 300,000 notes and one of 200,000 dashes, under the size
    // limit: read in moments, not in the minutes a reader that counts each
    // token's column from the line's start takes. Timed on this thread's
    // processor clock, which other work on the machine does not advance.
    std::string notes = "上: ", dashes = "上: 1 ";
    for (int i = 0; i < 300000; ++i) {
        notes += "1 ";
        dashes += i < 200000 ? "- " : "";
    }
    for (const auto& [text, count, length] : {std::tuple{notes + "||", 300000u, 16}, {dashes + "||", 1u, 16 * 200001}}) {
        ASSERT_LT(text.size(), kMostTextBytes);
        timespec start{}, end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        const Score score = parse(text);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        EXPECT_LT(double(end.tv_sec - start.tv_sec), 10.0) << text.size() << " bytes";
        EXPECT_EQ(score.upper.size(), count);
        EXPECT_EQ(score.upper.front().length, length);
    }

    // A refused token of 100 KB is quoted by its start, not whole.
    const std::string error = parseError("上: 1 2 " + std::string(100000, 'x') + " 3");
    EXPECT_EQ(error, "line 1, column 8: \"" + std::string(24, 'x') + "\xE2\x80\xA6\" is not a note");
    // A text in an encoding that is neither UTF-8 nor GBK is named for what
    // it is; its bytes are not echoed.
    EXPECT_EQ(parseError("1=D\n上: 1 \xFF 2"), "line 2: not UTF-8 text");
    EXPECT_EQ(parseError("% \xFF\n1"), "line 1: not UTF-8 text");
}

TEST(JianpuSong, aTextIsWrittenDownAsItReadsWithItsOwnTempoMeterAndKey)
{
    QTemporaryDir dir;
    const std::string text = dir.filePath(QStringLiteral("tune.txt")).toStdString();
    std::ofstream(text) << "标题: 小调\n调: 1=bE\n拍号: 3/4\n速度: 132\n上: 5 3 1' | 7. 6_ 5 ||\n下: 1, - - | 5,, - - ||\n";
    Score score;
    std::string error;
    std::vector<std::string> notices;
    ASSERT_TRUE(ScoreOfFile(text, std::nullopt, score, error, notices)) << error;
    std::ifstream in(text);
    const Score original = parse(std::string(std::istreambuf_iterator<char>(in), {}));
    EXPECT_EQ(WriteJianpu(score), WriteJianpu(original));
    EXPECT_EQ(score.tempo, 132);
    EXPECT_EQ(score.tonic, 3);
    EXPECT_EQ(score.barLength(), 48);
    EXPECT_TRUE(notices.empty());
    // A tempo asked for still rules; a faulty text says where, with its name.
    ASSERT_TRUE(ScoreOfFile(text, 60, score, error, notices)) << error;
    EXPECT_EQ(score.tempo, 60);
    std::ofstream(text) << "上: 1 2 x\n";
    EXPECT_FALSE(ScoreOfFile(text, std::nullopt, score, error, notices));
    EXPECT_EQ(error, "tune.txt, line 1, column 8: \"x\" is not a note");
}

TEST(JianpuSong, eachReleaseEndsTheNoteItBelongsTo)
{
    QTemporaryDir dir;
    std::string error;
    std::vector<std::string> notices;
    const std::string song = dir.filePath(QStringLiteral("two.hbk")).toStdString();
    // A key struck again while it sounds, its first release coming just
    // after: that release is the first note's, which leaves the second
    // without one, and the key's next release is the third note's.
    songs::SongRecorder rec;
    ASSERT_TRUE(rec.start(song, "重音", "", songs::HalfSettings{}, songs::HalfSettings{}));
    const songs::LengthRecord release{songs::LengthRecord::Kind::Release, songs::kLowerKeyboard, 24};
    rec.recordNote(24, 0);
    rec.recordNote(24, 67);
    rec.writeLengthRecord(release, 1);
    rec.recordNote(31, 67);
    rec.writeLengthRecord({songs::LengthRecord::Kind::Release, songs::kLowerKeyboard, 31}, 60);
    rec.recordNote(24, 67);
    rec.writeLengthRecord(release, 133);
    rec.stop();
    Score back;
    ASSERT_TRUE(ScoreOfFile(song, 90, back, error, notices)) << error;
    EXPECT_EQ(notesOf(back.lower), (Notes{{60, 16}, {60, 16}, {67, 16}, {60, 32}}));
}
