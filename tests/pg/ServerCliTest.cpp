// Two torvik7ctl processes pointed at one server see each other's entries; with the server
// stopped a read is journaled locally, and once it is back `journal push` sends it exactly once.
#include "support/PgServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

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
    EXPECT_EQ(push.out, QStringLiteral("отправлено записей: 1\n"));
    const CtlRun again = ivanov.Ctl({QStringLiteral("journal"), QStringLiteral("push")});
    EXPECT_EQ(again.out, QStringLiteral("отправлено записей: 0\n"));
    EXPECT_EQ(petrov.Seen(offline), 1);
    EXPECT_EQ(petrov.Seen(first), 1);
    EXPECT_TRUE(ivanov.List(true).isEmpty());
}

} // namespace
