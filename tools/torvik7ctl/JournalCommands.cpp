// torvik7ctl journal: the exchange journal that the window and read/write keep, from a
// terminal.
#include "Commands.h"

#include "fields/RecordFields.h"
#include "journal/Journal.h"
#include "journal/JournalObjects.h"
#include "journal/ServerJournal.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

const char kJournalExitCodes[] =
    "  0   успешно\n"
    "  64  ошибка в командной строке\n"
    "  65  нет такой строки журнала, или в ней нет настроек, или они повреждены\n"
    "  74  журнал недоступен, ошибка записи файла\n";

// A text as a terminal may show it: control characters (an escape sequence in a port's name
// or a title would act on the terminal) written as \xNN.
QString Printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            out += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// Local time, as the window shows it.
QString LocalTime(const QDateTime& t) {
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QJsonObject EntryJson(const JournalEntry& e) {
    QJsonObject o;
    o["id"] = e.id;
    o["uuid"] = e.uuid;
    o["time"] = e.time.toUTC().toString(Qt::ISODateWithMs);
    o["action"] = ActionName(e.action);
    o["result"] = e.result;
    o["resultText"] = e.resultText;
    o["port"] = e.port;
    o["lineAddress"] = e.lineAddress;
    o["unitAddress"] = e.unitAddress;
    o["account"] = e.account;
    o["phone1"] = e.phone1;
    o["source"] = SourceName(e.source);
    o["title"] = e.title;
    o["blocksDone"] = e.blocksDone;
    o["halfWritten"] = e.halfWritten;
    o["sha256"] = e.sha256.isEmpty() ? QJsonValue() : QJsonValue(e.sha256);
    if (e.unsent) o["unsent"] = true;
    if (!e.refused.isEmpty()) o["refused"] = e.refused;
    if (!e.installer.isEmpty()) o["installer"] = e.installer;
    return o;
}

std::string EntryLine(const JournalEntry& e) {
    QString action = ActionText(e.action);
    if (e.halfWritten) action += QStringLiteral(" (прервана: %1 из 512 блоков)").arg(e.blocksDone);
    if (!e.refused.isEmpty())
        action += QStringLiteral(" [не принята сервером: %1]").arg(e.refused);
    else if (e.unsent)
        action += QStringLiteral(" [не отправлена на сервер]");
    // A record never saved says what replaced it, or that the window closed.
    const QString result = IsUnsaved(e.action)
                               ? (e.resultText.isEmpty() ? QStringLiteral("-") : e.resultText)
                               : QStringLiteral("%1 %2").arg(e.result).arg(e.resultText);
    QString line = QStringLiteral("%1  %2  %3  %4  %5  линия %6 ГРЕМУС %7  объект %8  тел. %9")
                       .arg(e.id)
                       .arg(LocalTime(e.time), Printable(action), Printable(result),
                            e.port.isEmpty() ? QStringLiteral("-") : Printable(e.port))
                       .arg(e.lineAddress)
                       .arg(e.unitAddress)
                       .arg(e.account.isEmpty() ? QStringLiteral("-") : e.account,
                            e.phone1.isEmpty() ? QStringLiteral("-") : e.phone1);
    // Who sent it, as the team's server noted.
    if (!e.installer.isEmpty())
        line += QStringLiteral("  монтажник %1").arg(Printable(e.installer));
    return line.toStdString();
}

int Unavailable(Journal& journal) {
    PrintError(journal.Problem().toStdString());
    return kExitIo;
}

// The entry named `id`, or the exit status after one error line: 65 for a name that is unknown
// or ambiguous, 74 when the journal (or the server a number of its own needs) cannot answer.
int Named(Journal& journal, const std::string& id, JournalEntry& entry) {
    const JournalLookup found = journal.Lookup(QString::fromStdString(id));
    if (found.status == JournalFound::Found) {
        entry = *found.entry;
        return kExitOk;
    }
    if (found.status == JournalFound::Unavailable) {
        PrintError(found.why.toStdString());
        return kExitIo;
    }
    PrintError("journal: " + found.why.toStdString());
    return kExitData;
}

// The entry `id` with a usable record, or the exit status after one error line.
int EntryRecord(Journal& journal, const std::string& id, JournalEntry& entry,
                SettingsRecord& record) {
    if (const int status = Named(journal, id, entry)) return status;
    QString why;
    if (!RecordFromEntry(entry, record, &why)) {
        PrintError("journal: строка журнала " + id + ": " + why.toStdString());
        return kExitData;
    }
    return kExitOk;
}

int Finish() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return kExitOk;
    PrintError(std::string("стандартный вывод: ошибка записи: ") + std::strerror(errno));
    return kExitIo;
}

// --account as given; false after the usage error when it is no account number.
bool AccountOption(const Invocation& in, QString& account) {
    const std::string text = in.Value("account").value_or("");
    if ((text.empty() && in.Has("account")) || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        in.UsageError("--account: нужен номер объекта, до 4 цифр");
        return false;
    }
    account = QString::fromStdString(text);
    return true;
}

int List(const Invocation& in) {
    long limit = 0;
    if (!in.Number("limit", 1, 1L << 30, limit)) return kExitUsage;
    JournalQuery query;
    if (!AccountOption(in, query.account)) return kExitUsage;
    const auto journal = OpenCtlJournal();
    query.limit = static_cast<int>(limit);
    const std::vector<JournalEntry> entries = journal->List(query);
    if (!journal->Problem().isEmpty()) return Unavailable(*journal);
    if (in.Has("json")) {
        QJsonArray array;
        for (const auto& e : entries)
            array.append(EntryJson(e));
        std::fputs(JsonForTerminal(QJsonDocument(array)).c_str(), stdout);
    } else {
        for (const auto& e : entries)
            std::printf("%s\n", EntryLine(e).c_str());
    }
    return Finish();
}

// "загрузка #12 2026-12-07 10:00:00 монтажник ivanov", or "загрузка -" when none is known.
QString ObjectSide(const char* what, const std::optional<JournalEntry>& e) {
    if (!e) return QString::fromUtf8(what) + QStringLiteral(" -");
    QString text =
        QStringLiteral("%1 #%2 %3").arg(QString::fromUtf8(what)).arg(e->id).arg(LocalTime(e->time));
    if (!e->installer.isEmpty())
        text += QStringLiteral(" монтажник %1").arg(Printable(e->installer));
    return text;
}

int Objects(const Invocation& in) {
    JournalQuery query;
    if (!AccountOption(in, query.account)) return kExitUsage;
    const auto journal = OpenCtlJournal();
    const std::vector<JournalEntry> entries = journal->List(query);
    if (!journal->Problem().isEmpty()) return Unavailable(*journal);
    const std::vector<JournalObject> objects = JournalObjects(entries);
    if (in.Has("json")) {
        QJsonArray array;
        for (const JournalObject& o : objects) {
            QJsonObject object;
            object["account"] = o.account;
            object["write"] = o.write ? QJsonValue(EntryJson(*o.write)) : QJsonValue();
            object["read"] = o.read ? QJsonValue(EntryJson(*o.read)) : QJsonValue();
            object["agree"] = o.Agree() == JournalObject::Agreement::Unknown
                                  ? QJsonValue()
                                  : QJsonValue(o.Agree() == JournalObject::Agreement::Same);
            array.append(object);
        }
        std::fputs(JsonForTerminal(QJsonDocument(array)).c_str(), stdout);
    } else {
        for (const JournalObject& o : objects)
            std::printf("объект %s  %s  %s  совпадают: %s\n", qPrintable(o.account),
                        ObjectSide("загрузка", o.write).toUtf8().constData(),
                        ObjectSide("чтение", o.read).toUtf8().constData(),
                        AgreementText(o.Agree()).toUtf8().constData());
    }
    return Finish();
}

int Show(const Invocation& in) {
    const std::string& id = in.Argument(0);
    const auto journal = OpenCtlJournal();
    std::optional<JournalEntry> found(std::in_place);
    if (const int status = Named(*journal, id, *found)) return status;
    SettingsRecord record{};
    QString why;
    const bool usable = found->HasRecord() && RecordFromEntry(*found, record, &why);
    const std::string label = "журнал #" + std::to_string(found->id);
    if (in.Has("json")) {
        QJsonObject o = EntryJson(*found);
        if (usable) o["settings"] = ShowJsonObject(label, record);
        std::fputs(JsonForTerminal(QJsonDocument(o)).c_str(), stdout);
    } else {
        std::printf("%s\n", EntryLine(*found).c_str());
        std::printf("UUID: %s\nИсточник: %s\nЗаголовок: %s\nSHA-256: %s\n\n",
                    qPrintable(found->uuid), qPrintable(SourceName(found->source)),
                    Printable(found->title).toUtf8().constData(),
                    found->sha256.isEmpty() ? "-" : qPrintable(found->sha256));
        if (usable) std::fputs(ShowText(label, record).c_str(), stdout);
    }
    if (found->HasRecord() && !usable) {
        PrintError("journal: строка журнала " + id + ": " + why.toStdString());
        Finish();
        return kExitData;
    }
    return Finish();
}

int Export(const Invocation& in) {
    const auto journal = OpenCtlJournal();
    JournalEntry entry;
    SettingsRecord record;
    if (const int status = EntryRecord(*journal, in.Argument(0), entry, record)) return status;
    return WriteSettingsFile(*in.Value("output"), record);
}

int Diff(const Invocation& in) {
    const auto journal = OpenCtlJournal();
    JournalEntry entry;
    SettingsRecord first, second{};
    if (const int status = EntryRecord(*journal, in.Argument(0), entry, first)) return status;
    const std::string& other = in.Argument(1);
    // A file that exists is a file; anything else names an entry.
    if (QFileInfo::exists(QString::fromStdString(other))) {
        if (const int status = ReadSettingsFile(other, second)) return status;
    } else {
        JournalEntry otherEntry;
        if (const int status = EntryRecord(*journal, other, otherEntry, second)) return status;
    }
    const std::vector<std::string> lines = Differences(first, second);
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    if (const int status = Finish()) return status;
    return lines.empty() ? kExitOk : kExitDiffers;
}

int Prune(const Invocation& in) {
    const QString text = QString::fromStdString(*in.Value("before"));
    // A day is its local midnight; a time may be given too.
    QDateTime before = QDateTime::fromString(text, Qt::ISODate);
    // Only a date alone is a day: "2026-12-07T25:00:00" is no time, not that day's midnight.
    if (!before.isValid() && text.size() == 10) {
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (day.isValid()) before = day.startOfDay();
    }
    if (!before.isValid()) return in.UsageError("--before: нужна дата ГГГГ-ММ-ДД");
    const auto journal = OpenCtlJournal();
    int kept = 0;
    const int removed = journal->Prune(before, in.Has("all"), in.Has("unsent-too"), &kept);
    if (removed < 0) return Unavailable(*journal);
    std::printf("удалено строк журнала: %d\n", removed);
    if (kept > 0)
        std::printf("оставлено строк журнала, не отправленных на сервер: %d (--unsent-too - "
                    "удалить и их)\n",
                    kept);
    return Finish();
}

int Push(const Invocation&) {
    const auto journal = OpenCtlJournal();
    ServerJournal* server = journal->Server();
    if (!server && !kServerJournalBuilt) {
        PrintError("journal push: эта сборка хранит журнал только на этом компьютере и не "
                   "связывается с сервером журнала команды");
        return kExitUsage;
    }
    if (!server) {
        PrintError("journal push: сервер журнала не задан (TORVIK7_JOURNAL=postgresql://... или "
                   "«Сервер…» в окне «Журнал»)");
        return kExitUsage;
    }
    QString why;
    if (!ParseServerAddress(JournalServerAddress(), &why)) {
        PrintError("journal push: " + why.toStdString());
        return kExitUsage;
    }
    const int sent = journal->Push();
    if (!journal->Problem().isEmpty()) return Unavailable(*journal);
    if (sent < 0) {
        PrintError(server->Problem().toStdString());
        return kExitIo;
    }
    std::printf("отправлено строк журнала: %d\n", sent);
    if (const int status = Finish()) return status;
    // The status says whether the server now holds every entry: those it refused stay here.
    int aside = 0;
    for (const JournalEntry& e : journal->Unsent())
        aside += !e.refused.isEmpty();
    if (aside == 0) return kExitOk;
    PrintError("journal push: не принято сервером строк журнала: " + std::to_string(aside) +
               " (они отложены; причина - в torvik7ctl journal list)");
    return kExitData;
}

} // namespace

std::unique_ptr<Journal> OpenCtlJournal() {
    // The window's data folder, whatever this program is called.
    QCoreApplication::setApplicationName(QStringLiteral("torvik7-setup"));
    auto journal = std::make_unique<Journal>();
    // A team's server out of reach is one warning line: the entries kept here still answer,
    // and this computer's own journal's problems are told where they stop a command.
    journal->SetProblemHandler([j = journal.get()](const QString& text) {
        if (text != j->Problem()) PrintError("предупреждение: " + text.toStdString());
    });
    return journal;
}

namespace {
const char kJournalAbout[] =
    "Журнал обменов: каждое чтение и каждая загрузка прибора (окном и torvik7ctl) и\n"
    "настройки, не сохранённые при закрытии окна или заменённые без сохранения; каждое -\n"
    "строка журнала. База: TORVIK7_JOURNAL или journal.sqlite в папке данных пользователя.\n"
    "ID - номер строки, её UUID или начало UUID (не меньше 4 знаков, не одни цифры); с\n"
    "сервером журнала номера - серверные, а у не отправленных строк - местные со знаком\n"
    "минус. ID, подходящий к нескольким строкам или ни к одной, - код 65.";
} // namespace

const CommandSpec kJournalListCommand = {
    .name = "journal list",
    .summary = "строки журнала обменов, новые первыми",
    .about = kJournalAbout,
    .options = {{.names = "account", .value = "N", .help = "только строки объекта N"},
                {.names = "limit", .value = "N", .help = "не больше N строк"},
                {.names = "json", .help = "массивом JSON"}},
    .exitCodes = kJournalExitCodes,
    .run = List,
};

const CommandSpec kJournalObjectsCommand = {
    .name = "journal objects",
    .summary = "объекты: последняя загрузка и последнее чтение каждого, совпадают ли они",
    .about = "Для каждого номера объекта - последняя полная успешная загрузка и последнее\n"
             "успешное чтение (номер строки журнала, время, монтажник, если его назвал сервер\n"
             "журнала) и совпадают ли их настройки (по SHA-256). Прерванные и неудачные обмены\n"
             "и несохранённые настройки не говорят, что в приборе, и не учитываются.",
    .options = {{.names = "account", .value = "N", .help = "только объект N"},
                {.names = "json", .help = "массивом JSON"}},
    .exitCodes = kJournalExitCodes,
    .run = Objects,
};

const CommandSpec kJournalShowCommand = {
    .name = "journal show",
    .summary = "строка журнала и её настройки, как show показывает файл",
    .about = kJournalAbout,
    .arguments = {{"ID", "не указана строка журнала"}},
    .options = {{.names = "json", .help = "одним объектом JSON"}},
    .exitCodes = kJournalExitCodes,
    .run = Show,
};

const CommandSpec kJournalExportCommand = {
    .name = "journal export",
    .summary = "настройки строки журнала в файл (1800 байт)",
    .about = kJournalAbout,
    .arguments = {{"ID", "не указана строка журнала"}},
    .options = {{.names = "o,output",
                 .value = "ФАЙЛ.stg",
                 .help = "файл для настроек",
                 .ifMissing = "не указан выходной файл (-o ФАЙЛ)",
                 .valueWord = "имя файла"}},
    .exitCodes = kJournalExitCodes,
    .run = Export,
};

const CommandSpec kJournalDiffCommand = {
    .name = "journal diff",
    .summary = "различия настроек двух строк журнала или строки и файла",
    .about = "Перечисляет различия настроек строки журнала ID и строки ID2 или файла настроек,\n"
             "как diff. Существующий файл считается файлом, иначе - номером строки.",
    .arguments = {{"ID", "нужны строка журнала и строка или файл"},
                  {"ID2|ФАЙЛ.stg", "нужны строка журнала и строка или файл"}},
    .exitCodes = "  0   настройки не различаются\n"
                 "  1   настройки различаются\n"
                 "  64  ошибка в командной строке\n"
                 "  65  нет такой строки журнала, в ней нет настроек, или файл не является\n"
                 "      файлом настроек\n"
                 "  74  журнал недоступен, ошибка чтения файла\n",
    .run = Diff,
};

const CommandSpec kJournalPushCommand = {
    .name = "journal push",
    .summary = "отправить на сервер журнала команды строки, ещё не отправленные",
    .about = "Журнал команды на сервере PostgreSQL: TORVIK7_JOURNAL=postgresql://пользователь@\n"
             "сервер:порт/база?sslmode=... (пароль - из ~/.pgpass или PGPASSWORD). Каждая строка\n"
             "сначала хранится здесь; не отправленные помечены в list и уходят на сервер\n"
             "по одному разу. В списке с сервером номера - серверные, у не отправленных -\n"
             "отрицательные: torvik7ctl journal show -- -12.",
    .exitCodes = "  0   отправлено, на сервере все строки (и ноль, если всё уже там)\n"
                 "  64  сервер журнала не задан или его адрес не принят\n"
                 "  65  сервер не принял часть строк: они отложены, причина - в list\n"
                 "  74  сервер недоступен или не принял строки; они остаются здесь\n",
    .run = Push,
};

const CommandSpec kJournalPruneCommand = {
    .name = "journal prune",
    .summary = "удалить старые строки журнала",
    .about = "Удаляет строки журнала старше ДАТЫ. Настройки, не сохранённые при выходе или\n"
             "заменённые без сохранения, и прерванные загрузки (прибор, возможно, записан\n"
             "частично) остаются, если не указан --all; строки, ещё не отправленные на сервер\n"
             "журнала команды, - если не указан --unsent-too.",
    .options = {{.names = "before",
                 .value = "ДАТА",
                 .help = "ГГГГ-ММ-ДД (или ГГГГ-ММ-ДДTЧЧ:ММ:СС)",
                 .ifMissing = "не указана дата (--before ГГГГ-ММ-ДД)"},
                {.names = "all", .help = "удалять и не сохранённые, и прерванные"},
                {.names = "unsent-too",
                 .help = "удалять и строки, ещё не отправленные на сервер журнала"}},
    .exitCodes = kJournalExitCodes,
    .run = Prune,
};
