// The commands that work on settings files and device images without a device:
// defaults, encode, decode, show and diff.
#include "Commands.h"

#include "pages/ContactIdTable.h"
#include "settings/DeviceImage.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsRecord.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// ---------------------------------------------------------------- errors

std::string ErrnoText(int error) {
    switch (error) {
    case ENOENT:
        return "нет такого файла или каталога";
    case EACCES:
    case EPERM:
        return "доступ запрещён";
    case ENOSPC:
        return "нет места на устройстве";
    case EDQUOT:
        return "превышена дисковая квота";
    case EISDIR:
        return "это каталог";
    case ENOTDIR:
        return "часть пути не является каталогом";
    case EROFS:
        return "файловая система только для чтения";
    case EIO:
        return "ошибка ввода-вывода";
    case ENAMETOOLONG:
        return "слишком длинное имя";
    case ELOOP:
        return "слишком много символических ссылок";
    case EMFILE:
    case ENFILE:
        return "слишком много открытых файлов";
    case EFBIG:
        return "файл слишком велик";
    case EWOULDBLOCK:
        return "файл заблокирован другой программой";
    case EBUSY:
        return "устройство занято";
    case EXDEV:
        return "файлы на разных файловых системах";
    default:
        return std::strerror(error);
    }
}

// "<what>: <reason> (код ошибки N)", or just <what> when no error number applies.
std::string Reason(const std::string& what, int error) {
    if (error == 0) return what;
    return what + ": " + ErrnoText(error) + " (код ошибки " + std::to_string(error) + ")";
}

int FileError(const std::string& path, const std::string& reason, int status) {
    PrintError(path + ": " + reason);
    return status;
}

std::string WrongSize(const char* what, long long size, std::size_t expected) {
    return std::string("не является ") + what + ": размер " + std::to_string(size) +
           " байт, ожидается " + std::to_string(expected);
}

// ---------------------------------------------------------------- command line

enum Option : unsigned { kOutput = 1, kBase = 2, kJson = 4 };

struct CommandSpec {
    const char* name;
    unsigned options;
    std::size_t files;   // exact number of file arguments
    const char* missing; // what to say when a file argument is missing
    const char* help;
};

struct CommandLine {
    std::vector<std::string> files;
    std::optional<std::string> output;
    std::optional<std::string> base;
    bool json = false;
};

const char kExitCodesHelp[] =
    "\nКоды завершения:\n"
    "  0   успешно\n"
    "  64  ошибка в командной строке\n"
    "  65  входной файл не является файлом настроек (1800 байт) или образом памяти (2048 "
    "байт)\n"
    "  74  ошибка чтения или записи файла\n";

int UsageError(const CommandSpec& spec, const std::string& text) {
    PrintError(std::string(spec.name) + ": " + text + " (справка: torvik7ctl " + spec.name +
               " --help)");
    return kExitUsage;
}

// Parses `args` for `spec`. Returns the exit status to end with (help printed, or a
// usage error reported), or nothing when the command should run.
std::optional<int> ParseCommandLine(const CommandSpec& spec, const Args& args, CommandLine& cl) {
    // Help wins over everything else on the line, wherever it stands.
    for (const auto& a : args) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            std::fputs(spec.help, stdout);
            std::fputs(kExitCodesHelp, stdout);
            return kExitOk;
        }
    }
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            if (a.empty()) return UsageError(spec, "пустое имя файла");
            cl.files.push_back(a);
            continue;
        }
        std::string name = a;
        std::optional<std::string> value;
        if (const auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        } else if (a.size() > 2 && a.rfind("-o", 0) == 0) {
            name = "-o";
            value = a.substr(2);
        }
        std::optional<std::string>* target = nullptr;
        if ((name == "-o" || name == "--output") && (spec.options & kOutput)) {
            target = &cl.output;
        } else if (name == "--base" && (spec.options & kBase)) {
            target = &cl.base;
        } else if (name == "--json" && (spec.options & kJson) && !value) {
            cl.json = true;
            continue;
        } else {
            return UsageError(spec, "неизвестный параметр '" + a + "'");
        }
        if (*target) return UsageError(spec, "параметр " + name + " указан дважды");
        if (!value) {
            if (i + 1 >= args.size()) return UsageError(spec, "после " + name + " нужно имя файла");
            value = args[++i];
        }
        if (value->empty()) return UsageError(spec, "пустое имя файла после " + name);
        *target = *value;
    }
    if (cl.files.size() < spec.files) return UsageError(spec, spec.missing);
    if (cl.files.size() > spec.files)
        return UsageError(spec, "лишний параметр '" + cl.files[spec.files] + "'");
    if ((spec.options & kOutput) && !cl.output)
        return UsageError(spec, "не указан выходной файл (-o ФАЙЛ)");
    return std::nullopt;
}

// ---------------------------------------------------------------- files

// Loads a settings file that must be exactly 1800 bytes. Returns 0 or the exit status
// after reporting the failure.
int ReadSettings(const std::string& path, SettingsRecord& record) {
    const FileResult r = LoadSettingsFile(path, record);
    switch (r.status) {
    case FileStatus::Ok:
        if (r.fileSize >= 0 && r.fileSize != static_cast<long long>(kRecordSize))
            return FileError(path, WrongSize("файлом настроек", r.fileSize, kRecordSize),
                             kExitData);
        return 0;
    case FileStatus::TooShort:
        return FileError(path, WrongSize("файлом настроек", r.fileSize, kRecordSize), kExitData);
    case FileStatus::NotRegular:
        return FileError(path, "не является файлом настроек: это не обычный файл", kExitData);
    case FileStatus::OpenFailed:
        return FileError(path, Reason("не удалось открыть", r.errorNumber), kExitIo);
    case FileStatus::ReadFailed:
    case FileStatus::WriteFailed:
        break;
    }
    return FileError(path, Reason("ошибка чтения", r.errorNumber), kExitIo);
}

int WriteSettings(const std::string& path, const SettingsRecord& record) {
    const FileResult r = SaveSettingsFile(path, record);
    if (r.ok()) return 0;
    const char* what =
        r.status == FileStatus::OpenFailed ? "не удалось создать файл" : "ошибка записи";
    return FileError(path, Reason(what, r.errorNumber), kExitIo);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads an image that must be exactly 2048 bytes.
int ReadImage(const std::string& path, DeviceImage& image) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return FileError(path, Reason("не удалось открыть", errno), kExitIo);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return FileError(path, Reason("ошибка чтения", error), kExitIo);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        return FileError(path, Reason("ошибка чтения", EISDIR), kExitIo);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return FileError(path, "не является образом памяти прибора: это не обычный файл",
                         kExitData);
    }
    // One byte more than an image, to tell a longer file from an exact one.
    std::uint8_t buffer[kImageSize + 1];
    std::size_t done = 0;
    while (done < sizeof buffer) {
        const ssize_t n = ::read(fd, buffer + done, sizeof buffer - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return FileError(path, Reason("ошибка чтения", error), kExitIo);
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (done != kImageSize) {
        const long long size = done > kImageSize ? std::max<long long>(info.st_size, done)
                                                 : static_cast<long long>(done);
        return FileError(path, WrongSize("образом памяти прибора", size, kImageSize), kExitData);
    }
    std::memcpy(image.data(), buffer, kImageSize);
    return 0;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes an image the way settings files are saved: a device node or pipe in place,
// a file through a temporary file beside it, so a failure never leaves half an image
// where the previous file was.
int WriteImage(const std::string& path, const DeviceImage& image) {
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return FileError(path, Reason("не удалось создать файл", EISDIR), kExitIo);
    if (exists && !S_ISREG(existing.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return FileError(path, Reason("не удалось открыть", errno), kExitIo);
        // Opened without waiting (a pipe without a reader fails at once); the writes
        // themselves wait for a slow reader.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        int error = WriteAll(fd, image.data(), image.size()) ? 0 : errno;
        if (::close(fd) != 0 && error == 0) error = errno;
        return error == 0 ? 0 : FileError(path, Reason("ошибка записи", error), kExitIo);
    }
    // Replace what a link points to, not the link itself.
    std::string target = path;
    char resolved[PATH_MAX];
    if (exists && ::realpath(path.c_str(), resolved) != nullptr) target = resolved;

    std::string temp = FolderOf(target) + "/." + NameOf(target) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return FileError(path, Reason("не удалось создать файл", errno), kExitIo);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    int error = 0;
    if (!WriteAll(fd, image.data(), image.size()) || ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return FileError(path, Reason("ошибка записи", error), kExitIo);
    }
    return 0;
}

// Standard output that could not take the whole text (a full disk, a closed pipe).
int FinishOutput() {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return kExitOk;
    const int error = errno != 0 ? errno : EIO;
    return FileError("стандартный вывод", Reason("ошибка записи", error), kExitIo);
}

// ---------------------------------------------------------------- fields in words

const char kInvalid[] = "недопустимое значение";

// One setting as the operator reads it.
struct Shown {
    std::string text;
    bool valid = true;
};

Shown Invalid(const std::string& value, const std::string& range) {
    return {value + " — " + kInvalid + " (" + range + ")", false};
}

// Printable ASCII as it is, any other byte as \xNN, so a foreign byte is visible and the
// terminal is safe.
std::string VisibleBytes(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

// A string field within its own width.
template <std::size_t N> std::string Visible(const char (&field)[N]) {
    return VisibleBytes(std::string_view(field, FieldLength(field)));
}

// A file name for the terminal: UTF-8 names as they are, control characters escaped.
std::string VisiblePath(const std::string& path) {
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            out += VisibleBytes(std::string_view(&ch, 1));
        else
            out += ch;
    }
    return out;
}

template <std::size_t N> bool DigitsOnly(const char (&field)[N]) {
    const std::size_t length = FieldLength(field);
    for (std::size_t i = 0; i < length; ++i)
        if (field[i] < '0' || field[i] > '9') return false;
    return true;
}

// A digit string of at most `maxDigits`; `empty` names the empty string.
template <std::size_t N>
Shown DigitString(const char (&field)[N], std::size_t maxDigits, const char* empty) {
    const std::size_t length = FieldLength(field);
    if (length == 0) return {empty, true};
    if (!DigitsOnly(field)) return Invalid(Visible(field), "только цифры");
    if (length == N) return Invalid(Visible(field), "нет завершающего нуля");
    if (length > maxDigits)
        return Invalid(Visible(field), "не более " + std::to_string(maxDigits) + " цифр");
    return {Visible(field), true};
}

// A flag: 0 and 1 have their words; anything else acts as 1 and is shown as such.
Shown Flag(std::int32_t value, const char* off, const char* on) {
    if (value == 0) return {off, true};
    if (value == 1) return {on, true};
    return {std::string(on) + " (значение " + std::to_string(value) + " — " + kInvalid +
                ", 0 или 1)",
            false};
}

Shown Number(int value, int low, int high, const char* unit = "") {
    if (value < low || value > high)
        return Invalid(std::to_string(value), std::to_string(low) + ".." + std::to_string(high));
    return {std::to_string(value) + unit, true};
}

Shown PhoneShown(const SettingsRecord& r, int k) {
    return DigitString(r.phoneNumbers[k], 15, "нет");
}
Shown PrefixNumberShown(const SettingsRecord& r) {
    return DigitString(r.prefixNumber, 16, "нет");
}
Shown PrefixEnabledShown(const SettingsRecord& r) {
    return Flag(r.prefixEnabled, "не набирается", "набирается");
}
Shown DialingShown(const SettingsRecord& r) {
    return Flag(r.pulseDialing, "тональный", "импульсный");
}
Shown PulseRatioShown(const SettingsRecord& r) {
    if (r.pulseRatio == 0) return {"1,5", true};
    if (r.pulseRatio == 1) return {"2", true};
    return Invalid(std::to_string(r.pulseRatio), "0 — \"1,5\", 1 — \"2\"");
}
Shown DialCyclesShown(const SettingsRecord& r) {
    return Number(r.dialCycles, 4, 8);
}
Shown DialPauseShown(const SettingsRecord& r) {
    return Number(r.dialPause, 1, 59, " с");
}
Shown DialToneShown(const SettingsRecord& r) {
    return Flag(r.blindDialing, "определяется (набор после сигнала станции)",
                "не определяется (набор вслепую после паузы)");
}
Shown BusyShown(const SettingsRecord& r) {
    return Flag(r.detectBusy, "не определяется", "определяется");
}
Shown LineFaultShown(const SettingsRecord& r) {
    return Flag(r.showLineFault, "не отображается", "отображается");
}
Shown ProtocolShown(const SettingsRecord& r) {
    if (r.protocol == 1) return {"DTMF (Contact ID)", true};
    if (r.protocol == 2) return {"ЧМ (Сальвет - Ф)", true};
    return Invalid(std::to_string(r.protocol), "1 — DTMF, 2 — ЧМ");
}
Shown AccountShown(const SettingsRecord& r) {
    return DigitString(r.accountNumber, 4, "нет");
}
Shown TestIntervalShown(const SettingsRecord& r) {
    Shown s = DigitString(r.testInterval, 2, "нет (выкл.)");
    if (!s.valid || FieldLength(r.testInterval) == 0) return s;
    const int hours = std::atoi(std::string(r.testInterval, FieldLength(r.testInterval)).c_str());
    if (hours > 59) return Invalid(Visible(r.testInterval) + " ч", "00..59");
    if (hours == 0) return {Visible(r.testInterval) + " (выкл.)", true};
    return {Visible(r.testInterval) + " ч", true};
}

const char* const kLineCheckTexts[] = {"10 мин", "30 мин",  "1 час",
                                       "2 часа", "5 часов", "не проверять"};

Shown LineCheckShown(const SettingsRecord& r) {
    if (r.lineCheckPeriod < 1 || r.lineCheckPeriod > 6)
        return Invalid(std::to_string(r.lineCheckPeriod), "1..6");
    return {kLineCheckTexts[r.lineCheckPeriod - 1], true};
}

bool ValidType(int type) {
    return type >= 1 && type <= kTypeCount;
}

// The Contact ID code of type t with its texts.
Shown EventCodeShown(const SettingsRecord& r, int type) {
    const std::string digits = "код " + TypeCodeDigits(r, type);
    const int code = TypeEventCode(r, type);
    if (code < 0) return Invalid(digits, "цифры 0..9");
    const auto english = FindEventText(EventLanguage::English, code);
    if (!english) return {digits + " — не зарегистрирован в таблице кодов Contact ID", true};
    const auto russian = FindEventText(EventLanguage::Russian, code);
    // A text of one blank is present but says nothing; leave it out of the line.
    std::string text;
    for (const auto part : {english, russian}) {
        if (!part || *part == " ") continue;
        if (!text.empty()) text += " / ";
        text += *part;
    }
    return {digits + " — " + text, true};
}

Shown LoopTypeShown(int type) {
    return Number(type, 1, kTypeCount);
}

Shown RelayShown(const SettingsRecord& r, int relay) {
    const int type = r.relayTypes[relay];
    if (!ValidType(type)) return Invalid("тип " + std::to_string(type), "1..16");
    return {"тип " + std::to_string(type) + " (" + TypeDescription(r, type) + ")", true};
}

bool Member(const SettingsRecord& r, int group, int expander, int loop) {
    return (r.loopGroups[group][expander] >> loop & 1) != 0;
}

// Members as "expander/loops", runs of loops joined: "0/1-3,5; 12/8".
std::string GroupMembers(const SettingsRecord& r, int group) {
    std::string out;
    for (int e = 0; e < kExpanderCount; ++e) {
        if (r.loopGroups[group][e] == 0) continue;
        if (!out.empty()) out += "; ";
        out += std::to_string(e) + "/";
        bool first = true;
        for (int l = 0; l < kLoopsPerExpander;) {
            if (!Member(r, group, e, l)) {
                ++l;
                continue;
            }
            int end = l;
            while (end + 1 < kLoopsPerExpander && Member(r, group, e, end + 1))
                ++end;
            if (!first) out += ",";
            first = false;
            out += std::to_string(l + 1);
            if (end > l) out += "-" + std::to_string(end + 1);
            l = end + 1;
        }
    }
    return out;
}

int GroupSize(const SettingsRecord& r, int group) {
    int n = 0;
    for (int e = 0; e < kExpanderCount; ++e)
        n += std::popcount(r.loopGroups[group][e]);
    return n;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", bytes[i]);
        out += buf;
    }
    return out;
}

// ---------------------------------------------------------------- the list of fields

// Every setting one by one, as "label: text" for diff; show arranges the same texts.
// Loops and relays are compared by their type number alone: a changed event code is
// reported once, on its type, not again on every loop that carries the type.
struct Item {
    std::string label;
    Shown shown;
};

std::vector<Item> Items(const SettingsRecord& r) {
    std::vector<Item> items;
    for (int k = 0; k < kPhoneCount; ++k)
        items.push_back({"Телефон " + std::to_string(k + 1), PhoneShown(r, k)});
    items.push_back({"Номер префикса", PrefixNumberShown(r)});
    items.push_back({"Префикс", PrefixEnabledShown(r)});
    items.push_back({"Набор номера", DialingShown(r)});
    items.push_back({"Импульсный коэффициент", PulseRatioShown(r)});
    items.push_back({"Кол-во циклов дозвона", DialCyclesShown(r)});
    items.push_back({"Сигнал \"ОТВЕТ СТАНЦИИ\"", DialToneShown(r)});
    items.push_back({"Пауза перед набором номера", DialPauseShown(r)});
    items.push_back({"Сигнал \"ЗАНЯТО\"", BusyShown(r)});
    items.push_back({"Протокол", ProtocolShown(r)});
    items.push_back({"Адрес ПЕНКО-РС", AccountShown(r)});
    items.push_back({"Интервал передачи тестового извещения", TestIntervalShown(r)});
    items.push_back({"Интервал проверки тел. линии", LineCheckShown(r)});
    items.push_back({"Неисправность тел. линии в СЛ \"ЛЕМАРА\"", LineFaultShown(r)});
    for (int t = 1; t <= kTypeCount; ++t)
        items.push_back({"Тип " + std::to_string(t) + ", код события", EventCodeShown(r, t)});
    for (int n = 0; n < kLoopCount; ++n)
        items.push_back({"Расширитель " + std::to_string(n / kLoopsPerExpander) + ", шлейф " +
                             std::to_string(n % kLoopsPerExpander + 1) + ", тип",
                         LoopTypeShown(r.loopTypes[n])});
    for (int n = 0; n < kRelayCount; ++n)
        items.push_back(
            {"Реле ПЦН " + std::to_string(n + 1) + ", тип", LoopTypeShown(r.relayTypes[n])});
    items.push_back({"Резервные байты 153..155", {Hex(r.reserved153, 3), true}});
    items.push_back({"Резервный байт 1783", {Hex(&r.reserved1783, 1), true}});
    items.push_back({"Резервные байты 1798..1799", {Hex(r.reserved1798, 2), true}});
    return items;
}

// ---------------------------------------------------------------- show as text

void Line(const std::string& label, const Shown& s, const char* indent = "") {
    std::printf("%s%s: %s\n", indent, label.c_str(), s.text.c_str());
}

void ShowText(const std::string& path, const SettingsRecord& r) {
    std::printf("Файл настроек: %s\n\n", VisiblePath(path).c_str());

    std::printf("Телефоны:\n");
    for (int k = 0; k < kPhoneCount; ++k)
        Line(std::to_string(k + 1), PhoneShown(r, k), "  ");
    Line("Префикс", {PrefixNumberShown(r).text + ", " + PrefixEnabledShown(r).text, true});
    Line("Набор номера", DialingShown(r));
    Line("Импульсный коэффициент", PulseRatioShown(r));
    Line("Кол-во циклов дозвона", DialCyclesShown(r));
    Line("Сигнал \"ОТВЕТ СТАНЦИИ\"", DialToneShown(r));
    Line("Пауза перед набором номера", DialPauseShown(r));
    Line("Сигнал \"ЗАНЯТО\"", BusyShown(r));

    std::printf("\n");
    Line("Протокол", ProtocolShown(r));
    Line("Адрес ПЕНКО-РС", AccountShown(r));
    Line("Интервал передачи тестового извещения", TestIntervalShown(r));
    Line("Интервал проверки тел. линии", LineCheckShown(r));
    Line("Неисправность тел. линии в СЛ \"ЛЕМАРА\"", LineFaultShown(r));

    std::printf("\nТипы шлейфов и их коды событий Contact ID:\n");
    for (int t = 1; t <= kTypeCount; ++t) {
        char label[16];
        std::snprintf(label, sizeof label, "Тип %2d", t);
        Line(label, EventCodeShown(r, t), "  ");
    }

    std::printf("\nТипы шлейфов по расширителям (шлейфы 1..8):\n");
    std::vector<std::string> wrong;
    for (int e = 0; e < kExpanderCount; ++e) {
        char head[40];
        std::snprintf(head, sizeof head, "  Расширитель %2d:", e);
        std::string line = head;
        for (int l = 0; l < kLoopsPerExpander; ++l) {
            const int type = r.loopTypes[kLoopsPerExpander * e + l];
            char cell[16];
            std::snprintf(cell, sizeof cell, " %2d%s", type, ValidType(type) ? "" : "!");
            line += cell;
            if (!ValidType(type))
                wrong.push_back("  Расширитель " + std::to_string(e) + ", шлейф " +
                                std::to_string(l + 1) + ": " + LoopTypeShown(type).text);
        }
        std::printf("%s\n", line.c_str());
    }
    if (!wrong.empty()) {
        std::printf("Недопустимые типы шлейфов (отмечены !):\n");
        for (const auto& line : wrong)
            std::printf("%s\n", line.c_str());
    }

    std::printf("\nРеле ПЦН:\n");
    for (int n = 0; n < kRelayCount; ++n)
        Line("Реле ПЦН " + std::to_string(n + 1), RelayShown(r, n), "  ");

    std::printf("\nГруппы шлейфов (расширитель/шлейфы):\n");
    for (int g = 0; g < kGroupCount; ++g) {
        const int size = GroupSize(r, g);
        if (size == 0)
            std::printf("  Группа %2d: нет шлейфов\n", g + 1);
        else
            std::printf("  Группа %2d (%d): %s\n", g + 1, size, GroupMembers(r, g).c_str());
    }

    std::printf("\nРезервные байты: 153..155: %s; 1783: %s; 1798..1799: %s\n",
                Hex(r.reserved153, 3).c_str(), Hex(&r.reserved1783, 1).c_str(),
                Hex(r.reserved1798, 2).c_str());
}

// ---------------------------------------------------------------- show as JSON

bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        if (c < 0x80)
            extra = 0;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            extra = 1;
        else if ((c & 0xF0) == 0xE0)
            extra = 2;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (extra >= s.size() - i) return false; // a sequence cut short
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// A JSON string. With `bytewise`, and for text that is not UTF-8 (a foreign file name),
// each byte of 0x80 and above is written as \u00NN, so the output always parses and a
// record string maps byte for byte onto the code points 0..255.
std::string Json(std::string_view s, bool bytewise = false) {
    const bool utf8 = !bytewise && ValidUtf8(s);
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string Json(bool b) {
    return b ? "true" : "false";
}
std::string Json(int n) {
    return std::to_string(n);
}
std::string JsonOptional(const std::optional<std::string_view>& s) {
    return s ? Json(*s) : "null";
}

std::string Object(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string out = "{";
    for (std::size_t i = 0; i < members.size(); ++i)
        out +=
            (i ? ", " : "") + Json(std::string_view(members[i].first)) + ": " + members[i].second;
    return out + "}";
}

std::string Array(const std::vector<std::string>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i ? ", " : "") + values[i];
    return out + "]";
}

// An array with one element a line, for the long lists of the top-level object.
std::string Block(const std::vector<std::string>& values) {
    if (values.empty()) return "[]";
    std::string out = "[\n";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += "    " + values[i] + (i + 1 < values.size() ? ",\n" : "\n");
    return out + "  ]";
}

std::string Field(const std::string& value, const Shown& s) {
    return Object({{"value", value}, {"valid", Json(s.valid)}, {"text", Json(s.text)}});
}

template <std::size_t N> std::string RawString(const char (&field)[N]) {
    return Json(std::string_view(field, FieldLength(field)), true);
}

std::string Bytes(const std::uint8_t* bytes, std::size_t count) {
    std::vector<std::string> values;
    for (std::size_t i = 0; i < count; ++i)
        values.push_back(Json(int(bytes[i])));
    return Array(values);
}

void ShowJson(const std::string& path, const SettingsRecord& r) {
    std::vector<std::pair<std::string, std::string>> top;
    top.push_back({"file", Json(std::string_view(path))});

    std::vector<std::string> phones;
    for (int k = 0; k < kPhoneCount; ++k)
        phones.push_back(Field(RawString(r.phoneNumbers[k]), PhoneShown(r, k)));
    top.push_back({"phoneNumbers", Block(phones)});
    top.push_back({"prefixNumber", Field(RawString(r.prefixNumber), PrefixNumberShown(r))});
    top.push_back({"prefixEnabled", Field(Json(r.prefixEnabled), PrefixEnabledShown(r))});
    top.push_back({"pulseDialing", Field(Json(r.pulseDialing), DialingShown(r))});
    top.push_back({"pulseRatio", Field(Json(r.pulseRatio), PulseRatioShown(r))});
    top.push_back({"dialCycles", Field(Json(r.dialCycles), DialCyclesShown(r))});
    top.push_back({"blindDialing", Field(Json(r.blindDialing), DialToneShown(r))});
    top.push_back({"dialPause", Field(Json(r.dialPause), DialPauseShown(r))});
    top.push_back({"detectBusy", Field(Json(r.detectBusy), BusyShown(r))});
    top.push_back({"protocol", Field(Json(r.protocol), ProtocolShown(r))});
    top.push_back({"accountNumber", Field(RawString(r.accountNumber), AccountShown(r))});
    top.push_back({"testInterval", Field(RawString(r.testInterval), TestIntervalShown(r))});
    top.push_back({"lineCheckPeriod", Field(Json(r.lineCheckPeriod), LineCheckShown(r))});
    top.push_back({"showLineFault", Field(Json(r.showLineFault), LineFaultShown(r))});

    std::vector<std::string> codes;
    for (int t = 1; t <= kTypeCount; ++t) {
        const int code = TypeEventCode(r, t);
        const Shown s = EventCodeShown(r, t);
        codes.push_back(Object({
            {"type", Json(t)},
            {"digits", Array({Json(int(r.eventCodes[t - 1][0])), Json(int(r.eventCodes[t - 1][1])),
                              Json(int(r.eventCodes[t - 1][2]))})},
            {"code", code < 0 ? "null" : Json(code)},
            {"valid", Json(s.valid)},
            {"english", JsonOptional(FindEventText(EventLanguage::English, code))},
            {"russian", JsonOptional(FindEventText(EventLanguage::Russian, code))},
            {"description", Json(std::string_view(TypeDescription(r, t)))},
            {"text", Json(s.text)},
        }));
    }
    top.push_back({"eventCodes", Block(codes)});

    std::vector<std::string> expanders;
    std::vector<std::string> wrong;
    for (int e = 0; e < kExpanderCount; ++e) {
        std::vector<std::string> types;
        for (int l = 0; l < kLoopsPerExpander; ++l) {
            const int type = r.loopTypes[kLoopsPerExpander * e + l];
            types.push_back(Json(type));
            if (!ValidType(type))
                wrong.push_back(
                    Object({{"expander", Json(e)}, {"loop", Json(l + 1)}, {"value", Json(type)}}));
        }
        expanders.push_back(Array(types));
    }
    top.push_back({"loopTypes", Block(expanders)});
    top.push_back({"invalidLoopTypes", Block(wrong)});

    std::vector<std::string> relays;
    for (int n = 0; n < kRelayCount; ++n) {
        const int type = r.relayTypes[n];
        relays.push_back(
            Object({{"relay", Json(n + 1)},
                    {"value", Json(type)},
                    {"valid", Json(ValidType(type))},
                    {"description",
                     ValidType(type) ? Json(std::string_view(TypeDescription(r, type))) : "null"},
                    {"text", Json(RelayShown(r, n).text)}}));
    }
    top.push_back({"relayTypes", Block(relays)});

    std::vector<std::string> groups;
    for (int g = 0; g < kGroupCount; ++g) {
        std::vector<std::string> members;
        for (int e = 0; e < kExpanderCount; ++e)
            for (int l = 0; l < kLoopsPerExpander; ++l)
                if (Member(r, g, e, l))
                    members.push_back(Object({{"expander", Json(e)}, {"loop", Json(l + 1)}}));
        groups.push_back(Object({{"group", Json(g + 1)}, {"members", Array(members)}}));
    }
    top.push_back({"loopGroups", Block(groups)});

    top.push_back({"reserved", Object({{"153", Bytes(r.reserved153, 3)},
                                       {"1783", Bytes(&r.reserved1783, 1)},
                                       {"1798", Bytes(r.reserved1798, 2)}})});

    std::printf("{\n");
    for (std::size_t i = 0; i < top.size(); ++i)
        std::printf("  %s: %s%s\n", Json(std::string_view(top[i].first)).c_str(),
                    top[i].second.c_str(), i + 1 < top.size() ? "," : "");
    std::printf("}\n");
}

// ---------------------------------------------------------------- the commands

const CommandSpec kDefaults = {
    "defaults", kOutput, 0, "",
    "Использование: torvik7ctl defaults -o ФАЙЛ.stg\n"
    "\n"
    "Записывает файл настроек (1800 байт) с заводскими значениями, как команда \"Новые\":\n"
    "запись из нулевых байтов, заполненная значениями по умолчанию.\n"
    "\n"
    "Параметры:\n"
    "  -o, --output ФАЙЛ  файл настроек для записи\n"
    "  -h, --help         эта справка\n"};

const CommandSpec kEncode = {
    "encode", kOutput, 1, "не указан файл настроек",
    "Использование: torvik7ctl encode ВХОД.stg -o ВЫХОД.bin\n"
    "\n"
    "Преобразует файл настроек (1800 байт) в образ памяти прибора (2048 байт), который\n"
    "записывается в прибор. Байты 0 и 4 образа принадлежат прибору и остаются равными 0.\n"
    "\n"
    "Параметры:\n"
    "  -o, --output ФАЙЛ  файл образа для записи\n"
    "  -h, --help         эта справка\n"};

const CommandSpec kDecode = {
    "decode", kOutput | kBase, 1, "не указан файл образа памяти",
    "Использование: torvik7ctl decode ВХОД.bin [--base ОСНОВА.stg] -o ВЫХОД.stg\n"
    "\n"
    "Преобразует образ памяти прибора (2048 байт) в файл настроек (1800 байт), как при\n"
    "чтении настроек из прибора. Поля, которых нет в образе (резервные байты, байты за\n"
    "концом строк, завершающий байт интервала теста, период проверки линии при\n"
    "неизвестном значении), берутся из файла ОСНОВА, без него — нулевые.\n"
    "\n"
    "Параметры:\n"
    "  --base ФАЙЛ        файл настроек, поверх которого читается образ\n"
    "  -o, --output ФАЙЛ  файл настроек для записи\n"
    "  -h, --help         эта справка\n"};

const CommandSpec kShow = {
    "show", kJson, 1, "не указан файл настроек",
    "Использование: torvik7ctl show ФАЙЛ.stg [--json]\n"
    "\n"
    "Показывает все настройки файла словами: телефоны, префикс, набор номера, протокол,\n"
    "адрес, интервалы, типы шлейфов и реле с описаниями, группы шлейфов и коды событий\n"
    "Contact ID. Недопустимые значения показываются с пометкой \"недопустимое значение\".\n"
    "\n"
    "Параметры:\n"
    "  --json      то же одним объектом JSON (ключи описаны в README)\n"
    "  -h, --help  эта справка\n"};

const CommandSpec kDiff = {
    "diff", 0, 2, "нужны два файла настроек",
    "Использование: torvik7ctl diff A.stg B.stg\n"
    "\n"
    "Перечисляет настройки, которые различаются в двух файлах, по одной строке:\n"
    "  <настройка>: <значение в A> → <значение в B>\n"
    "Для групп шлейфов — добавленные в B и удалённые из B шлейфы.\n"
    "Байты за концом строк значения не имеют и не сравниваются.\n"
    "\n"
    "Параметры:\n"
    "  -h, --help  эта справка\n"
    "\n"
    "Код завершения 1: файлы различаются.\n"};

} // namespace

int CmdDefaults(const Args& args) {
    CommandLine cl;
    if (const auto status = ParseCommandLine(kDefaults, args, cl)) return *status;
    SettingsRecord record{};
    FillDefaults(record);
    return WriteSettings(*cl.output, record);
}

int CmdEncode(const Args& args) {
    CommandLine cl;
    if (const auto status = ParseCommandLine(kEncode, args, cl)) return *status;
    SettingsRecord record{};
    if (const int status = ReadSettings(cl.files[0], record)) return status;
    DeviceImage image{};
    EncodeImage(record, image);
    return WriteImage(*cl.output, image);
}

int CmdDecode(const Args& args) {
    CommandLine cl;
    if (const auto status = ParseCommandLine(kDecode, args, cl)) return *status;
    DeviceImage image{};
    if (const int status = ReadImage(cl.files[0], image)) return status;
    SettingsRecord record{};
    if (cl.base)
        if (const int status = ReadSettings(*cl.base, record)) return status;
    DecodeImage(image, record);
    return WriteSettings(*cl.output, record);
}

int CmdShow(const Args& args) {
    CommandLine cl;
    if (const auto status = ParseCommandLine(kShow, args, cl)) return *status;
    SettingsRecord record{};
    if (const int status = ReadSettings(cl.files[0], record)) return status;
    if (cl.json)
        ShowJson(cl.files[0], record);
    else
        ShowText(cl.files[0], record);
    return FinishOutput();
}

int CmdDiff(const Args& args) {
    CommandLine cl;
    if (const auto status = ParseCommandLine(kDiff, args, cl)) return *status;
    SettingsRecord a{}, b{};
    if (const int status = ReadSettings(cl.files[0], a)) return status;
    if (const int status = ReadSettings(cl.files[1], b)) return status;

    int differences = 0;
    const std::vector<Item> itemsA = Items(a), itemsB = Items(b);
    for (std::size_t i = 0; i < itemsA.size(); ++i) {
        if (itemsA[i].shown.text == itemsB[i].shown.text) continue;
        std::printf("%s: %s → %s\n", itemsA[i].label.c_str(), itemsA[i].shown.text.c_str(),
                    itemsB[i].shown.text.c_str());
        ++differences;
    }
    for (int g = 0; g < kGroupCount; ++g) {
        SettingsRecord added{}, removed{};
        bool any = false;
        for (int e = 0; e < kExpanderCount; ++e) {
            added.loopGroups[g][e] = b.loopGroups[g][e] & ~a.loopGroups[g][e] & 0xFF;
            removed.loopGroups[g][e] = a.loopGroups[g][e] & ~b.loopGroups[g][e] & 0xFF;
            any = any || added.loopGroups[g][e] || removed.loopGroups[g][e];
        }
        if (!any) continue;
        std::string line = "Группа " + std::to_string(g + 1) + ":";
        if (GroupSize(added, g) > 0) line += " добавлены " + GroupMembers(added, g);
        if (GroupSize(removed, g) > 0)
            line += std::string(GroupSize(added, g) > 0 ? ";" : "") + " удалены " +
                    GroupMembers(removed, g);
        std::printf("%s\n", line.c_str());
        ++differences;
    }
    const int status = FinishOutput();
    if (status != kExitOk) return status;
    return differences > 0 ? kExitDiffers : kExitOk;
}
