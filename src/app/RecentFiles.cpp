#include "app/RecentFiles.h"

#include <QFileInfo>
#include <QSettings>

namespace {

const char kFilesKey[] = "recent/files";
const char kFolderKey[] = "recent/folder";

// The file the journal's server address lives in too.
QSettings Settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("torvik7-setup"),
                     QStringLiteral("torvik7-setup"));
}

} // namespace

QStringList RecentFiles::Files() const {
    QStringList files = Settings().value(QLatin1String(kFilesKey)).toStringList();
    while (files.size() > kMax)
        files.removeLast();
    return files;
}

QString RecentFiles::LastFolder() const {
    return Settings().value(QLatin1String(kFolderKey)).toString();
}

void RecentFiles::Add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList files = Files();
    files.removeAll(absolute);
    files.prepend(absolute);
    while (files.size() > kMax)
        files.removeLast();
    QSettings settings = Settings();
    settings.setValue(QLatin1String(kFilesKey), files);
    settings.setValue(QLatin1String(kFolderKey), QFileInfo(absolute).absolutePath());
}

void RecentFiles::Remove(const QString& path) {
    QStringList files = Files();
    files.removeAll(QFileInfo(path).absoluteFilePath());
    Settings().setValue(QLatin1String(kFilesKey), files);
}
