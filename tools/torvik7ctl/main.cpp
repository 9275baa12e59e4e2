// torvik7ctl: settings files, device images and the device itself from a terminal.
#include "Commands.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

// Windows hands main() its arguments in the ANSI code page, which loses Cyrillic file
// names; the program works in UTF-8 throughout, so it takes them from the wide command line.
// The console is switched to UTF-8 too, so cmd.exe and PowerShell show the Russian texts.
int main(int, char**) {
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(n > 0 ? static_cast<std::size_t>(n - 1) : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return RunCommandLine(kCommands, count, argv.data());
}
#else
int main(int argc, char** argv) {
    return RunCommandLine(kCommands, argc, argv);
}
#endif
