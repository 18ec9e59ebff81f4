// What the command-line tests share: the program's path, the window's build
// reproduced with config/ alone, and frames as text.
#pragma once

#include "cli/ChildProcess.h"
#include "config/CardSettings.h"
#include "config/SettingsBuild.h"
#include "sim/SimDevice.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnis::test {

inline const std::string kCliPath = VARNIS_CLI_PATH;

// A form as the window holds it after its clicks, for BuildSettingsBlock.
class FakeForm : public IBuildForm {
public:
    CardSettings m_settings;
    std::vector<std::string> m_messages;  // "caption: text"

    void ShowMessage(std::string_view text, std::string_view caption) override
    {
        m_messages.push_back(std::string(caption) + ": " + std::string(text));
    }
    bool IsPortOpen() const override { return true; }
    void ReadFormTexts() override {}  // the texts are typed straight into m_settings
    const CardSettings& Settings() const override { return m_settings; }
    int SelectedSector() const override { return m_settings.m_nSector; }
    int SelectedBlock() const override { return m_settings.m_nBlock; }
    int SelectedStartAddress() const override { return m_settings.m_nStartAddress; }
    int SelectedEndAddress() const override { return m_settings.m_nEndAddress; }
};

// The frame the window sends after a connection and then `clicks` (which
// use the Choose* rules and type into the settings).
ConfigurationFrame WindowFrame(const std::function<void(CardSettings&, SettingsBlock&)>& clicks);

std::string FrameText(const ConfigurationFrame& frame);
std::string FrameText(const std::vector<std::uint8_t>& bytes);

// Runs varnis-cli with `args`.
RunResult RunCli(const std::vector<std::string>& args, std::string_view input = {});

struct DeviceLog;

// The simulated device on a pseudo-terminal, for `make --port`.
class DeviceOnPty {
public:
    bool Start(const SimBehaviour& behaviour = {});
    const std::string& Path() const { return m_pty->SlavePath(); }
    SimDevice& Device() { return *m_pDevice; }
    // `varnis-cli make --port PATH` with `args` after it.
    RunResult Make(const std::vector<std::string>& args, std::string_view input = {}) const;
    // Checks that no byte reached the device before this call: a marker byte
    // is written into the line behind whatever came before it, and once the
    // device has read the marker, it must not have seen a probe or a frame.
    void ExpectNothingSentBefore();

private:
    // Declared so that the device stops before its line goes.
    std::optional<PtyPair> m_pty;
    std::unique_ptr<SimDevice> m_pDevice;
    std::shared_ptr<DeviceLog> m_pLog;
};

}  // namespace varnis::test
