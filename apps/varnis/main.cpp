// The desktop tool on the machine's own serial devices. The window takes no
// option; --help and --version are answered without a display.
#include "apps/varnis/ShownArgument.h"
#include "ui/qt/VarnisApp.h"
#include "platform/StandardOutput.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

varnis::VarnisApp theApp;

constexpr std::string_view kHelp =
    "Usage: varnis [--help | --version]\n"
    "The desktop window that makes configuration cards for the TLR4A7K card reader\n"
    "through the card-writing generator device on a serial line. OpenPort searches\n"
    "COM1 to COM10 for the device; Make Provin checks the form, sends the\n"
    "configuration frame and shows the device's answer. The window takes no other\n"
    "option and needs a display; varnis-cli makes cards without one.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Exit status: 0 when the window was closed, 1 without a display, 2 on a bad\n"
    "option.\n";

// Writes `text` to standard output; lost output is a failure.
int Print(std::string_view text)
{
    std::string strError;
    if (!varnis::console::PrintAndFinish(text, strError)) {
        std::fprintf(stderr, "varnis: %s\n", strError.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    bool bHelp = false;
    for (int n = 1; n < argc; ++n) {
        const std::string_view arg = argv[n];
        if (arg == "--help" || arg == "-h") {
            bHelp = true;
        } else if (arg != "--version") {
            std::fprintf(stderr, "varnis: %s '%s' (the window takes no option; see varnis --help)\n",
                         arg.starts_with("-") ? "unknown option" : "unexpected argument",
                         varnis::ShownArgument(arg).c_str());
            return 2;
        }
    }
    if (argc > 1)
        return bHelp ? Print(kHelp) : Print("varnis " VARNIS_VERSION "\n");
    return theApp.Run(argc, argv);
}
