// The recent files beside "Открыть": the last eight opened or saved, newest first, kept
// across runs; the file dialogs start in the folder last used.
#include "AppFixture.h"

#include "settings/SettingsFile.h"
#include "support/Records.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstring>

namespace {

class RecentFilesTest : public AppTest {
public:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        QSettings(QSettings::IniFormat, QSettings::UserScope, "torvik7-setup", "torvik7-setup")
            .remove("recent");
    }
    // A settings file in a folder of its own, account `account`.
    QString MakeFile(const QString& sub, const char* account) {
        QDir(folder.path()).mkpath(sub);
        const QString path = folder.filePath(sub + "/" + account + ".stg");
        EXPECT_TRUE(SaveSettingsFile(path.toStdString(), EditedRecord(account)).ok());
        return path;
    }
    void Open(const QString& path) {
        platform.openChoices.push_back(FileChoice{path, QFileInfo(path).fileName()});
        DriveSheets(PressCancel);
        Window().OnOpen();
    }
    // The recent-files menu as the next run shows it, names only.
    std::vector<QString> MenuOfTheNextRun(int choose = 0) {
        dlg.reset();
        sheetsShown = 0;
        DriveSheets(PressCancel);
        if (choose) platform.menuChoices.push_back(choose);
        const std::size_t before = platform.menus.size();
        EXPECT_TRUE(Window().RecentButton()->isEnabled());
        Window().RecentButton()->click();
        std::vector<QString> names;
        if (platform.menus.size() == before) return names;
        for (const MenuItem& item : platform.menus.back().items)
            names.push_back(item.text.section('\t', 0, 0).section(' ', 1));
        return names;
    }

    QTemporaryDir folder;
};

TEST_F(RecentFilesTest, TheLastEightNewestFirstAcrossRuns) {
    EXPECT_FALSE(Window().RecentButton()->isEnabled()); // nothing opened yet
    const char* accounts[] = {"0001", "0002", "0003", "0004", "0005",
                              "0006", "0007", "0008", "0009", "0010"};
    for (const char* a : accounts)
        Open(MakeFile("objects", a));
    Open(MakeFile("objects", "0004")); // again: to the top, once
    platform.saveChoices.push_back(
        FileChoice{folder.filePath("saved/0099.stg"), QStringLiteral("0099.stg")});
    QDir(folder.path()).mkpath("saved");
    Window().OnSave();

    const auto names = MenuOfTheNextRun(3);
    EXPECT_EQ(names, (std::vector<QString>{"0099.stg", "0004.stg", "0010.stg", "0009.stg",
                                           "0008.stg", "0007.stg", "0006.stg", "0005.stg"}));
    // The third is opened as "Открыть" opens it.
    EXPECT_EQ(sheetsShown, 1);
    EXPECT_EQ(QString::fromLatin1(record.accountNumber), "0010");
    EXPECT_EQ(Title(*dlg), "Утилита настройки ТОРВИК-7 - [0010.stg]");
    EXPECT_TRUE(dlg->m_saveButton->isEnabled());

    // The open dialog starts where the last file was opened.
    platform.openChoices.push_back(std::nullopt);
    dlg->OnOpen();
    EXPECT_EQ(platform.dialogFolder.toStdString(),
              QFileInfo(folder.filePath("objects")).absoluteFilePath().toStdString());
}

TEST_F(RecentFilesTest, AFileThatIsGoneLeavesTheList) {
    const QString kept = MakeFile("a", "0001");
    const QString gone = MakeFile("b", "0002");
    Open(kept);
    Open(gone);
    QFile::remove(gone);
    const SettingsRecord before = record;
    EXPECT_EQ(MenuOfTheNextRun(1), (std::vector<QString>{"0002.stg", "0001.stg"}));
    ASSERT_EQ(platform.messages.size(), 1u); // the file's own message, as "Открыть" gives it
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
    EXPECT_EQ(MenuOfTheNextRun(), (std::vector<QString>{"0001.stg"}));
}

} // namespace
