// read, write and sim: the device link from a terminal. The sessions are the very ones the
// window runs; only their view differs: a progress bar on stderr, messages as lines.
#include "Commands.h"

#include "journal/SessionJournal.h"
#include "link/LinkGlobals.h"
#include "link/SerialPort.h"
#include "link/TracingPort.h"
#include "link/TransferSession.h"
#include "settings/SettingsFile.h"
#include "sim/DeviceSimulator.h"

#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

// Ctrl-C asks for a stop between blocks; a second one ends the program at once.
void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// QSerialPort wants an application object, even without an event loop.
void EnsureCoreApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "torvik7ctl";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

std::string Clock(double seconds) {
    const int s = seconds < 0 ? 0 : static_cast<int>(seconds + 0.5);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", s / 60, s % 60);
    return text;
}

class TerminalView final : public TransferView {
public:
    explicit TerminalView(std::string port) : port_(std::move(port)), tty_(::isatty(2)) {}
    ~TerminalView() override { EndLine(); }

    // The name as the operator gave it: messages show "COM3", the opener finds /dev/ttyS2.
    std::string PortName() override { return port_; }
    void SetStatus(const std::string& text) override { status_ = text; }
    void SetProgress(int percent) override {
        percent_ = percent;
        ++blocks_;
    }
    void ShowProgress(bool visible) override {
        if (visible && !visible_) {
            start_ = std::chrono::steady_clock::now();
            blocks_ = 0;
        }
        visible_ = visible;
        if (!visible) EndLine();
    }
    void ShowStop(bool) override {}
    void Refresh() override {
        if (!visible_ || status_.empty()) return;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const int done = blocks_ > 0 ? blocks_ - 1 : 0; // blocks finished before this one
        const double left = done > 0 ? elapsed / done * (512 - done) : -1;
        const std::string times =
            Clock(elapsed) + " / осталось " + (left < 0 ? "--:--" : Clock(left));
        if (tty_) {
            const int width = 30;
            const int filled = percent_ * width / 100;
            std::string bar(filled, '#');
            bar.append(width - filled, '.');
            std::fprintf(stderr, "\r[%s] %3d %%  %s\033[K", bar.c_str(), percent_, times.c_str());
            std::fflush(stderr);
            drawn_ = true;
        } else if (percent_ / 5 != lastPrinted_) {
            lastPrinted_ = percent_ / 5;
            std::fprintf(stderr, "%s  (%s)\n", status_.c_str(), times.c_str());
        }
    }
    void PumpMessages() override {
        if (g_interrupted) TransferRunning = 0;
    }
    void ShowMessage(const Message& message) override {
        EndLine();
        const std::string caption = message.caption.empty() ? "torvik7ctl" : message.caption;
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), message.text.c_str());
    }

private:
    void EndLine() {
        if (drawn_) std::fprintf(stderr, "\n");
        drawn_ = false;
    }

    std::string port_;
    bool tty_;
    std::string status_;
    int percent_ = 0;
    int blocks_ = 0;
    int lastPrinted_ = -1;
    bool visible_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
};

bool ParseInt(const std::string& text, long min, long max, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || v < min || v > max) return false;
    value = v;
    return true;
}

struct LinkArgs {
    std::string port;
    long line = 0;
    long unit = 0;
    std::string output;
    std::string input;
    std::string base;
    std::string trace;
    bool noJournal = false;
    bool help = false;
};

const char* kReadHelp =
    "Использование: torvik7ctl read --port ПОРТ [--line N] [--unit N] -o ФАЙЛ.stg\n"
    "                               [--base ФАЙЛ.stg] [--trace ЖУРНАЛ]\n"
    "Считывает настройки из прибора в файл (только при успехе) и пишет data.txt в\n"
    "текущую папку.\n"
    "  --port ПОРТ    COM1..COM6 (/dev/ttyS0..5), любой другой порт или путь\n"
    "  --line N       адрес прибора на линии связи, 0..63 (0)\n"
    "  --unit N       адрес ГРЕМУС, 0..7 (0)\n"
    "  --base ФАЙЛ    начальные настройки вместо нулевых\n"
    "  --trace ЖУРНАЛ записывать все кадры (hex, с метками времени)\n"
    "  --no-journal   не записывать чтение в журнал обменов\n"
    "Код завершения: результат сеанса (0 успех, 1 порт не открылся, 3 ошибка\n"
    "настройки порта, 4 ошибка связи, 5 остановлено Ctrl-C); 64 ошибка в\n"
    "параметрах, 74 ошибка файла.\n";

const char* kWriteHelp =
    "Использование: torvik7ctl write --port ПОРТ [--line N] [--unit N] [--trace ЖУРНАЛ]\n"
    "                                ФАЙЛ.stg\n"
    "Загружает настройки из файла в прибор; байты 0 и 4 прибора сохраняются.\n"
    "  --port ПОРТ    COM1..COM6 (/dev/ttyS0..5), любой другой порт или путь\n"
    "  --line N       адрес прибора на линии связи, 0..63 (0)\n"
    "  --unit N       адрес ГРЕМУС, 0..7 (0)\n"
    "  --trace ЖУРНАЛ записывать все кадры (hex, с метками времени)\n"
    "  --no-journal   не записывать загрузку в журнал обменов\n"
    "Код завершения: результат сеанса (0 успех, 1 порт не открылся, 2 и 3 ошибка\n"
    "настройки порта, 4 ошибка связи, 5 остановлено Ctrl-C, 10 пультовый блок);\n"
    "64 ошибка в параметрах, 65 или 74 ошибка файла.\n";

// Parses the options shared by read and write; false after printing why.
bool ParseLinkArgs(const Args& args, bool reading, LinkArgs& out) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                PrintError("после " + a + " нужно значение");
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string text;
        if (a == "--help" || a == "-h") {
            out.help = true;
            return true;
        } else if (a == "--port") {
            if (!value(out.port)) return false;
        } else if (a == "--line") {
            if (!value(text) || !ParseInt(text, 0, 63, out.line)) {
                PrintError("--line: нужно число 0..63");
                return false;
            }
        } else if (a == "--unit") {
            if (!value(text) || !ParseInt(text, 0, 7, out.unit)) {
                PrintError("--unit: нужно число 0..7");
                return false;
            }
        } else if (a == "--trace") {
            if (!value(out.trace)) return false;
        } else if (a == "--no-journal") {
            out.noJournal = true;
        } else if (reading && (a == "-o" || a == "--output")) {
            if (!value(out.output)) return false;
        } else if (reading && a == "--base") {
            if (!value(out.base)) return false;
        } else if (!reading && !a.empty() && a[0] != '-' && out.input.empty()) {
            out.input = a;
        } else {
            PrintError("неизвестный параметр '" + a + "'");
            return false;
        }
    }
    if (out.port.empty()) {
        PrintError("не указан порт (--port)");
        return false;
    }
    if (reading && out.output.empty()) {
        PrintError("не указан файл для настроек (-o)");
        return false;
    }
    if (!reading && out.input.empty()) {
        PrintError("не указан файл настроек");
        return false;
    }
    return true;
}

struct TraceFile {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, &std::fclose};
    std::optional<TracingOpener> opener;
};

bool OpenTrace(const std::string& path, TraceFile& trace, SessionOptions& options) {
    if (path.empty()) return true;
    trace.file.reset(std::fopen(path.c_str(), "w"));
    if (!trace.file) {
        PrintError("не удаётся создать журнал " + path + ": " + std::strerror(errno));
        return false;
    }
    trace.opener.emplace(SystemPortOpener(), trace.file.get());
    options.opener = &*trace.opener;
    return true;
}

int FileError(const FileResult& result, const std::string& path) {
    PrintError(
        path + ": " +
        (result.message.empty() ? std::string(std::strerror(result.errorNumber)) : result.message));
    return result.status == FileStatus::TooShort ? kExitData : kExitIo;
}

} // namespace

namespace {

// What read and write share around their session: the trace, Ctrl-C, the addresses and the
// terminal's progress bar. Returns the session's result, or kExitIo for a trace file that
// cannot be opened.
int RunSession(const LinkArgs& a,
               const std::function<int(TransferView&, const SessionOptions&)>& session) {
    SessionOptions options;
    TraceFile trace;
    if (!OpenTrace(a.trace, trace, options)) return kExitIo;
    EnsureCoreApplication();
    CatchInterrupts();
    LineAddress = static_cast<int>(a.line);
    UnitAddress = static_cast<int>(a.unit);
    TerminalView view(a.port);
    // The journal only watches: whatever becomes of it, the session and its exit status
    // are the same. Its one problem of the run is one warning line.
    std::optional<Journal> journal;
    std::optional<SessionJournal> keeper;
    if (!a.noJournal) {
        journal.emplace();
        journal->SetProblemHandler([](const QString& text) {
            std::fprintf(stderr, "torvik7ctl: предупреждение: %s\n", qPrintable(text));
        });
        keeper.emplace(&*journal);
        keeper->context.source = JournalSource::Ctl;
        keeper->context.port = QString::fromStdString(a.port);
        keeper->context.lineAddress = static_cast<int>(a.line);
        keeper->context.unitAddress = static_cast<int>(a.unit);
        keeper->context.title =
            QString::fromStdString(a.output.empty() ? a.input : a.output); // the file involved
        options.observers.push_back(&*keeper);
    }
    const int result = session(view, options);
    if (result == kSessionStopped) std::fprintf(stderr, "torvik7ctl: остановлено\n");
    return result;
}

} // namespace

int CmdRead(const Args& args) {
    LinkArgs a;
    if (!ParseLinkArgs(args, true, a)) return kExitUsage;
    if (a.help) {
        std::fputs(kReadHelp, stdout);
        return kExitOk;
    }
    // The utility starts from an all-zero record; a read fills what the device holds.
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    if (!a.base.empty()) {
        const FileResult loaded = LoadSettingsFile(a.base, record);
        if (!loaded.ok()) return FileError(loaded, a.base);
    }
    const int result = RunSession(a, [&](TransferView& view, const SessionOptions& options) {
        return ReadDevice(view, record, options);
    });
    if (result != kSessionOk) return result;
    const FileResult saved = SaveSettingsFile(a.output, record);
    if (!saved.ok()) return FileError(saved, a.output);
    std::fprintf(stderr, "torvik7ctl: настройки записаны в %s\n", a.output.c_str());
    return kExitOk;
}

int CmdWrite(const Args& args) {
    LinkArgs a;
    if (!ParseLinkArgs(args, false, a)) return kExitUsage;
    if (a.help) {
        std::fputs(kWriteHelp, stdout);
        return kExitOk;
    }
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    const FileResult loaded = LoadSettingsFile(a.input, record);
    if (!loaded.ok()) return FileError(loaded, a.input);
    return RunSession(a, [&](TransferView& view, const SessionOptions& options) {
        return WriteDevice(view, record, options);
    });
}

namespace {

const char* kSimHelp =
    "Использование: torvik7ctl sim [--line N] [--unit N] [--rate R] [--memory ФАЙЛ]\n"
    "                              [--link ПУТЬ] [неисправности]\n"
    "Имитатор ГРЕМУС с одним прибором ТОРВИК-7 на псевдотерминале. Печатает путь\n"
    "к порту и работает до Ctrl-C; память сохраняется в --memory при выходе.\n"
    "  --line N           адрес прибора на линии связи, 0..63 (0)\n"
    "  --unit N           адрес ГРЕМУС, 0..7 (0)\n"
    "  --rate R           скорость: 9600, 19200, 38400 или 57600 (9600)\n"
    "  --memory ФАЙЛ      память прибора, 2048 байт (нет файла: заводская)\n"
    "  --link ПУТЬ        символическая ссылка на псевдотерминал\n"
    "Неисправности (ЧИСЛО[@ПРОПУСК] или p=ВЕРОЯТНОСТЬ[@ПРОПУСК]):\n"
    "  --no-answer, --corrupt-xor, --not-ready, --too-short, --wrong-sum,\n"
    "  --wrong-address, --verify-mismatch\n"
    "  --console-side     прибор отвечает идентификатором пультового блока\n"
    "  --drop-after N     оборвать линию после N кадров\n"
    "  --seed N           начальное число для случайных неисправностей (1)\n";

bool ParseFault(const std::string& text, FaultRule& rule) {
    std::string head = text;
    std::string after;
    if (const auto at = text.find('@'); at != std::string::npos) {
        head = text.substr(0, at);
        after = text.substr(at + 1);
    }
    long value = 0;
    if (!after.empty()) {
        if (!ParseInt(after, 0, 1L << 30, value)) return false;
        rule.after = static_cast<int>(value);
    }
    if (head.rfind("p=", 0) == 0) {
        char* end = nullptr;
        const double p = std::strtod(head.c_str() + 2, &end);
        if (*end || head.size() == 2 || p < 0 || p > 1) return false;
        rule.probability = p;
        return true;
    }
    if (!ParseInt(head, 0, 1L << 30, value)) return false;
    rule.count = static_cast<int>(value);
    return true;
}

} // namespace

int CmdSim(const Args& args) {
    SimConfig config;
    std::string memory;
    std::string link;
    static const std::pair<const char*, SimFault> kFaults[] = {
        {"--no-answer", SimFault::NoAnswer},
        {"--corrupt-xor", SimFault::CorruptXor},
        {"--not-ready", SimFault::NotReady},
        {"--too-short", SimFault::TooShort},
        {"--wrong-sum", SimFault::WrongSum},
        {"--wrong-address", SimFault::WrongAddress},
        {"--verify-mismatch", SimFault::VerifyMismatch}};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kSimHelp, stdout);
            return kExitOk;
        }
        if (a == "--console-side") {
            config.consoleSide = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            PrintError("неизвестный параметр или нет значения: '" + a + "'");
            return kExitUsage;
        }
        const std::string v = args[++i];
        long n = 0;
        bool ok = true;
        bool known = true;
        if (a == "--line")
            ok = ParseInt(v, 0, 63, n) && (config.lineAddress = static_cast<int>(n), true);
        else if (a == "--unit")
            ok = ParseInt(v, 0, 7, n) && (config.unitAddress = static_cast<int>(n), true);
        else if (a == "--rate")
            ok = ParseInt(v, 0, 57600, n) &&
                 (n == 9600 || n == 19200 || n == 38400 || n == 57600) &&
                 (config.rate = static_cast<int>(n), true);
        else if (a == "--memory")
            memory = v;
        else if (a == "--link")
            link = v;
        else if (a == "--drop-after")
            ok = ParseInt(v, 0, 1L << 30, n) && (config.dropLineAfter = n, true);
        else if (a == "--seed")
            ok = ParseInt(v, 0, 0x7FFFFFFF, n) && (config.seed = static_cast<unsigned>(n), true);
        else {
            known = false;
            for (const auto& [name, fault] : kFaults) {
                if (a == name) {
                    known = true;
                    ok = ParseFault(v, config.fault(fault));
                }
            }
        }
        if (!known) {
            PrintError("неизвестный параметр '" + a + "'");
            return kExitUsage;
        }
        if (!ok) {
            PrintError("неверное значение " + a + " '" + v + "'");
            return kExitUsage;
        }
    }

    DeviceSimulator sim(config);
    if (!memory.empty() && ::access(memory.c_str(), F_OK) == 0 && !sim.LoadMemory(memory)) {
        PrintError(memory + ": это не память прибора (нужно ровно 2048 байт)");
        return kExitData;
    }
    // Block the signals before the simulator's thread starts, so only sigwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    const std::string path = sim.Start();
    if (path.empty()) {
        PrintError("не удаётся создать псевдотерминал: " + sim.LastError());
        return kExitIo;
    }
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(path.c_str(), link.c_str()) != 0) {
            PrintError("не удаётся создать ссылку " + link + ": " + std::strerror(errno));
            sim.Stop();
            return kExitIo;
        }
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    std::fprintf(stderr,
                 "torvik7ctl: имитатор на %s (линия %d, ГРЕМУС %d, %d бод); Ctrl-C — выход\n",
                 link.empty() ? path.c_str() : link.c_str(), config.lineAddress, config.unitAddress,
                 config.rate);
    int signal = 0;
    sigwait(&stop, &signal);
    sim.Stop();
    if (!link.empty()) ::unlink(link.c_str());
    const SimStats stats = sim.Stats();
    std::fprintf(stderr,
                 "torvik7ctl: кадров %ld, чтений %ld, записей %ld, внесено неисправностей %ld\n",
                 stats.frames, stats.readCommands, stats.writeCommands, stats.faultsInjected);
    if (!memory.empty() && !sim.SaveMemory(memory)) {
        PrintError("не удаётся сохранить память в " + memory + ": " + std::strerror(errno));
        return kExitIo;
    }
    return kExitOk;
}
