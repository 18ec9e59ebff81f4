// A recording stand-in for the window, as far as a build needs it.
#pragma once

#include "config/ChoiceRules.h"
#include "config/SettingsBuild.h"

#include <string>
#include <vector>

namespace varnis::test {

struct ShownMessage {
    std::string m_strText;
    std::string m_strCaption;
    bool operator==(const ShownMessage&) const = default;
};

class RecordingSink : public IMessageSink {
public:
    void ShowMessage(std::string_view text, std::string_view caption) override
    {
        m_messages.push_back({std::string(text), std::string(caption)});
    }
    std::vector<ShownMessage> m_messages;
};

// The edit fields and lists of the form. ReadFormTexts copies the four texts
// into the settings, as the window does; every read is counted. The record
// starts without a key, so only ReadFormTexts brings the field's text in.
class FakeBuildForm : public IBuildForm {
public:
    FakeBuildForm() { m_settings.m_strKey.clear(); }
    bool IsPortOpen() const override { return m_bPortOpen; }
    void ReadFormTexts() override
    {
        ++m_nTextReads;
        m_settings.m_strKey = m_strKeyField;
        m_settings.m_strImpulseInterval = m_strIntervalField;
        m_settings.m_strImpulseWidth = m_strWidthField;
        m_settings.m_strPassword = m_strPasswordField;
    }
    const CardSettings& Settings() const override { return m_settings; }
    int SelectedSector() const override { return ++m_nListReads, m_nSector; }
    int SelectedBlock() const override { return ++m_nListReads, m_nBlock; }
    int SelectedStartAddress() const override { return ++m_nListReads, m_nStart; }
    int SelectedEndAddress() const override { return ++m_nListReads, m_nEnd; }
    void ShowMessage(std::string_view text, std::string_view caption) override
    {
        m_messages.push_back({std::string(text), std::string(caption)});
    }

    bool m_bPortOpen = true;
    CardSettings m_settings;
    std::string m_strKeyField{kDefaultKeyText}, m_strIntervalField{kDefaultImpulseIntervalText};
    std::string m_strWidthField{kDefaultImpulseWidthText}, m_strPasswordField{kDefaultPasswordText};
    int m_nSector = 0, m_nBlock = 0, m_nStart = 0, m_nEnd = 4;
    int m_nTextReads = 0;
    mutable int m_nListReads = 0;
    std::vector<ShownMessage> m_messages;
};

// The worked sector-data example on a connected form: sector 2, block 1,
// start 2, end 6, KEY B, most significant byte first, ABA "6H to 10D",
// locking on and password protection enabled.
inline void ChooseSectorDataExample(FakeBuildForm& form, SettingsBlock& block)
{
    CardSettings& s = form.m_settings;
    ChooseOutputMode(s, block, OutputMode::SectorData);
    ChooseInterface(s, block, InterfaceKind::Aba);
    ChooseAbaFormat(s, block, AbaFormat::H6ToD10);
    ChooseKeyType(s, block, KeyType::KeyB);
    ChooseByteOrder(s, block, ByteOrder::MsbFirst);
    ChoosePasswordProtection(s, block, true);
    s.m_bConfigLocking = true;
    form.m_nSector = 2, form.m_nBlock = 1, form.m_nStart = 2, form.m_nEnd = 6;
}

}  // namespace varnis::test
