// torvik7ctl as a user runs it: the built binary on temporary files, checked by exit
// status, stderr and the bytes it writes.
#include "settings/DeviceImage.h"
#include "settings/SettingsRecord.h"
#include "support/Records.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr const char* kInvalidWords = "недопустимое значение";
using Bytes = std::vector<std::uint8_t>;

struct CtlRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Bytes ReadBytes(const std::string& path) {
    const std::string s = ReadText(path);
    return Bytes(s.begin(), s.end());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes ToBytes(const SettingsRecord& r) {
    const auto b = RecordBytes(r);
    return Bytes(b.begin(), b.end());
}
Bytes ToBytes(const DeviceImage& image) {
    return Bytes(image.begin(), image.end());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
    const auto lines = Lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Cli : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Runs torvik7ctl with `args`; stdout goes to `stdoutPath` when given.
    CtlRun Ctl(const std::vector<std::string>& args, const std::string& stdoutPath = "") {
        const std::string out = stdoutPath.empty() ? Path(".stdout") : stdoutPath;
        const std::string err = Path(".stderr");
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || e < 0) ::_exit(127);
            ::dup2(o, 1);
            ::dup2(e, 2);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(TORVIK7_CTL));
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(TORVIK7_CTL, argv.data());
            ::_exit(127);
        }
        CtlRun run;
        int wstatus = 0;
        ::waitpid(pid, &wstatus, 0);
        run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        if (stdoutPath.empty()) run.out = ReadText(out);
        run.err = ReadText(err);
        return run;
    }

    std::string SaveRecord(const std::string& name, const SettingsRecord& r) {
        WriteBytes(Path(name), ToBytes(r));
        return Path(name);
    }

    TempDir temp_{"cli"};
    std::string dir_ = temp_.path().string();
};

// One line on stderr, naming the command's file and the reason.
void ExpectOneLineError(const CtlRun& run, int status, const std::string& file,
                        const std::string& reason) {
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(run.err.rfind("torvik7ctl: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
}

std::mt19937& Rng() {
    static std::mt19937 rng(7031);
    return rng;
}

template <std::size_t N> void FillRandom(std::uint8_t* p) {
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t i = 0; i < N; ++i)
        p[i] = static_cast<std::uint8_t>(byte(Rng()));
}

SettingsRecord RandomRecord() {
    SettingsRecord r;
    FillRandom<kRecordSize>(reinterpret_cast<std::uint8_t*>(&r));
    return r;
}

// ---------------------------------------------------------------- command line

TEST_F(Cli, NoCommandIsAUsageError) {
    const CtlRun run = Ctl({});
    EXPECT_EQ(run.status, 64);
    EXPECT_NE(run.err.find("Использование: torvik7ctl КОМАНДА"), std::string::npos);
    EXPECT_EQ(run.out, "");

    const CtlRun help = Ctl({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Использование: torvik7ctl КОМАНДА", 0), 0u);
    EXPECT_NE(help.out.find("74 - ошибка чтения или записи"), std::string::npos);
    EXPECT_EQ(help.err, "");
}

TEST_F(Cli, HelpOnEveryCommand) {
    for (const std::string cmd :
         {"defaults", "encode", "decode", "show", "diff", "read", "write", "sim"}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{cmd, "--help"}, {cmd, "-h"}, {cmd, "x", "--bogus", "-h"}}) {
            const CtlRun run = Ctl(args);
            EXPECT_EQ(run.status, 0) << cmd;
            EXPECT_EQ(run.out.rfind("Использование: torvik7ctl " + cmd, 0), 0u) << run.out;
            EXPECT_NE(run.out.find("Коды завершения"), std::string::npos) << cmd;
            EXPECT_EQ(run.err, "") << cmd;
        }
    }
}

TEST_F(Cli, UsageErrorsExit64WithOneLine) {
    const std::string stg = SaveRecord("a.stg", Defaults());
    const std::string out = Path("out");
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    };
    const Case cases[] = {
        {{"defaults"}, "не указан выходной файл (-o ФАЙЛ)"},
        {{"defaults", "-o"}, "после -o нужно имя файла"},
        {{"defaults", "-o", out, "extra"}, "лишний параметр 'extra'"},
        {{"defaults", "-o", out, "-o", out}, "параметр -o указан дважды"},
        {{"defaults", "--json", "-o", out}, "неизвестный параметр '--json'"},
        {{"defaults", "-o", ""}, "пустое имя файла"},
        {{"encode", "-o", out}, "не указан файл настроек"},
        {{"encode", stg}, "не указан выходной файл"},
        {{"encode", stg, "--base", stg, "-o", out}, "неизвестный параметр '--base'"},
        {{"decode", stg, "--base"}, "после --base нужно имя файла"},
        {{"decode", stg, "--base", stg, "--base", stg, "-o", out}, "указан дважды"},
        {{"decode", "-o", out}, "не указан файл образа памяти"},
        {{"show"}, "не указан файл настроек"},
        {{"show", stg, stg}, "лишний параметр"},
        {{"show", stg, "-o", out}, "неизвестный параметр '-o'"},
        {{"show", stg, "--json=yes"}, "неизвестный параметр '--json=yes'"},
        {{"diff", stg}, "нужны два файла настроек"},
        {{"diff", stg, stg, stg}, "лишний параметр"},
        {{"diff", "-x", stg, stg}, "неизвестный параметр '-x'"},
        {{"frobnicate"}, "неизвестная команда 'frobnicate'"},
        // The device commands read their options the same way.
        {{"read", "--port", "COM1", "--bogus", "-o", out}, "неизвестный параметр '--bogus'"},
        {{"read", "-o", out, "--port"}, "после --port нужно значение"},
        {{"read", "--port=COM1", "-o" + out, "-o", out}, "параметр -o указан дважды"},
        {{"read", "--port=COM1", "--line=64", "-o", out}, "--line: нужно число 0..63"},
        {{"write", "--port", "COM1", stg, stg}, "лишний параметр"},
        {{"write", "--port", "COM1", "--unit", "x", stg}, "--unit: нужно число 0..7"},
        {{"write", "--port", "COM1"}, "не указан файл настроек"},
        {{"sim", "--rate=4800"}, "--rate: нужно 9600, 19200, 38400 или 57600"},
        {{"sim", "--seed"}, "после --seed нужно значение"},
        {{"sim", "extra"}, "лишний параметр 'extra'"},
    };
    for (const auto& c : cases) {
        const CtlRun run = Ctl(c.args);
        EXPECT_EQ(run.status, 64) << c.args[0] << " " << c.reason;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(fs::exists(out)) << c.reason;
    }
}

TEST_F(Cli, OptionFormsAndTheEndOfOptions) {
    EXPECT_EQ(Ctl({"defaults", "--output=" + Path("a.stg")}).status, 0);
    EXPECT_EQ(Ctl({"defaults", "-o" + Path("b.stg")}).status, 0);
    EXPECT_EQ(Ctl({"defaults", "--output", Path("c.stg")}).status, 0);
    EXPECT_EQ(Ctl({"encode", "--output=" + Path("a.bin"), Path("a.stg")}).status, 0);
    EXPECT_EQ(
        Ctl({"decode", "--base=" + Path("a.stg"), "-o" + Path("d.stg"), Path("a.bin")}).status, 0);
    EXPECT_EQ(Ctl({"show", "--json", "--", Path("d.stg")}).status, 0);
    // A file whose name starts with a dash, after "--".
    const CtlRun run = Ctl({"encode", "-o", Path("x.bin"), "--", "-a.stg"});
    ExpectOneLineError(run, 74, "-a.stg", "нет такого файла или каталога");
    for (const char* name : {"a.stg", "b.stg", "c.stg"})
        EXPECT_EQ(ReadBytes(Path(name)), ToBytes(Defaults())) << name;
}

// ---------------------------------------------------------------- defaults, encode, decode

TEST_F(Cli, DefaultsAreFillDefaultsOnAZeroRecord) {
    const CtlRun run = Ctl({"defaults", "-o", Path("d.stg")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadBytes(Path("d.stg")), ToBytes(Defaults()));
}

TEST_F(Cli, DefaultsReplaceALongerFileWithExactly1800Bytes) {
    WriteBytes(Path("d.stg"), Bytes(5000, 0xEE));
    ASSERT_EQ(Ctl({"defaults", "-o", Path("d.stg")}).status, 0);
    EXPECT_EQ(ReadBytes(Path("d.stg")), ToBytes(Defaults()));
}

TEST_F(Cli, EncodeAgreesWithTheCodec) {
    std::vector<SettingsRecord> records = {Defaults(), SettingsRecord{}};
    for (int i = 0; i < 12; ++i)
        records.push_back(RandomRecord());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string in = SaveRecord("in.stg", records[i]);
        const CtlRun run = Ctl({"encode", in, "-o", Path("out.bin")});
        ASSERT_EQ(run.status, 0) << run.err;
        DeviceImage expected{};
        EncodeImage(records[i], expected);
        ASSERT_EQ(ReadBytes(Path("out.bin")), ToBytes(expected)) << "record " << i;
    }
}

TEST_F(Cli, EncodedDefaultsHoldTheKnownBytes) {
    const std::string in = SaveRecord("d.stg", Defaults());
    ASSERT_EQ(Ctl({"encode", in, "-o", Path("d.bin")}).status, 0);
    const Bytes image = ReadBytes(Path("d.bin"));
    ASSERT_EQ(image.size(), 2048u);
    EXPECT_EQ(image[0], 0);
    EXPECT_EQ(image[1], 0x10);
    EXPECT_EQ(image[2], 8);
    EXPECT_EQ(image[3], 0x1E);
    EXPECT_EQ(image[4], 0);
    EXPECT_EQ(image[88], 5);
    EXPECT_EQ(image[106], 0x13);
    EXPECT_EQ(image[132], 0x38);
    EXPECT_EQ(image[133], 0x10);
}

TEST_F(Cli, DecodeWithoutBaseStartsFromZeroBytes) {
    DeviceImage image{};
    for (int i = 0; i < 12; ++i) {
        FillRandom<kImageSize>(image.data());
        WriteBytes(Path("in.bin"), ToBytes(image));
        const CtlRun run = Ctl({"decode", Path("in.bin"), "-o", Path("out.stg")});
        ASSERT_EQ(run.status, 0) << run.err;
        SettingsRecord expected{};
        DecodeImage(image, expected);
        ASSERT_EQ(ReadBytes(Path("out.stg")), ToBytes(expected)) << "image " << i;
    }
}

TEST_F(Cli, DecodeOntoABaseKeepsWhatTheImageDoesNotCarry) {
    SettingsRecord base = Defaults();
    base.reserved153[1] = 0x5A;
    base.reserved1798[1] = 0xA5;
    base.lineCheckPeriod = 4;
    base.testInterval[2] = '7'; // the decoder writes two digits, never the terminator
    std::memcpy(base.phoneNumbers[2], "1234567890", 11);
    const std::string basePath = SaveRecord("base.stg", base);

    DeviceImage image{};
    EncodeImage(Defaults(), image);
    image[3] = 5; // a line-check byte the device table does not know
    image[7] = 0x45;
    WriteBytes(Path("in.bin"), ToBytes(image));

    const CtlRun run = Ctl({"decode", Path("in.bin"), "--base", basePath, "-o", Path("out.stg")});
    ASSERT_EQ(run.status, 0) << run.err;
    SettingsRecord expected = base;
    DecodeImage(image, expected);
    const Bytes got = ReadBytes(Path("out.stg"));
    EXPECT_EQ(got, ToBytes(expected));
    ASSERT_EQ(got.size(), kRecordSize);
    EXPECT_EQ(got[154], 0x5A);
    EXPECT_EQ(got[1799], 0xA5);
    EXPECT_EQ(got[185], 4);
    EXPECT_EQ(std::string(got.begin() + 186, got.begin() + 189), "057");
    EXPECT_EQ(got[34], 0);   // phone 3 is empty in the image...
    EXPECT_EQ(got[35], '2'); // ...and the base's digits behind it stay
}

TEST_F(Cli, DecodeOfAnEncodedRecordGivesItBack) {
    SettingsRecord r = Defaults();
    std::memcpy(r.phoneNumbers[0], "0123", 5);
    std::memcpy(r.prefixNumber, "9876543210987654", 17);
    std::memcpy(r.accountNumber, "1234", 5);
    std::memcpy(r.testInterval, "24", 3);
    r.loopTypes[5] = 16;
    r.relayTypes[3] = 7;
    r.loopGroups[2][9] = 0x81;
    const std::string in = SaveRecord("r.stg", r);
    ASSERT_EQ(Ctl({"encode", in, "-o", Path("r.bin")}).status, 0);
    ASSERT_EQ(Ctl({"decode", Path("r.bin"), "--base", in, "-o", Path("back.stg")}).status, 0);
    EXPECT_EQ(ReadBytes(Path("back.stg")), ToBytes(r));
    const CtlRun diff = Ctl({"diff", in, Path("back.stg")});
    EXPECT_EQ(diff.status, 0) << diff.out;
}

// write names a record's out-of-range values and refuses it (65) before any port is opened,
// unless --force; a record within its ranges goes on to the port (here one that is missing:
// session result 1).
TEST_F(Cli, WriteRefusesOutOfRangeValuesUnlessForced) {
    struct Case {
        std::size_t offset; // the byte set to `value` in the defaults; 0 with value 0: none
        std::uint8_t value;
        const char* named; // the line naming it, or nullptr
    };
    const Case cases[] = {
        {0, 0, nullptr},
        {195 + 8 * 2 + 4, 215,
         "  Расширитель 2, шлейф 5, тип: 215 — недопустимое значение (1..16)"},
        {189, 'x', "  Адрес ПЕНКО-РС: x — недопустимое значение (только цифры)"},
        {184, 0, "  Кол-во циклов дозвона: 0 — недопустимое значение (4..8)"},
    };
    const std::string port = "/dev/torvik7-none";
    for (const auto& c : cases) {
        Bytes bytes = ToBytes(Defaults());
        if (c.named) bytes[c.offset] = c.value;
        const std::string path = Path("w.stg");
        WriteBytes(path, bytes);
        const CtlRun run = Ctl({"write", "--port", port, path});
        if (c.named) {
            EXPECT_EQ(run.status, 65) << c.named;
            EXPECT_EQ(run.err.rfind(
                          "torvik7ctl: " + path + ": настройки содержат недопустимые значения", 0),
                      0u)
                << run.err;
            EXPECT_TRUE(HasLine(run.err, c.named)) << run.err;
            EXPECT_EQ(run.err.find("Не удаётся обнаружить"), std::string::npos) << run.err;
        } else {
            EXPECT_EQ(run.status, 1) << run.err;
        }
        const CtlRun forced = Ctl({"write", "--force", "--port", port, path});
        EXPECT_EQ(forced.status, 1) << forced.err;
        EXPECT_NE(forced.err.find("Не удаётся обнаружить " + port), std::string::npos);
    }
    // A garbage file lists ten values and the count of the rest.
    Bytes garbage(kRecordSize, 0xD7);
    WriteBytes(Path("g.stg"), garbage);
    const CtlRun run = Ctl({"write", "--port", port, Path("g.stg")});
    EXPECT_EQ(run.status, 65);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 12) << run.err;
    EXPECT_NE(run.err.find("\n  и ещё "), std::string::npos) << run.err;
}

// ---------------------------------------------------------------- failures

TEST_F(Cli, InputsOfTheWrongSizeExit65) {
    struct Case {
        std::string command;
        bool image; // the size check is the image's
        std::size_t size;
    };
    const Case cases[] = {
        {"encode", false, 0},   {"encode", false, 1799}, {"show", false, 1},
        {"diff", false, 1799},  {"decode", true, 0},     {"decode", true, 2047},
        {"decode", true, 2049}, {"decode", true, 1800},  {"decode", true, 100000},
    };
    const std::string good = SaveRecord("good.stg", Defaults());
    for (const auto& c : cases) {
        const std::string bad = Path("bad");
        WriteBytes(bad, Bytes(c.size, 0x11));
        std::vector<std::string> args = {c.command, bad};
        if (c.command == "diff") args.push_back(good);
        if (c.command == "encode" || c.command == "decode")
            args.insert(args.end(), {"-o", Path("o")});
        const CtlRun run = Ctl(args);
        const std::string expected = c.image ? "не является образом памяти прибора: размер " +
                                                   std::to_string(c.size) + " байт, ожидается 2048"
                                             : "не является файлом настроек: размер " +
                                                   std::to_string(c.size) + " байт, ожидается 1800";
        ExpectOneLineError(run, 65, bad, expected);
        EXPECT_EQ(run.out, "") << c.command;
        EXPECT_FALSE(fs::exists(Path("o"))) << c.command << " " << c.size;
    }
}

// A settings file longer than 1800 bytes is taken as the window takes it: its first 1800
// bytes, with one warning line naming the file, and the command does its work.
TEST_F(Cli, LongerSettingsFilesGiveTheirFirst1800Bytes) {
    SettingsRecord r = Defaults();
    r.dialCycles = 5;
    const std::string exact = SaveRecord("exact.stg", r);
    Bytes longer = ToBytes(r);
    longer.resize(4096, 0xEE);
    const std::string path = Path("long.stg");
    WriteBytes(path, longer);
    WriteBytes(Path("image.bin"), Bytes(kImageSize, 0));
    struct Case {
        std::vector<std::string> args; // "L" stands for the longer file, "E" for the exact one
        int status;
    };
    const Case cases[] = {
        {{"show", "L"}, 0},
        {{"show", "L", "--json"}, 0},
        {{"encode", "L", "-o", Path("out")}, 0},
        {{"diff", "E", "L"}, 0},
        {{"decode", Path("image.bin"), "--base", "L", "-o", Path("out")}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> withLong, withExact;
        for (const auto& a : c.args) {
            withLong.push_back(a == "L" ? path : a == "E" ? exact : a);
            withExact.push_back(a == "L" || a == "E" ? exact : a);
        }
        const CtlRun reference = Ctl(withExact);
        const Bytes referenceOut = fs::exists(Path("out")) ? ReadBytes(Path("out")) : Bytes{};
        fs::remove(Path("out"));
        const CtlRun run = Ctl(withLong);
        EXPECT_EQ(run.status, c.status) << c.args[0] << " " << run.err;
        ExpectOneLineError(run, c.status, path, "взяты первые 1800 байт");
        EXPECT_NE(run.err.find("4096 байт"), std::string::npos) << run.err;
        std::string out = run.out, expected = reference.out;
        if (c.args[0] == "show") { // the file's own name differs
            const auto unnamed = [](std::string text, const std::string& name) {
                for (std::size_t at; (at = text.find(name)) != std::string::npos;)
                    text.erase(at, name.size());
                return text;
            };
            out = unnamed(out, path);
            expected = unnamed(expected, exact);
        }
        EXPECT_EQ(out, expected) << c.args[0];
        if (fs::exists(Path("out"))) {
            EXPECT_EQ(ReadBytes(Path("out")), referenceOut);
        }
        fs::remove(Path("out"));
    }
}

TEST_F(Cli, ABaseOfTheWrongSizeExit65) {
    DeviceImage image{};
    WriteBytes(Path("in.bin"), ToBytes(image));
    WriteBytes(Path("base.stg"), Bytes(1000, 0));
    const CtlRun run = Ctl({"decode", Path("in.bin"), "--base", Path("base.stg"), "-o", Path("o")});
    ExpectOneLineError(run, 65, Path("base.stg"), "размер 1000 байт, ожидается 1800");
    EXPECT_FALSE(fs::exists(Path("o")));
}

TEST_F(Cli, DiffNamesTheFileOfTheWrongSize) {
    const std::string good = SaveRecord("good.stg", Defaults());
    WriteBytes(Path("short.stg"), Bytes(10, 0));
    const CtlRun run = Ctl({"diff", good, Path("short.stg")});
    ExpectOneLineError(run, 65, Path("short.stg"), "размер 10 байт");
    EXPECT_EQ(run.err.find("good.stg"), std::string::npos);
}

TEST_F(Cli, MissingInputsExit74) {
    const std::string good = SaveRecord("good.stg", Defaults());
    WriteBytes(Path("good.bin"), Bytes(2048, 0));
    const std::string missing = Path("missing.stg");
    const std::vector<std::vector<std::string>> cases = {
        {"encode", missing, "-o", Path("o")},
        {"decode", missing, "-o", Path("o")},
        {"decode", Path("good.bin"), "--base", missing, "-o", Path("o")},
        {"show", missing},
        {"show", missing, "--json"},
        {"diff", good, missing},
        {"diff", missing, good},
    };
    for (const auto& args : cases) {
        const CtlRun run = Ctl(args);
        ExpectOneLineError(run, 74, missing, "не удалось открыть: нет такого файла или каталога");
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(fs::exists(Path("o")));
    }
}

TEST_F(Cli, AFolderAsInputExit74) {
    fs::create_directory(Path("folder"));
    ExpectOneLineError(Ctl({"show", Path("folder")}), 74, Path("folder"), "это каталог");
    ExpectOneLineError(Ctl({"decode", Path("folder"), "-o", Path("o")}), 74, Path("folder"),
                       "это каталог");
}

TEST_F(Cli, UnwritableOutputsExit74) {
    const std::string stg = SaveRecord("good.stg", Defaults());
    WriteBytes(Path("good.bin"), Bytes(2048, 0));
    fs::create_directory(Path("folder"));
    const std::string nowhere = Path("no/such/folder/out");
    struct Case {
        std::vector<std::string> args;
        std::string file;
        const char* reason;
    };
    const Case cases[] = {
        {{"defaults", "-o", "/dev/full"}, "/dev/full", "нет места на устройстве"},
        {{"encode", stg, "-o", "/dev/full"}, "/dev/full", "нет места на устройстве"},
        {{"decode", Path("good.bin"), "-o", "/dev/full"}, "/dev/full", "нет места на устройстве"},
        {{"defaults", "-o", nowhere}, nowhere, "нет такого файла или каталога"},
        {{"encode", stg, "-o", nowhere}, nowhere, "нет такого файла или каталога"},
        {{"decode", Path("good.bin"), "-o", nowhere}, nowhere, "нет такого файла или каталога"},
        {{"defaults", "-o", Path("folder")}, Path("folder"), "это каталог"},
        {{"encode", stg, "-o", Path("folder")}, Path("folder"), "это каталог"},
    };
    for (const auto& c : cases) {
        const CtlRun run = Ctl(c.args);
        ExpectOneLineError(run, 74, c.file, c.reason);
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full")); // written in place, never replaced
    EXPECT_TRUE(fs::is_empty(Path("folder")));       // no temporary file left behind
}

TEST_F(Cli, AFailedCommandLeavesTheOutputAsItWas) {
    WriteBytes(Path("out.bin"), Bytes(2048, 0x42));
    WriteBytes(Path("bad.stg"), Bytes(1799, 0));
    EXPECT_EQ(Ctl({"encode", Path("bad.stg"), "-o", Path("out.bin")}).status, 65);
    EXPECT_EQ(ReadBytes(Path("out.bin")), Bytes(2048, 0x42));
}

TEST_F(Cli, ShowToAFullDeviceExit74) {
    const std::string stg = SaveRecord("good.stg", Defaults());
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"show", stg}, {"show", stg, "--json"}}) {
        const CtlRun run = Ctl(args, "/dev/full");
        ExpectOneLineError(run, 74, "стандартный вывод", "нет места на устройстве");
    }
}

// ---------------------------------------------------------------- diff

TEST_F(Cli, DiffOfEqualFilesSaysNothing) {
    const std::string a = SaveRecord("a.stg", Defaults());
    const std::string b = SaveRecord("b.stg", Defaults());
    const CtlRun run = Ctl({"diff", a, b});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(Cli, BytesBehindATerminatorAreNoDifference) {
    SettingsRecord r = Defaults();
    const std::string a = SaveRecord("a.stg", r);
    std::memcpy(r.phoneNumbers[4],
                "\0"
                "99999",
                6);
    std::memcpy(r.accountNumber,
                "\0"
                "123",
                4);
    const std::string b = SaveRecord("b.stg", r);
    const CtlRun run = Ctl({"diff", a, b});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "");
}

TEST_F(Cli, DiffListsEachDifferingFieldOnItsOwnLine) {
    SettingsRecord r = Defaults();
    const std::string a = SaveRecord("a.stg", r);
    std::memcpy(r.phoneNumbers[0], "84951234567", 12);
    r.pulseDialing = 0;
    r.dialCycles = 3;
    r.lineCheckPeriod = 6;
    r.protocol = 2;
    r.eventCodes[15][0] = 6; // type 16: 000 -> 601
    r.eventCodes[15][2] = 1;
    r.loopTypes[8 * 5 + 2] = 4;
    r.relayTypes[1] = 0;
    r.loopGroups[1][0] = 0x03;
    r.reserved1783 = 0x7F;
    const std::string b = SaveRecord("b.stg", r);
    const CtlRun run = Ctl({"diff", a, b});
    EXPECT_EQ(run.status, 1) << run.err;
    const std::vector<std::string> expected = {
        "Телефон 1: нет → 84951234567",
        "Набор номера: импульсный → тональный",
        "Кол-во циклов дозвона: 8 → 3 — недопустимое значение (4..8)",
        "Протокол: DTMF (Contact ID) → ЧМ (Сальвет - Ф)",
        "Интервал проверки тел. линии: 30 мин → не проверять",
        "Тип 16, код события: код 000 — Извещение не доставлять → "
        "код 601 — Manual trigger test / Ручной запуск теста",
        "Расширитель 5, шлейф 3, тип: 1 → 4",
        "Реле ПЦН 2, тип: 1 → 0 — недопустимое значение (1..16)",
        "Резервный байт 1783: 00 → 7F",
        "Группа 2: добавлены 0/1-2",
    };
    EXPECT_EQ(Lines(run.out), expected);

    // The other way round the group loses its loops.
    const CtlRun back = Ctl({"diff", b, a});
    EXPECT_EQ(back.status, 1);
    EXPECT_TRUE(HasLine(back.out, "Группа 2: удалены 0/1-2")) << back.out;
    EXPECT_TRUE(HasLine(back.out, "Телефон 1: 84951234567 → нет")) << back.out;
}

TEST_F(Cli, DiffOfGroupsNamesAddedAndRemovedLoops) {
    SettingsRecord r = Defaults();
    r.loopGroups[15][63] = 0x0F;
    const std::string a = SaveRecord("a.stg", r);
    r.loopGroups[15][63] = 0xF1;
    r.loopGroups[15][10] = 0x20;
    const std::string b = SaveRecord("b.stg", r);
    const CtlRun run = Ctl({"diff", a, b});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Группа 16: добавлены 10/6; 63/5-8; удалены 63/2-4\n");
}

// ---------------------------------------------------------------- show

TEST_F(Cli, ShowPutsTheDefaultsIntoWords) {
    const CtlRun run = Ctl({"show", SaveRecord("d.stg", Defaults())});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const std::string& line : {
             "Файл настроек: " + Path("d.stg"),
             std::string("  1: нет"),
             std::string("  9: нет"),
             std::string("Префикс: нет, не набирается"),
             std::string("Набор номера: импульсный"),
             std::string("Импульсный коэффициент: 1,5"),
             std::string("Кол-во циклов дозвона: 8"),
             std::string("Сигнал \"ОТВЕТ СТАНЦИИ\": определяется (набор после сигнала станции)"),
             std::string("Пауза перед набором номера: 5 с"),
             std::string("Сигнал \"ЗАНЯТО\": не определяется"),
             std::string("Протокол: DTMF (Contact ID)"),
             std::string("Адрес ПЕНКО-РС: нет"),
             std::string("Интервал передачи тестового извещения: 00 (выкл.)"),
             std::string("Интервал проверки тел. линии: 30 мин"),
             std::string("Неисправность тел. линии в СЛ \"ЛЕМАРА\": отображается"),
             std::string("  Тип  1: код 130 — Burglary / Охранная тревога"),
             std::string("  Тип 14: код 381 — Loss of supervising: RF / Потеря радиодатчика"),
             std::string("  Тип 16: код 000 — Извещение не доставлять"),
             std::string("  Расширитель  0:  1  1  1  1  1  1  1  1"),
             std::string("  Расширитель 63:  1  1  1  1  1  1  1  1"),
             std::string("  Реле ПЦН 4: тип 1 (Охранная тревога)"),
             std::string("  Группа  1: нет шлейфов"),
             std::string("  Группа 16: нет шлейфов"),
             std::string("Резервные байты: 153..155: 00 00 00; 1783: 00; 1798..1799: 00 00"),
         })
        EXPECT_TRUE(HasLine(run.out, line)) << line;
    EXPECT_EQ(run.out.find(kInvalidWords), std::string::npos);
}

TEST_F(Cli, ShowNamesEverySettingInWords) {
    SettingsRecord r = Defaults();
    std::memcpy(r.phoneNumbers[8], "0123", 5);
    std::memcpy(r.prefixNumber, "8", 2);
    r.prefixEnabled = 1;
    r.pulseDialing = 0;
    r.pulseRatio = 1;
    r.blindDialing = 1;
    r.detectBusy = 1;
    r.showLineFault = 0;
    r.protocol = 2;
    std::memcpy(r.accountNumber, "0042", 5);
    std::memcpy(r.testInterval, "24", 3);
    r.eventCodes[4][0] = 6, r.eventCodes[4][1] = 0, r.eventCodes[4][2] = 5;
    r.eventCodes[5][0] = 9, r.eventCodes[5][1] = 9, r.eventCodes[5][2] = 9;
    r.loopTypes[8 * 2 + 7] = 16;
    r.relayTypes[0] = 6;
    r.loopGroups[0][0] = 0xFF;
    r.loopGroups[0][1] = 0x05;
    r.loopGroups[3][40] = 0x80;
    const CtlRun run = Ctl({"show", SaveRecord("r.stg", r)});
    EXPECT_EQ(run.status, 0);
    for (const char* line : {
             "  9: 0123",
             "Префикс: 8, набирается",
             "Набор номера: тональный",
             "Импульсный коэффициент: 2",
             "Сигнал \"ОТВЕТ СТАНЦИИ\": не определяется (набор вслепую после паузы)",
             "Сигнал \"ЗАНЯТО\": определяется",
             "Протокол: ЧМ (Сальвет - Ф)",
             "Адрес ПЕНКО-РС: 0042",
             "Интервал передачи тестового извещения: 24 ч",
             "Неисправность тел. линии в СЛ \"ЛЕМАРА\": не отображается",
             "  Тип  5: код 605 — Status to follow",
             "  Тип  6: код 999 — не зарегистрирован в таблице кодов Contact ID",
             "  Расширитель  2:  1  1  1  1  1  1  1 16",
             "  Реле ПЦН 1: тип 6 (Код события : 999)",
             "  Группа  1 (10): 0/1-8; 1/1,3",
             "  Группа  4 (1): 40/8",
         })
        EXPECT_TRUE(HasLine(run.out, line)) << line << "\n" << run.out;
}

TEST_F(Cli, ShowGivesTheLineCheckPeriodInWords) {
    const char* texts[] = {"10 мин", "30 мин", "1 час", "2 часа", "5 часов", "не проверять"};
    SettingsRecord r = Defaults();
    for (int code = 1; code <= 6; ++code) {
        r.lineCheckPeriod = static_cast<std::int8_t>(code);
        const CtlRun run = Ctl({"show", SaveRecord("r.stg", r)});
        EXPECT_TRUE(
            HasLine(run.out, std::string("Интервал проверки тел. линии: ") + texts[code - 1]))
            << code;
    }
}

TEST_F(Cli, ShowNamesOutOfRangeValues) {
    SettingsRecord r = Defaults();
    r.dialCycles = 0;
    r.lineCheckPeriod = 7;
    r.protocol = 3;
    r.pulseRatio = 2;
    r.dialPause = 0;
    r.detectBusy = 2;
    std::memcpy(r.testInterval, "62", 3);
    std::memcpy(r.accountNumber, "12a4", 5);
    std::memcpy(r.phoneNumbers[1], "1234567890123456", 17);
    r.eventCodes[0][1] = 11;
    r.loopTypes[8 * 7 + 1] = 0;
    r.loopTypes[511] = 17;
    r.relayTypes[2] = -1;
    const CtlRun run = Ctl({"show", SaveRecord("r.stg", r)});
    EXPECT_EQ(run.status, 0);
    for (const char* line : {
             "Кол-во циклов дозвона: 0 — недопустимое значение (4..8)",
             "Интервал проверки тел. линии: 7 — недопустимое значение (1..6)",
             "Протокол: 3 — недопустимое значение (1 — DTMF, 2 — ЧМ)",
             "Импульсный коэффициент: 2 — недопустимое значение (0 — \"1,5\", 1 — \"2\")",
             "Пауза перед набором номера: 0 — недопустимое значение (1..59)",
             "Сигнал \"ЗАНЯТО\": определяется (значение 2 — недопустимое значение, 0 или 1)",
             "Интервал передачи тестового извещения: 62 ч — недопустимое значение (00..59)",
             "Адрес ПЕНКО-РС: 12a4 — недопустимое значение (только цифры)",
             "  2: 1234567890123456 — недопустимое значение (не более 15 цифр)",
             "  Тип  1: код 1[11]0 — недопустимое значение (цифры 0..9)",
             "  Расширитель  7:  1  0!  1  1  1  1  1  1",
             "  Расширитель 63:  1  1  1  1  1  1  1 17!",
             "  Расширитель 7, шлейф 2: 0 — недопустимое значение (1..16)",
             "  Расширитель 63, шлейф 8: 17 — недопустимое значение (1..16)",
             "  Реле ПЦН 3: тип 255 — недопустимое значение (1..16)",
             "  Реле ПЦН 1: тип 1 (Код события : 1[11]0)",
         })
        EXPECT_TRUE(HasLine(run.out, line)) << line << "\n" << run.out;
}

// testInterval at 186..188 has no terminator: the text stops at its own width and the
// account number behind it is shown on its own line only.
TEST_F(Cli, AnUnterminatedStringStaysInItsField) {
    SettingsRecord r = Defaults();
    std::memcpy(r.testInterval, "123", 3);
    std::memcpy(r.accountNumber, "4567", 5);
    std::memset(r.prefixNumber, '5', sizeof r.prefixNumber);
    std::memset(r.phoneNumbers[8], '9', sizeof r.phoneNumbers[8]); // runs into reserved153
    r.reserved153[0] = '7';
    const CtlRun run = Ctl({"show", SaveRecord("r.stg", r)});
    EXPECT_TRUE(HasLine(run.out, "Интервал передачи тестового извещения: 123 — недопустимое "
                                 "значение (нет завершающего нуля)"))
        << run.out;
    EXPECT_TRUE(HasLine(run.out, "Адрес ПЕНКО-РС: 4567"));
    EXPECT_TRUE(HasLine(run.out, "  9: " + std::string(17, '9') +
                                     " — недопустимое значение (нет завершающего нуля)"));
    EXPECT_TRUE(HasLine(run.out, "Префикс: " + std::string(20, '5') +
                                     " — недопустимое значение (нет завершающего нуля), "
                                     "не набирается"));
}

TEST_F(Cli, ForeignBytesInStringsAreShownEscaped) {
    SettingsRecord r = Defaults();
    std::memcpy(r.phoneNumbers[0], "12\x1b[2J\xff", 8);
    const CtlRun run = Ctl({"show", SaveRecord("r\x1b\xC2\x9B.stg", r)});
    EXPECT_TRUE(HasLine(run.out, "Файл настроек: " + Path("r\\x1B\\xC2\\x9B.stg")));
    EXPECT_TRUE(HasLine(run.out, "  1: 12\\x1B[2J\\xFF — недопустимое значение (только цифры)"))
        << run.out;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
}

// ---------------------------------------------------------------- show --json

TEST_F(Cli, JsonCarriesEverySetting) {
    SettingsRecord r = Defaults();
    std::memcpy(r.phoneNumbers[0], "0123", 5);
    r.loopTypes[8 * 3 + 4] = 9;
    r.relayTypes[3] = 14;
    r.loopGroups[5][2] = 0x41;
    r.dialCycles = 2;
    const std::string path = SaveRecord("r.stg", r);
    const CtlRun run = Ctl({"show", path, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(run.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    ASSERT_TRUE(doc.isObject());
    const QJsonObject o = doc.object();

    const QStringList keys = {"file",         "phoneNumbers",     "prefixNumber",  "prefixEnabled",
                              "pulseDialing", "pulseRatio",       "dialCycles",    "blindDialing",
                              "dialPause",    "detectBusy",       "protocol",      "accountNumber",
                              "testInterval", "lineCheckPeriod",  "showLineFault", "eventCodes",
                              "loopTypes",    "invalidLoopTypes", "relayTypes",    "loopGroups",
                              "reserved"};
    EXPECT_EQ(o.keys().size(), keys.size());
    for (const auto& key : keys)
        EXPECT_TRUE(o.contains(key)) << key.toStdString();

    EXPECT_EQ(o["file"].toString().toStdString(), path);
    EXPECT_EQ(o["phoneNumbers"].toArray().size(), 9);
    EXPECT_EQ(o["phoneNumbers"][0]["value"].toString(), "0123");
    EXPECT_EQ(o["phoneNumbers"][1]["text"].toString(), "нет");
    EXPECT_EQ(o["pulseDialing"]["value"].toInt(), 1);
    EXPECT_EQ(o["pulseDialing"]["text"].toString(), "импульсный");
    EXPECT_EQ(o["dialCycles"]["value"].toInt(), 2);
    EXPECT_FALSE(o["dialCycles"]["valid"].toBool());
    EXPECT_TRUE(o["dialCycles"]["text"].toString().contains("недопустимое значение"));
    EXPECT_TRUE(o["dialPause"]["valid"].toBool());
    EXPECT_EQ(o["lineCheckPeriod"]["text"].toString(), "30 мин");
    EXPECT_EQ(o["protocol"]["text"].toString(), "DTMF (Contact ID)");
    EXPECT_EQ(o["testInterval"]["value"].toString(), "00");

    const QJsonArray codes = o["eventCodes"].toArray();
    ASSERT_EQ(codes.size(), 16);
    EXPECT_EQ(codes[0]["type"].toInt(), 1);
    EXPECT_EQ(codes[0]["code"].toInt(), 130);
    EXPECT_EQ(codes[0]["english"].toString(), "Burglary");
    EXPECT_EQ(codes[0]["russian"].toString(), "Охранная тревога");
    EXPECT_EQ(codes[0]["description"].toString(), "Охранная тревога");
    EXPECT_EQ(codes[15]["code"].toInt(), 0);
    EXPECT_EQ(codes[15]["english"].toString(), " ");
    EXPECT_EQ(codes[15]["digits"].toArray(), (QJsonArray{0, 0, 0}));

    const QJsonArray loops = o["loopTypes"].toArray();
    ASSERT_EQ(loops.size(), 64);
    for (const auto& expander : loops)
        EXPECT_EQ(expander.toArray().size(), 8);
    EXPECT_EQ(loops[3][4].toInt(), 9);
    EXPECT_EQ(loops[3][3].toInt(), 1);
    EXPECT_TRUE(o["invalidLoopTypes"].toArray().isEmpty());

    EXPECT_EQ(o["relayTypes"][3]["value"].toInt(), 14);
    EXPECT_EQ(o["relayTypes"][3]["description"].toString(), "Потеря радиодатчика");

    const QJsonArray groups = o["loopGroups"].toArray();
    ASSERT_EQ(groups.size(), 16);
    EXPECT_EQ(groups[5]["group"].toInt(), 6);
    const QJsonArray members = groups[5]["members"].toArray();
    ASSERT_EQ(members.size(), 2);
    EXPECT_EQ(members[0]["expander"].toInt(), 2);
    EXPECT_EQ(members[0]["loop"].toInt(), 1);
    EXPECT_EQ(members[1]["loop"].toInt(), 7);
    EXPECT_EQ(o["reserved"]["153"].toArray(), (QJsonArray{0, 0, 0}));
}

// A one-byte field is the byte in the file, 0..255: a byte 200 is never shown as -56.
TEST_F(Cli, OneByteFieldsShowTheirByteValues) {
    struct Case {
        std::size_t offset;
        const char* line; // the line of show
        const char* key;  // where show --json holds the value
        int index;        // -1: {"value"}; else element of the key's array
    };
    const Case cases[] = {
        {184, "Кол-во циклов дозвона: 200 — недопустимое значение (4..8)", "dialCycles", -1},
        {1796, "Пауза перед набором номера: 200 — недопустимое значение (1..59)", "dialPause", -1},
        {194, "Протокол: 200 — недопустимое значение (1 — DTMF, 2 — ЧМ)", "protocol", -1},
        {185, "Интервал проверки тел. линии: 200 — недопустимое значение (1..6)", "lineCheckPeriod",
         -1},
        {1797, "Импульсный коэффициент: 200 — недопустимое значение (0 — \"1,5\", 1 — \"2\")",
         "pulseRatio", -1},
        {195 + 8 * 63 + 7, "  Расширитель 63, шлейф 8: 200 — недопустимое значение (1..16)",
         "invalidLoopTypes", 0},
        {707 + 3, "  Реле ПЦН 4: тип 200 — недопустимое значение (1..16)", "relayTypes", 3},
    };
    for (const auto& c : cases) {
        Bytes bytes = ToBytes(Defaults());
        bytes[c.offset] = 200;
        const std::string path = Path("b.stg");
        WriteBytes(path, bytes);
        const CtlRun text = Ctl({"show", path});
        EXPECT_EQ(text.status, 0) << text.err;
        EXPECT_TRUE(HasLine(text.out, c.line)) << c.line << "\n" << text.out;
        const CtlRun json = Ctl({"show", path, "--json"});
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
        const QJsonValue field = c.index < 0 ? o[c.key] : o[c.key].toArray()[c.index];
        EXPECT_EQ(field["value"].toInt(), 200) << c.key;
        if (field.toObject().contains("valid")) {
            EXPECT_FALSE(field["valid"].toBool()) << c.key;
        }
    }
}

TEST_F(Cli, JsonOfHostileRecordsParses) {
    for (int i = 0; i < 25; ++i) {
        SettingsRecord r = RandomRecord();
        if (i == 0) std::memcpy(r.phoneNumbers[0], "1\x7F\x80\x9B[2J\x9F\xA0", 10);
        const CtlRun run = Ctl({"show", SaveRecord("r.stg", r), "--json"});
        ASSERT_EQ(run.status, 0) << run.err;
        // DEL and the C1 controls (one of them a terminal's CSI) travel escaped, never raw.
        EXPECT_EQ(run.out.find('\x7F'), std::string::npos);
        for (std::size_t at = run.out.find('\xC2'); at != std::string::npos;
             at = run.out.find('\xC2', at + 1))
            EXPECT_GT(static_cast<unsigned char>(run.out[at + 1]), 0x9F) << "at " << at;
        QJsonParseError error{};
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray::fromStdString(run.out), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError)
            << error.errorString().toStdString() << " at " << error.offset;
        const QJsonObject o = doc.object();
        EXPECT_EQ(o["dialCycles"]["value"].toInt(), std::uint8_t(r.dialCycles));
        EXPECT_EQ(o["loopTypes"][63][7].toInt(), std::uint8_t(r.loopTypes[511]));
        // A record string maps byte for byte onto code points 0..255.
        const QString phone = o["phoneNumbers"][0]["value"].toString();
        const std::size_t length = FieldLength(r.phoneNumbers[0]);
        ASSERT_EQ(std::size_t(phone.size()), length);
        for (std::size_t k = 0; k < length; ++k)
            EXPECT_EQ(phone[qsizetype(k)].unicode(),
                      static_cast<unsigned char>(r.phoneNumbers[0][k]));
        // Text mode on the same record succeeds too.
        EXPECT_EQ(Ctl({"show", Path("r.stg")}).status, 0);
    }
}

// Random device images through decode, then show, show --json and diff of the result:
// whatever a device holds, every command finishes with its normal status.
TEST_F(Cli, RandomImagesThroughEveryCommand) {
    const std::string defaults = SaveRecord("d.stg", Defaults());
    DeviceImage image{};
    for (int i = 0; i < 10; ++i) {
        FillRandom<kImageSize>(image.data());
        WriteBytes(Path("in.bin"), ToBytes(image));
        ASSERT_EQ(Ctl({"decode", Path("in.bin"), "--base", defaults, "-o", Path("r.stg")}).status,
                  0);
        const CtlRun text = Ctl({"show", Path("r.stg")});
        EXPECT_EQ(text.status, 0) << text.err;
        // The decoder gives every loop a type of 1..16: nothing to flag there.
        EXPECT_EQ(text.out.find("Недопустимые типы шлейфов"), std::string::npos);
        EXPECT_EQ(Ctl({"show", Path("r.stg"), "--json"}).status, 0);
        const CtlRun diff = Ctl({"diff", defaults, Path("r.stg")});
        EXPECT_EQ(diff.status, 1) << diff.err;
        const Bytes decoded = ReadBytes(Path("r.stg"));
        const std::string account(decoded.begin() + 189, decoded.begin() + 193);
        EXPECT_TRUE(HasLine(diff.out, "Адрес ПЕНКО-РС: нет → " + account) ||
                    HasLine(diff.out, "Адрес ПЕНКО-РС: нет → " + account +
                                          " — недопустимое значение (только цифры)"))
            << diff.out;
        EXPECT_EQ(Ctl({"encode", Path("r.stg"), "-o", Path("r.bin")}).status, 0);
    }
}

} // namespace
