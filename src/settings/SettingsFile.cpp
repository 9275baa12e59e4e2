// What a settings file holds and the messages about it, the same on every system. Reading
// and writing whole files is each system's own: WholeFilePosix.cpp, WholeFileWindows.cpp.
#include "settings/SettingsFile.h"

#include <cstring>

namespace {

std::string SystemError(int error, const char* where) {
    return std::to_string(error) + " : System error(debugging info).\n in: " + where + "();";
}

FileResult Failure(FileStatus status, int error, const char* where) {
    FileResult r;
    r.status = status;
    r.errorNumber = error;
    r.message = SystemError(error, where);
    return r;
}

} // namespace

std::string FileNameOf(const std::string& path) {
#ifdef _WIN32
    const auto slash = path.find_last_of("/\\"); // Windows takes either slash
#else
    const auto slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileResult SaveSettingsFile(const std::string& path, const SettingsRecord& record) {
    const auto bytes = RecordBytes(record);
    const WriteOutcome w = WriteWholeFile(path, bytes.data(), bytes.size());
    if (w.error == 0) return {};
    return Failure(w.openFailed ? FileStatus::OpenFailed : FileStatus::WriteFailed, w.error,
                   "SaveForm");
}

FileResult LoadSettingsBytes(std::span<const std::uint8_t> bytes, long long fileSize,
                             const std::string& name, SettingsRecord& record) {
    FileResult r;
    if (bytes.size() < kRecordSize) {
        r.status = FileStatus::TooShort;
        r.fileSize = static_cast<long long>(bytes.size());
        r.message = "Файл '" + name + "' не является файлом настроек: его размер " +
                    std::to_string(r.fileSize) + " байт, а файл настроек занимает " +
                    std::to_string(kRecordSize) + " байт.\nНастройки не изменены.";
        return r;
    }
    std::memcpy(&record, bytes.data(), kRecordSize);
    r.fileSize = fileSize;
    return r;
}

FileResult LoadSettingsFile(const std::string& path, SettingsRecord& record) {
    const ReadOutcome file = ReadWholeFile(path, kRecordSize);
    if (file.status == FileStatus::Ok)
        return LoadSettingsBytes(file.bytes, file.fileSize, FileNameOf(path), record);
    if (file.status == FileStatus::NotRegular) {
        FileResult r;
        r.status = FileStatus::NotRegular;
        r.message = "Файл '" + FileNameOf(path) +
                    "' не является обычным файлом и не может содержать настройки.\n"
                    "Настройки не изменены.";
        return r;
    }
    return Failure(file.status, file.error, "LoadObject");
}
