// The password of a team's server kept where libpq looks for it, and nowhere of ours.
#pragma once

#include <QString>

// Puts the line "host:port:database:user:password" into `file` (~/.pgpass by default),
// replacing the line of the same server, database and login, and leaves the file readable by
// its owner only (libpq ignores a .pgpass others may read). False with `why` (Russian) when
// the file cannot be written; the old file is then kept as it was.
bool SavePgPassword(const QString& host, int port, const QString& database, const QString& user,
                    const QString& password, QString* why = nullptr, QString file = {});
