// The commands that work on settings files and device images without a device:
// defaults, encode, decode, show and diff.
#include "Commands.h"
#include "ShowFormat.h"

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

// Writes an image the way settings files are saved, so a failure never leaves half an
// image where the previous file was.
int WriteImage(const std::string& path, const DeviceImage& image) {
    const WriteOutcome w = WriteWholeFile(path, image.data(), image.size());
    if (w.error == 0) return 0;
    return FileError(
        path, Reason(w.openFailed ? "не удалось создать файл" : "ошибка записи", w.error), kExitIo);
}

// Standard output that could not take the whole text (a full disk, a closed pipe).
int FinishOutput() {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return kExitOk;
    const int error = errno != 0 ? errno : EIO;
    return FileError("стандартный вывод", Reason("ошибка записи", error), kExitIo);
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
    const std::string text =
        cl.json ? ShowJson(cl.files[0], record) : ShowText(cl.files[0], record);
    // A write that fails outright (the text is larger than the stream's buffer) says why
    // now; the flush would no longer know.
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        return FileError("стандартный вывод", Reason("ошибка записи", errno != 0 ? errno : EIO),
                         kExitIo);
    return FinishOutput();
}

int CmdDiff(const Args& args) {
    CommandLine cl;
    if (const auto status = ParseCommandLine(kDiff, args, cl)) return *status;
    SettingsRecord a{}, b{};
    if (const int status = ReadSettings(cl.files[0], a)) return status;
    if (const int status = ReadSettings(cl.files[1], b)) return status;

    const std::vector<std::string> lines = DiffLines(a, b);
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    const int differences = static_cast<int>(lines.size());
    const int status = FinishOutput();
    if (status != kExitOk) return status;
    return differences > 0 ? kExitDiffers : kExitOk;
}

int ReadSettingsFile(const std::string& path, SettingsRecord& record) {
    return ReadSettings(path, record);
}

int WriteSettingsFile(const std::string& path, const SettingsRecord& record) {
    return WriteSettings(path, record);
}
