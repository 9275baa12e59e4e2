// torvik7ctl: settings files, device images and the device itself from a terminal.
#include "Commands.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Command {
    const char* name;
    int (*run)(const Args&);
    const char* summary;
};

const Command kCommands[] = {
    {"defaults", CmdDefaults, "записать файл настроек по умолчанию"},
    {"encode", CmdEncode, "преобразовать файл настроек в образ памяти прибора (2048 байт)"},
    {"decode", CmdDecode, "преобразовать образ памяти прибора в файл настроек"},
    {"show", CmdShow, "показать все настройки файла (словами или --json)"},
    {"diff", CmdDiff, "перечислить различия двух файлов настроек"},
    {"read", CmdRead, "считать настройки из прибора в файл"},
    {"write", CmdWrite, "загрузить настройки из файла в прибор"},
    {"sim", CmdSim, "запустить имитатор ГРЕМУС с прибором ТОРВИК-7"},
    {"journal", CmdJournal, "журнал обменов: list, show, export, diff, prune"},
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "Использование: torvik7ctl КОМАНДА [ПАРАМЕТРЫ]\n\nКоманды:\n");
    for (const auto& c : kCommands)
        std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
    std::fprintf(out, "\nСправка по команде: torvik7ctl КОМАНДА --help\n"
                      "\nКоды завершения: 0 - успешно, 1 - diff: файлы различаются,\n"
                      "64 - ошибка в командной строке, 65 - вход не является файлом настроек\n"
                      "или образом памяти (неверный размер) или нет такой записи журнала,\n"
                      "74 - ошибка чтения или записи.\n"
                      "read и write завершаются кодом результата обмена с прибором.\n");
}

} // namespace

void PrintError(const std::string& text) {
    std::fprintf(stderr, "torvik7ctl: %s\n", text.c_str());
}

int main(int argc, char** argv) {
    // The same data folder as the window: one journal, one virtual device.
    QCoreApplication::setApplicationName(QStringLiteral("torvik7-setup"));
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return kExitOk;
    }
    for (const auto& c : kCommands) {
        if (name == c.name) return c.run(Args(argv + 2, argv + argc));
    }
    PrintError("неизвестная команда '" + name + "' (см. torvik7ctl --help)");
    return kExitUsage;
}
