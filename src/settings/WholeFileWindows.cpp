// The whole-file reader and writer on Windows, behind the contract in SettingsFile.h. Names
// are UTF-8 everywhere else in the program; here they become UTF-16 for the system's "W"
// calls. Errors are given as the errno values of the same meaning, so the messages and exit
// codes built from them read the same as on Linux.
#include "settings/SettingsFile.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The system's errors as the errno values callers already know from Linux.
int ErrnoOf(DWORD error) {
    static constexpr struct {
        DWORD system;
        int errnoValue;
    } kErrors[] = {
        {ERROR_FILE_NOT_FOUND, ENOENT},
        {ERROR_PATH_NOT_FOUND, ENOENT},
        {ERROR_INVALID_DRIVE, ENOENT},
        {ERROR_INVALID_NAME, ENOENT}, // a name no file can have there
        {ERROR_BAD_PATHNAME, ENOENT},
        {ERROR_BAD_NETPATH, ENOENT},
        {ERROR_BAD_NET_NAME, ENOENT},
        {ERROR_ACCESS_DENIED, EACCES},
        {ERROR_NETWORK_ACCESS_DENIED, EACCES},
        {ERROR_SHARING_VIOLATION, EWOULDBLOCK}, // held by another program, as a flock on Linux
        {ERROR_LOCK_VIOLATION, EWOULDBLOCK},
        {ERROR_USER_MAPPED_FILE, EWOULDBLOCK},
        {ERROR_DISK_FULL, ENOSPC},
        {ERROR_HANDLE_DISK_FULL, ENOSPC},
        {ERROR_WRITE_PROTECT, EROFS},
        {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
        {ERROR_DIRECTORY, ENOTDIR},
        {ERROR_FILE_TOO_LARGE, EFBIG},
        {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
        {ERROR_NOT_SAME_DEVICE, EXDEV},
        {ERROR_CANT_RESOLVE_FILENAME, ELOOP},
        {ERROR_BROKEN_PIPE, EPIPE},
        {ERROR_NO_DATA, EPIPE},
    };
    for (const auto& e : kErrors)
        if (e.system == error) return e.errnoValue;
    return EIO;
}

int LastErrno() {
    return ErrnoOf(::GetLastError());
}

// A name that is not UTF-8, or holds a NUL, can name no file.
bool Widen(const std::string& path, std::wstring& wide) {
    if (path.empty() || path.size() > 32767 || path.find('\0') != std::string::npos) return false;
    const int size = static_cast<int>(path.size());
    const int n =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
    if (n <= 0) return false;
    wide.assign(static_cast<std::size_t>(n), L'\0');
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, wide.data(),
                                 n) == n;
}

// A handle that is closed on every way out; Close() reports whether closing succeeded.
class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    bool Close() {
        const bool ok = !valid() || ::CloseHandle(h_) != 0;
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE h_;
};

// Writes all of `data`; a write that takes nothing counts as an I/O error.
bool WriteAll(HANDLE h, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!::WriteFile(h, data, chunk, &done, nullptr)) return false;
        if (done == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

// Reads until `size` bytes or the end of the file; false on a read error.
bool ReadUpTo(HANDLE h, std::uint8_t* data, std::size_t size, std::size_t& done) {
    done = 0;
    while (done < size) {
        const std::size_t left = size - done;
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD n = 0;
        if (!::ReadFile(h, data + done, chunk, &n, nullptr)) return false;
        if (n == 0) break;
        done += n;
    }
    return true;
}

// Another program's lock on any part of the file (LockFileEx) stands for a flock on Linux:
// the file is neither read nor replaced under it. Only a test: the lock is let go at once.
bool Locked(HANDLE h, bool exclusive) {
    OVERLAPPED whole{};
    const DWORD how = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (::LockFileEx(h, how, 0, MAXDWORD, MAXDWORD, &whole)) {
        ::UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole);
        return false;
    }
    return ::GetLastError() == ERROR_LOCK_VIOLATION;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// "CON", "NUL", "COM1", "\\.\pipe\name": names in the system's device space, which are
// streams however they are spelled and must not be opened only to be looked at (a pipe
// would take the open as its one client).
bool NamesADevice(const std::wstring& path) {
    wchar_t full[MAX_PATH + 1];
    const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, nullptr);
    return n >= 4 && n <= MAX_PATH && std::wstring(full, 4) == L"\\\\.\\";
}

// A device, a pipe or the console has no content to replace: it is written in place as it
// stands, and a failing write is reported like any other.
WriteOutcome WriteStream(const std::wstring& path, const std::uint8_t* data, std::size_t size) {
    Handle h(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr));
    if (!h.valid()) return {LastErrno(), true};
    int error = WriteAll(h.get(), data, size) ? 0 : LastErrno();
    if (!h.Close() && error == 0) error = LastErrno();
    return {error, false};
}

WriteOutcome WriteStandardOutput(const std::uint8_t* data, std::size_t size) {
    std::fflush(stdout); // whatever the program printed comes first
    const int fd = _fileno(stdout);
    const intptr_t os = fd < 0 ? -1 : _get_osfhandle(fd);
    if (os == -1 || os == -2) return {EBADF, false}; // no standard output at all
    const HANDLE h = reinterpret_cast<HANDLE>(os);
    // Bytes as they are, as on Linux: in the runtime's text mode every 0x0A that goes through
    // the stream, now or after this, would gain a 0x0D.
    _setmode(fd, _O_BINARY);
    const int error = WriteAll(h, data, size) ? 0 : LastErrno();
    return {error, false};
}

// Overwrites a regular file through its own handle, for when replacing it would lose its
// other names (hard links) or the file itself cannot be replaced (its folder takes no new
// file, or it may be written but not swapped). Not atomic, so it is the second choice.
WriteOutcome RewriteInPlace(const std::wstring& path, const std::uint8_t* data, std::size_t size) {
    // Sharing reading only: a program that holds the file open for writing, or one that
    // forbids writers, makes the open fail as a lock would on Linux.
    Handle h(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!h.valid()) return {LastErrno(), true};
    if (Locked(h.get(), true)) return {EWOULDBLOCK, true};
    // The whole size is taken before the first byte changes: a disk that cannot hold the new
    // content leaves the old one as it was, rather than cut off part-way.
    LARGE_INTEGER had{}, want{}, start{};
    want.QuadPart = static_cast<LONGLONG>(size);
    if (::GetFileSizeEx(h.get(), &had) && had.QuadPart < want.QuadPart &&
        (!::SetFilePointerEx(h.get(), want, nullptr, FILE_BEGIN) || !::SetEndOfFile(h.get()) ||
         !::SetFilePointerEx(h.get(), start, nullptr, FILE_BEGIN)))
        return {LastErrno(), false};
    int error = 0;
    if (!WriteAll(h.get(), data, size) || !::SetEndOfFile(h.get()) || !::FlushFileBuffers(h.get()))
        error = LastErrno();
    if (!h.Close() && error == 0) error = LastErrno();
    return {error, false};
}

// True when another program keeps the file from being replaced: open without sharing
// deletion (which a replace is), or locked.
bool HeldByAnother(const std::wstring& path) {
    Handle h(::CreateFileW(path.c_str(), GENERIC_READ | DELETE, kShareAll, nullptr, OPEN_EXISTING,
                           0, nullptr));
    if (!h.valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    }
    return Locked(h.get(), true);
}

// The start of a name of the program's own beside `path`: its folder, a dot, its name and a
// part that no other save shares.
std::wstring SiblingStem(const std::wstring& path) {
    static std::atomic<std::uint32_t> count{0};
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    std::uint64_t mixed = (std::uint64_t{::GetCurrentProcessId()} << 32) ^
                          static_cast<std::uint64_t>(now.QuadPart) ^
                          (std::uint64_t{++count} * 0x9E3779B97F4A7C15ull);
    std::wstring unique(12, L'0');
    for (auto& c : unique) {
        c = L"0123456789abcdef"[mixed & 15];
        mixed >>= 4;
    }
    const auto slash = path.find_last_of(L"\\/");
    std::size_t name = slash == std::wstring::npos ? 0 : slash + 1;
    if (name == 0 && path.size() > 2 && path[1] == L':') name = 2; // "C:x.stg", in C's folder
    return path.substr(0, name) + L"." + path.substr(name) + L"." + unique;
}

// Puts the complete new content in `target`'s place. An existing target is replaced with
// ReplaceFileW, which gives the new file the old one's attributes and ACL (as the owner,
// group and mode are kept on Linux); a new name takes the file with a rename. On any failure
// the temporary file is gone and the old file is as it was.
WriteOutcome ReplaceWhole(const std::wstring& target, bool exists, const std::uint8_t* data,
                          std::size_t size) {
    std::wstring stem;
    std::wstring temp;
    HANDLE created = INVALID_HANDLE_VALUE;
    DWORD createError = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        stem = SiblingStem(target);
        temp = stem + L".new";
        created = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (created != INVALID_HANDLE_VALUE) break;
        createError = ::GetLastError();
        if (createError != ERROR_FILE_EXISTS && createError != ERROR_ALREADY_EXISTS) break;
    }
    Handle h(created);
    if (!h.valid()) {
        // A file the user may write in a folder the user may not: written where it is.
        if (exists && createError == ERROR_ACCESS_DENIED) return RewriteInPlace(target, data, size);
        return {ErrnoOf(createError), true};
    }

    int error = 0;
    if (!WriteAll(h.get(), data, size) || !::FlushFileBuffers(h.get())) error = LastErrno();
    if (!h.Close() && error == 0) error = LastErrno();
    if (error != 0) {
        ::DeleteFileW(temp.c_str());
        return {error, false};
    }

    if (!exists) {
        if (::MoveFileExW(temp.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return {};
        error = LastErrno();
        ::DeleteFileW(temp.c_str());
        return {error, false};
    }

    // With a backup name a failing ReplaceFileW never leaves the old file without a name:
    // without one it may drop the old file and keep the new one under the temporary name.
    const std::wstring backup = stem + L".old";
    if (::ReplaceFileW(target.c_str(), temp.c_str(), backup.c_str(), 0, nullptr, nullptr)) {
        ::DeleteFileW(backup.c_str());
        return {};
    }
    const DWORD failure = ::GetLastError();
    if (failure == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        ::MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    ::DeleteFileW(temp.c_str());
    // A file the user may write but not replace (no right to delete it, or to give the new
    // file its ACL) is written where it is, as a file whose owner cannot be kept on Linux.
    // A read-only file never gets here, and its attribute would refuse the write anyway.
    if (failure == ERROR_ACCESS_DENIED || failure == ERROR_UNABLE_TO_REMOVE_REPLACED)
        return RewriteInPlace(target, data, size);
    return {ErrnoOf(failure), false};
}

} // namespace

WriteOutcome WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    // Standard output as it stands: appended to after ">>", never replaced.
    if (path == kStandardOutput) return WriteStandardOutput(data, size);

    std::wstring wide;
    if (!Widen(path, wide)) return {ENOENT, true};
    if (NamesADevice(wide)) return WriteStream(wide, data, size);

    // Looked at without reading or writing it, which no sharing mode of another program
    // forbids, so what the name stands for is known even for a file held open.
    Handle probe(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!probe.valid()) {
        const DWORD error = ::GetLastError();
        // A link to nothing is refused, not replaced by a file: it was made to point somewhere.
        const DWORD link = ::GetFileAttributesW(wide.c_str());
        if (link != INVALID_FILE_ATTRIBUTES && (link & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return {ENOENT, true};
        if (error == ERROR_FILE_NOT_FOUND) return ReplaceWhole(wide, false, data, size);
        return {ErrnoOf(error), true};
    }
    if (::GetFileType(probe.get()) != FILE_TYPE_DISK) {
        probe.Close();
        return WriteStream(wide, data, size);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(probe.get(), &info)) return {LastErrno(), true};
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {EISDIR, true};
    // The read-only attribute is the user's word that the file stays as it is; it is
    // reported, never cleared.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return {EACCES, true};

    // Replace what a link points to, not the link itself.
    std::wstring target = wide;
    const DWORD own = ::GetFileAttributesW(wide.c_str());
    if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        std::wstring resolved(32768, L'\0');
        const DWORD n = ::GetFinalPathNameByHandleW(probe.get(), resolved.data(), 32768,
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n > 0 && n < 32768) target = resolved.substr(0, n);
    }
    probe.Close();

    if (HeldByAnother(target)) return {EWOULDBLOCK, true};
    // A new file would split the file from its other names.
    if (info.nNumberOfLinks > 1) return RewriteInPlace(target, data, size);
    return ReplaceWhole(target, true, data, size);
}

ReadOutcome ReadWholeFile(const std::string& path, std::size_t limit) {
    ReadOutcome r;
    std::wstring wide;
    if (!Widen(path, wide)) {
        r.status = FileStatus::OpenFailed;
        r.error = ENOENT;
        return r;
    }
    // Sharing reading only: a file another program holds open for writing is not read, as a
    // locked one is not on Linux. Folders open too (backup semantics), to be told apart.
    Handle h(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.valid()) {
        const DWORD error = ::GetLastError();
        r.status = IsFolder(wide) ? FileStatus::ReadFailed : FileStatus::OpenFailed;
        r.error = r.status == FileStatus::ReadFailed ? EISDIR : ErrnoOf(error);
        return r;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) {
        r.status = FileStatus::NotRegular; // a device, pipe or console: nothing is waited for
    } else if (!::GetFileInformationByHandle(h.get(), &info)) {
        r.status = FileStatus::ReadFailed;
        r.error = LastErrno();
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        r.status = FileStatus::ReadFailed;
        r.error = EISDIR;
    } else if (Locked(h.get(), false)) {
        r.status = FileStatus::OpenFailed;
        r.error = EWOULDBLOCK;
    } else {
        r.fileSize =
            static_cast<long long>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
        r.bytes.resize(limit);
        std::size_t done = 0;
        if (!ReadUpTo(h.get(), r.bytes.data(), limit, done)) {
            r.status = FileStatus::ReadFailed;
            r.error = LastErrno();
            r.bytes.clear();
        } else {
            r.bytes.resize(done);
        }
    }
    return r;
}
