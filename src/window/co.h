#pragma once
// The window's file dialog: the song filter, a starting folder and a preset
// file name; open and save. A cancelled dialog returns false and leaves the
// file name as it was, so the command that asked ends without doing anything.
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

class Co {
public:
    // The song files' filter: the description as the user sees it, then the pattern.
    static const QString kSongFilter;

    QString Filter = kSongFilter;      // "description|pattern[|description|pattern...]"
    QString InitDir;
    QStringList Places;                // folders one click away beside the file list
    QString FileName;
    QString SelectedFilter;            // pattern of the filter the user chose ("*.hbk")

    // The dialogs in Chinese like the rest of the window, whatever the
    // system's language: the toolkit's own texts (buttons, columns,
    // messages), and the Chinese locale for sizes, dates and file types.
    static void UseChinese();

    bool ShowOpen(QWidget* parent);
    bool ShowSave(QWidget* parent);

    // Filters in the toolkit's form: "  *.hbk(Harbeck音乐文件 ) (*.hbk)".
    QStringList qtFilters() const;

    // Stands in for the dialog in tests: gets (save?, the dialog) and returns
    // the chosen path, or an empty string for a cancel.
    using Chooser = std::function<QString(bool save, const Co& dialog)>;
    Chooser chooser;
};
