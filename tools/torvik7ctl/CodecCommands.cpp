// The commands that work on settings files and device images without a device:
// defaults, encode, decode, show and diff.
#include "Commands.h"

#include "fields/RecordFields.h"
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
#ifdef EDQUOT
    case EDQUOT:
        return "превышена дисковая квота";
#endif
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

// ---------------------------------------------------------------- files

// Loads a settings file of at least 1800 bytes. A longer file gives its first 1800 bytes,
// as the window's "Открыть" takes it, with a warning. Returns 0 or the exit status after
// reporting the failure.
int ReadSettings(const std::string& path, SettingsRecord& record) {
    const FileResult r = LoadSettingsFile(path, record);
    switch (r.status) {
    case FileStatus::Ok:
        if (r.fileSize >= 0 && r.fileSize < static_cast<long long>(kRecordSize))
            return FileError(path, WrongSize("файлом настроек", r.fileSize, kRecordSize),
                             kExitData);
        if (r.fileSize > static_cast<long long>(kRecordSize))
            PrintError(path + ": файл длиннее 1800 байт (" + std::to_string(r.fileSize) +
                       " байт), взяты первые 1800 байт");
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
    // One byte more than an image, to tell a longer file from an exact one.
    const ReadOutcome file = ReadWholeFile(path, kImageSize + 1);
    switch (file.status) {
    case FileStatus::Ok:
        break;
    case FileStatus::OpenFailed:
        return FileError(path, Reason("не удалось открыть", file.error), kExitIo);
    case FileStatus::NotRegular:
        return FileError(path, "не является образом памяти прибора: это не обычный файл",
                         kExitData);
    default:
        return FileError(path, Reason("ошибка чтения", file.error), kExitIo);
    }
    const std::size_t done = file.bytes.size();
    if (done != kImageSize) {
        const long long size =
            done > kImageSize ? std::max<long long>(file.fileSize, static_cast<long long>(done))
                              : static_cast<long long>(done);
        return FileError(path, WrongSize("образом памяти прибора", size, kImageSize), kExitData);
    }
    std::copy(file.bytes.begin(), file.bytes.end(), image.begin());
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

const char kFileExitCodes[] =
    "  0   успешно\n"
    "  64  ошибка в командной строке\n"
    "  65  входной файл не является файлом настроек (1800 байт) или образом памяти (2048 "
    "байт)\n"
    "  74  ошибка чтения или записи файла\n";

OptionSpec Output(const char* value) {
    return {.names = "o,output",
            .value = value,
            .help = "файл для записи",
            .ifMissing = "не указан выходной файл (-o ФАЙЛ)",
            .valueWord = "имя файла"};
}

int Defaults(const Invocation& in) {
    SettingsRecord record{};
    FillDefaults(record);
    return WriteSettings(*in.Value("output"), record);
}

int Encode(const Invocation& in) {
    SettingsRecord record{};
    if (const int status = ReadSettings(in.Argument(0), record)) return status;
    DeviceImage image{};
    EncodeImage(record, image);
    return WriteImage(*in.Value("output"), image);
}

int Decode(const Invocation& in) {
    DeviceImage image{};
    if (const int status = ReadImage(in.Argument(0), image)) return status;
    SettingsRecord record{};
    if (const auto base = in.Value("base"))
        if (const int status = ReadSettings(*base, record)) return status;
    DecodeImage(image, record);
    return WriteSettings(*in.Value("output"), record);
}

int Show(const Invocation& in) {
    const std::string& path = in.Argument(0);
    SettingsRecord record{};
    if (const int status = ReadSettings(path, record)) return status;
    const std::string text = in.Has("json") ? ShowJson(path, record) : ShowText(path, record);
    // A write that fails outright (the text is larger than the stream's buffer) says why
    // now; the flush would no longer know.
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        return FileError("стандартный вывод", Reason("ошибка записи", errno != 0 ? errno : EIO),
                         kExitIo);
    return FinishOutput();
}

int Diff(const Invocation& in) {
    SettingsRecord a{}, b{};
    if (const int status = ReadSettings(in.Argument(0), a)) return status;
    if (const int status = ReadSettings(in.Argument(1), b)) return status;
    const std::vector<std::string> differences = Differences(a, b);
    for (const auto& line : differences)
        std::printf("%s\n", line.c_str());
    const int status = FinishOutput();
    if (status != kExitOk) return status;
    return differences.empty() ? kExitOk : kExitDiffers;
}

} // namespace

int ReadSettingsFile(const std::string& path, SettingsRecord& record) {
    return ReadSettings(path, record);
}

const CommandSpec kDefaultsCommand = {
    .name = "defaults",
    .summary = "записать файл настроек по умолчанию",
    .about =
        "Записывает файл настроек (1800 байт) с заводскими значениями, как команда \"Новые\":\n"
        "запись из нулевых байтов, заполненная значениями по умолчанию.",
    .options = {Output("ФАЙЛ.stg")},
    .exitCodes = kFileExitCodes,
    .run = Defaults,
};

const CommandSpec kEncodeCommand = {
    .name = "encode",
    .summary = "преобразовать файл настроек в образ памяти прибора (2048 байт)",
    .about = "Преобразует файл настроек (1800 байт) в образ памяти прибора (2048 байт), который\n"
             "записывается в прибор. Байты 0 и 4 образа принадлежат прибору и остаются равными 0.",
    .arguments = {{"ВХОД.stg", "не указан файл настроек"}},
    .options = {Output("ВЫХОД.bin")},
    .exitCodes = kFileExitCodes,
    .run = Encode,
};

const CommandSpec kDecodeCommand = {
    .name = "decode",
    .summary = "преобразовать образ памяти прибора в файл настроек",
    .about = "Преобразует образ памяти прибора (2048 байт) в файл настроек (1800 байт), как при\n"
             "чтении настроек из прибора. Поля, которых нет в образе (резервные байты, байты за\n"
             "концом строк, завершающий байт интервала теста, период проверки линии при\n"
             "неизвестном значении), берутся из файла ОСНОВА, без него — нулевые.",
    .arguments = {{"ВХОД.bin", "не указан файл образа памяти"}},
    .options = {{.names = "base",
                 .value = "ОСНОВА.stg",
                 .help = "файл настроек, поверх которого читается образ",
                 .valueWord = "имя файла"},
                Output("ВЫХОД.stg")},
    .exitCodes = kFileExitCodes,
    .run = Decode,
};

const CommandSpec kShowCommand = {
    .name = "show",
    .summary = "показать все настройки файла (словами или --json)",
    .about = "Показывает все настройки файла словами: телефоны, префикс, набор номера, протокол,\n"
             "адрес, интервалы, типы шлейфов и реле с описаниями, группы шлейфов и коды событий\n"
             "Contact ID. Недопустимые значения показываются с пометкой \"недопустимое значение\".",
    .arguments = {{"ФАЙЛ.stg", "не указан файл настроек"}},
    .options = {{.names = "json", .help = "то же одним объектом JSON (ключи описаны в README)"}},
    .exitCodes = kFileExitCodes,
    .run = Show,
};

const CommandSpec kDiffCommand = {
    .name = "diff",
    .summary = "перечислить различия двух файлов настроек",
    .about = "Перечисляет настройки, которые различаются в двух файлах, по одной строке:\n"
             "  <настройка>: <значение в A> → <значение в B>\n"
             "Для групп шлейфов — добавленные в B и удалённые из B шлейфы.\n"
             "Байты за концом строк значения не имеют и не сравниваются.",
    .arguments = {{"A.stg", "нужны два файла настроек"}, {"B.stg", "нужны два файла настроек"}},
    .exitCodes = "  0   файлы не различаются\n"
                 "  1   файлы различаются\n"
                 "  64  ошибка в командной строке\n"
                 "  65  входной файл не является файлом настроек (1800 байт)\n"
                 "  74  ошибка чтения файла\n",
    .run = Diff,
};

int WriteSettingsFile(const std::string& path, const SettingsRecord& record) {
    return WriteSettings(path, record);
}
