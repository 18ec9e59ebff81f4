// varnis-cli frame: the configuration frame a form gives, without a device.
#include "apps/cli/CliRun.h"
#include "apps/cli/CliWindow.h"

#include <array>
#include <cstdio>

namespace varnis::cli {

std::string FormatFrame(const ConfigurationFrame& frame)
{
    std::string text;
    text.reserve(frame.size() * 3);
    for (const std::uint8_t byte : frame) {
        std::array<char, 4> hex{};
        std::snprintf(hex.data(), hex.size(), "%02X", static_cast<unsigned>(byte));
        if (!text.empty()) {
            text.push_back(' ');
        }
        text.append(hex.data());
    }
    return text;
}

int RunFrame(const CliOptions& options, std::ostream& out, std::ostream& err)
{
    // Nothing is sent, so nothing is locked: the frame shows what the card would carry.
    CliWindow window(options.m_form, true, out, err);
    // No device is involved here: the form counts as connected, so the build
    // finds the port open and starts from the connection defaults.
    window.ConnectWithoutDevice();
    if (!window.BuildSettings()) {
        return kExitFailure;
    }
    out << FormatFrame(AssembleConfigurationFrame(window.Build())) << std::endl;
    return kExitOk;
}

}  // namespace varnis::cli
