#pragma once
// The song bank (曲库): jianpu texts shipped with the program, each naming its
// menu group (分类) and difficulty (难度) in its own header beside its title
// and key, so that a song is added by dropping one text into the folder.
#include "notation/jianpu.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace notation {

// The menu's groups, in its order.
constexpr std::array<std::string_view, 4> kBankGroups = {"儿歌", "民歌", "名曲", "节日"};

// The folder's name beside the program and under share/sonarel.
constexpr std::string_view kBankFolderName = "曲库";

struct BankSong {
    std::string path;   // UTF-8
    Score score;        // as read: its header, notes and lyrics
};

// Where the bank is for a program in `programDir`: beside it (a build folder,
// the Windows program), else in share/sonarel of an installed one. Empty when
// neither holds it.
std::string BankFolder(const std::string& programDir);

// Every *.jianpu text of `folder`, by group (kBankGroups' order) then file
// name. A text that does not read, or names no group of the menu, is left
// out with one line in `errors`; bar-length warnings go to `warnings`, each
// after its file's name.
std::vector<BankSong> ReadBank(const std::string& folder, std::vector<std::string>& errors,
                               std::vector<std::string>& warnings);

// "茉莉花  1=D  ★★": the menu entry of a song.
std::string BankEntryLabel(const Score& score);

}  // namespace notation
