#include "journal/PgPass.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace {

// A field of a .pgpass line: ':' and '\' are escaped with '\'.
QString Escaped(QString field) {
    field.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    field.replace(QLatin1Char(':'), QLatin1String("\\:"));
    return field;
}

} // namespace

bool SavePgPassword(const QString& host, int port, const QString& database, const QString& user,
                    const QString& password, QString* why, QString file) {
    if (file.isEmpty()) file = QDir::home().filePath(QStringLiteral(".pgpass"));
    const QString key =
        QStringList{Escaped(host), QString::number(port), Escaped(database), Escaped(user)}.join(
            QLatin1Char(':')) +
        QLatin1Char(':');
    QStringList lines;
    if (QFile old(file); old.exists()) {
        if (!old.open(QIODevice::ReadOnly)) {
            if (why)
                *why = QStringLiteral("не удаётся прочитать %1: %2").arg(file, old.errorString());
            return false;
        }
        for (const QString& line : QString::fromUtf8(old.readAll()).split(QLatin1Char('\n')))
            if (!line.isEmpty() && !line.startsWith(key)) lines << line;
    }
    lines << key + Escaped(password);
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) ||
        !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        out.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 ||
        !out.commit()) {
        if (why) *why = QStringLiteral("не удаётся записать %1: %2").arg(file, out.errorString());
        return false;
    }
    return true;
}
