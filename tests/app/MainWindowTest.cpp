// The main window on its own: start state, the two address fields, the context menu with
// the About box, the help buttons and "Стоп".
#include "AppFixture.h"

#include "app/HelpAnchors.h"
#include "app/PortList.h"
#include "link/SerialPort.h"

#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTimer>

namespace {

using MainWindow = AppTest;

TEST_F(MainWindow, StartState) {
    CSetupDlg& w = Window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 (ПЕНКО-РС исп.3)"));
    ASSERT_GE(w.PortList()->count(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(w.PortList()->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    EXPECT_EQ(w.PortList()->currentIndex(), 0);
    EXPECT_EQ(w.m_portIndex, 0);
    EXPECT_EQ(w.LineAddressEdit()->text(), QStringLiteral("00"));
    EXPECT_EQ(w.UnitAddressEdit()->text(), QStringLiteral("0"));
    EXPECT_EQ(qobject_cast<QLabel*>(w.StatusLine())->text(), QString());
    EXPECT_FALSE(w.m_progress->isVisible());
    EXPECT_FALSE(w.m_stopButton->isVisible());
    EXPECT_FALSE(w.m_helpButton->isVisible());
    EXPECT_TRUE(w.m_codesHelpButton->isVisible());
    EXPECT_FALSE(w.m_editButton->isEnabled());
    EXPECT_FALSE(w.m_saveButton->isEnabled());
    EXPECT_FALSE(w.m_writeButton->isEnabled());
    EXPECT_TRUE(w.m_readButton->isEnabled());
    EXPECT_TRUE(w.findChild<QPushButton*>("newButton")->isEnabled());
    EXPECT_TRUE(w.findChild<QPushButton*>("openButton")->isEnabled());
    EXPECT_TRUE(w.PortList()->isEnabled());
    EXPECT_EQ(w.LineAddressValue(), 0); // as the fields show them
    EXPECT_EQ(w.UnitAddressValue(), 0);
    EXPECT_EQ(SettingsShown, 0);
    EXPECT_EQ(w.m_progress->minimum(), 0);
    EXPECT_EQ(w.m_progress->maximum(), 100);
    EXPECT_FALSE(w.m_hIcon.isNull());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(MainWindow, LabelsAndButtonTexts) {
    CSetupDlg& w = Window();
    auto text = [&](const char* name) {
        if (auto* b = w.findChild<QPushButton*>(name)) return b->text();
        if (auto* l = w.findChild<QLabel*>(name)) return l->text();
        return QStringLiteral("<missing>");
    };
    EXPECT_EQ(text("newButton"), QStringLiteral("Новые"));
    EXPECT_EQ(text("editButton"), QStringLiteral("В памяти"));
    EXPECT_EQ(text("openButton"), QStringLiteral("Открыть"));
    EXPECT_EQ(text("saveButton"), QStringLiteral("Сохранить"));
    EXPECT_EQ(text("readButton"), QStringLiteral("Просмотр <="));
    EXPECT_EQ(text("writeButton"), QStringLiteral("Загрузка =>"));
    EXPECT_EQ(text("stopButton"), QStringLiteral("Стоп"));
    EXPECT_EQ(text("portLabel"), QStringLiteral("COM - порт"));
    EXPECT_EQ(text("unitAddressLabel"), QStringLiteral("Адрес ГРЕМУС"));
    EXPECT_EQ(text("lineAddressLabel"), QStringLiteral("Адрес ТОРВИК-7 в СЛ \"ЛЕМАРА\""));
}

struct AddressCase {
    const char* typed;
    int expected;
};

class LineAddressField : public AppTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(LineAddressField, ClampsTheAddressAndKeepsTheText) {
    CSetupDlg& w = Window();
    Type(w.LineAddressEdit(), QString::fromUtf8(GetParam().typed));
    EXPECT_EQ(w.LineAddressValue(), GetParam().expected);
    EXPECT_EQ(w.LineAddressEdit()->text(), QString::fromUtf8(GetParam().typed));
    EXPECT_EQ(w.m_lineAddressText, QString::fromUtf8(GetParam().typed));
}

INSTANTIATE_TEST_SUITE_P(Cases, LineAddressField,
                         ::testing::Values(AddressCase{"99", 63}, AddressCase{"64", 63},
                                           AddressCase{"63", 63}, AddressCase{"07", 7},
                                           AddressCase{"5", 5}, AddressCase{"", 0},
                                           AddressCase{"10", 10}));

class UnitAddressField : public AppTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(UnitAddressField, ClampsTheAddressAndKeepsTheText) {
    CSetupDlg& w = Window();
    Type(w.UnitAddressEdit(), QString::fromUtf8(GetParam().typed));
    EXPECT_EQ(w.UnitAddressValue(), GetParam().expected);
    EXPECT_EQ(w.UnitAddressEdit()->text(), QString::fromUtf8(GetParam().typed));
}

INSTANTIATE_TEST_SUITE_P(Cases, UnitAddressField,
                         ::testing::Values(AddressCase{"9", 7}, AddressCase{"8", 7},
                                           AddressCase{"7", 7}, AddressCase{"5", 5},
                                           AddressCase{"", 0}));

TEST_F(MainWindow, AddressFieldsTakeDigitsOnlyUpToTheirLimits) {
    CSetupDlg& w = Window();
    Type(w.LineAddressEdit(), QStringLiteral("a1x23"));
    EXPECT_EQ(w.LineAddressEdit()->text(), QStringLiteral("12"));
    EXPECT_EQ(w.LineAddressValue(), 12);
    Type(w.UnitAddressEdit(), QStringLiteral("б34"));
    EXPECT_EQ(w.UnitAddressEdit()->text(), QStringLiteral("3"));
    EXPECT_EQ(w.UnitAddressValue(), 3);

    w.LineAddressEdit()->selectAll();
    QApplication::clipboard()->setText(QStringLiteral("4z"));
    w.LineAddressEdit()->paste();
    EXPECT_EQ(w.LineAddressEdit()->text(), QStringLiteral("12"));
    QApplication::clipboard()->setText(QStringLiteral("123"));
    w.LineAddressEdit()->selectAll();
    w.LineAddressEdit()->paste();
    EXPECT_EQ(w.LineAddressEdit()->text(), QStringLiteral("12"));
    QApplication::clipboard()->setText(QStringLiteral("88"));
    w.LineAddressEdit()->selectAll();
    w.LineAddressEdit()->paste();
    EXPECT_EQ(w.LineAddressEdit()->text(), QStringLiteral("88"));
    EXPECT_EQ(w.LineAddressValue(), 63);
}

TEST_F(MainWindow, ContextMenuOffersTheAboutBox) {
    CSetupDlg& w = Window();
    platform.menuChoices.push_back(CSetupDlg::kAboutCommand);
    QString aboutTitle, aboutText;
    bool hasIcon = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        aboutTitle = about->windowTitle();
        aboutText = about->findChild<QLabel*>("text")->text();
        hasIcon = !about->findChild<QLabel*>("icon")->pixmap().isNull();
        auto* ok = about->findChild<QPushButton*>("okButton");
        EXPECT_EQ(ok->text(), QStringLiteral("OK"));
        ok->click();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(105, 205));
    QApplication::sendEvent(&w, &event);
    ASSERT_EQ(platform.menus.size(), 1u);
    EXPECT_EQ(platform.menus[0].owner, &w);
    EXPECT_EQ(platform.menus[0].pos, QPoint(105, 205));
    ASSERT_FALSE(platform.menus[0].items.empty());
    const MenuItem& last = platform.menus[0].items.back();
    EXPECT_EQ(last.id, 0x0010);
    EXPECT_EQ(last.text, QStringLiteral("О программе 'Утилита настройки ТОРВИК-7' ..."));
    EXPECT_EQ(aboutTitle, QStringLiteral("О программе"));
    EXPECT_EQ(aboutText, QStringLiteral("Утилита настройки ТОРВИК-7 (ПЕНКО-РС исп.3), вер.1.1 "));
    EXPECT_TRUE(hasIcon);
}

TEST_F(MainWindow, DismissedContextMenuDoesNothing) {
    CSetupDlg& w = Window();
    w.ShowContextMenu(QPoint(1, 1));
    EXPECT_EQ(platform.menus.size(), 1u);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainWindow, CodesHelpNotFound) {
    CSetupDlg& w = Window();
    QTemporaryDir empty;
    w.m_helpFolders = {empty.path()};
    platform.shellResult = 2;
    w.m_codesHelpButton->click();
    ASSERT_EQ(platform.messages.size(), 1u);
    const auto& m = platform.messages[0];
    EXPECT_EQ(m.owner, &w);
    EXPECT_EQ(m.message.text,
              " Системе не удаётся найти указанный файл: 'ContactIDEventCodes.html' ");
    EXPECT_EQ(m.message.caption, "Ошибка");
    EXPECT_EQ(m.message.icon, MessageIcon::Error);
    EXPECT_EQ(m.message.buttons, MessageButtons::Ok);
}

TEST_F(MainWindow, CodesHelpOtherErrorGivesItsNumber) {
    CSetupDlg& w = Window();
    platform.shellResult = 8;
    w.OnCodesHelpFile();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message.text, "Ошибка: 8");
}

TEST_F(MainWindow, CodesHelpLooksBesideTheProgramFirstThenInTheCurrentFolder) {
    CSetupDlg& w = Window();
    QTemporaryDir beside, current;
    const QString name = QStringLiteral("ContactIDEventCodes.html");
    const QString savedCwd = QDir::currentPath();
    QDir::setCurrent(current.path());
    w.m_helpFolders = {beside.path(), QString()};

    QFile(current.filePath(name)).open(QIODevice::WriteOnly);
    w.OnCodesHelpFile();
    QFile(beside.filePath(name)).open(QIODevice::WriteOnly);
    w.OnCodesHelpFile();
    QDir::setCurrent(savedCwd);

    ASSERT_EQ(platform.shellOpened.size(), 2u);
    EXPECT_EQ(QFileInfo(platform.shellOpened[0]).canonicalFilePath(),
              QFileInfo(current.filePath(name)).canonicalFilePath());
    EXPECT_EQ(platform.shellOpened[1], QDir(beside.path()).absoluteFilePath(name));
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(MainWindow, SheetHelpOpensTheGuideAtTheSectionOfEachTab) {
    DriveSheets([](CPropertySheet& sheet) {
        for (int page = 0; page < sheet.PageCount(); ++page) {
            ASSERT_TRUE(sheet.SetActivePage(page));
            sheet.HelpButton()->click();
        }
    });
    Window().OnNew();
    ASSERT_EQ(platform.helpAnchors.size(), kPageHelpAnchors.size());
    for (std::size_t page = 0; page < kPageHelpAnchors.size(); ++page) {
        EXPECT_EQ(platform.helpAnchors[page], QString::fromLatin1(kPageHelpAnchors[page]));
        EXPECT_EQ(QFileInfo(platform.shellOpened[page]).fileName(), "help.html");
    }
}

TEST_F(MainWindow, F1InTheSheetOpensTheGuideAtItsTab) {
    DriveSheets([](CPropertySheet& sheet) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
        ASSERT_TRUE(sheet.SetActivePage(3));
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &sheet, Qt::Key_F1);
    });
    Window().OnNew();
    ASSERT_EQ(platform.helpAnchors.size(), 1u);
    EXPECT_EQ(platform.helpAnchors[0], QStringLiteral("page-groups"));
}

TEST_F(MainWindow, F1OpensTheGuideAtItsStartAndAMissingGuideIsReportedOverTheSheet) {
    CSetupDlg& w = Window();
    QTest::keyClick(&w, Qt::Key_F1);
    ASSERT_EQ(platform.helpAnchors.size(), 1u);
    EXPECT_EQ(platform.helpAnchors[0], QString());
    EXPECT_EQ(QFileInfo(platform.shellOpened[0]).fileName(), "help.html");

    platform.shellResult = 2;
    CPropertySheet* shown = nullptr;
    DriveSheets([&](CPropertySheet& sheet) {
        shown = &sheet;
        sheet.HelpButton()->click();
    });
    w.OnNew();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].owner, shown);
    EXPECT_EQ(platform.messages[0].message.text,
              "Системе не удаётся найти указанный файл: 'help.html'");
    EXPECT_EQ(platform.messages[0].message.caption, "Ошибка");
    EXPECT_EQ(platform.messages[0].message.icon, MessageIcon::Error);
}

TEST_F(MainWindow, IconButtonsNameWhatTheyOpen) {
    CSetupDlg& w = Window();
    EXPECT_EQ(w.m_codesHelpButton->toolTip(), "Справка: коды событий Contact ID");
    EXPECT_EQ(w.m_helpButton->toolTip(), "Руководство монтажника (F1)");
}

TEST_F(MainWindow, HiddenHelpButtonHasItsOwnMessage) {
    CSetupDlg& w = Window();
    platform.shellResult = 2;
    w.OnHelpFile();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message.text,
              "Системе не удаётся найти указанный файл: 'help.html'");
}

TEST_F(MainWindow, StopWithoutATransferDoesNothing) {
    CSetupDlg& w = Window();
    w.OnStop();
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_FALSE(w.m_writeButton->isEnabled());
    EXPECT_TRUE(w.m_readButton->isEnabled());
}

TEST_F(MainWindow, EscapeEndsTheWindow) {
    CSetupDlg& w = Window();
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), QDialog::Rejected);
}

TEST_F(MainWindow, EnterPressesTheFocusedButtonOrEndsTheWindow) {
    CSetupDlg& w = Window();
    platform.shellResult = 2;
    w.m_codesHelpButton->setFocus();
    QTest::keyClick(w.m_codesHelpButton, Qt::Key_Return);
    EXPECT_EQ(platform.messages.size(), 1u) << "the focused button was pressed";
    EXPECT_TRUE(w.isVisible());
    w.LineAddressEdit()->setFocus();
    QTest::keyClick(w.LineAddressEdit(), Qt::Key_Return);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), QDialog::Accepted);
}

TEST_F(MainWindow, FixedSize) {
    CSetupDlg& w = Window();
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST(PortList, ClassicPortsFirstThenUnnamedSystemPortsThenTheVirtualDevice) {
    // The system's names of COM1 and COM6 ("/dev/ttyS0" on Linux, "COM1" on Windows).
    const auto system = [](const char* com) { return QString::fromStdString(SystemPortName(com)); };
    const auto list =
        BuildPortList({{QStringLiteral("ttyS0"), system("COM1"), {}},
                       {QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), {}},
                       {QStringLiteral("ttyS5"), system("COM6"), {}},
                       {QStringLiteral("ttyS6"), QStringLiteral("/dev/ttyS6"), {}}},
                      true);
    ASSERT_EQ(list.size(), 9u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(list[static_cast<std::size_t>(i)].label, QStringLiteral("COM%1").arg(i + 1));
        EXPECT_EQ(list[static_cast<std::size_t>(i)].portName, "COM" + std::to_string(i + 1));
    }
    EXPECT_EQ(list[6].label, QStringLiteral("ttyUSB0"));
    EXPECT_EQ(list[6].portName, "/dev/ttyUSB0");
    EXPECT_EQ(list[7].label, QStringLiteral("ttyS6"));
    EXPECT_EQ(list[8].label, QStringLiteral("Виртуальный прибор"));
    EXPECT_TRUE(list[8].virtualDevice);
    EXPECT_EQ(BuildPortList({}, false).size(), 6u);
}

TEST(PortList, PortsBeyondTheSixAreNamedWithWhatTheyAreAndTheSixKeepTheirNames) {
    struct Case {
        SystemPort port;
        QString label;
    };
    const Case cases[] = {
        {{QStringLiteral("COM7"), QStringLiteral("COM7"), {}}, QStringLiteral("COM7")},
        {{QStringLiteral("COM8"), QStringLiteral("COM8"), QStringLiteral("USB Serial Port (COM8)")},
         QStringLiteral("USB Serial Port (COM8)")},
        {{QStringLiteral("COM9"), QStringLiteral("COM9"), QStringLiteral("Переходник USB")},
         QStringLiteral("COM9 (Переходник USB)")},
    };
    std::vector<SystemPort> ports{{QStringLiteral("COM3"), QStringLiteral("COM3"),
                                   QStringLiteral("Последовательный порт (COM3)")}};
    for (const auto& c : cases)
        ports.push_back(c.port);
    const auto list = BuildPortList(ports, false);
    ASSERT_EQ(list.size(), 6u + std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(list[6 + i].label, cases[i].label);
        EXPECT_EQ(list[6 + i].portName, cases[i].port.location.toStdString());
        EXPECT_EQ(list[6 + i].description, cases[i].port.description);
    }
    EXPECT_EQ(list[2].label, QStringLiteral("COM3"));
    EXPECT_EQ(list[2].description, QStringLiteral("Последовательный порт (COM3)"));
}

TEST_F(MainWindow, PortListShowsEveryEntryWhole) {
    CSetupDlg& w = Window();
    w.SetPorts(
        BuildPortList({{QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), {}}}, true));
    QApplication::processEvents();
    QComboBox* list = w.PortList();
    for (int i = 0; i < list->count(); ++i) {
        list->setCurrentIndex(i);
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.currentText = list->currentText();
        const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                          QStyle::SC_ComboBoxEditField, list);
        // The label is drawn one pixel in from each side of the field.
        EXPECT_GE(field.width() - 2, list->fontMetrics().horizontalAdvance(option.currentText))
            << option.currentText.toStdString();
    }
}

TEST_F(MainWindow, PortNameReadsTheListFirst) {
    CSetupDlg& w = Window();
    w.PortList()->setCurrentIndex(2);
    EXPECT_EQ(w.PortName(), "COM3");
    EXPECT_EQ(w.m_portIndex, 2);
}

// The keyboard starts at "Новые"; a screen reader names each link field by its label.
TEST_F(MainWindow, KeyboardStartsAtTheFirstCommandAndFieldsHaveNames) {
    CSetupDlg& w = Window();
    QCoreApplication::processEvents();
    ASSERT_NE(w.focusWidget(), nullptr);
    EXPECT_EQ(w.focusWidget()->objectName(), "newButton");
    const std::pair<QWidget*, const char*> fields[] = {
        {w.PortList(), "COM - порт"},
        {w.UnitAddressEdit(), "Адрес ГРЕМУС"},
        {w.LineAddressEdit(), "Адрес ТОРВИК-7 в СЛ \"ЛЕМАРА\""},
    };
    for (const auto& [field, name] : fields)
        EXPECT_EQ(field->accessibleName().toStdString(), name);
}

} // namespace
