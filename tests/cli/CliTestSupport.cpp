#include "cli/CliTestSupport.h"

#include "config/ChoiceRules.h"

#include <gtest/gtest.h>

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

bool DeviceOnPty::Start(const SimBehaviour& behaviour) {
    m_pty = PtyPair::Open();
    if (!m_pty) {
        return false;
    }
    m_pDevice = std::make_unique<SimDevice>(m_pty->MasterFd(), behaviour);
    return m_pDevice->Start();
}

RunResult DeviceOnPty::Make(const std::vector<std::string>& args, std::string_view input) const {
    std::vector<std::string> argv{kCliPath, "make", "--port", m_pty->SlavePath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, input);
}

void DeviceOnPty::ExpectNothingSentBefore() {
    const RunResult result = Make({});
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    // The search's probe and the STX that starts the card's exchange.
    EXPECT_EQ(m_pDevice->ProbesAnswered(), 2U) << "a refused run probed the device";
    EXPECT_EQ(m_pDevice->ExchangeCount(), 1U) << "a refused run sent a frame";
}

}  // namespace varnis::test
