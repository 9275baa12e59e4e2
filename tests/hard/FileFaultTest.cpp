// Settings files under faults the everyday tests do not reach: a save killed between the
// temporary file and the rename, a read-only file system, a small file system that fills
// up, files of every awkward size and things that are no files at all. Whatever happens,
// the previous file stays whole and each failure carries the system's error number.
#include "settings/SettingsFile.h"
#include "support/Records.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> Raw(const SettingsRecord& r) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&r);
    return {p, p + sizeof r};
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string SystemError(int error, const char* where) {
    return std::to_string(error) + " : System error(debugging info).\n in: " + where + "();";
}

std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class FileFaults : public ::testing::Test {
protected:
    void TearDown() override {
        if (mounted) ::umount2(dir.c_str(), MNT_DETACH);
    }
    // A file system of its own in the test folder; false where mounting is not allowed.
    bool MountTmpfs(const char* options) {
        mounted = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options) == 0;
        return mounted;
    }
    std::string Path(const char* name) const { return (dir / name).string(); }

    TempDir temp{"hard"};
    fs::path dir = temp.path();
    bool mounted = false;
};

TEST_F(FileFaults, ASaveKilledBeforeTheRenameLeavesTheOldFileAndTripsNoLaterSave) {
    const auto path = Path("site.stg");
    const auto old = RandomRecord(1);
    ASSERT_TRUE(SaveSettingsFile(path, old).ok());

    // The process dies in the middle of writing the temporary file: a file-size limit with
    // the signal's default action kills it there, before any rename or clean-up can run.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit small{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &small);
        SaveSettingsFile(path, RandomRecord(2));
        ::_exit(0); // not reached when the limit bites
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);

    // What the crash left: the old file, whole, and a half-written temporary beside it.
    auto names = Entries(dir);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], "site.stg");
    const std::string leftover = names[0];
    EXPECT_EQ(leftover.rfind(".site.stg.", 0), 0u) << leftover;
    EXPECT_EQ(fs::file_size(dir / leftover), 1000u);
    SettingsRecord back{};
    ASSERT_TRUE(LoadSettingsFile(path, back).ok());
    EXPECT_EQ(Raw(back), Raw(old));

    // The next save goes through as if nothing had happened, and leaves the leftover alone
    // (it could be another program's save in progress).
    const auto leftoverBytes = ReadBytes(dir / leftover);
    const auto fresh = RandomRecord(3);
    const FileResult saved = SaveSettingsFile(path, fresh);
    ASSERT_TRUE(saved.ok()) << saved.message;
    ASSERT_TRUE(LoadSettingsFile(path, back).ok());
    EXPECT_EQ(Raw(back), Raw(fresh));
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{leftover, "site.stg"}));
    EXPECT_EQ(ReadBytes(dir / leftover), leftoverBytes);
}

TEST_F(FileFaults, LeftoversOfEveryShapeBesideTheTargetAreNoObstacle) {
    const auto path = Path("a.stg");
    ASSERT_TRUE(SaveSettingsFile(path, RandomRecord(4)).ok());
    // A whole temporary with other settings, an empty one, and a folder with a temporary's
    // name: none of them is the settings file, and none stops a save.
    {
        std::ofstream whole(Path(".a.stg.Ab12Cd"), std::ios::binary);
        const auto other = RandomRecord(5);
        whole.write(reinterpret_cast<const char*>(&other), sizeof other);
    }
    std::ofstream(Path(".a.stg.000000")).close();
    fs::create_directory(Path(".a.stg.zzzzzz"));
    SettingsRecord back{};
    ASSERT_TRUE(LoadSettingsFile(path, back).ok());
    EXPECT_EQ(Raw(back), Raw(RandomRecord(4)));
    for (unsigned seed = 6; seed < 16; ++seed) {
        ASSERT_TRUE(SaveSettingsFile(path, RandomRecord(seed)).ok()) << seed;
        ASSERT_TRUE(LoadSettingsFile(path, back).ok());
        ASSERT_EQ(Raw(back), Raw(RandomRecord(seed)));
    }
    EXPECT_EQ(Entries(dir).size(), 4u); // nothing new left behind by ten saves
}

struct LoadCase {
    const char* name;
    std::size_t size; // bytes of the file
    FileStatus status;
};

class LoadSizes : public FileFaults, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadSizes, EachSizeHasAClearResult) {
    const LoadCase& c = GetParam();
    const auto path = Path("sized.stg");
    std::vector<std::uint8_t> bytes(c.size);
    std::mt19937 rng(static_cast<unsigned>(c.size));
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    SettingsRecord record = RandomRecord(20);
    const SettingsRecord before = record;
    const FileResult r = LoadSettingsFile(path, record);
    // The loader's verdict is the one its bytes get from memory (what the fuzzer runs).
    SettingsRecord fromMemory = before;
    const FileResult m =
        LoadSettingsBytes(bytes, static_cast<long long>(bytes.size()), "sized.stg", fromMemory);
    EXPECT_EQ(m.status, r.status);
    EXPECT_EQ(m.message, r.message);
    EXPECT_EQ(m.fileSize, r.fileSize);
    EXPECT_EQ(Raw(fromMemory), Raw(record));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.fileSize, static_cast<long long>(c.size));
    if (c.status == FileStatus::Ok) {
        EXPECT_TRUE(r.message.empty());
        EXPECT_EQ(std::memcmp(&record, bytes.data(), sizeof record), 0);
    } else {
        EXPECT_EQ(r.message, "Файл 'sized.stg' не является файлом настроек: его размер " +
                                 std::to_string(c.size) +
                                 " байт, а файл настроек занимает 1800 байт.\n"
                                 "Настройки не изменены.");
        EXPECT_EQ(Raw(record), Raw(before));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, LoadSizes,
                         ::testing::Values(LoadCase{"Empty", 0, FileStatus::TooShort},
                                           LoadCase{"OneByte", 1, FileStatus::TooShort},
                                           LoadCase{"OneShort", 1799, FileStatus::TooShort},
                                           LoadCase{"Exact", 1800, FileStatus::Ok},
                                           LoadCase{"OneMegabyte", 1 << 20, FileStatus::Ok}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileFaults, ThingsThatAreNoFilesLeaveTheRecordAndSayWhy) {
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    struct Thing {
        std::string path;
        FileStatus status;
        int error;
        std::string message;
    };
    const std::vector<Thing> things = {
        {dir.string(), FileStatus::ReadFailed, EISDIR, SystemError(EISDIR, "LoadObject")},
        {"/dev/null", FileStatus::NotRegular, 0,
         "Файл 'null' не является обычным файлом и не может содержать настройки.\n"
         "Настройки не изменены."},
        // A pipe without a writer: refused at once, not waited on.
        {Path("pipe"), FileStatus::NotRegular, 0,
         "Файл 'pipe' не является обычным файлом и не может содержать настройки.\n"
         "Настройки не изменены."},
        {Path("missing.stg"), FileStatus::OpenFailed, ENOENT, SystemError(ENOENT, "LoadObject")},
    };
    for (const Thing& t : things) {
        SettingsRecord record = RandomRecord(30);
        const SettingsRecord before = record;
        const FileResult r = LoadSettingsFile(t.path, record);
        EXPECT_EQ(r.status, t.status) << t.path;
        EXPECT_EQ(r.errorNumber, t.error) << t.path;
        EXPECT_EQ(r.message, t.message) << t.path;
        EXPECT_EQ(Raw(record), Raw(before)) << t.path;
    }
}

TEST_F(FileFaults, AFileHeldByAnotherProgramIsNeitherLoadedNorReplaced) {
    const auto path = Path("held.stg");
    const auto old = RandomRecord(40);
    ASSERT_TRUE(SaveSettingsFile(path, old).ok());
    const int holder = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    SettingsRecord record = RandomRecord(41);
    const SettingsRecord before = record;
    const FileResult load = LoadSettingsFile(path, record);
    EXPECT_EQ(load.status, FileStatus::OpenFailed);
    EXPECT_EQ(load.errorNumber, EWOULDBLOCK);
    EXPECT_EQ(load.message, SystemError(EWOULDBLOCK, "LoadObject"));
    EXPECT_EQ(Raw(record), Raw(before));

    const FileResult save = SaveSettingsFile(path, RandomRecord(42));
    EXPECT_EQ(save.message, SystemError(EWOULDBLOCK, "SaveForm"));
    ::close(holder);
    ASSERT_TRUE(LoadSettingsFile(path, record).ok());
    EXPECT_EQ(Raw(record), Raw(old));
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"held.stg"}));
}

TEST_F(FileFaults, AReadOnlyFileSystemRefusesTheSaveAndKeepsTheFile) {
    if (!MountTmpfs("size=64k")) GTEST_SKIP() << "mounting is not allowed here";
    const auto path = Path("ro.stg");
    const auto old = RandomRecord(50);
    ASSERT_TRUE(SaveSettingsFile(path, old).ok());
    ASSERT_EQ(::mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    for (const char* name : {"ro.stg", "new.stg"}) {
        const FileResult r = SaveSettingsFile(Path(name), RandomRecord(51));
        EXPECT_EQ(r.status, FileStatus::OpenFailed) << name;
        EXPECT_EQ(r.errorNumber, EROFS) << name;
        EXPECT_EQ(r.message, SystemError(EROFS, "SaveForm")) << name;
    }
    SettingsRecord back{};
    ASSERT_TRUE(LoadSettingsFile(path, back).ok());
    EXPECT_EQ(Raw(back), Raw(old));
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"ro.stg"}));
}

TEST_F(FileFaults, ASmallFileSystemThatIsFullKeepsTheOldFile) {
    if (!MountTmpfs("size=16k")) GTEST_SKIP() << "mounting is not allowed here";
    const auto path = Path("full.stg");
    const auto old = RandomRecord(60);
    ASSERT_TRUE(SaveSettingsFile(path, old).ok());
    // Fill what is left.
    {
        const int fd = ::open(Path("filler").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const std::vector<char> page(4096, 'x');
        while (::write(fd, page.data(), page.size()) > 0) {
        }
        char one = 'x';
        while (::write(fd, &one, 1) > 0) {
        }
        ::close(fd);
    }
    const FileResult r = SaveSettingsFile(path, RandomRecord(61));
    EXPECT_EQ(r.status, FileStatus::WriteFailed);
    EXPECT_EQ(r.errorNumber, ENOSPC);
    EXPECT_EQ(r.message, SystemError(ENOSPC, "SaveForm"));
    SettingsRecord back{};
    ASSERT_TRUE(LoadSettingsFile(path, back).ok());
    EXPECT_EQ(Raw(back), Raw(old));
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"filler", "full.stg"}));
    // Room again: the next save succeeds.
    fs::remove(Path("filler"));
    ASSERT_TRUE(SaveSettingsFile(path, RandomRecord(62)).ok());
    ASSERT_TRUE(LoadSettingsFile(path, back).ok());
    EXPECT_EQ(Raw(back), Raw(RandomRecord(62)));
}

} // namespace
