#include "notation/songbank.h"

#include "songs/wholefile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace notation {

std::string BankFolder(const std::string& programDir)
{
    const QString program = QString::fromStdString(programDir);
    const QString name = QString::fromUtf8(kBankFolderName.data(), qsizetype(kBankFolderName.size()));
    for (const QString& folder : {program + QLatin1Char('/') + name, program + QStringLiteral("/../share/sonarel/") + name})
        if (QFileInfo(folder).isDir())
            return QDir::cleanPath(folder).toStdString();
    return {};
}

std::vector<BankSong> ReadBank(const std::string& folder, std::vector<std::string>& errors,
                               std::vector<std::string>& warnings)
{
    std::vector<BankSong> bank;
    const QDir dir(QString::fromStdString(folder));
    const QStringList names = dir.entryList({QStringLiteral("*.jianpu")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        BankSong song;
        song.path = dir.filePath(name).toStdString();
        const std::string file = name.toStdString();
        std::string text, error;
        std::vector<std::string> bars;
        if (songs::ReadWholeFile(song.path, text, kMostTextBytes) != songs::ReadOutcome::Ok) {
            errors.push_back(file + ": cannot be read");
            continue;
        }
        if (!ParseJianpu(text, song.score, error, bars)) {
            errors.push_back(file + ", " + error);
            continue;
        }
        if (std::find(kBankGroups.begin(), kBankGroups.end(), song.score.group) == kBankGroups.end()) {
            errors.push_back(file + ": 分类 \"" + song.score.group + "\" is no group of the menu");
            continue;
        }
        for (const std::string& w : bars)
            warnings.push_back(file + ", " + w);
        bank.push_back(std::move(song));
    }
    // QDir listed them by name already: a stable sort keeps that within a group.
    const auto rank = [](const BankSong& s) {
        return std::find(kBankGroups.begin(), kBankGroups.end(), s.score.group) - kBankGroups.begin();
    };
    std::stable_sort(bank.begin(), bank.end(), [&rank](const BankSong& a, const BankSong& b) { return rank(a) < rank(b); });
    return bank;
}

std::string BankEntryLabel(const Score& score)
{
    return score.title + "  1=" + TonicName(score.tonic) + "  " + Stars(score.stars);
}

}  // namespace notation
