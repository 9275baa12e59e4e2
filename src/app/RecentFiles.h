// The settings files last opened or saved, newest first, and the folder last used; kept
// in the user's settings of the utility, so they outlive the run.
#pragma once

#include <QString>
#include <QStringList>

class RecentFiles {
public:
    static constexpr int kMax = 8;

    // The list as the last run, or this one, left it.
    QStringList Files() const;
    // Where the file dialogs start: the folder of the file last opened or saved; empty
    // before the first.
    QString LastFolder() const;
    // `path` goes to the top (once), the oldest beyond kMax leaves.
    void Add(const QString& path);
    void Remove(const QString& path);
};
