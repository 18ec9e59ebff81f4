// The command line as the system keeps it, in UTF-16: what main() receives is
// already converted to the ANSI code page, and a character that page lacks is
// gone ("：" becomes ":", "é" a byte of another encoding).
#include "platform/ProgramArguments.h"

#include "platform/win32/WideText.h"

#include <windows.h>

#include <shellapi.h>

#include <memory>

namespace varnis::console {

namespace {

struct LocalFreer {
    void operator()(LPWSTR* p) const { LocalFree(p); }
};

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
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
