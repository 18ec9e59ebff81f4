#include "cli/CliTestSupport.h"

#include "config/ChoiceRules.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace varnis::test {

ConfigurationFrame WindowFrame(const std::function<void(CardSettings&, SettingsBlock&)>& clicks)
{
    FakeForm form;
    BuildState state;
    ApplyConnectionDefaults(form.m_settings, state.m_settingsBlock);
    clicks(form.m_settings, state.m_settingsBlock);
    if (!BuildSettingsBlock(form, state)) {
        return {};
    }
    return AssembleConfigurationFrame(state);
}

std::string FrameText(const std::vector<std::uint8_t>& bytes)
{
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

std::string FrameText(const ConfigurationFrame& frame)
{
    return FrameText(std::vector<std::uint8_t>(frame.begin(), frame.end()));
}

RunResult RunCli(const std::vector<std::string>& args, std::string_view input)
{
    std::vector<std::string> argv{kCliPath};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, input);
}

// The device's log lines, shared with its thread.
struct DeviceLog {
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

bool DeviceOnPty::Start(const SimBehaviour& behaviour)
{
    m_pty = PtyPair::Open();
    if (!m_pty) {
        return false;
    }
    m_pDevice = std::make_unique<SimDevice>(m_pty->MasterFd(), behaviour);
    m_pLog = std::make_shared<DeviceLog>();
    m_pDevice->SetLogger([pLog = m_pLog](std::string_view line) {
        const std::lock_guard lock(pLog->m_mutex);
        pLog->m_lines.emplace_back(line);
        pLog->m_changed.notify_all();
    });
    return m_pDevice->Start();
}

RunResult DeviceOnPty::Make(const std::vector<std::string>& args, std::string_view input) const
{
    std::vector<std::string> argv{kCliPath, "make", "--port", m_pty->SlavePath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, input);
}

void DeviceOnPty::ExpectNothingSentBefore()
{
    constexpr char kMarker = 0x55;  // no byte of the protocol: the device logs and ignores it
    const int hLine = ::open(m_pty->SlavePath().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(hLine, 0);
    ASSERT_EQ(::write(hLine, &kMarker, 1), 1);
    ::close(hLine);
    std::unique_lock lock(m_pLog->m_mutex);
    const bool bMarkerRead = m_pLog->m_changed.wait_for(lock, std::chrono::seconds(30), [this] {
        return std::any_of(m_pLog->m_lines.begin(), m_pLog->m_lines.end(),
                           [](const std::string& line) { return line.find("ignored 0x55") != std::string::npos; });
    });
    ASSERT_TRUE(bMarkerRead);
    EXPECT_EQ(m_pDevice->ProbesAnswered(), 0U) << "a refused run probed the device";
    EXPECT_EQ(m_pDevice->ExchangeCount(), 0U) << "a refused run sent a frame";
}

}  // namespace varnis::test
