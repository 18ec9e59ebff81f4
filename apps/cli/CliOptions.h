// The command line of varnis-cli: commands, form options and their words.
#pragma once

#include "config/TextCharacters.h"
#include "ui/core/FormChoices.h"

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

}  // namespace varnis::cli
