// The command line as the system keeps it, in UTF-16: what main() receives is
// already converted to the ANSI code page, and a character that page lacks is
// gone ("：" becomes ":", "é" a byte of another encoding).
#include "platform/ProgramArguments.h"

#include "platform/win32/WideText.h"

#include <windows.h>

#include <shellapi.h>

#include <memory>
#include <string_view>

namespace varnis::console {

namespace {

struct LocalFreer {
    void operator()(LPWSTR* p) const { LocalFree(p); }
};

// Whether anything follows the program's name on `commandLine`, read as
// CommandLineToArgvW reads the name: up to the closing quote when it starts
// with one, otherwise up to the first space or tab. A window's usual start
// has nothing there and then needs no splitting, nor the shell's library,
// which costs more to load than the rest of its start.
bool HasArguments(std::wstring_view commandLine)
{
    size_t nAt = 0;
    if (commandLine.starts_with(L'"')) {
        nAt = commandLine.find(L'"', 1);
        nAt = nAt == std::wstring_view::npos ? commandLine.size() : nAt + 1;
    } else {
        nAt = commandLine.find_first_of(L" \t");
        nAt = nAt == std::wstring_view::npos ? commandLine.size() : nAt;
    }
    return commandLine.find_first_not_of(L" \t", nAt) != std::wstring_view::npos;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    if (!HasArguments(GetCommandLineW()))
        return {};
    int nWords = 0;
    const std::unique_ptr<LPWSTR[], LocalFreer> words(CommandLineToArgvW(GetCommandLineW(), &nWords));
    std::vector<std::string> args;
    if (words == nullptr) {
        // Without memory for the split: the C runtime's words are all there is.
        for (int n = 1; n < argc; ++n)
            args.emplace_back(argv[n]);
        return args;
    }
    for (int n = 1; n < nWords; ++n)
        args.push_back(Utf8FromWide(words[n]));
    return args;
}

}  // namespace varnis::console
