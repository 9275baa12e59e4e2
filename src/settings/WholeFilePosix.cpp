// The whole-file reader and writer on Linux, behind the contract in SettingsFile.h.
#include "settings/SettingsFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

// Writes all of `data`, going on after short writes and interruptions.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until `size` bytes or the end of the file; returns the count, -1 on error.
ssize_t ReadUpTo(int fd, std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Another program that holds the file locked makes the operation fail, as an open
// without sharing would.
bool Locked(int fd, int how) {
    return ::flock(fd, how | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

// A device node, a pipe or an open stream has no content to replace: it is written in
// place, and a failing write (a full device) is reported like any other.
WriteOutcome WriteInPlace(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return {errno, true};
    // Non-blocking only for the open: a slow reader of a pipe must not turn into EAGAIN.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int error = WriteAll(fd, data, size) ? 0 : errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    return {error, false};
}

// Overwrites a regular file through its own inode, for when replacing it would lose
// something: its other names (hard links), its owner, or the file itself when its folder
// takes no new file. Not atomic, so it is the second choice.
WriteOutcome RewriteInPlace(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {errno, true};
    if (Locked(fd, LOCK_EX)) {
        ::close(fd);
        return {EWOULDBLOCK, true};
    }
    // The whole size is reserved before the first byte changes: a disk that cannot hold the
    // new content leaves the old one as it was, rather than cut off part-way.
    const int reserved = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) {
        ::close(fd);
        return {reserved, false};
    }
    int error = 0;
    if (!WriteAll(fd, data, size) || ::ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    return {error, false};
}

// What the kernel's protected_symlinks refuses to follow: a link in a sticky folder that
// anyone may write (/tmp), owned by neither the one following it nor the folder's owner.
// Another user may have put it there to turn a save into a write of the victim's own file.
bool PlantedLink(const std::string& path, const struct stat& link) {
    struct stat folder {};
    if (::stat(FolderOf(path).c_str(), &folder) != 0) return false;
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH) && link.st_uid != ::geteuid() &&
           link.st_uid != folder.st_uid;
}

// True when following `path` passes through one of the kernel's links to an open
// descriptor (/dev/stdout, /dev/fd/N, /proc/self/fd/N): the name stands for a stream
// that is already open, and replacing what it points at would cut the stream off.
bool NamesAnOpenStream(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        const bool found = ::lstat(path.c_str(), &info) == 0;
        if (found && !S_ISLNK(info.st_mode)) return false;
        // A descriptor's link, or the name of one that is not open (a closed stdout).
        struct statfs where {};
        if (::statfs(FolderOf(path).c_str(), &where) == 0 && where.f_type == PROC_SUPER_MAGIC)
            return true;
        if (!found) return false;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
        if (n < 0) return false;
        link[n] = '\0';
        path = link[0] == '/' ? std::string(link) : FolderOf(path) + "/" + link;
    }
    return false;
}

} // namespace

WriteOutcome WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    // Standard output as it stands: appended to after ">>", never replaced.
    if (path == kStandardOutput) {
        std::fflush(stdout); // whatever the program printed comes first
        const int error = WriteAll(STDOUT_FILENO, data, size) ? 0 : errno;
        return {error, false};
    }

    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    const int missing = errno;
    struct stat named {};
    if (::lstat(path.c_str(), &named) == 0 && S_ISLNK(named.st_mode)) {
        // A link to nothing is refused, not replaced by a file: it was made to point somewhere.
        if (!exists) return {missing, true};
        if (PlantedLink(path, named)) return {EACCES, true};
    }
    if (exists && S_ISDIR(existing.st_mode)) return {EISDIR, true};
    // A stream that is not open (/dev/stdout after it was closed) is no place for a file.
    if (!exists && NamesAnOpenStream(path)) return {missing, true};
    // What the name stands for decides, not how it is spelled: a device, a pipe, a
    // terminal or an open stream is written in place; a regular file, wherever it lives,
    // is replaced whole.
    if (exists && (!S_ISREG(existing.st_mode) || NamesAnOpenStream(path)))
        return WriteInPlace(path, data, size);

    // Replace what a link points to, not the link itself.
    std::string target = path;
    char resolved[PATH_MAX];
    if (exists && ::realpath(path.c_str(), resolved) != nullptr) target = resolved;

    if (exists) {
        // Replacing is refused where writing would be: a file its owner made read-only stays,
        // unless root saves it, as opening it for writing would say.
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return {errno, true};
        const bool locked = Locked(fd, LOCK_EX);
        ::close(fd);
        if (locked) return {EWOULDBLOCK, true};
        // A new inode would split the file from its other names.
        if (existing.st_nlink > 1) return RewriteInPlace(target, data, size);
    }

    // The new content is complete on disk before it takes the old file's place.
    std::string temp = FolderOf(target) + "/." + FileNameOf(target) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        // A file the user may write in a folder the user may not: written where it is.
        if (exists && (errno == EACCES || errno == EPERM))
            return RewriteInPlace(target, data, size);
        return {errno, true};
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);

    mode_t mode = 0;
    if (exists) {
        // The file keeps its owner and group. Where the system does not allow giving them
        // to the new inode (another user's file), the file is written in place instead.
        if ((existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) &&
            ::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return RewriteInPlace(target, data, size);
        }
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);

    int error = 0;
    if (!WriteAll(fd, data, size) || ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return {error, false};
    }
    // Make the rename itself durable.
    const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

ReadOutcome ReadWholeFile(const std::string& path, std::size_t limit) {
    ReadOutcome r;
    // Non-blocking, so a pipe without a writer cannot hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        r.status = FileStatus::OpenFailed;
        r.error = errno;
        return r;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        r.status = FileStatus::ReadFailed;
        r.error = errno;
    } else if (S_ISDIR(info.st_mode)) {
        r.status = FileStatus::ReadFailed;
        r.error = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        r.status = FileStatus::NotRegular;
    } else if (Locked(fd, LOCK_SH)) {
        r.status = FileStatus::OpenFailed;
        r.error = EWOULDBLOCK;
    } else {
        r.fileSize = static_cast<long long>(info.st_size);
        r.bytes.resize(limit);
        const ssize_t n = ReadUpTo(fd, r.bytes.data(), limit);
        if (n < 0) {
            r.status = FileStatus::ReadFailed;
            r.error = errno;
            r.bytes.clear();
        } else {
            r.bytes.resize(static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return r;
}
