#include "settings/SettingsFile.h"
#include "support/OtherUser.h"
#include "support/Records.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return (dir / name).string(); }

    static void WriteBytes(const std::string& path, std::size_t size, std::uint8_t fill) {
        std::ofstream out(path, std::ios::binary);
        std::vector<char> bytes(size, static_cast<char>(fill));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<std::uint8_t> ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    TempDir temp{"files"};
    fs::path dir = temp.path();
};

TEST_F(SettingsFileTest, SaveThenLoadRestoresEveryByte) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const auto r = RandomRecord(seed);
        const auto path = Path("a.stg");
        ASSERT_TRUE(SaveSettingsFile(path, r).ok());
        EXPECT_EQ(fs::file_size(path), 1800u);
        SettingsRecord back{};
        ASSERT_TRUE(LoadSettingsFile(path, back).ok());
        ASSERT_EQ(0, std::memcmp(&back, &r, sizeof r)) << seed;
    }
}

TEST_F(SettingsFileTest, StaleDigitsBehindATerminatorAreKept) {
    SettingsRecord r{};
    std::memcpy(r.phoneNumbers[0], "123456789012345", 16);
    FillDefaults(r);
    const auto path = Path("stale.stg");
    ASSERT_TRUE(SaveSettingsFile(path, r).ok());
    const auto bytes = ReadBytes(path);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], '2');
    EXPECT_EQ(bytes[14], '5');
}

TEST_F(SettingsFileTest, SavingOverALongerFileTruncatesIt) {
    const auto path = Path("long.stg");
    WriteBytes(path, 5000, 0xAB);
    const auto r = RandomRecord(3);
    ASSERT_TRUE(SaveSettingsFile(path, r).ok());
    EXPECT_EQ(fs::file_size(path), 1800u);
}

TEST_F(SettingsFileTest, LoadingALongerFileTakesItsFirst1800Bytes) {
    const auto path = Path("older.stg");
    const auto r = RandomRecord(4);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(&r), sizeof r);
        out << "trailing bytes of an older tool";
    }
    SettingsRecord back{};
    const auto result = LoadSettingsFile(path, back);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(0, std::memcmp(&back, &r, sizeof r));
}

TEST_F(SettingsFileTest, ShortFilesAreRefusedAndLeaveTheRecord) {
    for (std::size_t size : {0u, 1u, 17u, 1799u}) {
        const auto path = Path("short.stg");
        WriteBytes(path, size, 0x33);
        auto r = RandomRecord(5);
        const auto before = r;
        const auto result = LoadSettingsFile(path, r);
        EXPECT_EQ(result.status, FileStatus::TooShort) << size;
        EXPECT_EQ(result.fileSize, static_cast<long long>(size));
        EXPECT_EQ(result.message, "Файл 'short.stg' не является файлом настроек: его размер " +
                                      std::to_string(size) +
                                      " байт, а файл настроек занимает 1800 байт.\n"
                                      "Настройки не изменены.");
        EXPECT_EQ(0, std::memcmp(&r, &before, sizeof r)) << size;
    }
}

TEST_F(SettingsFileTest, OpenFailuresCarryTheSystemErrorNumber) {
    auto r = RandomRecord(6);
    const auto before = r;
    const auto load = LoadSettingsFile(Path("missing.stg"), r);
    EXPECT_EQ(load.status, FileStatus::OpenFailed);
    EXPECT_EQ(load.errorNumber, ENOENT);
    EXPECT_EQ(load.message, "2 : System error(debugging info).\n in: LoadObject();");
    EXPECT_EQ(0, std::memcmp(&r, &before, sizeof r));

    const auto save = SaveSettingsFile(Path("no/such/folder/x.stg"), r);
    EXPECT_EQ(save.status, FileStatus::OpenFailed);
    EXPECT_EQ(save.message, "2 : System error(debugging info).\n in: SaveForm();");
}

// Keeps a file the way another program does when it will not have it read or changed: a
// lock on Linux; on Windows an open for writing that shares nothing.
class HeldFile {
public:
    explicit HeldFile(const std::string& path) {
#ifdef _WIN32
        std::wstring wide(path.size() + 1, L'\0');
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(),
                                            static_cast<int>(wide.size()));
        wide.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
        handle_ = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        held_ = handle_ != INVALID_HANDLE_VALUE;
#else
        fd_ = ::open(path.c_str(), O_RDONLY);
        held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0;
#endif
    }
    ~HeldFile() {
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
#else
        if (fd_ >= 0) ::close(fd_);
#endif
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool holding() const {
        return held_;
    }

private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
    bool held_ = false;
};

// What a save over a name comes to where Linux and Windows agree, and where they differ on
// purpose. Each row prepares the name, `fresh` is saved there, and the row gives the outcome
// and what the name holds afterwards.
TEST_F(SettingsFileTest, ASaveEndsAlikeOnEverySystem) {
    const auto old = RandomRecord(21);
    const auto fresh = RandomRecord(22);
    std::unique_ptr<HeldFile> holder;
    const auto saveOld = [&](const std::string& path) {
        EXPECT_TRUE(SaveSettingsFile(path, old).ok());
    };
    struct Row {
        const char* what;
        std::function<void(const std::string&)> prepare;
        bool readOnly; // the prepared file is made read-only, and must stay so
        FileStatus status;
        int error;
        const SettingsRecord* after; // what the name holds afterwards; none: still a folder
    };
    const std::vector<Row> rows = {
        {"a new name", [](const std::string&) {}, false, FileStatus::Ok, 0, &fresh},
        {"a file saved before: saving twice", saveOld, false, FileStatus::Ok, 0, &fresh},
        {"a longer file", [](const std::string& path) { WriteBytes(path, 5000, 0xAB); }, false,
         FileStatus::Ok, 0, &fresh},
        {"a folder in place of the file",
         [](const std::string& path) { fs::create_directory(path); }, false, FileStatus::OpenFailed,
         EISDIR, nullptr},
#ifdef _WIN32
        // The attribute is the user's word that the file stays: reported, never cleared.
        {"a read-only file", saveOld, true, FileStatus::OpenFailed, EACCES, &old},
#else
        // Root writes what it may open for writing; anyone else is refused, as an open would
        // refuse them (ASaveRefusesWhatItMayNotTouch runs that as nobody).
        {"a read-only file", saveOld, true,
         ::geteuid() == 0 ? FileStatus::Ok : FileStatus::OpenFailed, ::geteuid() == 0 ? 0 : EACCES,
         ::geteuid() == 0 ? &fresh : &old},
#endif
        {"a file another program holds: the old content survives",
         [&](const std::string& path) {
             saveOld(path);
             holder = std::make_unique<HeldFile>(path);
             EXPECT_TRUE(holder->holding());
         },
         false, FileStatus::OpenFailed, EWOULDBLOCK, &old},
    };
    int count = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto path = Path(("case" + std::to_string(++count) + ".stg").c_str());
        const auto writable =
            fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        row.prepare(path);
        if (row.readOnly) fs::permissions(path, writable, fs::perm_options::remove);

        const auto result = SaveSettingsFile(path, fresh);
        holder.reset();
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.errorNumber, row.error);
        if (row.status != FileStatus::Ok) {
            EXPECT_EQ(result.message, std::to_string(row.error) +
                                          " : System error(debugging info).\n in: SaveForm();");
        }
        if (row.after == nullptr) {
            EXPECT_TRUE(fs::is_directory(path));
        } else {
            const auto bytes = ReadBytes(path);
            ASSERT_EQ(bytes.size(), 1800u);
            EXPECT_EQ(0, std::memcmp(bytes.data(), row.after, sizeof *row.after));
        }
        if (row.readOnly) {
            EXPECT_EQ(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);
            fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        }
    }
    // One name per row and nothing else: no temporary file is left behind, saved or not.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}),
              static_cast<std::ptrdiff_t>(rows.size()));
}

// What a load of a name comes to, alike on Linux and Windows. The record changes only when
// the load succeeds.
TEST_F(SettingsFileTest, ALoadEndsAlikeOnEverySystem) {
    const auto saved = RandomRecord(23);
    std::unique_ptr<HeldFile> holder;
    struct Row {
        const char* what;
        std::function<std::string()> prepare; // gives the name to load
        FileStatus status;
        int error;
    };
    const std::vector<Row> rows = {
        {"a settings file",
         [&] {
             EXPECT_TRUE(SaveSettingsFile(Path("a.stg"), saved).ok());
             return Path("a.stg");
         },
         FileStatus::Ok, 0},
        {"a missing file", [&] { return Path("missing.stg"); }, FileStatus::OpenFailed, ENOENT},
        {"a folder", [&] { return dir.string(); }, FileStatus::ReadFailed, EISDIR},
        {"a file another program holds",
         [&] {
             EXPECT_TRUE(SaveSettingsFile(Path("held.stg"), saved).ok());
             holder = std::make_unique<HeldFile>(Path("held.stg"));
             EXPECT_TRUE(holder->holding());
             return Path("held.stg");
         },
         FileStatus::OpenFailed, EWOULDBLOCK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto r = RandomRecord(24);
        const auto before = r;
        const auto result = LoadSettingsFile(row.prepare(), r);
        holder.reset();
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.errorNumber, row.error);
        const auto& expected = row.status == FileStatus::Ok ? saved : before;
        EXPECT_EQ(0, std::memcmp(&r, &expected, sizeof r));
    }
}

// These use what only POSIX systems have: /dev and /proc, flock, rlimit, symlinks, chown, fork.
#ifndef _WIN32
TEST_F(SettingsFileTest, AFullDeviceIsReportedAsAFailedWrite) {
    const auto result = SaveSettingsFile("/dev/full", RandomRecord(7));
    EXPECT_EQ(result.status, FileStatus::WriteFailed);
    EXPECT_EQ(result.errorNumber, ENOSPC);
    EXPECT_EQ(result.message,
              std::to_string(ENOSPC) + " : System error(debugging info).\n in: SaveForm();");
}

TEST_F(SettingsFileTest, AFailedSaveKeepsThePreviousFileWhole) {
    // Another program holds the file locked: the save is refused and the file keeps its
    // old content (tests run as root, which ignores permissions, so a lock is used).
    const auto old = RandomRecord(8);
    const auto lockedPath = Path("busy.stg");
    ASSERT_TRUE(SaveSettingsFile(lockedPath, old).ok());
    const int holder = ::open(lockedPath.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const auto result = SaveSettingsFile(lockedPath, RandomRecord(9));
    EXPECT_EQ(result.status, FileStatus::OpenFailed);
    EXPECT_EQ(result.errorNumber, EWOULDBLOCK);
    SettingsRecord back{};
    ::close(holder);
    ASSERT_TRUE(LoadSettingsFile(lockedPath, back).ok());
    EXPECT_EQ(0, std::memcmp(&back, &old, sizeof old));
    // No temporary file is left behind in the folder.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsFileTest, ADiskThatFillsMidWriteLeavesTheOldFile) {
    // A file-size limit below 1800 bytes makes the write stop part-way, like a full disk.
    const auto path = Path("full.stg");
    const auto old = RandomRecord(13);
    ASSERT_TRUE(SaveSettingsFile(path, old).ok());
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto result = SaveSettingsFile(path, RandomRecord(14));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(result.status, FileStatus::WriteFailed);
    EXPECT_EQ(result.errorNumber, EFBIG);
    EXPECT_EQ(result.message,
              std::to_string(EFBIG) + " : System error(debugging info).\n in: SaveForm();");
    SettingsRecord back{};
    ASSERT_TRUE(LoadSettingsFile(path, back).ok());
    EXPECT_EQ(0, std::memcmp(&back, &old, sizeof old));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);
}

TEST_F(SettingsFileTest, FoldersAndDevicesAreNoSettingsFiles) {
    auto r = RandomRecord(10);
    const auto before = r;
    const auto folder = LoadSettingsFile(dir.string(), r);
    EXPECT_EQ(folder.status, FileStatus::ReadFailed);
    EXPECT_EQ(folder.errorNumber, EISDIR);
    const auto device = LoadSettingsFile("/dev/zero", r);
    EXPECT_EQ(device.status, FileStatus::NotRegular);
    EXPECT_EQ(device.message, "Файл 'zero' не является обычным файлом и не может содержать "
                              "настройки.\nНастройки не изменены.");
    EXPECT_EQ(0, std::memcmp(&r, &before, sizeof r));
    const auto saveFolder = SaveSettingsFile(dir.string(), r);
    EXPECT_EQ(saveFolder.status, FileStatus::OpenFailed);
    EXPECT_EQ(saveFolder.errorNumber, EISDIR);
}

TEST_F(SettingsFileTest, AStreamNameIsWrittenInPlaceNotReplaced) {
    // "-o /dev/stdout >> log" must append to the log, not replace it.
    const auto log = Path("log.bin");
    WriteBytes(log, 10, 0x42);
    const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    const auto r = RandomRecord(15);
    const auto result = SaveSettingsFile("/proc/self/fd/" + std::to_string(fd), r);
    ::close(fd);
    ASSERT_TRUE(result.ok()) << result.message;
    // Once closed, a link to it (as /dev/stdout is) is no place for a file: the link stays.
    fs::create_symlink("/proc/self/fd/" + std::to_string(fd), dir / "stdout");
    const auto closed = SaveSettingsFile(Path("stdout"), r);
    EXPECT_EQ(closed.status, FileStatus::OpenFailed);
    EXPECT_EQ(closed.errorNumber, ENOENT);
    EXPECT_TRUE(fs::is_symlink(dir / "stdout"));
    const auto bytes = ReadBytes(log);
    ASSERT_EQ(bytes.size(), 1810u);
    EXPECT_EQ(bytes[0], 0x42);
    EXPECT_EQ(0, std::memcmp(bytes.data() + 10, &r, sizeof r));
}

TEST_F(SettingsFileTest, SavingThroughALinkReplacesItsTarget) {
    const auto target = Path("real.stg");
    const auto link = Path("link.stg");
    ASSERT_TRUE(SaveSettingsFile(target, RandomRecord(11)).ok());
    fs::create_symlink(target, link);
    const auto r = RandomRecord(12);
    ASSERT_TRUE(SaveSettingsFile(link, r).ok());
    EXPECT_TRUE(fs::is_symlink(link));
    SettingsRecord back{};
    ASSERT_TRUE(LoadSettingsFile(target, back).ok());
    EXPECT_EQ(0, std::memcmp(&back, &r, sizeof r));
}

// Where a save goes is decided by what the name stands for. Each row prepares a target,
// the record is saved there (by another user where the row says so), and the row checks
// what came of it.
TEST_F(SettingsFileTest, ASaveGoesByWhatTheNameStandsFor) {
    const bool root = ::geteuid() == 0;
    constexpr uid_t kOther = 65534; // an unprivileged user, for the rows that need one
    int savedStdout = -1;
    const auto redirectStdout = [&](const std::string& log) {
        WriteBytes(log, 10, 0x42);
        std::fflush(stdout);
        savedStdout = ::dup(STDOUT_FILENO);
        const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    };
    const auto restoreStdout = [&] {
        ::dup2(savedStdout, STDOUT_FILENO);
        ::close(savedStdout);
    };
    const auto sameContent = [](const std::string& path, const SettingsRecord& r) {
        const auto bytes = ReadBytes(path);
        return bytes.size() == sizeof r && std::memcmp(bytes.data(), &r, sizeof r) == 0;
    };
    const std::string shm = "/dev/shm/torvik7-files-" + std::to_string(::getpid()) + ".stg";
    struct Row {
        const char* what;
        bool byOtherUser;
        std::function<std::string()> prepare; // gives the name to save to
        std::function<void(const std::string&, const SettingsRecord&)> check;
    };
    const std::vector<Row> rows = {
        {"a regular file under /dev/ is replaced, not appended to", false,
         [&] {
             EXPECT_TRUE(SaveSettingsFile(shm, RandomRecord(1)).ok());
             return shm;
         },
         [&](const std::string& path, const SettingsRecord& r) {
             EXPECT_TRUE(sameContent(path, r));
             fs::remove(path);
         }},
        {"a file with two names is written in place", false,
         [&] {
             EXPECT_TRUE(SaveSettingsFile(Path("one.stg"), RandomRecord(1)).ok());
             fs::create_hard_link(Path("one.stg"), Path("two.stg"));
             return Path("two.stg");
         },
         [&](const std::string& path, const SettingsRecord& r) {
             EXPECT_TRUE(sameContent(Path("one.stg"), r));
             EXPECT_EQ(fs::hard_link_count(path), 2u);
         }},
        {"a file keeps its owner, group and mode", false,
         [&] {
             EXPECT_TRUE(SaveSettingsFile(Path("owned.stg"), RandomRecord(1)).ok());
             if (root) {
                 EXPECT_EQ(::chown(Path("owned.stg").c_str(), kOther, kOther), 0);
             }
             ::chmod(Path("owned.stg").c_str(), 0640);
             return Path("owned.stg");
         },
         [&](const std::string& path, const SettingsRecord& r) {
             struct stat info {};
             ASSERT_EQ(::stat(path.c_str(), &info), 0);
             EXPECT_EQ(info.st_uid, root ? kOther : ::geteuid());
             EXPECT_EQ(info.st_gid, root ? kOther : ::getegid());
             EXPECT_EQ(info.st_mode & 07777, 0640u);
             EXPECT_TRUE(sameContent(path, r));
         }},
        {"a writable file in a folder that takes no new file is written in place", true,
         [&] {
             fs::create_directory(dir / "shared");
             const std::string path = (dir / "shared" / "x.stg").string();
             EXPECT_TRUE(SaveSettingsFile(path, RandomRecord(1)).ok());
             if (root) {
                 EXPECT_EQ(::chown(path.c_str(), kOther, kOther), 0);
             }
             ::chmod((dir / "shared").c_str(), 0555);
             return path;
         },
         [&](const std::string& path, const SettingsRecord& r) {
             ::chmod((dir / "shared").c_str(), 0755);
             EXPECT_TRUE(sameContent(path, r));
             EXPECT_EQ(
                 std::distance(fs::directory_iterator(dir / "shared"), fs::directory_iterator{}),
                 1);
         }},
        {"\"-\" is standard output as it stands", false,
         [&] {
             redirectStdout(Path("dash.log"));
             return std::string("-");
         },
         [&](const std::string&, const SettingsRecord& r) {
             restoreStdout();
             const auto bytes = ReadBytes(Path("dash.log"));
             ASSERT_EQ(bytes.size(), 1810u);
             EXPECT_EQ(0, std::memcmp(bytes.data() + 10, &r, sizeof r));
         }},
        {"/dev/stdout redirected with >> is appended to", false,
         [&] {
             redirectStdout(Path("stdout.log"));
             return std::string("/dev/stdout");
         },
         [&](const std::string&, const SettingsRecord& r) {
             restoreStdout();
             const auto bytes = ReadBytes(Path("stdout.log"));
             ASSERT_EQ(bytes.size(), 1810u);
             EXPECT_EQ(bytes[0], 0x42);
             EXPECT_EQ(0, std::memcmp(bytes.data() + 10, &r, sizeof r));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto r = RandomRecord(2);
        const std::string path = row.prepare();
        if (!row.byOtherUser) {
            const auto result = SaveSettingsFile(path, r);
            EXPECT_TRUE(result.ok()) << result.message;
        } else {
            // Another user, so that the folder's permissions hold even when tests run as root.
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (root && (::setgid(kOther) != 0 || ::setuid(kOther) != 0)) ::_exit(100);
                ::_exit(SaveSettingsFile(path, r).errorNumber);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 0) << "the save's error number";
        }
        row.check(path, r);
    }
}

// Names a save must not go through, each with what the save says and what must stay as it
// was. "Nobody" rows run as a user other than root (support/OtherUser.h): as root here, in a
// child that has become nobody.
TEST_F(SettingsFileTest, ASaveRefusesWhatItMayNotTouch) {
    const auto old = RandomRecord(31);
    const auto fresh = RandomRecord(32);
    const std::string victim = Path("victim.stg"), shared = Path("shared");
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const bool root = ::geteuid() == 0;
    struct Row {
        const char* what;
        std::function<std::string()> prepare; // gives the name saved to, or "" to skip the row
        bool asNobody;
        int error;
    };
    const std::vector<Row> rows = {
        {"a link to nothing",
         [&] {
             fs::create_symlink(Path("nowhere.stg"), Path("dangling.stg"));
             return Path("dangling.stg");
         },
         false, ENOENT},
        {"another user's link in a sticky shared folder",
         [&]() -> std::string {
             const std::string link = shared + "/planted.stg";
             fs::create_symlink(victim, link);
             if (!root || ::lchown(link.c_str(), kNobody, kNobody) != 0) return "";
             return link;
         },
         false, EACCES},
        {"the caller's own link in the same folder is followed",
         [&] {
             const std::string link = shared + "/mine.stg";
             fs::create_symlink(victim, link);
             return link;
         },
         false, 0},
        {"a file its owner made read-only",
         [&] {
             const std::string own = Path("own");
             fs::create_directory(own);
             const std::string file = own + "/ro.stg";
             EXPECT_TRUE(SaveSettingsFile(file, old).ok());
             fs::permissions(file, fs::perms::owner_read | fs::perms::group_read |
                                       fs::perms::others_read);
             if (root && (::chown(own.c_str(), kNobody, kNobody) != 0 ||
                          ::chown(file.c_str(), kNobody, kNobody) != 0))
                 return std::string();
             return file;
         },
         true, EACCES},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(SaveSettingsFile(victim, old).ok());
        const std::string name = row.prepare();
        if (name.empty()) continue; // needs root to give a file away
        const int error = row.asNobody ? AsOtherUser([&] {
            return WriteWholeFile(name, reinterpret_cast<const std::uint8_t*>(&fresh), 1800).error;
        })
                                       : SaveSettingsFile(name, fresh).errorNumber;
        EXPECT_EQ(error, row.error);
        const auto held = ReadBytes(row.asNobody ? name : victim);
        ASSERT_EQ(held.size(), 1800u);
        EXPECT_EQ(0, std::memcmp(held.data(), row.error ? &old : &fresh, 1800));
    }
    EXPECT_FALSE(fs::exists(Path("nowhere.stg")));
    EXPECT_TRUE(fs::is_symlink(Path("dangling.stg")));
}

// A file written in place (it has a second name) on a disk too small for its new content:
// the old content stays whole. Needs a small tmpfs of its own, so root.
TEST_F(SettingsFileTest, AnInPlaceWriteOnAFullDiskKeepsTheOldContent) {
    const std::string disk = Path("disk");
    fs::create_directory(disk);
    if (::geteuid() != 0 ||
        std::system(("mount -t tmpfs -o size=64k tmpfs " + disk + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const std::string file = disk + "/image.bin";
    WriteBytes(file, 4096, 0x11);
    fs::create_hard_link(file, disk + "/other-name.bin");
    {
        // The rest of the disk taken, a page at a time, until it is full.
        std::ofstream filler(disk + "/filler", std::ios::binary);
        const std::string page(4096, '\0');
        for (int i = 0; i < 64 && filler.write(page.data(), 4096).flush(); ++i) {
        }
    }
    const std::vector<std::uint8_t> bigger(3 * 4096, 0x22);
    const WriteOutcome w = WriteWholeFile(file, bigger.data(), bigger.size());
    const auto held = ReadBytes(file);
    std::system(("umount " + disk).c_str());
    EXPECT_EQ(w.error, ENOSPC);
    EXPECT_EQ(held, std::vector<std::uint8_t>(4096, 0x11));
}

#endif // _WIN32

TEST(SettingsFileName, LastComponent) {
    EXPECT_EQ(FileNameOf("/a/b/c.stg"), "c.stg");
    EXPECT_EQ(FileNameOf("c.stg"), "c.stg");
    EXPECT_EQ(FileNameOf("/c"), "c");
#ifdef _WIN32
    EXPECT_EQ(FileNameOf("C:\\a\\b\\c.stg"), "c.stg");
    EXPECT_EQ(FileNameOf("C:/a\\c.stg"), "c.stg");
#endif
}

} // namespace
