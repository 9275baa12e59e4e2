// torvik7ctl card: the printable settings card of a file, as PDF or HTML, for batches.
#include "Commands.h"

#include "card/SettingsCard.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>

namespace {

int Card(const Invocation& in) {
    const std::string& path = in.Argument(0);
    const std::string output = *in.Value("output");
    const QString suffix = QFileInfo(QString::fromStdString(output)).suffix().toLower();
    const bool pdf = suffix == QLatin1String("pdf");
    if (!pdf && suffix != QLatin1String("html") && suffix != QLatin1String("htm"))
        return in.UsageError("формат карточки задаётся расширением выходного файла: .pdf или "
                             ".html");
    SettingsRecord record{};
    if (const int status = ReadSettingsFile(path, record)) return status;

    // Fonts and the PDF writer need a Gui application; no display is needed for either.
    // Its notes on the session (no runtime folder and the like) are no business of a batch;
    // the card reports its own failures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static char name[] = "torvik7ctl", platform[] = "-platform", offscreen[] = "offscreen";
    static char* argv[] = {name, platform, offscreen, nullptr};
    static int argc = 3;
    const QGuiApplication app(argc, argv);

    CardInfo info;
    info.source.kind = CardSource::Kind::File;
    info.source.fileName = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
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

} // namespace

const CommandSpec kCardCommand = {
    .name = "card",
    .summary = "карточка настроек файла для печати (PDF или HTML)",
    .about = "Составляет карточку настроек файла: номер объекта, откуда настройки, общие\n"
             "настройки, телефоны и набор, типы шлейфов диапазонами, реле ПЦН, группы,\n"
             "коды событий Contact ID и место для подписи. Формат — по расширению\n"
             "выходного файла: .pdf (страницы A4) или .html.",
    .arguments = {{"ФАЙЛ.stg", "не указан файл настроек"}},
    .options = {{.names = "o,output",
                 .value = "КАРТОЧКА.pdf|.html",
                 .help = "файл карточки",
                 .ifMissing = "не указан файл карточки (-o КАРТОЧКА.pdf)",
                 .valueWord = "имя файла"}},
    .exitCodes = "  0   успешно\n"
                 "  64  ошибка в командной строке (в том числе расширение не .pdf и не .html)\n"
                 "  65  входной файл не является файлом настроек (1800 байт)\n"
                 "  74  ошибка чтения или записи файла\n",
    .run = Card,
};
