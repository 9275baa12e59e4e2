// read, write and sim: the device link from a terminal. The sessions are the very ones the
// window runs; only their view differs: a progress bar on stderr, messages as lines.
#include "Commands.h"

#include "sessionjournal/SessionJournal.h"

#include "fields/RecordFields.h"
#include "link/SerialPort.h"
#include "link/TracingPort.h"
#include "link/TransferSession.h"
#include "settings/SettingsFile.h"
#include "sim/DeviceSimulator.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// The session's stop token: a lock-free atomic, so the signal handler may set it.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);
// Once the transfer's result is settled and its file is safe: that exit status plus one. The
// journal's work left then is not worth an operator's wait.
volatile std::sig_atomic_t g_exitNow = 0;

void OnInterrupt(int) {
    if (g_exitNow) std::_Exit(g_exitNow - 1);
    g_interrupted = true;
}

// Ctrl-C asks for a stop between blocks; a second one ends the program at once.
void CatchInterrupts() {
#ifdef _WIN32
    // The C runtime turns the console's Ctrl+C into SIGINT and puts the default handler
    // back before calling ours, so the second Ctrl+C ends the program as on Linux.
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
#else
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

// QSerialPort wants an application object, even without an event loop.
void EnsureCoreApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "torvik7ctl";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

bool IsTerminal() {
#ifdef _WIN32
    return ::_isatty(2) != 0;
#else
    return ::isatty(2) != 0;
#endif
}

std::string Clock(double seconds) {
    const int s = seconds < 0 ? 0 : static_cast<int>(seconds + 0.5);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", s / 60, s % 60);
    return text;
}

class TerminalView final : public TransferView {
public:
    explicit TerminalView(std::string port) : port_(std::move(port)), tty_(IsTerminal()) {}
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

struct LinkArgs {
    std::string port;
    long line = 0;
    long unit = 0;
    std::string trace;
    bool journal = true;
    std::string file; // the settings file read into or written from, for the journal
};

// The options shared by read and write; false after reporting a bad value.
bool LinkOptions(const Invocation& in, LinkArgs& out) {
    out.port = *in.Value("port");
    out.trace = in.Value("trace").value_or("");
    out.journal = !in.Has("no-journal");
    return in.Number("line", 0, 63, out.line) && in.Number("unit", 0, 7, out.unit);
}

std::vector<OptionSpec> LinkOptionSpecs(std::vector<OptionSpec> more) {
    std::vector<OptionSpec> options = {
        {.names = "port",
         .value = "ПОРТ",
         .help = "COM1..COM6 (/dev/ttyS0..5), любой другой порт или путь",
         .ifMissing = "не указан порт (--port)"},
        {.names = "line", .value = "N", .help = "адрес прибора на линии связи, 0..63 (0)"},
        {.names = "unit", .value = "N", .help = "адрес ГРЕМУС, 0..7 (0)"},
    };
    options.insert(options.end(), more.begin(), more.end());
    options.push_back({.names = "trace",
                       .value = "ЖУРНАЛ",
                       .help = "записывать все кадры (hex, с метками времени)",
                       .valueWord = "имя файла"});
    options.push_back({.names = "no-journal", .help = "не записывать обмен в журнал обменов"});
    return options;
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

// How long the end of a read or write waits for its entry to reach a team's server: a server
// that answers sends in well under a second; one that stays silent costs no more than this.
constexpr int kPushWaitMs = 3000;

// What read and write share around their session: the trace, Ctrl-C, the addresses and the
// terminal's progress bar. `finish` turns the session's result into the exit status (a read
// saves its file there) before anything of the journal runs. Returns that status, or kExitIo
// for a trace file that cannot be opened.
int RunSession(const LinkArgs& a,
               const std::function<int(TransferView&, const SessionOptions&)>& session,
               const std::function<int(int)>& finish) {
    SessionOptions options;
    TraceFile trace;
    if (!OpenTrace(a.trace, trace, options)) return kExitIo;
    EnsureCoreApplication();
    CatchInterrupts();
    options.lineAddress = static_cast<int>(a.line);
    options.unitAddress = static_cast<int>(a.unit);
    options.stop = &g_interrupted;
    TerminalView view(a.port);
    // The journal only watches: whatever becomes of it, the session and its exit status
    // are the same; its one problem of the run is one warning line.
    std::unique_ptr<Journal> journal;
    std::optional<SessionJournal> keeper;
    if (a.journal) {
        journal = OpenCtlJournal();
        journal->SetProblemHandler(
            [](const QString& text) { PrintError("предупреждение: " + text.toStdString()); });
        journal->Ready(); // opened before the session, so its end only writes
        keeper.emplace(journal.get());
        // The session's end only builds the entry: it is kept once the result is out.
        keeper->keepLater = true;
        keeper->context.source = JournalSource::Ctl;
        keeper->context.port = QString::fromStdString(a.port);
        keeper->context.lineAddress = static_cast<int>(a.line);
        keeper->context.unitAddress = static_cast<int>(a.unit);
        keeper->context.title = QString::fromStdString(a.file);
        options.observers.push_back(&*keeper);
    }
    const int result = session(view, options);
    if (result == kSessionStopped) std::fprintf(stderr, "torvik7ctl: остановлено\n");
    const int status = finish(result);
    if (!keeper) return status;
    // From here Ctrl+C ends the program at once, with the transfer's status.
    g_exitNow = status + 1;
    CatchInterrupts();
    keeper->KeepLast();
    if (!journal->WaitForPush(kPushWaitMs, [] { return g_interrupted.load(); }))
        journal->CancelPush();
    return status;
}

int Read(const Invocation& in) {
    LinkArgs a;
    if (!LinkOptions(in, a)) return kExitUsage;
    const std::string output = *in.Value("output");
    a.file = output;
    // The utility starts from an all-zero record; a read fills what the device holds.
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    if (const auto base = in.Value("base")) {
        const FileResult loaded = LoadSettingsFile(*base, record);
        if (!loaded.ok()) return FileError(loaded, *base);
    }
    return RunSession(
        a,
        [&](TransferView& view, const SessionOptions& options) {
            return ReadDevice(view, record, options);
        },
        [&](int result) {
            if (result != kSessionOk) return result;
            const FileResult saved = SaveSettingsFile(output, record);
            if (!saved.ok()) return FileError(saved, output);
            std::fprintf(stderr, "torvik7ctl: настройки записаны в %s\n", output.c_str());
            return static_cast<int>(kExitOk);
        });
}

int Write(const Invocation& in) {
    LinkArgs a;
    if (!LinkOptions(in, a)) return kExitUsage;
    const std::string& input = in.Argument(0);
    a.file = input;
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    const FileResult loaded = LoadSettingsFile(input, record);
    if (!loaded.ok()) return FileError(loaded, input);
    // A foreign or garbage file is not written into a live alarm device unless asked for.
    if (const std::string list = OutOfRangeList(record); !list.empty() && !in.Has("force")) {
        std::string lines;
        for (std::size_t start = 0; start < list.size();) {
            const std::size_t end = std::min(list.find('\n', start), list.size());
            lines += "\n  " + list.substr(start, end - start);
            start = end + 1;
        }
        PrintError(input +
                   ": настройки содержат недопустимые значения, в прибор не загружены"
                   " (--force — загрузить всё равно):" +
                   lines);
        return kExitData;
    }
    return RunSession(
        a,
        [&](TransferView& view, const SessionOptions& options) {
            return WriteDevice(view, record, options);
        },
        [](int result) { return result; });
}

} // namespace

const CommandSpec kReadCommand = {
    .name = "read",
    .summary = "считать настройки из прибора в файл",
    .about = "Считывает настройки из прибора в файл (только при успехе) и пишет data.txt в\n"
             "текущую папку.",
    .options = LinkOptionSpecs({
        {.names = "o,output",
         .value = "ФАЙЛ.stg",
         .help = "файл для считанных настроек",
         .ifMissing = "не указан файл для настроек (-o)",
         .valueWord = "имя файла"},
        {.names = "base",
         .value = "ФАЙЛ.stg",
         .help = "начальные настройки вместо нулевых",
         .valueWord = "имя файла"},
    }),
    .exitCodes = "  0   успешно\n"
                 "  1   порт не открылся\n"
                 "  3   ошибка настройки порта\n"
                 "  4   ошибка связи\n"
                 "  5   остановлено (Ctrl-C)\n"
                 "  64  ошибка в командной строке\n"
                 "  65  файл --base не является файлом настроек\n"
                 "  74  ошибка чтения или записи файла\n"
                 "Чтение записывается в журнал обменов (см. torvik7ctl journal), если не указан\n"
                 "--no-journal; журнал, который недоступен, даёт одно предупреждение.\n",
    .run = Read,
};

const CommandSpec kWriteCommand = {
    .name = "write",
    .summary = "загрузить настройки из файла в прибор",
    .about = "Загружает настройки из файла в прибор; байты 0 и 4 прибора сохраняются.",
    .arguments = {{"ФАЙЛ.stg", "не указан файл настроек"}},
    .options = LinkOptionSpecs(
        {{.names = "force", .help = "загрузить и настройки с недопустимыми значениями"}}),
    .exitCodes = "  0   успешно\n"
                 "  1   порт не открылся\n"
                 "  2, 3  ошибка настройки порта\n"
                 "  4   ошибка связи\n"
                 "  5   остановлено (Ctrl-C)\n"
                 "  10  пультовый блок\n"
                 "  64  ошибка в командной строке\n"
                 "  65  файл не является файлом настроек или содержит недопустимые значения\n"
                 "      (без --force)\n"
                 "  74  ошибка чтения файла\n"
                 "Загрузка записывается в журнал обменов (см. torvik7ctl journal), если не\n"
                 "указан --no-journal; журнал, который недоступен, даёт одно предупреждение.\n",
    .run = Write,
};

namespace {

bool ParseFault(const std::string& text, FaultRule& rule) {
    std::string head = text;
    std::string after;
    if (const auto at = text.find('@'); at != std::string::npos) {
        head = text.substr(0, at);
        after = text.substr(at + 1);
    }
    long value = 0;
    if (!after.empty()) {
        if (!ParseNumber(after, 0, 1L << 30, value)) return false;
        rule.after = static_cast<int>(value);
    }
    if (head.rfind("p=", 0) == 0) {
        char* end = nullptr;
        const double p = std::strtod(head.c_str() + 2, &end);
        if (*end || head.size() == 2 || p < 0 || p > 1) return false;
        rule.probability = p;
        return true;
    }
    if (!ParseNumber(head, 0, 1L << 30, value)) return false;
    rule.count = static_cast<int>(value);
    return true;
}

const std::pair<const char*, SimFault> kFaults[] = {{"no-answer", SimFault::NoAnswer},
                                                    {"corrupt-xor", SimFault::CorruptXor},
                                                    {"not-ready", SimFault::NotReady},
                                                    {"too-short", SimFault::TooShort},
                                                    {"wrong-sum", SimFault::WrongSum},
                                                    {"wrong-address", SimFault::WrongAddress},
                                                    {"verify-mismatch", SimFault::VerifyMismatch}};

const std::pair<const char*, SimWire> kWires[] = {{"whole", SimWire::Whole},
                                                  {"bytes", SimWire::Bytes},
                                                  {"fifo8", SimWire::Fifo8},
                                                  {"usb16", SimWire::Usb16}};

int Sim(const Invocation& in) {
    SimConfig config;
    long line = config.lineAddress, unit = config.unitAddress, rate = config.rate;
    long drop = config.dropLineAfter, seed = config.seed, latency = config.latencyMs;
    if (!in.Number("line", 0, 63, line) || !in.Number("unit", 0, 7, unit) ||
        !in.Number("drop-after", 0, 1L << 30, drop) || !in.Number("seed", 0, 0x7FFFFFFF, seed) ||
        !in.Number("latency", 0, 1000, latency))
        return kExitUsage;
    if (const auto wire = in.Value("wire")) {
        const auto known = std::find_if(std::begin(kWires), std::end(kWires),
                                        [&](const auto& w) { return *wire == w.first; });
        if (known == std::end(kWires))
            return in.UsageError("--wire: нужно whole, bytes, fifo8 или usb16");
        config.wire = known->second;
    }
    config.latencyMs = static_cast<int>(latency);
    if (!in.Number("rate", 0, 57600, rate) ||
        (rate != 9600 && rate != 19200 && rate != 38400 && rate != 57600))
        return in.UsageError("--rate: нужно 9600, 19200, 38400 или 57600");
    config.lineAddress = static_cast<int>(line);
    config.unitAddress = static_cast<int>(unit);
    config.rate = static_cast<int>(rate);
    config.dropLineAfter = drop;
    config.seed = static_cast<unsigned>(seed);
    config.consoleSide = in.Has("console-side");
    for (const auto& [name, fault] : kFaults) {
        const auto value = in.Value(name);
        if (value && !ParseFault(*value, config.fault(fault)))
            return in.UsageError("неверное значение --" + std::string(name) + " '" + *value + "'");
    }
    const std::string memory = in.Value("memory").value_or("");
    const std::string link = in.Value("link").value_or("");

#ifdef _WIN32
    // The simulator answers on a pseudo-terminal, which Windows does not have; the window's
    // "Виртуальный прибор" runs it inside the process instead.
    (void)memory;
    (void)link;
    PrintError("имитатор работает только в Linux: в Windows нет псевдотерминалов");
    return kExitIo;
#else
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
    std::string delivery;
    if (config.wire != SimWire::Whole || config.latencyMs > 0) {
        for (const auto& [name, wire] : kWires)
            if (wire == config.wire) delivery = std::string(", ответы ") + name;
        delivery += ", задержка " + std::to_string(config.latencyMs) + " мс";
    }
    std::fprintf(stderr,
                 "torvik7ctl: имитатор на %s (линия %d, ГРЕМУС %d, %d бод%s); Ctrl-C — выход\n",
                 link.empty() ? path.c_str() : link.c_str(), config.lineAddress, config.unitAddress,
                 config.rate, delivery.c_str());
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
#endif
}

} // namespace

const CommandSpec kSimCommand = {
    .name = "sim",
    .summary = "запустить имитатор ГРЕМУС с прибором ТОРВИК-7",
    .about = "Имитатор ГРЕМУС с одним прибором ТОРВИК-7 на псевдотерминале. Печатает путь\n"
             "к порту и работает до Ctrl-C; память сохраняется в --memory при выходе.\n"
             "НЕИСПР: ЧИСЛО[@ПРОПУСК] — столько запросов после первых ПРОПУСК,\n"
             "или p=ВЕРОЯТНОСТЬ[@ПРОПУСК] — каждый запрос с этой вероятностью.\n"
             "ВИД: whole — ответ целиком; bytes — по байту за время символа; fifo8 — как\n"
             "UART с FIFO на 8 байт (остаток через 4 символа); usb16 — как USB-переходник,\n"
             "отдающий принятое по таймеру 16 мс.",
    .options =
        {
            {.names = "line", .value = "N", .help = "адрес прибора на линии связи, 0..63 (0)"},
            {.names = "unit", .value = "N", .help = "адрес ГРЕМУС, 0..7 (0)"},
            {.names = "rate",
             .value = "R",
             .help = "скорость: 9600, 19200, 38400 или 57600 (9600)"},
            {.names = "memory",
             .value = "ФАЙЛ",
             .help = "память прибора, 2048 байт (нет файла: заводская)",
             .valueWord = "имя файла"},
            {.names = "link", .value = "ПУТЬ", .help = "символическая ссылка на псевдотерминал"},
            {.names = "no-answer", .value = "НЕИСПР", .help = "ГРЕМУС не отвечает"},
            {.names = "corrupt-xor", .value = "НЕИСПР", .help = "искажённая контрольная сумма"},
            {.names = "not-ready", .value = "НЕИСПР", .help = "прибор не готов"},
            {.names = "too-short", .value = "НЕИСПР", .help = "короткий ответ"},
            {.names = "wrong-sum", .value = "НЕИСПР", .help = "неверная сумма в ответе"},
            {.names = "wrong-address", .value = "НЕИСПР", .help = "ответ с чужим адресом"},
            {.names = "verify-mismatch", .value = "НЕИСПР", .help = "запись не подтверждается"},
            {.names = "console-side", .help = "прибор отвечает идентификатором пультового блока"},
            {.names = "drop-after", .value = "N", .help = "оборвать линию после N кадров"},
            {.names = "seed",
             .value = "N",
             .help = "начальное число для случайных неисправностей (1)"},
            {.names = "wire",
             .value = "ВИД",
             .help = "как ответы доходят до компьютера: whole, bytes, fifo8, usb16 (whole)"},
            {.names = "latency",
             .value = "МС",
             .help = "задержка перед первым символом ответа, 0..1000 мс (0)"},
        },
    .exitCodes = "  0   остановлен сигналом, память сохранена\n"
                 "  64  ошибка в командной строке\n"
                 "  65  файл --memory не является памятью прибора (2048 байт)\n"
                 "  74  псевдотерминал, ссылка или память не создаются\n",
    .run = Sim,
};
