// "Печать…" and "PDF…": enabled with "Сохранить", the card's header naming where the record
// came from, and a PDF that cannot be written reported.
#include "AppFixture.h"
#include "settings/DeviceImage.h"
#include "support/Records.h"

#include <QFile>
#include <QGroupBox>
#include <QTemporaryDir>

namespace {

class CardButtons : public AppTest {};

struct CardState {
    bool print, pdf, save;
    bool operator==(const CardState&) const = default;
};

CardState StateOf(CSetupDlg& w) {
    return {w.m_printButton->isEnabled(), w.m_pdfButton->isEnabled(), w.m_saveButton->isEnabled()};
}

std::optional<FileChoice> Choice(const QString& path) {
    std::optional<FileChoice> choice(std::in_place);
    choice->path = path;
    choice->name = QFileInfo(path).fileName();
    return choice;
}

} // namespace

TEST_F(CardButtons, SitInTheRecordBoxAndAreEnabledWithSave) {
    CSetupDlg& w = Window();
    auto* box = w.findChild<QGroupBox*>(QStringLiteral("settingsBox"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isAncestorOf(w.m_printButton));
    EXPECT_TRUE(box->isAncestorOf(w.m_pdfButton));
    EXPECT_EQ(w.m_printButton->text(), QStringLiteral("Печать…"));
    EXPECT_EQ(w.m_pdfButton->text(), QStringLiteral("PDF…"));
    EXPECT_EQ(StateOf(w), (CardState{false, false, false}));

    DriveSheets(PressCancel);
    w.OnNew();
    EXPECT_EQ(StateOf(w), (CardState{false, false, false}));

    w.Testing().readSession = [](TransferView&, DeviceImage&, const SessionOptions&) {
        return kSessionLinkFailed;
    };
    w.OnReadDevice();
    WaitForTransfer(w);
    EXPECT_EQ(StateOf(w), (CardState{false, false, false}));

    w.Testing().readSession = [](TransferView&, DeviceImage& image, const SessionOptions&) {
        EncodeImage(Defaults(), image);
        return kSessionOk;
    };
    w.OnReadDevice();
    WaitForTransfer(w);
    EXPECT_EQ(StateOf(w), (CardState{true, true, true}));
}

TEST_F(CardButtons, PrintPreviewsTheCardOfTheRecordReadFromTheDevice) {
    CSetupDlg& w = Window();
    Type(w.UnitAddressEdit(), QStringLiteral("3"));
    Type(w.LineAddressEdit(), QStringLiteral("12"));
    w.Testing().readSession = [](TransferView& view, DeviceImage& image, const SessionOptions&) {
        view.PortName();
        SettingsRecord r = Defaults();
        std::memcpy(r.accountNumber, "4321", 5);
        EncodeImage(r, image);
        return kSessionOk;
    };
    DriveSheets(PressOk);
    w.OnReadDevice();
    WaitForTransfer(w);
    w.m_printButton->click();
    ASSERT_EQ(platform.previews.size(), 1u);
    const QString text = platform.previews[0];
    for (const char* part :
         {"Карточка настроек ТОРВИК-7", "4321",
          "считаны из прибора: порт COM1, адрес ТОРВИК-7 в СЛ 12, адрес ГРЕМУС 3",
          "Расширители 0–63, шлейфы 1–8: тип 1 (Охранная тревога)", "Настройки записал:"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part;
}

TEST_F(CardButtons, PdfIsWrittenWhereChosenAndAFailureIsReported) {
    CSetupDlg& w = Window();
    QTemporaryDir dir;
    std::memcpy(record.accountNumber, "0123", 5);
    DriveSheets(PressOk);
    w.OnNew(); // fills the defaults over the account
    std::memcpy(record.accountNumber, "0123", 5);

    const QString path = dir.filePath(QStringLiteral("card.pdf"));
    platform.cardChoices.push_back(Choice(path));
    w.m_pdfButton->click();
    ASSERT_EQ(platform.cardSuggestions.size(), 1u);
    EXPECT_EQ(platform.cardSuggestions[0], QStringLiteral("Карточка 0123.pdf"));
    QFile pdf(path);
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");
    EXPECT_TRUE(platform.messages.empty());

    platform.cardChoices.push_back(Choice(dir.filePath(QStringLiteral("no/such/card.pdf"))));
    w.m_pdfButton->click();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].owner, &w);
    EXPECT_EQ(platform.messages[0].message.caption, "Ошибка");
    EXPECT_EQ(platform.messages[0].message.icon, MessageIcon::Error);
    EXPECT_EQ(
        platform.messages[0].message.text.rfind("Не удаётся сохранить карточку настроек: ", 0), 0u);

    w.m_pdfButton->click(); // cancelled: nothing written, nothing said
    EXPECT_EQ(platform.messages.size(), 1u);
}
