#include "journal/JournalFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <QElapsedTimer>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
// Who should own what a root run makes at `path`: HOME's owner when the path lies under a HOME
// that is not root's (sudo -E keeps the user's HOME), otherwise nobody in particular.
bool HomeOwnerFor(const QString& path, uid_t& uid, gid_t& gid) {
    if (::geteuid() != 0) return false;
    const QByteArray home = qgetenv("HOME");
    if (home.isEmpty()) return false;
    struct stat info {};
    if (::stat(home.constData(), &info) != 0 || info.st_uid == 0) return false;
    const QString homePath = QDir::cleanPath(QFile::decodeName(home));
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!clean.startsWith(homePath + QLatin1Char('/'))) return false;
    uid = info.st_uid;
    gid = info.st_gid;
    return true;
}
#endif

} // namespace

JournalSideLock::JournalSideLock(const QString& database)
    : m_path(database + QStringLiteral(".lock")) {}

JournalSideLock::~JournalSideLock() {
    Release();
#ifdef _WIN32
    if (m_handle) ::CloseHandle(static_cast<HANDLE>(m_handle));
#else
    if (m_fd >= 0) ::close(m_fd);
#endif
}

bool JournalSideLock::TryOnce(Mode mode) {
#ifdef _WIN32
    if (!m_handle) {
        const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t*>(m_path.utf16()),
                                       GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            m_error = QStringLiteral("не удаётся открыть файл блокировки %1")
                          .arg(QDir::toNativeSeparators(m_path));
            return false;
        }
        m_handle = h;
    }
    Release(); // Windows converts no lock in place
    OVERLAPPED at{};
    const DWORD flags =
        LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (!::LockFileEx(static_cast<HANDLE>(m_handle), flags, 0, 1, 0, &at)) return false;
#else
    if (m_fd < 0) {
        const QByteArray name = QFile::encodeName(m_path);
        m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (m_fd < 0) {
            m_error = QStringLiteral("не удаётся открыть файл блокировки %1: %2")
                          .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        uid_t uid = 0;
        gid_t gid = 0;
        // The user opens it for writing too: one made by root for the user's journal would
        // keep the user out.
        if (HomeOwnerFor(m_path, uid, gid) && ::fchown(m_fd, uid, gid) != 0)
            m_error = QStringLiteral("не удаётся отдать файл блокировки владельцу папки");
        if (!m_error.isEmpty()) {
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
    }
    // A conversion drops the held lock first even when it then fails.
    if (::flock(m_fd, (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        m_held = Mode::None;
        return false;
    }
#endif
    m_held = mode;
    return true;
}

bool JournalSideLock::Take(Mode mode, int ms) {
    if (mode == Mode::None) {
        Release();
        return true;
    }
    if (m_held == mode) return true;
    m_error.clear();
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (TryOnce(mode)) return true;
        if (!m_error.isEmpty() || waited.elapsed() >= ms) return false;
        QThread::msleep(5);
    }
}

void JournalSideLock::Release() {
    if (m_held == Mode::None) return;
#ifdef _WIN32
    OVERLAPPED at{};
    ::UnlockFileEx(static_cast<HANDLE>(m_handle), 0, 1, 0, &at);
#else
    ::flock(m_fd, LOCK_UN);
#endif
    m_held = Mode::None;
}

JournalFileId JournalFileIdOf(const QString& path) {
#ifdef _WIN32
    const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    if (!known) return {};
    return {info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
#else
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return {};
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
#endif
}

QString PrepareJournalFile(const QString& path, bool mayMakeFolder) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        if (!mayMakeFolder)
            return QStringLiteral("нет папки %1 (проверьте путь к журналу в TORVIK7_JOURNAL)")
                .arg(QDir::toNativeSeparators(folder));
        // Each missing folder is made on its own, so each can be given to its owner.
        QStringList missing;
        for (QString at = folder; !QFileInfo(at).exists(); at = QFileInfo(at).absolutePath()) {
            missing.prepend(at);
            if (QFileInfo(at).absolutePath() == at) break;
        }
        for (const QString& at : missing) {
            if (!QDir().mkdir(at) && !QFileInfo(at).isDir())
                return QStringLiteral("не удаётся создать папку %1")
                    .arg(QDir::toNativeSeparators(at));
#ifndef _WIN32
            uid_t uid = 0;
            gid_t gid = 0;
            if (HomeOwnerFor(at, uid, gid) &&
                ::chown(QFile::encodeName(at).constData(), uid, gid) != 0)
                return QStringLiteral("не удаётся отдать папку %1 её владельцу").arg(at);
#endif
        }
    }
#ifndef _WIN32
    uid_t uid = 0;
    gid_t gid = 0;
    if (!info.exists() && HomeOwnerFor(path, uid, gid)) {
        // SQLite gives its -wal and -shm files to the database's owner when run as root, so
        // making the database itself for HOME's owner is enough.
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            const bool given = ::fchown(fd, uid, gid) == 0;
            ::close(fd);
            if (!given) {
                ::unlink(QFile::encodeName(path).constData());
                return QStringLiteral("не удаётся отдать файл журнала владельцу папки %1")
                    .arg(QDir::toNativeSeparators(folder));
            }
        } else if (errno != EEXIST) {
            return QStringLiteral("не удаётся создать файл: %1")
                .arg(QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
#endif
    return {};
}
