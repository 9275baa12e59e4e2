// torvik7ctl journal: the exchange journal that the window and read/write keep, from a
// terminal.
#include "Commands.h"

#include "ShowFormat.h"
#include "journal/Journal.h"
#include "journal/ServerJournal.h"

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

const char kJournalHelp[] =
    "Использование: torvik7ctl journal list [--account N] [--limit N] [--json]\n"
    "               torvik7ctl journal show ID [--json]\n"
    "               torvik7ctl journal export ID -o ФАЙЛ.stg\n"
    "               torvik7ctl journal diff ID ID|ФАЙЛ.stg\n"
    "               torvik7ctl journal prune --before ДАТА [--all]\n"
    "               torvik7ctl journal push\n"
    "Журнал обменов: каждое чтение и каждая загрузка прибора (окном и torvik7ctl) и\n"
    "настройки, не сохранённые при закрытии окна. ID - номер записи или её UUID.\n"
    "  list           записи, новые первыми\n"
    "  show           запись и её настройки, как show показывает файл\n"
    "  export         настройки записи в файл (1800 байт)\n"
    "  diff           различия настроек двух записей или записи и файла\n"
    "  prune          удалить записи старше ДАТЫ (ГГГГ-ММ-ДД); не сохранённые при выходе\n"
    "                 и прерванные загрузки остаются, если не указан --all\n"
    "  push           отправить на сервер журнала записи, ещё не отправленные\n"
    "База: TORVIK7_JOURNAL или journal.sqlite в папке данных пользователя. Журнал команды\n"
    "на сервере: TORVIK7_JOURNAL=postgresql://пользователь@сервер:порт/база?sslmode=...\n"
    "(пароль - из ~/.pgpass или PGPASSWORD); записи хранятся и здесь, а неотправленные\n"
    "помечены.\n"
    "\nКоды завершения: 0 успешно, 1 diff: настройки различаются, 64 ошибка в командной\n"
    "строке, 65 нет такой записи или в ней нет настроек (или они повреждены),\n"
    "74 журнал недоступен или ошибка записи файла.\n";

int Usage(const std::string& text) {
    PrintError("journal: " + text + " (справка: torvik7ctl journal --help)");
    return kExitUsage;
}

struct JournalArgs {
    std::vector<std::string> words;
    std::string account;
    long limit = 0;
    bool json = false;
    std::string output;
    std::string before;
    bool all = false;
};

std::optional<int> Parse(const Args& args, JournalArgs& out) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        std::string inlineValue;
        bool hasInline = false;
        if (a.rfind("--", 0) == 0) {
            if (const auto eq = a.find('='); eq != std::string::npos) {
                inlineValue = a.substr(eq + 1);
                a = a.substr(0, eq);
                hasInline = true;
            }
        }
        auto value = [&](std::string& into) -> bool {
            if (hasInline) {
                into = inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kJournalHelp, stdout);
            return kExitOk;
        } else if (a == "--json") {
            out.json = true;
        } else if (a == "--all") {
            out.all = true;
        } else if (a == "--account") {
            if (!value(out.account) || out.account.empty() || out.account.size() > 4 ||
                out.account.find_first_not_of("0123456789") != std::string::npos)
                return Usage("--account: нужен номер объекта, до 4 цифр");
        } else if (a == "--limit") {
            std::string text;
            char* end = nullptr;
            if (!value(text) || text.empty() ||
                (out.limit = std::strtol(text.c_str(), &end, 10), *end) || out.limit < 1)
                return Usage("--limit: нужно число больше 0");
        } else if (a == "-o" || a == "--output") {
            if (!value(out.output)) return Usage("после -o нужен файл");
        } else if (a.rfind("-o", 0) == 0 && a.size() > 2) {
            out.output = a.substr(2);
        } else if (a == "--before") {
            if (!value(out.before)) return Usage("после --before нужна дата");
        } else if (!a.empty() && a[0] == '-' && a != "-" &&
                   a.find_first_not_of("0123456789", 1) != std::string::npos) {
            // "-12" is no option: it names an entry not yet sent to the team's server.
            return Usage("неизвестный параметр '" + a + "'");
        } else {
            out.words.push_back(a);
        }
    }
    return std::nullopt;
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
    return o;
}

std::string EntryLine(const JournalEntry& e) {
    QString action = ActionName(e.action);
    if (e.halfWritten) action += QStringLiteral(" (прервана: %1 из 512 блоков)").arg(e.blocksDone);
    if (e.unsent) action += QStringLiteral(" [не отправлена на сервер]");
    const QString result = e.action == JournalAction::UnsavedAtExit
                               ? QStringLiteral("-")
                               : QStringLiteral("%1 %2").arg(e.result).arg(e.resultText);
    return QStringLiteral("%1  %2  %3  %4  %5  линия %6 ГРЕМУС %7  объект %8  тел. %9")
        .arg(e.id)
        .arg(LocalTime(e.time), action, result, e.port.isEmpty() ? QStringLiteral("-") : e.port)
        .arg(e.lineAddress)
        .arg(e.unitAddress)
        .arg(e.account.isEmpty() ? QStringLiteral("-") : e.account,
             e.phone1.isEmpty() ? QStringLiteral("-") : e.phone1)
        .toStdString();
}

int Unavailable(Journal& journal) {
    PrintError(journal.Problem().toStdString());
    return kExitIo;
}

// The entry `id` with a usable record, or the exit status after one error line.
int EntryRecord(Journal& journal, const std::string& id, JournalEntry& entry,
                SettingsRecord& record) {
    const auto found = journal.Find(QString::fromStdString(id));
    if (!found) {
        if (!journal.Problem().isEmpty()) return Unavailable(journal);
        PrintError("journal: нет записи " + id);
        return kExitData;
    }
    entry = *found;
    QString why;
    if (!RecordFromEntry(entry, record, &why)) {
        PrintError("journal: запись " + id + ": " + why.toStdString());
        return kExitData;
    }
    return kExitOk;
}

int Finish() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return kExitOk;
    PrintError(std::string("стандартный вывод: ошибка записи: ") + std::strerror(errno));
    return kExitIo;
}

int List(Journal& journal, const JournalArgs& a) {
    if (a.words.size() != 1) return Usage("list не принимает аргументов");
    JournalQuery query;
    query.account = QString::fromStdString(a.account);
    query.limit = static_cast<int>(a.limit);
    const std::vector<JournalEntry> entries = journal.List(query);
    if (!journal.Problem().isEmpty()) return Unavailable(journal);
    if (a.json) {
        QJsonArray array;
        for (const auto& e : entries)
            array.append(EntryJson(e));
        std::fputs(QJsonDocument(array).toJson(QJsonDocument::Indented).constData(), stdout);
    } else {
        for (const auto& e : entries)
            std::printf("%s\n", EntryLine(e).c_str());
    }
    return Finish();
}

int Show(Journal& journal, const JournalArgs& a) {
    if (a.words.size() != 2) return Usage("show: нужен номер записи");
    const auto found = journal.Find(QString::fromStdString(a.words[1]));
    if (!found) {
        if (!journal.Problem().isEmpty()) return Unavailable(journal);
        PrintError("journal: нет записи " + a.words[1]);
        return kExitData;
    }
    SettingsRecord record{};
    QString why;
    const bool usable = found->HasRecord() && RecordFromEntry(*found, record, &why);
    const std::string label = "журнал #" + std::to_string(found->id);
    if (a.json) {
        QJsonObject o = EntryJson(*found);
        if (usable)
            o["settings"] =
                QJsonDocument::fromJson(QByteArray::fromStdString(ShowJson(label, record)))
                    .object();
        std::fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
    } else {
        std::printf("%s\n", EntryLine(*found).c_str());
        std::printf("UUID: %s\nИсточник: %s\nЗаголовок: %s\nSHA-256: %s\n\n",
                    qPrintable(found->uuid), qPrintable(SourceName(found->source)),
                    found->title.toUtf8().constData(),
                    found->sha256.isEmpty() ? "-" : qPrintable(found->sha256));
        if (usable) std::fputs(ShowText(label, record).c_str(), stdout);
    }
    if (found->HasRecord() && !usable) {
        PrintError("journal: запись " + a.words[1] + ": " + why.toStdString());
        Finish();
        return kExitData;
    }
    return Finish();
}

int Export(Journal& journal, const JournalArgs& a) {
    if (a.words.size() != 2) return Usage("export: нужен номер записи");
    if (a.output.empty()) return Usage("export: не указан файл (-o)");
    JournalEntry entry;
    SettingsRecord record;
    if (const int status = EntryRecord(journal, a.words[1], entry, record)) return status;
    if (const int status = WriteSettingsFile(a.output, record)) return status;
    return kExitOk;
}

int Diff(Journal& journal, const JournalArgs& a) {
    if (a.words.size() != 3) return Usage("diff: нужны запись и запись или файл");
    JournalEntry entry;
    SettingsRecord first, second{};
    if (const int status = EntryRecord(journal, a.words[1], entry, first)) return status;
    const std::string& other = a.words[2];
    // A file that exists is a file; anything else names an entry.
    if (QFileInfo::exists(QString::fromStdString(other))) {
        if (const int status = ReadSettingsFile(other, second)) return status;
    } else {
        JournalEntry otherEntry;
        if (const int status = EntryRecord(journal, other, otherEntry, second)) return status;
    }
    const std::vector<std::string> lines = DiffLines(first, second);
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    if (const int status = Finish()) return status;
    return lines.empty() ? kExitOk : kExitDiffers;
}

int Prune(Journal& journal, const JournalArgs& a) {
    if (a.words.size() != 1) return Usage("prune не принимает аргументов");
    if (a.before.empty()) return Usage("prune: не указана дата (--before ГГГГ-ММ-ДД)");
    QDateTime before = QDateTime::fromString(QString::fromStdString(a.before), Qt::ISODate);
    if (!before.isValid()) {
        const QDate day = QDate::fromString(QString::fromStdString(a.before), Qt::ISODate);
        if (day.isValid()) before = day.startOfDay();
    }
    if (!before.isValid()) return Usage("--before: нужна дата ГГГГ-ММ-ДД");
    const int removed = journal.Prune(before, a.all);
    if (removed < 0) return Unavailable(journal);
    std::printf("удалено записей: %d\n", removed);
    return Finish();
}

int Push(Journal& journal, const JournalArgs& a) {
    if (a.words.size() != 1) return Usage("push не принимает аргументов");
    ServerJournal* server = journal.Server();
    if (!server) return Usage("push: сервер журнала не задан (TORVIK7_JOURNAL=postgresql://...)");
    const int sent = journal.Push();
    if (sent < 0) {
        PrintError(server->Problem().toStdString());
        return kExitIo;
    }
    std::printf("отправлено записей: %d\n", sent);
    return Finish();
}

} // namespace

int CmdJournal(const Args& args) {
    JournalArgs a;
    if (const auto status = Parse(args, a)) return *status;
    if (a.words.empty()) return Usage("нужна команда: list, show, export, diff, prune или push");
    Journal journal;
    // A team's server that cannot be reached is a warning: the entries kept here still answer.
    journal.SetProblemHandler([&journal, &a](const QString& text) {
        if (a.words[0] != "push" && text != journal.Problem()) PrintError(text.toStdString());
    });
    const std::string& what = a.words[0];
    if (what == "list") return List(journal, a);
    if (what == "show") return Show(journal, a);
    if (what == "export") return Export(journal, a);
    if (what == "diff") return Diff(journal, a);
    if (what == "prune") return Prune(journal, a);
    if (what == "push") return Push(journal, a);
    return Usage("неизвестная команда '" + what + "'");
}
