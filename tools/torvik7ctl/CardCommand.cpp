// torvik7ctl card: the printable settings card of a file, as PDF or HTML, for batches.
#include "Commands.h"

#include "card/SettingsCard.h"
#include "journal/Journal.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>

namespace {

// The output's format by its extension; false after a usage error.
bool CardFormat(const Invocation& in, const std::string& output, bool& pdf, int& status) {
    const QString suffix = QFileInfo(QString::fromStdString(output)).suffix().toLower();
    pdf = suffix == QLatin1String("pdf");
    if (pdf || suffix == QLatin1String("html") || suffix == QLatin1String("htm")) return true;
    status = in.UsageError("формат карточки задаётся расширением выходного файла: .pdf или "
                           ".html");
    return false;
}

// Fonts and the PDF writer need a Gui application; no display is needed for either.
// Its notes on the session (no runtime folder and the like) are no business of a batch;
// the card reports its own failures.
void StartGui() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static char name[] = "torvik7ctl", platform[] = "-platform", offscreen[] = "offscreen";
    static char* argv[] = {name, platform, offscreen, nullptr};
    static int argc = 3;
    static const QGuiApplication app(argc, argv);
}

int WriteCard(const SettingsRecord& record, CardInfo info, const std::string& output, bool pdf) {
    info.printedAt =
        QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")).toStdString();
    std::string error;
    const QString out = QString::fromStdString(output);
    if (!(pdf ? WriteCardPdf(record, info, out, error) : WriteCardHtml(record, info, out, error))) {
        PrintError(error);
        return kExitIo;
    }
    return kExitOk;
}

int Card(const Invocation& in) {
    const std::string& path = in.Argument(0);
    const std::string output = *in.Value("output");
    bool pdf = false;
    int status = kExitOk;
    if (!CardFormat(in, output, pdf, status)) return status;
    SettingsRecord record{};
    if (const int failed = ReadSettingsFile(path, record)) return failed;
    StartGui();
    CardInfo info;
    info.source.kind = CardSource::Kind::File;
    info.source.fileName = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
    return WriteCard(record, info, output, pdf);
}

int JournalCard(const Invocation& in) {
    const std::string& id = in.Argument(0);
    const std::string output = *in.Value("output");
    bool pdf = false;
    int status = kExitOk;
    if (!CardFormat(in, output, pdf, status)) return status;
    StartGui();
    const auto journal = OpenCtlJournal();
    const auto entry = journal->Find(QString::fromStdString(id));
    if (!entry) {
        if (!journal->Problem().isEmpty()) {
            PrintError(journal->Problem().toStdString());
            return kExitIo;
        }
        PrintError("journal: нет строки журнала " + id);
        return kExitData;
    }
    SettingsRecord record{};
    QString why;
    if (!RecordFromEntry(*entry, record, &why)) {
        PrintError("journal: строка журнала " + id + ": " + why.toStdString());
        return kExitData;
    }
    // As the window names an entry it opened, and with what a stopped write left behind.
    CardInfo info;
    info.source = JournalCardSource(
        entry->time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")).toStdString(),
        entry->halfWritten ? entry->blocksDone : -1);
    return WriteCard(record, info, output, pdf);
}

const char kCardOutputHelp[] = "файл карточки";

} // namespace

const CommandSpec kCardCommand = {
    .name = "card",
    .summary = "карточка настроек файла для печати (PDF или HTML)",
    .about = "Составляет карточку настроек файла: номер объекта, откуда настройки, общие\n"
             "настройки, телефоны и набор, типы шлейфов диапазонами, реле ПЦН, группы,\n"
             "коды событий Contact ID, строки для объекта и подписей. Формат — по расширению\n"
             "выходного файла: .pdf (страницы A4) или .html.",
    .arguments = {{"ФАЙЛ.stg", "не указан файл настроек"}},
    .options = {{.names = "o,output",
                 .value = "КАРТОЧКА.pdf|.html",
                 .help = kCardOutputHelp,
                 .ifMissing = "не указан файл карточки (-o КАРТОЧКА.pdf)",
                 .valueWord = "имя файла"}},
    .exitCodes = "  0   успешно\n"
                 "  64  ошибка в командной строке (в том числе расширение не .pdf и не .html)\n"
                 "  65  входной файл не является файлом настроек (1800 байт)\n"
                 "  74  ошибка чтения или записи файла\n",
    .run = Card,
};

const CommandSpec kJournalCardCommand = {
    .name = "journal card",
    .summary = "карточка настроек строки журнала (PDF или HTML)",
    .about = "Составляет карточку настроек строки журнала ID, как «Печать…» и «PDF…» окна для\n"
             "открытой строки. У прерванной загрузки карточка говорит, сколько блоков из 512\n"
             "записано в прибор. Формат — по расширению выходного файла: .pdf или .html.",
    .arguments = {{"ID", "не указана строка журнала"}},
    .options = {{.names = "o,output",
                 .value = "КАРТОЧКА.pdf|.html",
                 .help = kCardOutputHelp,
                 .ifMissing = "не указан файл карточки (-o КАРТОЧКА.pdf)",
                 .valueWord = "имя файла"}},
    .exitCodes = "  0   успешно\n"
                 "  64  ошибка в командной строке (в том числе расширение не .pdf и не .html)\n"
                 "  65  нет такой строки журнала, или в ней нет настроек, или они повреждены\n"
                 "  74  журнал недоступен, ошибка записи файла\n",
    .run = JournalCard,
};
