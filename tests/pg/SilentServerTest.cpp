// A team's server that answers the login and then says nothing more (a proxy in front of the
// test server goes silent at the first INSERT): torvik7ctl's transfer, its file and its exit
// status are the same as without a journal, and it ends within its own time plus the journal's
// few seconds. The entry is not lost: it stays unsent here and reaches the real server later.
#include "sim/DeviceSimulator.h"
#include "support/PgServer.h"
#include "support/SilentProxy.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace {

struct SilentCase {
    const char* name;
    bool device;      // a read from the simulator; otherwise from a port that is not there
    int exit;         // the transfer's own status
    bool fileSaved;   // -o FILE exists afterwards
    double floorSecs; // the protocol's fixed waits: 512 blocks of 180 ms and the handshakes
};

const SilentCase kCases[] = {
    {"read from a missing port", false, 1, false, 0.0},
    {"whole read from the device", true, 0, true, 92.3},
};

QString WithPort(QString url, int from, int to) {
    return url.replace(QStringLiteral(":%1/").arg(from), QStringLiteral(":%1/").arg(to));
}

TEST(SilentServer, ReadSavesItsFileAndEndsWithItsOwnStatus) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    for (const SilentCase& c : kCases) {
        SCOPED_TRACE(c.name);
        SilentProxy proxy(server.Port(), "INSERT");
        ASSERT_NE(proxy.Port(), 0);
        ASSERT_TRUE(server.AddPassPort(proxy.Port()));
        DeviceSimulator sim;
        QTemporaryDir home;
        QString port = home.filePath(QStringLiteral("no-port"));
        if (c.device) {
            sim.SetConfig(SimConfig{});
            port = QString::fromStdString(sim.Start());
            ASSERT_FALSE(port.isEmpty());
        }
        const QString output = home.filePath(QStringLiteral("read.stg"));
        QProcess ctl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        env.insert(QStringLiteral("TORVIK7_JOURNAL"),
                   WithPort(server.Url(PgServer::Installer), server.Port(), proxy.Port()));
        ctl.setProcessEnvironment(env);
        ctl.setWorkingDirectory(home.path());
        QElapsedTimer took;
        took.start();
        ctl.start(QStringLiteral(TORVIK7_CTL), {QStringLiteral("read"), QStringLiteral("--port"),
                                                port, QStringLiteral("-o"), output});
        ASSERT_TRUE(ctl.waitForFinished(300000));
        const double secs = took.elapsed() / 1000.0;
        const QString err = QString::fromUtf8(ctl.readAllStandardError());
        EXPECT_EQ(ctl.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(ctl.exitCode(), c.exit) << err.toStdString();
        EXPECT_EQ(QFile::exists(output), c.fileSaved);
        if (c.fileSaved) {
            EXPECT_EQ(QFile(output).size(), 1800);
        }
        EXPECT_LT(secs, 1.03 * c.floorSecs + 10) << err.toStdString();
        std::printf("[ figure ] %s: %.1f s (limit %.1f s)\n", c.name, secs,
                    1.03 * c.floorSecs + 10);
        EXPECT_TRUE(proxy.WentSilent());
        EXPECT_TRUE(err.contains(QStringLiteral("Журнал на сервере недоступен")))
            << err.toStdString();
        sim.Stop();

        // The entry waited here; the real server takes it at the next push.
        QProcess push;
        env.insert(QStringLiteral("TORVIK7_JOURNAL"), server.Url(PgServer::Installer));
        push.setProcessEnvironment(env);
        push.start(QStringLiteral(TORVIK7_CTL),
                   {QStringLiteral("journal"), QStringLiteral("push")});
        ASSERT_TRUE(push.waitForFinished(60000));
        EXPECT_EQ(push.exitCode(), 0) << push.readAllStandardError().toStdString();
        EXPECT_EQ(QString::fromUtf8(push.readAllStandardOutput()),
                  QStringLiteral("отправлено строк журнала: 1\n"));
    }
}

// Once the transfer's result is out, Ctrl+C ends torvik7ctl at once, with the transfer's status,
// while the journal still waits on the silent server.
TEST(SilentServer, CtrlCAfterTheTransferEndsAtOnce) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    SilentProxy proxy(server.Port(), "INSERT");
    ASSERT_NE(proxy.Port(), 0);
    ASSERT_TRUE(server.AddPassPort(proxy.Port()));
    QTemporaryDir home;
    QProcess ctl;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("TORVIK7_JOURNAL"),
               WithPort(server.Url(PgServer::Installer), server.Port(), proxy.Port()));
    ctl.setProcessEnvironment(env);
    ctl.setWorkingDirectory(home.path());
    ctl.start(QStringLiteral(TORVIK7_CTL),
              {QStringLiteral("read"), QStringLiteral("--port"), home.filePath("no-port"),
               QStringLiteral("-o"), home.filePath("read.stg")});
    QElapsedTimer waited;
    waited.start();
    while (!proxy.WentSilent() && waited.elapsed() < 10000)
        ctl.waitForFinished(10);
    ASSERT_TRUE(proxy.WentSilent()); // the push is under way, the transfer long over
    ASSERT_EQ(ctl.state(), QProcess::Running);
    QElapsedTimer took;
    took.start();
    ::kill(static_cast<pid_t>(ctl.processId()), SIGINT);
    ASSERT_TRUE(ctl.waitForFinished(10000));
    EXPECT_LT(took.elapsed(), 500);
    EXPECT_EQ(ctl.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ctl.exitCode(), 1); // the port did not open
}

} // namespace
