// The one command line of torvik7ctl. A command is declared, not parsed by hand: its options,
// its arguments, its help and its exit codes live in one CommandSpec, and every command takes
// options the same way ("--opt value", "--opt=value", "-o FILE", "-oFILE", "--", -h/--help).
// A bad command line ends in one "torvik7ctl: ..." line on stderr and exit status 64.
//
// A command, beside the code that runs it (and listed in kCommands of Commands.h):
//
//     int Export(const Invocation& in) { ... in.Argument(0) ... *in.Value("output") ... }
//     const CommandSpec kJournalExportCommand = {
//         .name = "journal export",
//         .summary = "...",
//         .about = "...",
//         .arguments = {{"ID", "не указана запись журнала"}},
//         .options = {{.names = "o,output", .value = "ФАЙЛ.stg", .help = "...",
//                      .ifMissing = "не указан выходной файл (-o ФАЙЛ)",
//                      .valueWord = "имя файла"}},
//         .exitCodes = "  0   успешно\n  64  ошибка в командной строке\n",
//         .run = Export,
//     };
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitDiffers = 1; // diff: the files differ
inline constexpr int kExitUsage = 64;  // bad command line
inline constexpr int kExitData = 65;   // not a settings file or image (wrong size)
inline constexpr int kExitIo = 74;     // a file could not be read or written

struct OptionSpec {
    // Comma-separated names without dashes, a one-letter name first when there is one:
    // "o,output", "json". The option is asked for by its last (long) name.
    const char* names;
    // The value's name in the help ("ФАЙЛ", "N"); none for a flag.
    const char* value = nullptr;
    const char* help = "";
    // Set for an option that must be given: the error when it is not.
    const char* ifMissing = nullptr;
    // What the value is, for "после -o нужно <what>" and "пустое <what> после -o".
    const char* valueWord = "значение";
};

struct ArgumentSpec {
    const char* name;                // in the usage line: "ФАЙЛ.stg"
    const char* ifMissing = nullptr; // the error when it is not given; none: optional
};

class Invocation;

struct CommandSpec {
    // One word, or two for a command of a family ("journal list").
    const char* name;
    const char* summary; // one line in "torvik7ctl --help"
    const char* about;   // the paragraphs of "torvik7ctl NAME --help"
    std::vector<ArgumentSpec> arguments = {};
    std::vector<OptionSpec> options = {};
    const char* exitCodes; // lines "  N   meaning\n"
    int (*run)(const Invocation&);
};

// A command line parsed against its CommandSpec.
class Invocation {
public:
    Invocation(const CommandSpec& spec, std::vector<std::string> arguments,
               std::vector<std::pair<std::string, std::string>> values)
        : spec_(spec), arguments_(std::move(arguments)), values_(std::move(values)) {}

    const CommandSpec& Spec() const { return spec_; }
    // The arguments that are not options, in order; as many as the spec declares, the
    // optional ones possibly missing.
    const std::vector<std::string>& Arguments() const { return arguments_; }
    const std::string& Argument(std::size_t i) const { return arguments_.at(i); }

    // `name` is the option's long name (its only name when it has one).
    bool Has(std::string_view name) const;
    std::optional<std::string> Value(std::string_view name) const;
    // The option's value as a decimal number min..max, into `value`; untouched when the
    // option is absent. False after reporting a value that is not such a number.
    bool Number(std::string_view name, long min, long max, long& value) const;

    // Reports a bad command line found by the command itself; returns kExitUsage.
    int UsageError(const std::string& text) const;

private:
    const CommandSpec& spec_;
    std::vector<std::string> arguments_;
    std::vector<std::pair<std::string, std::string>> values_; // long name, value
};

// Runs the command named by argv[1] (and argv[2] for a family) from `commands`, or prints
// the usage; returns the exit status.
int RunCommandLine(const std::vector<const CommandSpec*>& commands, int argc, char** argv);

// The help of one command, as "--help" prints it.
std::string CommandHelp(const CommandSpec& spec);

// One line "torvik7ctl: <text>" on stderr.
void PrintError(const std::string& text);

// A decimal number min..max, the whole of `text`.
bool ParseNumber(const std::string& text, long min, long max, long& value);
