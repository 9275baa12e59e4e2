// The PostgreSQL server that ctest's pg_server fixture started for this run
// (scripts/pg-test-server): its connection URLs by role, and a way to take it away and bring it
// back. A missing server is a failure of the test, never a skip: these tests are part of CI.
#pragma once

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <gtest/gtest.h>

class PgServer {
public:
    // The roles the fixture created: the schema owner, two installers and a login without rights.
    enum Role { Owner, Installer, Installer2, NoRights };

    PgServer() {
        QFile env(QStringLiteral(TORVIK7_PG_STATE "/env"));
        if (!env.open(QIODevice::ReadOnly)) {
            ADD_FAILURE() << "no PostgreSQL test server: " << TORVIK7_PG_STATE
                          << "/env is missing (run the pg_server_start test first)";
            return;
        }
        for (const QByteArray& line : env.readAll().split('\n')) {
            const int eq = line.indexOf('=');
            if (eq > 0)
                m_values.insert(QString::fromUtf8(line.left(eq)),
                                QString::fromUtf8(line.mid(eq + 1)));
        }
        // libpq reads the passwords from here, as it reads ~/.pgpass on an installer's laptop.
        qputenv("PGPASSFILE", m_values.value("PGPASSFILE").toUtf8());
    }

    bool Ok() const { return !m_values.isEmpty(); }
    QString Value(const QString& key) const { return m_values.value(key); }
    QString Url(Role role) const {
        static const char* const keys[] = {"TORVIK7_PG_OWNER", "TORVIK7_PG_INSTALLER",
                                           "TORVIK7_PG_INSTALLER2", "TORVIK7_PG_NORIGHTS"};
        return m_values.value(QString::fromLatin1(keys[role]));
    }
    int Port() const { return m_values.value("TORVIK7_PG_PORT").toInt(); }

    // Lets libpq find the passwords for a proxy on `port` in front of this server too.
    bool AddPassPort(int port) const {
        QFile file(m_values.value("PGPASSFILE"));
        if (!file.open(QIODevice::ReadWrite)) return false;
        QByteArray more;
        const QByteArray ours = ':' + QByteArray::number(Port()) + ':';
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.contains(ours))
                more += QByteArray(line).replace(ours, ':' + QByteArray::number(port) + ':') + '\n';
        return file.write(more) == more.size();
    }

    // Stops the server at once (as a pulled cable or a crash would) and starts it again.
    bool Pause() const { return Script(QStringLiteral("pause")); }
    bool Resume() const { return Script(QStringLiteral("resume")); }

    // An account number no other test of this run uses, so tests may share the server.
    static QString FreshAccount() {
        return QString::number(QUuid::createUuid().data1 % 90000000u + 10000000u);
    }

private:
    static bool Script(const QString& verb) {
        QProcess p;
        p.start(QStringLiteral(TORVIK7_PG_SCRIPT), {verb, QStringLiteral(TORVIK7_PG_STATE)});
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }

    QMap<QString, QString> m_values;
};
