// The settings card: consecutive loops merged into ranges, every setting of a record on
// the page, one A4 page for the factory defaults and at most four for the worst record.
#include "card/SettingsCard.h"
#include "fields/RecordFields.h"
#include "support/Records.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <cstring>

// The cards are read back with poppler's pdfinfo and pdftotext, Linux programs that Wine
// cannot start: under Wine these cases only run on Linux.
#ifdef _WIN32
#define READS_PDF_BACK() GTEST_SKIP() << "poppler's tools cannot be started from Wine"
#else
#define READS_PDF_BACK() static_cast<void>(0)
#endif

namespace {

struct PdfText {
    int pages = 0;
    std::string text; // whitespace runs folded into one blank
};

PdfText ReadPdf(const QString& path) {
    PdfText out;
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {path});
    info.waitForFinished(20000);
    for (const QByteArray& line : info.readAllStandardOutput().split('\n'))
        if (line.startsWith("Pages:")) out.pages = line.mid(6).trimmed().toInt();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), path, QStringLiteral("-")});
    text.waitForFinished(20000);
    out.text = QString::fromUtf8(text.readAllStandardOutput()).simplified().toStdString();
    return out;
}

PdfText CardPdf(const SettingsRecord& r, const CardInfo& info = {}) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("card.pdf"));
    std::string error;
    int pages = 0;
    EXPECT_TRUE(WriteCardPdf(r, info, path, error, &pages)) << error;
    PdfText pdf = ReadPdf(path);
    EXPECT_EQ(pdf.pages, pages) << "the layout and the file disagree";
    return pdf;
}

} // namespace

TEST(CardRanges, MergeConsecutiveLoopsAsTheOperatorReadsThem) {
    const struct {
        int first, last;
        const char* text;
    } cases[] = {
        {0, 7, "Расширитель 0, шлейфы 1–8"},
        {0, 511, "Расширители 0–63, шлейфы 1–8"},
        {8, 23, "Расширители 1–2, шлейфы 1–8"},
        {42, 42, "Расширитель 5, шлейф 3"},
        {3, 20, "Расширитель 0, шлейф 4 – расширитель 2, шлейф 5"},
        {504, 511, "Расширитель 63, шлейфы 1–8"},
        {7, 8, "Расширитель 0, шлейф 8 – расширитель 1, шлейф 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoopRange(c.first, c.last), c.text) << c.first << ".." << c.last;

    const int values[] = {1, 1, 2, 2, 2, 1, 3};
    const auto runs = Runs(7, [&](int i) { return values[i]; });
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[1].first, 2);
    EXPECT_EQ(runs[1].last, 4);
    EXPECT_EQ(runs[3].first, 6);
    EXPECT_EQ(runs[3].last, 6);

    SettingsRecord r{};
    EXPECT_EQ(GroupRanges(r, 0), "нет шлейфов");
    r.loopGroups[2][0] = 0x0F; // loops 1..4 of expander 0
    r.loopGroups[2][1] = 0x80; // loop 8 of expander 1
    r.loopGroups[2][2] = 0xFF;
    r.loopGroups[2][3] = 0x01;
    r.loopGroups[2][63] = 0x80;
    EXPECT_EQ(GroupRanges(r, 2), "Расширитель 0, шлейфы 1–4; Расширитель 1, шлейф 8 – "
                                 "расширитель 3, шлейф 1; Расширитель 63, шлейф 8");
    std::memset(r.loopGroups[5], 0xFF, kExpanderCount);
    EXPECT_EQ(GroupRanges(r, 5), "Расширители 0–63, шлейфы 1–8");
}

TEST(Card, FactoryDefaultsMergeIntoOneLineOfTypesAndFitOnOnePage) {
    READS_PDF_BACK();
    CardInfo info;
    info.source.kind = CardSource::Kind::Defaults;
    info.printedAt = "07.12.2026 12:30";
    const PdfText pdf = CardPdf(Defaults(), info);
    EXPECT_EQ(pdf.pages, 1);
    for (const char* part :
         {"Карточка настроек ТОРВИК-7", "заводские настройки («Новые»)", "07.12.2026 12:30",
          "Расширители 0–63, шлейфы 1–8: тип 1 (Охранная тревога)", "Настройки записал:", "Дата",
          "версия 1.1.0", "Объект (название, адрес):", "Подпись заказчика:"})
        EXPECT_NE(pdf.text.find(part), std::string::npos) << part << "\n" << pdf.text;
}

TEST(Card, WorstRecordsFitInFourPages) {
    READS_PDF_BACK();
    // Every loop of another type than its neighbours, every loop in every group.
    SettingsRecord r = Defaults();
    for (int n = 0; n < kLoopCount; ++n)
        r.loopTypes[n] = static_cast<std::int8_t>(n % kTypeCount + 1);
    std::memset(r.loopGroups, 0xFF, sizeof r.loopGroups);
    for (int k = 0; k < kPhoneCount; ++k)
        std::memcpy(r.phoneNumbers[k], "123456789012345", 16);
    PdfText pdf = CardPdf(r);
    EXPECT_GE(pdf.pages, 2);
    EXPECT_LE(pdf.pages, 4);
    EXPECT_NE(pdf.text.find("Расширитель 63: 1 → 9; 2 → 10;"), std::string::npos) << pdf.text;
    EXPECT_NE(pdf.text.find("Группы 1–16: Расширители 0–63, шлейфы 1–8"), std::string::npos);

    // Worse still: out-of-range types alternating, every other loop in every group, the
    // neighbouring groups told apart.
    for (int n = 0; n < kLoopCount; ++n)
        r.loopTypes[n] = static_cast<std::int8_t>(n % 2 ? 0 : 17);
    for (int g = 0; g < kGroupCount; ++g)
        std::memset(r.loopGroups[g], g % 2 ? 0xAA : 0x55, kExpanderCount);
    pdf = CardPdf(r);
    EXPECT_LE(pdf.pages, 4);
    EXPECT_NE(pdf.text.find("Расширитель 0: 1 → 17!; 2 → 0!;"), std::string::npos);
    EXPECT_NE(pdf.text.find("Группа 2: 0/2,4,6,8; 1/2,4,6,8;"), std::string::npos);
}

// A page that comes loose still says whose it is and which of how many it is.
TEST(Card, EveryPageCarriesTheAccountAndItsNumber) {
    READS_PDF_BACK();
    SettingsRecord r = EditedRecord("1234");
    for (int n = 0; n < kLoopCount; ++n)
        r.loopTypes[n] = static_cast<std::int8_t>(n % 2 ? 0 : 17);
    for (const SettingsRecord& record : {EditedRecord("1234"), r}) {
        const PdfText pdf = CardPdf(record);
        ASSERT_GE(pdf.pages, 1);
        const auto count = [&](const std::string& part) {
            std::size_t n = 0;
            for (auto at = pdf.text.find(part); at != std::string::npos;
                 at = pdf.text.find(part, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(count("объект 1234"), static_cast<std::size_t>(pdf.pages)) << pdf.text;
        for (int page = 1; page <= pdf.pages; ++page)
            EXPECT_EQ(count("стр. " + std::to_string(page) + " из " + std::to_string(pdf.pages)),
                      1u)
                << page;
    }
}

TEST(Card, HoldsEverySettingOfARecordAndShowsOutOfRangeValues) {
    READS_PDF_BACK();
    SettingsRecord r = Defaults();
    std::memcpy(r.phoneNumbers[0], "84951234567", 12);
    std::memcpy(r.phoneNumbers[8], "999", 4);
    std::memcpy(r.prefixNumber, "8", 2);
    r.prefixEnabled = 1;
    std::memcpy(r.accountNumber, "0123", 5);
    std::memcpy(r.testInterval, "24", 3);
    r.dialCycles = 3; // out of range
    r.loopTypes[10] = 13;
    r.loopTypes[300] = 0; // out of range
    r.relayTypes[2] = 14;
    r.loopGroups[4][7] = 0x03;
    r.eventCodes[1][0] = 6; // type 2: 631, not in the table
    CardInfo info;
    info.source.kind = CardSource::Kind::Device;
    info.source.port = "/dev/ttyUSB0";
    info.source.lineAddress = 5;
    info.source.unitAddress = 2;
    info.source.readAt = "07.12.2026 11:02";
    const PdfText pdf = CardPdf(r, info);
    const std::string html = CardHtml(r, info);

    int checked = 0;
    for (const auto& f : RecordFields()) {
        if (f.section == Section::Reserved || f.section == Section::LoopTypes ||
            f.section == Section::Groups)
            continue;
        for (int i = 0; i < f.count; ++i, ++checked) {
            const std::string value = Detail(f, r, i).text;
            std::string label = Label(f, i); // the part the value does not repeat
            label = label.substr(0, label.find(", "));
            EXPECT_NE(pdf.text.find(label), std::string::npos) << label;
            EXPECT_NE(pdf.text.find(value), std::string::npos) << label << ": " << value;
            EXPECT_NE(html.find(value), std::string::npos) << label << ": " << value;
        }
    }
    EXPECT_EQ(checked, 9 + 8 + 5 + 16 + 4);
    for (const char* part :
         {"Расширитель 1, шлейф 3: тип 13",
          "Расширитель 37, шлейф 5: тип 0 — недопустимое значение",
          "Группа 5: Расширитель 7, шлейфы 1–2", "Реле ПЦН 3: тип 14 (",
          "Тип 2: код 631 — не зарегистрирован", "недопустимое значение (4..8)",
          "считаны из прибора: порт /dev/ttyUSB0, адрес ТОРВИК-7 в СЛ 5, адрес ГРЕМУС 2, "
          "07.12.2026 11:02",
          "0123"})
        EXPECT_NE(pdf.text.find(part), std::string::npos) << part << "\n" << pdf.text;
}

TEST(Card, HtmlIsWrittenWholeOrReportsWhy) {
    QTemporaryDir dir;
    std::string error;
    const SettingsRecord r = Defaults();
    EXPECT_TRUE(WriteCardHtml(r, {}, dir.filePath(QStringLiteral("c.html")), error));
    EXPECT_FALSE(WriteCardHtml(r, {}, dir.filePath(QStringLiteral("no/such/c.html")), error));
    EXPECT_NE(error.find("no/such/c.html"), std::string::npos);
    EXPECT_FALSE(WriteCardPdf(r, {}, dir.filePath(QStringLiteral("no/such/c.pdf")), error));
}

TEST(CardCommand, DefaultsGiveOnePageTheWorstAtMostFourAndTheFormatComesFromTheName) {
    READS_PDF_BACK();
    QTemporaryDir dir;
    const auto run = [](const QStringList& args) {
        QProcess ctl;
        ctl.start(QStringLiteral(TORVIK7_CTL), args);
        ctl.waitForFinished(60000);
        return ctl.exitCode();
    };
    const QString defaults = dir.filePath(QStringLiteral("d.stg"));
    ASSERT_EQ(run({"defaults", "-o", defaults}), 0);
    SettingsRecord worst = Defaults();
    for (int n = 0; n < kLoopCount; ++n)
        worst.loopTypes[n] = static_cast<std::int8_t>(n % kTypeCount + 1);
    std::memset(worst.loopGroups, 0xFF, sizeof worst.loopGroups);
    const QString worstPath = dir.filePath(QStringLiteral("w.stg"));
    QFile file(worstPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(&worst), sizeof worst);
    file.close();

    ASSERT_EQ(run({"card", defaults, "-o", dir.filePath(QStringLiteral("d.pdf"))}), 0);
    EXPECT_EQ(ReadPdf(dir.filePath(QStringLiteral("d.pdf"))).pages, 1);
    ASSERT_EQ(run({"card", worstPath, "-o", dir.filePath(QStringLiteral("w.pdf"))}), 0);
    EXPECT_LE(ReadPdf(dir.filePath(QStringLiteral("w.pdf"))).pages, 4);

    ASSERT_EQ(run({"card", defaults, "-o", dir.filePath(QStringLiteral("d.html"))}), 0);
    QFile html(dir.filePath(QStringLiteral("d.html")));
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    EXPECT_TRUE(html.readAll().contains("файл d.stg"));

    EXPECT_EQ(run({"card", defaults, "-o", dir.filePath(QStringLiteral("d.txt"))}), 64);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("d.txt"))));
    EXPECT_EQ(run({"card", dir.filePath(QStringLiteral("none.stg")), "-o",
                   dir.filePath(QStringLiteral("n.pdf"))}),
              74);
}

TEST(Card, ForeignBytesReachThePageAsTheFieldTableWordsThem) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        SettingsRecord r = RandomRecord(seed);
        std::memcpy(r.phoneNumbers[3], "1  <b>2", 8); // blanks and markup stay as they are
        const QString text = CardDocument(r, {})->toPlainText();
        for (const auto& f : RecordFields()) {
            if (f.section == Section::Reserved || f.section == Section::LoopTypes ||
                f.section == Section::Groups)
                continue;
            for (int i = 0; i < f.count; ++i) {
                const std::string value = Detail(f, r, i).text;
                EXPECT_TRUE(text.contains(QString::fromStdString(value)))
                    << seed << " " << Label(f, i) << ": " << value;
            }
        }
    }
}
