// Every song of the bank as the program reads and places it, and the README
// that names where each comes from.
#include "notation/songbank.h"
#include "notation/songscore.h"
#include "songs/midiimport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

using namespace notation;

TEST(SongBank, everySongReadsCleanFitsItsKeyboardsAndIsListedWithItsOrigin)
{
    std::vector<std::string> errors, warnings;
    const std::vector<BankSong> bank = ReadBank(SONAREL_SOURCE "/songbank", errors, warnings);
    for (const std::string& e : errors)
        ADD_FAILURE() << e;
    for (const std::string& w : warnings)
        ADD_FAILURE() << w;
    EXPECT_GE(bank.size(), 40u);

    std::ifstream file(SONAREL_SOURCE "/README.md");
    std::stringstream readme;
    readme << file.rdbuf();
    const std::string all = readme.str();
    const auto start = all.find("## 曲库");
    ASSERT_NE(start, std::string::npos);
    std::istringstream section(all.substr(start, all.find("\n## ", start + 1) - start));
    std::vector<std::string> listed;
    for (std::string line; std::getline(section, line);)
        listed.push_back(line);

    std::set<std::string> groups, titles;
    for (const BankSong& s : bank) {
        const Score& score = s.score;
        SCOPED_TRACE(s.path);
        groups.insert(score.group);
        EXPECT_TRUE(titles.insert(score.title).second) << "two songs named " << score.title;
        EXPECT_GE(score.stars, 1);
        EXPECT_FALSE(score.author.empty());
        // Both keyboards play, each voice on keys its keyboard has: the
        // placing moves no note by octaves.
        EXPECT_FALSE(score.lower.empty());
        EXPECT_FALSE(score.upper.empty());
        songs::ImportedSong song;
        std::string error;
        ASSERT_TRUE(songs::MakeSong(ToSmf(score), score.title, song, error, score.tonic)) << error;
        for (const std::string& n : song.notices)
            ADD_FAILURE() << n;
        const bool inReadme = std::any_of(listed.begin(), listed.end(), [&score](const std::string& line) {
            return line.find(score.title) != std::string::npos && line.find(score.author) != std::string::npos;
        });
        EXPECT_TRUE(inReadme) << score.title << " (" << score.author << ") is not listed under 曲库";
    }
    EXPECT_EQ(groups.size(), kBankGroups.size());
}
