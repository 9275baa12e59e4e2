// Two torvik7ctl processes pointed at one server see each other's entries; with the server
// stopped a read is journaled locally, and once it is back `journal push` sends it exactly once.
#include "journal/Journal.h"
#include "support/PgServer.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>

namespace {

struct CtlRun {
    int exit = -1;
    QString out, err;
};

// One installer's torvik7ctl: a data folder of its own, the server's address in TORVIK7_JOURNAL.
class Installer {
public:
    explicit Installer(const QString& url) : m_url(url) {}
    CtlRun Ctl(const QStringList& args) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path());
        env.insert(QStringLiteral("TORVIK7_JOURNAL"), m_url);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TORVIK7_CTL), args);
        CtlRun r;
        if (!p.waitForFinished(60000)) return r;
        r.exit = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    // A read from a port that is not there: a short session, journaled as a failed read.
    QString Read() const {
        const CtlRun r =
            Ctl({QStringLiteral("read"), QStringLiteral("--port"), m_home.filePath("no-port"),
                 QStringLiteral("-o"), m_home.filePath("read.stg")});
        EXPECT_EQ(r.exit, 1) << r.err.toStdString();
        const QJsonArray mine = List(false);
        return mine.isEmpty() ? QString() : mine[0].toObject()[QStringLiteral("uuid")].toString();
    }
    // The entries this installer's torvik7ctl lists, newest first; only the unsent ones on request.
    QJsonArray List(bool unsentOnly) const {
        const CtlRun r =
            Ctl({QStringLiteral("journal"), QStringLiteral("list"), QStringLiteral("--json")});
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        QJsonArray out;
        for (const QJsonValue& v : QJsonDocument::fromJson(r.out.toUtf8()).array())
            if (!unsentOnly || v.toObject()[QStringLiteral("unsent")].toBool()) out.append(v);
        return out;
    }
    // The local journal torvik7ctl keeps for this installer. Its folder is made here: the
    // journal makes only its own default folder, and this one is torvik7ctl's, not this
    // process's.
    QString JournalPath() const {
        QDir(m_home.path()).mkpath(QStringLiteral("torvik7-setup"));
        return m_home.filePath("torvik7-setup/journal.sqlite");
    }
    int Seen(const QString& uuid) const {
        int n = 0;
        for (const QJsonValue& v : List(false))
            n += v.toObject()[QStringLiteral("uuid")].toString() == uuid;
        return n;
    }

private:
    QString m_url;
    QTemporaryDir m_home;
};

TEST(ServerCli, TwoInstallersSeeEachOthersReadsAndAnOfflineReadIsPushedOnce) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    const Installer ivanov(server.Url(PgServer::Installer));
    const Installer petrov(server.Url(PgServer::Installer2));

    const QString first = ivanov.Read();
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(petrov.Seen(first), 1);

    ASSERT_TRUE(server.Pause());
    const QString offline = ivanov.Read();
    ASSERT_FALSE(offline.isEmpty());
    const QJsonArray waiting = ivanov.List(true);
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_EQ(waiting[0].toObject()[QStringLiteral("uuid")].toString(), offline);
    // Its number is the local one made negative, and names it.
    const int localNumber = waiting[0].toObject()[QStringLiteral("id")].toInt();
    EXPECT_LT(localNumber, 0);
    const CtlRun shown = ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("show"),
                                     QStringLiteral("--"), QString::number(localNumber)});
    EXPECT_EQ(shown.exit, 0) << shown.err.toStdString();
    EXPECT_TRUE(shown.out.contains(offline));
    const CtlRun refused = ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("push")});
    EXPECT_EQ(refused.exit, 74);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("сервер не отвечает")))
        << refused.err.toStdString();
    ASSERT_TRUE(server.Resume());

    const CtlRun push = ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("push")});
    EXPECT_EQ(push.exit, 0) << push.err.toStdString();
    EXPECT_EQ(push.out, QStringLiteral("отправлено строк журнала: 1\n"));
    const CtlRun again = ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("push")});
    EXPECT_EQ(again.out, QStringLiteral("отправлено строк журнала: 0\n"));
    EXPECT_EQ(petrov.Seen(offline), 1);
    EXPECT_EQ(petrov.Seen(first), 1);
    EXPECT_TRUE(ivanov.List(true).isEmpty());
}

// Entries a laptop kept while offline: one with a 430-character port path, one dated a day
// ahead (its clock was wrong), one plain. The server takes the long text whole, refuses the
// one from the future, which is set aside with the reason, and takes the entry after it.
TEST(ServerCli, ALongPathIsSentAndARefusedEntryIsSetAsideWhileTheRestGo) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    const Installer ivanov(server.Url(PgServer::Installer));
    const QString account = PgServer::FreshAccount();
    const QString longPort =
        QStringLiteral("/dev/serial/by-path/") + QString(410, QLatin1Char('p'));
    {
        // Kept here alone: this process knows no server.
        qputenv("TORVIK7_JOURNAL", ivanov.JournalPath().toUtf8());
        Journal laptop(ivanov.JournalPath());
        const struct {
            QString port;
            qint64 aheadMs;
        } kept[] = {{longPort, 0}, {QStringLiteral("COM2"), 86400000}, {QStringLiteral("COM3"), 0}};
        for (const auto& k : kept) {
            JournalEntry e;
            e.port = k.port;
            e.account = account;
            e.time = QDateTime::currentDateTimeUtc().addMSecs(k.aheadMs);
            e.record = QByteArray(1800, '\x09');
            ASSERT_TRUE(laptop.Add(e));
        }
        qunsetenv("TORVIK7_JOURNAL");
    }
    const CtlRun push = ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("push")});
    EXPECT_EQ(push.exit, 65) << push.err.toStdString();
    EXPECT_EQ(push.out, QStringLiteral("отправлено строк журнала: 2\n"));
    EXPECT_TRUE(push.err.contains(QStringLiteral("не принято сервером строк журнала: 1")))
        << push.err.toStdString();

    // As `journal list` shows them: who sent each, and why one was refused.
    const CtlRun list = ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("list")});
    EXPECT_EQ(list.exit, 0) << list.err.toStdString();
    QStringList shown;
    for (const QString& line : list.out.split('\n'))
        if (line.contains(QStringLiteral("объект ") + account)) shown << line;
    ASSERT_EQ(shown.size(), 3) << list.out.toStdString();
    int refused = 0, whole = 0;
    for (const QString& line : shown) {
        if (line.contains(QStringLiteral("[не принята сервером: время записи позже, чем сервер её "
                                         "получил")))
            ++refused;
        else
            EXPECT_TRUE(line.endsWith(QStringLiteral("монтажник ivanov"))) << line.toStdString();
        whole += line.contains(longPort);
    }
    EXPECT_EQ(refused, 1) << list.out.toStdString();
    EXPECT_EQ(whole, 1);
    // Set aside: not sent again, and the status still says the server lacks one.
    const CtlRun again = ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("push")});
    EXPECT_EQ(again.out, QStringLiteral("отправлено строк журнала: 0\n"));
    EXPECT_EQ(again.exit, 65);
}

// An address the programs refuse is never a push of nothing: the command says why and fails.
TEST(ServerCli, PushWithARefusedAddressSaysWhyAndFails) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    const QString base = server.Url(PgServer::Installer).section('?', 0, 0);
    const struct {
        QString url;
        const char* words;
    } cases[] = {
        {QString(base).replace(QStringLiteral("ivanov@"), QStringLiteral("ivanov:ivanov-pw@")),
         "пароль в адресе"},
        {base + QStringLiteral("?sslmode=disable&host=/tmp"), "неизвестный параметр «host»"},
        {base + QStringLiteral("?sslmode=disable%09password=ivanov-pw"), "управляющих символов"},
        {base + QStringLiteral("?sslmode=disable%09user=petrov"), "управляющих символов"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        const Installer ivanov(c.url);
        const CtlRun push = ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("push")});
        EXPECT_EQ(push.exit, 64) << push.out.toStdString();
        EXPECT_TRUE(push.out.isEmpty()) << push.out.toStdString();
        EXPECT_TRUE(push.err.contains(QString::fromUtf8(c.words))) << push.err.toStdString();
    }
    // With nothing queued a push still asks the server: one that refuses the login fails.
    const Installer stranger(server.Value(QStringLiteral("TORVIK7_PG_NOPASSWORD")));
    const CtlRun push = stranger.Ctl({QStringLiteral("journal"), QStringLiteral("push")});
    EXPECT_EQ(push.exit, 74) << push.out.toStdString();
    EXPECT_TRUE(push.err.contains(QStringLiteral("неверное имя или пароль")))
        << push.err.toStdString();
}

// Prune leaves what the server lacks unless told by name, and says how many it left.
TEST(ServerCli, PruneKeepsUnsentEntriesUnlessAskedByName) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    const Installer ivanov(server.Url(PgServer::Installer));
    ASSERT_FALSE(ivanov.Read().isEmpty()); // sent at once
    {
        qputenv("TORVIK7_JOURNAL", ivanov.JournalPath().toUtf8()); // kept here alone
        Journal laptop(ivanov.JournalPath());
        JournalEntry e;
        e.port = QStringLiteral("COM1");
        ASSERT_TRUE(laptop.Add(e));
        qunsetenv("TORVIK7_JOURNAL");
    }
    const QStringList prune = {QStringLiteral("journal"), QStringLiteral("prune"),
                               QStringLiteral("--before"), QStringLiteral("2100-01-01")};
    const CtlRun first = ivanov.Ctl(prune);
    EXPECT_EQ(first.exit, 0) << first.err.toStdString();
    EXPECT_EQ(first.out,
              QStringLiteral("удалено строк журнала: 1\nоставлено строк журнала, не "
                             "отправленных на сервер: 1 (--unsent-too - удалить и их)\n"));
    const CtlRun all = ivanov.Ctl(QStringList(prune) << QStringLiteral("--unsent-too"));
    EXPECT_EQ(all.exit, 0) << all.err.toStdString();
    EXPECT_EQ(all.out, QStringLiteral("удалено строк журнала: 1\n"));
}

// An entry's name means one entry whether the server answers or not: its UUID or a unique start
// of it; a number is the server's, never this computer's in its place.
TEST(ServerCli, NamesMeanOneEntryWhetherTheServerAnswersOrNot) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    const Installer ivanov(server.Url(PgServer::Installer));
    // Two entries whose UUIDs share their first 35 characters, kept here alone, then sent.
    const QString shared = QUuid::createUuid().toString(QUuid::WithoutBraces).left(35);
    {
        qputenv("TORVIK7_JOURNAL", ivanov.JournalPath().toUtf8());
        Journal laptop(ivanov.JournalPath());
        for (const char last : {'1', '2'}) {
            JournalEntry e;
            e.uuid = shared + QLatin1Char(last);
            e.record = QByteArray(1800, '\x0b');
            ASSERT_TRUE(laptop.Add(e));
        }
        qunsetenv("TORVIK7_JOURNAL");
    }
    ASSERT_EQ(ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("push")}).exit, 0);
    const QJsonObject first = ivanov.List(false)[0].toObject(); // newest: ...2 or ...1
    const QString number = QString::number(first[QStringLiteral("id")].toInt());
    ASSERT_GT(first[QStringLiteral("id")].toInt(), 0);

    const struct {
        QString name;
        int exit;
        const char* words; // in stdout for 0, stderr otherwise
    } cases[] = {
        {shared + QLatin1Char('1'), 0, "UUID: "},
        {(shared + QLatin1Char('2')).toUpper(), 0, "UUID: "},
        {shared.left(8), 65, "нескольких строк журнала"},
        {shared, 65, "нескольких строк журнала"},
        {number, 0, "UUID: "},
        {QStringLiteral("zz-top"), 65, "не номер записи и не её UUID"},
        {QStringLiteral("-999999999"), 65, "нет строки журнала"},
        {shared.left(8).replace(QRegularExpression(QStringLiteral("[0-9a-f]")),
                                QStringLiteral("f")) +
             QStringLiteral("-ffff-ffff"),
         65, "нет строки журнала"},
    };
    QTemporaryDir out;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        for (const char* command : {"show", "export"}) {
            QStringList args = {QStringLiteral("journal"), QString::fromLatin1(command)};
            if (QLatin1String(command) == QLatin1String("export"))
                args << QStringLiteral("-o") << out.filePath(QStringLiteral("e.stg"));
            args << QStringLiteral("--") << c.name;
            const CtlRun r = ivanov.Ctl(args);
            EXPECT_EQ(r.exit, c.exit) << command << r.err.toStdString();
            if (c.exit != 0) {
                EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.words)))
                    << command << r.err.toStdString();
            }
        }
    }
    // With the server gone a UUID still names its entry, and a server's number names none here.
    ASSERT_TRUE(server.Pause());
    const CtlRun byUuid =
        ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("show"), shared + QLatin1Char('1')});
    const CtlRun byNumber =
        ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("show"), QStringLiteral("1")});
    ASSERT_TRUE(server.Resume());
    EXPECT_EQ(byUuid.exit, 0) << byUuid.err.toStdString();
    EXPECT_TRUE(byUuid.out.contains(shared + QLatin1Char('1')));
    EXPECT_EQ(byNumber.exit, 74) << byNumber.out.toStdString();
}

} // namespace
