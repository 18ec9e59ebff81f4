// The command line of varnis-cli: commands, form options and their words.
#pragma once

#include "apps/cli/CliText.h"
#include "config/CardSettings.h"

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace varnis::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

inline constexpr int kDefaultReplyTimeoutMs = 30000;

enum class Command : std::uint8_t { None, Help, Version, Frame, Make, Ports };

// What the user puts into the form. Unset fields keep the connection defaults.
struct FormChoices {
    std::optional<OutputMode> m_eMode;
    std::optional<InterfaceKind> m_eInterface;
    std::optional<WiegandLength> m_eWiegandLength;
    std::optional<AbaFormat> m_eAbaFormat;
    std::optional<ImpulseTiming> m_eImpulseTiming;
    std::optional<std::string> m_strImpulseWidth;
    std::optional<std::string> m_strImpulseInterval;
    std::optional<int> m_nSector;
    std::optional<int> m_nBlock;
    std::optional<int> m_nStartAddress;
    std::optional<int> m_nEndAddress;
    std::optional<ByteOrder> m_eByteOrder;
    std::optional<KeyType> m_eKeyType;
    std::optional<std::string> m_strKey;
    std::optional<std::string> m_strPassword;
    std::optional<bool> m_bPasswordProtection;
    std::optional<bool> m_bConfigLocking;
};

struct CliOptions {
    Command m_eCommand = Command::None;
    FormChoices m_form;
    // Files holding the key and the password ("-": standard input); what
    // they hold is read into m_form before anything is asked or sent.
    std::optional<std::string> m_strKeyFile;
    std::optional<std::string> m_strPasswordFile;
    std::optional<std::string> m_strPort;  // "COMn" or a device path
    int m_nCount = 1;
    bool m_bYes = false;
    int m_nReplyTimeoutMs = kDefaultReplyTimeoutMs;
    bool m_bTrace = false;
};

// Parses argv[1..]. On a usage error returns false with a one-line message
// (without the program name) in strError.
bool ParseCommandLine(std::span<const std::string_view> args, CliOptions& out, std::string& strError);

// The --help text, and the --version line (without its end).
std::string UsageText();
std::string VersionText();

// The words the options take, case-insensitive. False for anything else.
bool ParseAbaFormatWord(std::string_view word, AbaFormat& out);

}  // namespace varnis::cli
