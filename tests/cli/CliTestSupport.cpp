#include "cli/CliTestSupport.h"

#include "config/ChoiceRules.h"

#include <cstdio>

namespace varnis::test {

ConfigurationFrame WindowFrame(const std::function<void(CardSettings&, SettingsBlock&)>& clicks) {
    FakeForm form;
    BuildState state;
    ApplyConnectionDefaults(form.m_settings, state.m_settingsBlock);
    clicks(form.m_settings, state.m_settingsBlock);
    if (!BuildSettingsBlock(form, state)) {
        return {};
    }
    return AssembleConfigurationFrame(state);
}

std::string FrameText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(b));
        if (!text.empty()) {
            text += ' ';
        }
        text += hex;
    }
    return text;
}

std::string FrameText(const ConfigurationFrame& frame) {
    return FrameText(std::vector<std::uint8_t>(frame.begin(), frame.end()));
}

RunResult RunCli(const std::vector<std::string>& args, std::string_view input) {
    std::vector<std::string> argv{kCliPath};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, input);
}

}  // namespace varnis::test
