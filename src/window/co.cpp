#include "window/co.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QTranslator>
#include <QTreeView>
#include <QUrl>

const QString Co::kSongFilter = QStringLiteral("  *.hbk(Harbeck音乐文件 )|*.hbk");

void Co::UseChinese()
{
    // The file types are named by the system's descriptions in the
    // program's locale.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    // The Windows program carries Qt's catalogue in a folder of its own; a
    // system's Qt has it where the toolkit keeps its translations.
    const QString folders[] = {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    auto* translator = new QTranslator(QCoreApplication::instance());
    for (const QString& folder : folders)
        if (translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
            QCoreApplication::installTranslator(translator);
            return;
        }
    delete translator;
}

QStringList Co::qtFilters() const
{
    QStringList out;
    const QStringList parts = Filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')');
    return out;
}

namespace {

// The file list's size and date columns are written in the system's locale,
// and its folders are a "Folder" that the toolkit's Chinese texts leave out:
// here all three are in the program's locale.
class LocalDetails : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() == 0)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        const QLocale locale;
        switch (index.column()) {
        case 1:
            return files->isDir(source) ? QString() : locale.formattedDataSize(files->size(source));
        case 2:
            return files->isDir(source) ? QStringLiteral("文件夹") : QIdentityProxyModel::data(index, role);
        case 3:
            return locale.toString(files->lastModified(source), QLocale::ShortFormat);
        default:
            return QIdentityProxyModel::data(index, role);
        }
    }
};

QString patternOf(const QString& qtFilter)
{
    const int open = qtFilter.lastIndexOf(QLatin1Char('('));
    return qtFilter.mid(open + 1).chopped(1);
}

}  // namespace

static bool show(Co& co, QWidget* parent, bool save)
{
    QString chosen;
    QString selected;
    if (co.chooser) {
        chosen = co.chooser(save, co);
        // A stand-in chooses the type by the extension it gives.
        selected = co.qtFilters().value(0);
        for (const QString& filter : co.qtFilters())
            for (const QString& pattern : patternOf(filter).split(QLatin1Char(' ')))
                if (chosen.endsWith(pattern.mid(1), Qt::CaseInsensitive))
                    selected = filter;
    } else {
        // The dialog opens in InitDir the first time; a preset file name is
        // proposed inside that folder.
        QString start = co.InitDir;
        if (!co.FileName.isEmpty())
            start = QFileInfo(co.FileName).isAbsolute() ? co.FileName : QDir(co.InitDir).filePath(co.FileName);
        QFileDialog dialog(parent, QString(), start);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setProxyModel(new LocalDetails(&dialog));
        dialog.setNameFilters(co.qtFilters());
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        QList<QUrl> places;
        for (const QString& place : co.Places)
            if (QFileInfo(place).isDir())
                places << QUrl::fromLocalFile(place);
        if (!places.isEmpty())
            dialog.setSidebarUrls(places);
        // Size, type and date columns as wide as what they show (the Chinese
        // dates are longer than the default width).
        if (auto* details = dialog.findChild<QTreeView*>()) {
            QHeaderView* header = details->header();
            header->setStretchLastSection(false);
            header->setSectionResizeMode(0, QHeaderView::Stretch);  // the name takes what is left
            for (int column = 1; column < header->count(); ++column)
                header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        }
        if (save) {
            // The extension follows the file type chosen.
            dialog.setDefaultSuffix(patternOf(co.qtFilters().value(0)).mid(2));
            QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                             [&dialog](const QString& filter) { dialog.setDefaultSuffix(patternOf(filter).mid(2)); });
            if (!co.FileName.isEmpty())
                dialog.selectFile(QFileInfo(co.FileName).fileName());
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        chosen = dialog.selectedFiles().first();
        selected = dialog.selectedNameFilter();
        co.InitDir = QFileInfo(chosen).absolutePath();
    }
    if (chosen.isEmpty())
        return false;
    co.FileName = chosen;
    co.SelectedFilter = patternOf(selected);
    return true;
}

bool Co::ShowOpen(QWidget* parent) { return show(*this, parent, false); }
bool Co::ShowSave(QWidget* parent) { return show(*this, parent, true); }
