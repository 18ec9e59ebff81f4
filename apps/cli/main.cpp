// varnis-cli: makes configuration cards from the command line.
#include "apps/cli/CliOptions.h"
#include "apps/cli/CliRun.h"
#include "apps/cli/SecretFiles.h"
#include "apps/SystemLibraries.h"
#include "platform/ProgramArguments.h"
#include "platform/StandardOutput.h"
#include "platform/Terminal.h"
#include "serial/SerialNotify.h"

#include <csignal>
#include <iostream>
#include <string_view>
#include <vector>

namespace {

int Run(const varnis::cli::CliOptions& options)
{
    using namespace varnis::cli;
    switch (options.m_eCommand) {
    case Command::Frame: return RunFrame(options, std::cout, std::cerr);
    case Command::Make: return RunMake(options, std::cout, std::cerr, 0);
    case Command::Ports: return RunPorts(options, std::cout, std::cerr);
    case Command::Version: std::cout << VersionText() << '\n'; return kExitOk;
    case Command::Help:
    case Command::None: break;
    }
    std::cout << UsageText();
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    varnis::RestrictDllSearch();
    using namespace varnis::cli;
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);  // a closed reader is a write error, not the end
#endif
    const varnis::console::Utf8Console console;  // its page back after the last output, on every way out
    varnis::console::StandardOutput output;
    // Standard output goes through `output` while it lives; on every way out
    // of main the stream gets its own buffer back before `output` is gone,
    // since the stream is flushed once more when the program ends.
    struct BufferRestorer {
        std::streambuf* m_pOriginal;
        ~BufferRestorer() { std::cout.rdbuf(m_pOriginal); }
    } const restorer{std::cout.rdbuf(&output)};
    const std::vector<std::string> words = varnis::console::ProgramArguments(argc, argv);
    const std::vector<std::string_view> args(words.begin(), words.end());
    CliOptions options;
    std::string strError;
    if (!ParseCommandLine(args, options, strError)) {
        std::cerr << "varnis-cli: " << strError << " (see varnis-cli --help)" << std::endl;
        return kExitUsage;
    }
    // The key and the password from their files before anything is asked.
    if (!ReadSecretFiles(options, 0, strError)) {
        std::cerr << "varnis-cli: " << strError << std::endl;
        return kExitUsage;
    }
    if (!options.m_bTrace) {
        varnis::SetTraceSink([](std::string_view) {});
    }
    int nStatus = Run(options);
    // Output that was lost is a failure whatever the command made of it.
    std::cout.flush();
    std::cout.rdbuf(nullptr);
    if (!output.Finish(strError)) {
        std::cerr << "varnis-cli: " << strError << std::endl;
        if (nStatus == kExitOk) {
            nStatus = kExitFailure;
        }
    }
    return nStatus;
}
