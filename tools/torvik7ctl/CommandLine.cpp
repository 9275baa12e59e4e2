// The one command line of torvik7ctl, on QCommandLineParser.
#include "CommandLine.h"

#include <QCommandLineParser>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

std::vector<std::string> Names(const OptionSpec& option) {
    std::vector<std::string> names;
    std::string all = option.names;
    for (std::size_t start = 0;;) {
        const std::size_t comma = all.find(',', start);
        names.push_back(all.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return names;
}

std::string LongName(const OptionSpec& option) {
    return Names(option).back();
}

// The option as the help and the messages write it: "-o" when it has a letter, else "--base".
std::string Spelled(const OptionSpec& option) {
    const std::string first = Names(option).front();
    return (first.size() == 1 ? "-" : "--") + first;
}

const OptionSpec kHelp = {.names = "h,help", .help = "эта справка"};

std::vector<OptionSpec> AllOptions(const CommandSpec& spec) {
    std::vector<OptionSpec> options = spec.options;
    options.push_back(kHelp);
    return options;
}

const OptionSpec* Find(const std::vector<OptionSpec>& options, const std::string& name) {
    for (const auto& option : options)
        for (const auto& n : Names(option))
            if (n == name) return &option;
    return nullptr;
}

// Arguments go through Latin-1 so that every byte of a file name comes back as it was,
// whatever the locale makes of it.
QString ToQt(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
std::string FromQt(const QString& text) {
    return text.toLatin1().toStdString();
}

std::size_t Width(const std::string& utf8) {
    std::size_t n = 0;
    for (const char c : utf8)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

int Usage(const CommandSpec& spec, const std::string& text) {
    PrintError(std::string(spec.name) + ": " + text + " (справка: torvik7ctl " + spec.name +
               " --help)");
    return kExitUsage;
}

// What is wrong with a line QCommandLineParser refused, told as the tool tells it: the
// first argument in order that is an unknown option, a flag given a value, or an option
// whose value is missing.
std::string Diagnose(const std::vector<OptionSpec>& options, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") break;
        if (a.size() < 2 || a[0] != '-') continue;
        const std::string unknown = "неизвестный параметр '" + a + "'";
        const auto missing = [&](const OptionSpec& o) {
            return "после " + a + " нужно " + o.valueWord;
        };
        if (a[1] == '-') {
            const std::size_t eq = a.find('=');
            const OptionSpec* o = Find(options, a.substr(2, eq == a.npos ? a.npos : eq - 2));
            if (!o || (!o->value && eq != a.npos)) return unknown;
            if (o->value && eq == a.npos && ++i >= args.size()) return missing(*o);
            continue;
        }
        for (std::size_t k = 1; k < a.size(); ++k) {
            const OptionSpec* o = Find(options, a.substr(k, 1));
            if (!o) return unknown;
            if (!o->value) continue;
            if (k + 1 == a.size() && ++i >= args.size()) return missing(*o);
            break;
        }
    }
    return "ошибка в командной строке";
}

std::string UsageLine(const CommandSpec& spec) {
    std::vector<std::string> words;
    for (const auto& a : spec.arguments)
        words.push_back(a.ifMissing ? a.name : "[" + std::string(a.name) + "]");
    for (const auto& o : spec.options) {
        std::string word = Spelled(o) + (o.value ? " " + std::string(o.value) : "");
        words.push_back(o.ifMissing ? word : "[" + word + "]");
    }
    const std::string head = "Использование: torvik7ctl " + std::string(spec.name);
    std::string out = head;
    std::size_t column = Width(head);
    for (const auto& w : words) {
        if (column + 1 + Width(w) > 90) {
            out += "\n" + std::string(Width(head), ' ');
            column = Width(head);
        }
        out += " " + w;
        column += 1 + Width(w);
    }
    return out + "\n";
}

void PrintUsage(const std::vector<const CommandSpec*>& commands, FILE* out,
                const std::string& family = "") {
    std::fprintf(out, "Использование: torvik7ctl %s [ПАРАМЕТРЫ]\n\nКоманды:\n",
                 family.empty() ? "КОМАНДА" : (family + " КОМАНДА").c_str());
    std::size_t width = 0;
    for (const auto* c : commands)
        width = std::max(width, Width(c->name));
    for (const auto* c : commands) {
        if (!family.empty() && std::string(c->name).rfind(family + " ", 0) != 0) continue;
        std::fprintf(out, "  %s%s  %s\n", c->name, std::string(width - Width(c->name), ' ').c_str(),
                     c->summary);
    }
    std::fprintf(out, "\nСправка по команде: torvik7ctl КОМАНДА --help\n"
                      "\nКоды завершения: 0 - успешно, 1 - diff: файлы различаются,\n"
                      "64 - ошибка в командной строке, 65 - вход не является файлом настроек\n"
                      "или образом памяти (неверный размер), 74 - ошибка чтения или записи.\n"
                      "read и write завершаются кодом результата обмена с прибором.\n");
}

int Run(const CommandSpec& spec, const std::vector<std::string>& args) {
    const std::vector<OptionSpec> options = AllOptions(spec);
    QCommandLineParser parser;
    for (const auto& o : options) {
        QStringList names;
        for (const auto& n : Names(o))
            names << ToQt(n);
        parser.addOption(o.value ? QCommandLineOption(names, QString(), QStringLiteral("x"))
                                 : QCommandLineOption(names));
    }
    QStringList line{QStringLiteral("torvik7ctl")};
    for (const auto& a : args)
        line << ToQt(a);
    const bool parsed = parser.parse(line);
    // Help wins over everything else on the line, wherever it stands.
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(CommandHelp(spec).c_str(), stdout);
        return kExitOk;
    }
    if (!parsed) return Usage(spec, Diagnose(options, args));

    std::vector<std::pair<std::string, std::string>> values;
    for (const auto& o : spec.options) {
        const QString name = ToQt(LongName(o));
        if (!parser.isSet(name)) continue;
        if (!o.value) {
            values.push_back({LongName(o), ""});
            continue;
        }
        const QStringList given = parser.values(name);
        if (given.size() > 1) return Usage(spec, "параметр " + Spelled(o) + " указан дважды");
        if (given.front().isEmpty())
            return Usage(spec, std::string("пустое ") + o.valueWord + " после " + Spelled(o));
        values.push_back({LongName(o), FromQt(given.front())});
    }
    std::vector<std::string> arguments;
    for (const auto& a : parser.positionalArguments())
        arguments.push_back(FromQt(a));
    for (std::size_t i = 0; i < arguments.size() && i < spec.arguments.size(); ++i)
        if (arguments[i].empty())
            return Usage(spec, std::string("пустой параметр на месте ") + spec.arguments[i].name);
    for (std::size_t i = arguments.size(); i < spec.arguments.size(); ++i)
        if (spec.arguments[i].ifMissing) return Usage(spec, spec.arguments[i].ifMissing);
    if (arguments.size() > spec.arguments.size())
        return Usage(spec, "лишний параметр '" + arguments[spec.arguments.size()] + "'");
    for (const auto& o : spec.options)
        if (o.ifMissing && !parser.isSet(ToQt(LongName(o)))) return Usage(spec, o.ifMissing);
    return spec.run(Invocation(spec, std::move(arguments), std::move(values)));
}

} // namespace

void PrintError(const std::string& text) {
    std::fprintf(stderr, "torvik7ctl: %s\n", text.c_str());
}

bool ParseNumber(const std::string& text, long min, long max, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || v < min || v > max) return false;
    value = v;
    return true;
}

bool Invocation::Has(std::string_view name) const {
    for (const auto& [n, v] : values_)
        if (n == name) return true;
    return false;
}

std::optional<std::string> Invocation::Value(std::string_view name) const {
    for (const auto& [n, v] : values_)
        if (n == name) return v;
    return std::nullopt;
}

bool Invocation::Number(std::string_view name, long min, long max, long& value) const {
    const auto text = Value(name);
    if (!text || ParseNumber(*text, min, max, value)) return true;
    UsageError("--" + std::string(name) + ": нужно число " + std::to_string(min) + ".." +
               std::to_string(max));
    return false;
}

int Invocation::UsageError(const std::string& text) const {
    return Usage(spec_, text);
}

std::string CommandHelp(const CommandSpec& spec) {
    std::string out = UsageLine(spec) + "\n" + spec.about + "\n\nПараметры:\n";
    const std::vector<OptionSpec> options = AllOptions(spec);
    std::vector<std::string> columns;
    std::size_t width = 0;
    for (const auto& o : options) {
        std::string names;
        for (const auto& n : Names(o))
            names += (names.empty() ? "" : ", ") + std::string(n.size() == 1 ? "-" : "--") + n;
        if (o.value) names += " " + std::string(o.value);
        width = std::max(width, Width(names));
        columns.push_back(names);
    }
    for (std::size_t i = 0; i < options.size(); ++i)
        out += "  " + columns[i] + std::string(width - Width(columns[i]) + 2, ' ') +
               options[i].help + "\n";
    return out + "\nКоды завершения:\n" + spec.exitCodes;
}

int RunCommandLine(const std::vector<const CommandSpec*>& commands, int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintUsage(commands, stderr);
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintUsage(commands, stdout);
        return kExitOk;
    }
    bool family = false;
    for (const auto* c : commands) {
        const std::string name = c->name;
        if (args.size() >= 2 && name == args[0] + " " + args[1])
            return Run(*c, std::vector<std::string>(args.begin() + 2, args.end()));
        if (name == args[0]) return Run(*c, std::vector<std::string>(args.begin() + 1, args.end()));
        family = family || name.rfind(args[0] + " ", 0) == 0;
    }
    if (family && (args.size() < 2 || args[1] == "--help" || args[1] == "-h")) {
        PrintUsage(commands, args.size() < 2 ? stderr : stdout, args[0]);
        return args.size() < 2 ? kExitUsage : kExitOk;
    }
    const std::string name = family ? args[0] + " " + args[1] : args[0];
    PrintError("неизвестная команда '" + name + "' (см. torvik7ctl " +
               (family ? args[0] + " " : std::string()) + "--help)");
    return kExitUsage;
}
