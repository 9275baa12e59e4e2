// The team's journal on a PostgreSQL server holding 1,000,000 entries: how long listing one
// account's entries takes through our code, and how long a push of 1,000 unsent entries takes.
//   scripts/pg-test-server start /tmp/pgbench
//   build/bench/bench_journal_server /tmp/pgbench
//   scripts/pg-test-server stop /tmp/pgbench
#include "journal/Journal.h"
#include "journal/ServerJournal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

QMap<QString, QString> ReadEnv(const QString& state) {
    QMap<QString, QString> values;
    QFile f(state + "/env");
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (const int eq = line.indexOf('='); eq > 0)
                values.insert(QString::fromUtf8(line.left(eq)),
                              QString::fromUtf8(line.mid(eq + 1)));
    return values;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_journal_server STATE (of scripts/pg-test-server)\n");
        return 64;
    }
    const QMap<QString, QString> env = ReadEnv(QString::fromLocal8Bit(argv[1]));
    if (env.isEmpty()) return 1;
    qputenv("PGPASSFILE", env.value("PGPASSFILE").toUtf8());

    // The fill goes straight to the server, as the owner: 1,000,000 entries of 10,000 accounts,
    // spread over a year, without records (listing never reads them).
    constexpr int kFill = 1000000;
    {
        QSqlDatabase owner = QSqlDatabase::addDatabase("QPSQL", "owner");
        owner.setHostName("127.0.0.1");
        owner.setPort(env.value("TORVIK7_PG_PORT").toInt());
        owner.setUserName("torvik7_owner");
        owner.setDatabaseName("torvik7");
        if (!owner.open())
            return std::fprintf(stderr, "%s\n", qPrintable(owner.lastError().text())), 1;
        QSqlQuery q(owner);
        QElapsedTimer t;
        t.start();
        const bool ok = q.exec(
            QStringLiteral(
                "INSERT INTO entries (uuid, time_utc, action, result, result_text, port, "
                "line_address,"
                " unit_address, account, phone1, source, title, blocks_done, half_written)"
                " SELECT gen_random_uuid()::text, 1735689600000 + i::bigint * 31536, 'read', 0,"
                " 'Выполнено', 'COM1', i % 64, i % 8, lpad((i % 10000)::text, 4, '0'), "
                "'84951234567',"
                " 'window', 'Утилита настройки ТОРВИК-7 - [Current.stg]', 512, 0"
                " FROM generate_series(1, %1) AS i")
                .arg(kFill));
        if (!ok || !q.exec("ANALYZE entries"))
            return std::fprintf(stderr, "%s\n", qPrintable(q.lastError().text())), 1;
        std::printf("fill: %d entries in %.1f s\n", kFill, t.elapsed() / 1000.0);
    }
    QSqlDatabase::removeDatabase("owner");

    QTemporaryDir dir;
    const QString local = dir.filePath("journal.sqlite");
    qputenv("TORVIK7_JOURNAL", env.value("TORVIK7_PG_INSTALLER").toUtf8());
    {
        Journal journal(local);
        ServerJournal* server = journal.Server();
        std::vector<double> ms;
        std::size_t rows = 0;
        for (int i = 0; i < 21; ++i) {
            QElapsedTimer t;
            t.start();
            const auto listed =
                server->List({QStringLiteral("%1").arg(i * 37 % 10000, 4, 10, QChar('0')), 0});
            ms.push_back(t.nsecsElapsed() / 1e6);
            if (!listed) return std::fprintf(stderr, "%s\n", qPrintable(server->Problem())), 1;
            rows = listed->size();
        }
        std::printf("list one account (%zu entries) of %d: median %.2f ms, worst %.2f ms "
                    "(21 accounts; the first also connects)\n",
                    rows, kFill, Median(ms), *std::max_element(ms.begin() + 1, ms.end()));
    }

    // 1,000 entries kept locally while no server was set, then a push of all of them.
    constexpr int kPush = 1000;
    qunsetenv("TORVIK7_JOURNAL");
    {
        Journal journal(local);
        for (int i = 0; i < kPush; ++i) {
            JournalEntry e;
            e.action = JournalAction::Write;
            e.source = JournalSource::Ctl;
            e.port = "COM1";
            e.account = "4321";
            e.phone1 = "84951234567";
            e.title = "bench";
            e.blocksDone = 512;
            // A record of its own each, so the server stores 1,000 of them, not one.
            e.record = QByteArray(1800, '\x03');
            std::memcpy(e.record.data(), &i, sizeof i);
            if (!journal.Add(e)) return 1;
        }
    }
    qputenv("TORVIK7_JOURNAL", env.value("TORVIK7_PG_INSTALLER").toUtf8());
    {
        Journal journal(local);
        QElapsedTimer t;
        t.start();
        const int sent = journal.Push();
        const double s = t.elapsed() / 1000.0;
        std::printf("push: %d entries with their records in %.2f s (connection included)\n", sent,
                    s);
        QElapsedTimer again;
        again.start();
        const int second = journal.Push();
        std::printf("second push: %d entries in %.3f s\n", second, again.elapsed() / 1000.0);
    }
    return 0;
}
