#include "apps/cli/CliOptions.h"

#include "apps/cli/CliSecrets.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <functional>
#include <vector>

namespace varnis::cli {
namespace {

constexpr std::size_t kKeyBytes = kKeyTextLimit / 2;
constexpr std::size_t kPasswordBytes = kPasswordTextLimit / 2;

bool IsBlank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string_view TrimmedBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A decimal number, blanks around it allowed as they are around the words.
bool ParseNumber(std::string_view text, int nMin, int nMax, int& out)
{
    text = TrimmedBlanks(text);
    if (text.empty() || text.size() > 9) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || ptr != text.data() + text.size() || value < nMin || value > nMax) {
        return false;
    }
    out = value;
    return true;
}

std::string Quoted(std::string_view text)
{
    return "'" + Printable(text) + "'";
}

std::string InvalidValue(std::string_view value, std::string_view name, std::string_view expected)
{
    std::string msg = "invalid value " + Quoted(value);
    msg.append(" for ").append(name).append(" (expected ").append(expected).append(")");
    return msg;
}

// The commands an option belongs to.
enum CommandMask : std::uint8_t {
    kForFrame = 1U << 0U,
    kForMake = 1U << 1U,
    kForPorts = 1U << 2U,
    kForForm = kForFrame | kForMake,
    kForAll = kForFrame | kForMake | kForPorts,
};

std::uint8_t MaskOf(Command command)
{
    switch (command) {
    case Command::Frame: return kForFrame;
    case Command::Make: return kForMake;
    case Command::Ports: return kForPorts;
    default: return kForAll;
    }
}

std::string_view NameOf(Command command)
{
    switch (command) {
    case Command::Frame: return "frame";
    case Command::Make: return "make";
    case Command::Ports: return "ports";
    default: return "";
    }
}

std::string CommandsOf(std::uint8_t nMask)
{
    std::string names;
    for (const Command command : {Command::Frame, Command::Make, Command::Ports}) {
        if ((nMask & MaskOf(command)) != 0) {
            names += (names.empty() ? "" : " and ") + std::string(NameOf(command));
        }
    }
    return names;
}

// One option: its name, whether it takes a value, the commands it belongs
// to, and what it does with the value (false + message on error).
struct OptionEntry {
    std::string_view m_strName;
    bool m_bTakesValue;
    std::uint8_t m_nCommands;
    std::function<bool(std::string_view, CliOptions&, std::string&)> m_apply;
};

template <typename T>
OptionEntry WordOption(std::string_view name, std::string_view expected, std::optional<T> FormChoices::*member)
{
    return {name, true, kForForm, [name, expected, member](std::string_view value, CliOptions& opts, std::string& err) {
                T parsed{};
                if (!ParseChoiceWord(value, parsed)) {
                    err = InvalidValue(value, name, expected);
                    return false;
                }
                opts.m_form.*member = parsed;
                return true;
            }};
}

OptionEntry ListOption(std::string_view name, int nMax, std::optional<int> FormChoices::*member)
{
    return {name, true, kForForm, [name, nMax, member](std::string_view value, CliOptions& opts, std::string& err) {
                int parsed = 0;
                if (!ParseNumber(value, 0, nMax, parsed)) {
                    err = InvalidValue(value, name, "0 to " + std::to_string(nMax));
                    return false;
                }
                opts.m_form.*member = parsed;
                return true;
            }};
}

// An impulse field: the number as typed, without blanks around it, but no
// longer than the field lets one type; the build checks the number.
OptionEntry ImpulseOption(std::string_view name, std::optional<std::string> FormChoices::*member)
{
    return {name, true, kForForm, [name, member](std::string_view value, CliOptions& opts, std::string& err) {
                const std::string_view number = TrimmedBlanks(value);
                if (CharacterCount(number) > static_cast<std::size_t>(kImpulseTextLimit)) {
                    err = InvalidValue(value, name, "at most " + std::to_string(kImpulseTextLimit) + " characters");
                    return false;
                }
                opts.m_form.*member = std::string(number);
                return true;
            }};
}

// The key and the password: the form's digits, from any common spelling. A
// refused value is not repeated; the message tells what is wrong with it.
OptionEntry HexOption(std::string_view name, std::size_t nBytes, std::optional<std::string> FormChoices::*member)
{
    return {name, true, kForForm, [name, nBytes, member](std::string_view value, CliOptions& opts, std::string& err) {
                std::string digits;
                std::string why;
                if (!ParseSecretDigits(value, nBytes, digits, why)) {
                    err = RefusedSecret(name, {}, why);
                    return false;
                }
                opts.m_form.*member = digits;
                return true;
            }};
}

// A file that holds the key or the password ("-": standard input), read
// before anything else is done.
OptionEntry SecretFileOption(std::string_view name, std::optional<std::string> CliOptions::*member)
{
    return {name, true, kForForm, [name, member](std::string_view value, CliOptions& opts, std::string& err) {
                if (value.empty()) {
                    err = "option '" + std::string(name) + "' needs a file name (or - for standard input)";
                    return false;
                }
                opts.*member = std::string(value);
                return true;
            }};
}

OptionEntry FlagOption(std::string_view name, std::uint8_t nCommands, bool CliOptions::*member)
{
    return {name, false, nCommands, [member](std::string_view, CliOptions& opts, std::string&) {
                opts.*member = true;
                return true;
            }};
}

// The COM names --port takes: on Windows every one the system may give (the
// search tries COM1 to COM10 only), elsewhere the ten the search knows.
#ifdef _WIN32
constexpr int kHighestComName = 256;
constexpr const char* kComNames = "COM1 to COM256 or a device path";
#else
constexpr int kHighestComName = 10;
constexpr const char* kComNames = "COM1 to COM10 or a device path";
#endif

// "COMn" with n from 1 to kHighestComName, blanks around it allowed.
bool ParseComName(std::string_view value, int& n)
{
    const std::string word = Normalised(value);
    return word.size() > 3 && word.rfind("com", 0) == 0 &&
           ParseNumber(std::string_view(word).substr(3), 1, kHighestComName, n);
}

const std::array<OptionEntry, 24>& Options()
{
    static const std::array<OptionEntry, 24> options{{
        FlagOption("--trace", kForAll, &CliOptions::m_bTrace),
        WordOption("--mode", "uid or sector", &FormChoices::m_eMode),
        WordOption("--interface", "wiegand or aba", &FormChoices::m_eInterface),
        WordOption("--wiegand", "26, 34 or 42", &FormChoices::m_eWiegandLength),
        WordOption("--aba", "\"8H to 10D\", \"6H to 8D\", \"6H to 10D\", \"4H+2H to 10D\" or \"4H+2H to 8D\"",
                   &FormChoices::m_eAbaFormat),
        WordOption("--timing", "default or user", &FormChoices::m_eImpulseTiming),
        ImpulseOption("--width", &FormChoices::m_strImpulseWidth),
        ImpulseOption("--interval", &FormChoices::m_strImpulseInterval),
        ListOption("--sector", 15, &FormChoices::m_nSector),
        ListOption("--block", 3, &FormChoices::m_nBlock),
        ListOption("--start", 13, &FormChoices::m_nStartAddress),
        ListOption("--end", 15, &FormChoices::m_nEndAddress),
        WordOption("--order", "msb or lsb", &FormChoices::m_eByteOrder),
        WordOption("--key-type", "a or b", &FormChoices::m_eKeyType),
        HexOption("--key", kKeyBytes, &FormChoices::m_strKey),
        SecretFileOption("--key-file", &CliOptions::m_strKeyFile),
        HexOption("--password", kPasswordBytes, &FormChoices::m_strPassword),
        SecretFileOption("--password-file", &CliOptions::m_strPasswordFile),
        WordOption("--protection", "on or off", &FormChoices::m_bPasswordProtection),
        WordOption("--locking", "on or off", &FormChoices::m_bConfigLocking),
        {"--port", true, kForMake | kForPorts,
         [](std::string_view value, CliOptions& opts, std::string& err) {
             int n = 0;
             const std::string word = Normalised(value);
             if (ParseComName(value, n)) {
                 opts.m_strPort = "COM" + std::to_string(n);
                 return true;
             }
             if (word.empty() || word.rfind("com", 0) == 0) {
                 err = InvalidValue(value, "--port", kComNames);
                 return false;
             }
             opts.m_strPort = std::string(value);
             return true;
         }},
        {"--count", true, kForMake,
         [](std::string_view value, CliOptions& opts, std::string& err) {
             if (!ParseNumber(value, 1, 1000000, opts.m_nCount)) {
                 err = InvalidValue(value, "--count", "a number of cards, 1 or more");
                 return false;
             }
             return true;
         }},
        FlagOption("--yes", kForMake, &CliOptions::m_bYes),
        {"--reply-timeout", true, kForMake,
         [](std::string_view value, CliOptions& opts, std::string& err) {
             if (!ParseNumber(value, 1, 3600000, opts.m_nReplyTimeoutMs)) {
                 err = InvalidValue(value, "--reply-timeout", "milliseconds, 1 to 3600000");
                 return false;
             }
             return true;
         }},
    }};
    return options;
}

const OptionEntry* FindOption(std::string_view name)
{
    for (const auto& entry : Options()) {
        if (entry.m_strName == name) {
            return &entry;
        }
    }
    return nullptr;
}

// An option given on the command line, in the order given.
struct GivenOption {
    const OptionEntry* m_pEntry;
};

// A form setting that counts only under another setting: `m_bGiven` tells
// whether the user set it, `m_bCounts` whether it has an effect as chosen.
struct Dependence {
    std::string_view m_strOption;
    bool m_bGiven;
    bool m_bCounts;
    std::string m_strNeeds;  // the setting it depends on
};

// Every setting given must have an effect on the card under the chosen mode,
// interface and timing; one that has none is refused rather than ignored.
bool CheckSettingsCount(const CliOptions& options, std::string& strError)
{
    const FormChoices& form = options.m_form;
    const CardSettings defaults;
    const OutputMode eMode = form.m_eMode.value_or(defaults.m_eOutputMode);
    const InterfaceKind eInterface = form.m_eInterface.value_or(defaults.m_eInterface);
    const bool bSector = eMode == OutputMode::SectorData;
    const bool bWiegand = eInterface == InterfaceKind::Wiegand;
    const bool bUserTiming = form.m_eImpulseTiming == ImpulseTiming::UserDefined;
    const std::string modeNow = form.m_eMode ? "" : " (the default)";
    const std::string interfaceNow = form.m_eInterface ? "" : " (the default)";
    const std::string sectorNeeds = "--mode sector; it has no effect with --mode uid" + modeNow;
    const std::string abaNeeds = "--interface aba; it has no effect with --interface wiegand" + interfaceNow;
    const std::string wiegandNeeds = "--interface wiegand; it has no effect with --interface aba";
    const std::vector<Dependence> dependences{
        {"--sector", form.m_nSector.has_value(), bSector, sectorNeeds},
        {"--block", form.m_nBlock.has_value(), bSector, sectorNeeds},
        {"--start", form.m_nStartAddress.has_value(), bSector, sectorNeeds},
        {"--end", form.m_nEndAddress.has_value(), bSector, sectorNeeds},
        {"--order", form.m_eByteOrder.has_value(), bSector, sectorNeeds},
        {"--key-type", form.m_eKeyType.has_value(), bSector, sectorNeeds},
        {"--key", form.m_strKey.has_value(), bSector, sectorNeeds},
        {"--key-file", options.m_strKeyFile.has_value(), bSector, sectorNeeds},
        {"--aba", form.m_eAbaFormat.has_value(), !bWiegand, abaNeeds},
        {"--wiegand", form.m_eWiegandLength.has_value(), bWiegand, wiegandNeeds},
        {"--timing", form.m_eImpulseTiming.has_value(), bWiegand, wiegandNeeds},
        {"--width", form.m_strImpulseWidth.has_value(), bWiegand, wiegandNeeds},
        {"--interval", form.m_strImpulseInterval.has_value(), bWiegand, wiegandNeeds},
        // The impulse fields can be typed in only while "User-defined" is chosen.
        {"--width", form.m_strImpulseWidth.has_value(), bUserTiming, "--timing user"},
        {"--interval", form.m_strImpulseInterval.has_value(), bUserTiming, "--timing user"},
    };
    for (const Dependence& d : dependences) {
        if (d.m_bGiven && !d.m_bCounts) {
            strError = "option '" + std::string(d.m_strOption) + "' needs " + d.m_strNeeds;
            return false;
        }
    }
    return true;
}

// What the command line has given so far.
struct CommandLineState {
    CliOptions m_options;
    bool m_bHelp = false;
    bool m_bVersion = false;
    bool m_bOptionsEnded = false;
    std::vector<GivenOption> m_given;
};

// A word that is no option: the command (or "help").
bool TakeCommandWord(std::string_view arg, CommandLineState& state, std::string& strError)
{
    Command command = Command::None;
    if (arg == "frame") {
        command = Command::Frame;
    } else if (arg == "make") {
        command = Command::Make;
    } else if (arg == "ports") {
        command = Command::Ports;
    } else if (arg == "help") {
        command = Command::Help;
    }
    if (state.m_options.m_eCommand != Command::None) {
        strError = "unexpected argument " + Quoted(arg);
        return false;
    }
    if (command == Command::None) {
        strError = "unknown command " + Quoted(arg) + " (expected frame, make or ports)";
        return false;
    }
    if (command == Command::Help) {
        state.m_bHelp = true;
    } else {
        state.m_options.m_eCommand = command;
    }
    return true;
}

// The option at args[i] and its value (which may be the next word: then `i`
// moves on to it).
bool TakeOption(std::span<const std::string_view> args, std::size_t& i, CommandLineState& state, std::string& strError)
{
    const std::string_view arg = args[i];
    if (!arg.starts_with("--")) {
        strError = "unknown option " + Quoted(arg);
        return false;
    }
    const std::size_t eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    const OptionEntry* pEntry = FindOption(name);
    if (pEntry == nullptr) {
        strError = "unknown option " + Quoted(name);
        return false;
    }
    std::string_view value;
    if (pEntry->m_bTakesValue) {
        if (eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size() && !args[i + 1].starts_with("--")) {
            value = args[++i];
        } else {
            // The next word is an option (or "--"), not this one's value;
            // a value that starts with "--" is given as NAME=VALUE.
            strError = "option '" + std::string(name) + "' needs a value";
            return false;
        }
    } else if (eq != std::string_view::npos) {
        strError = "option '" + std::string(name) + "' takes no value";
        return false;
    }
    if (!pEntry->m_apply(value, state.m_options, strError)) {
        return false;
    }
    state.m_given.push_back({pEntry});
    return true;
}

// Every option given belongs to the command given.
bool CheckGivenBelong(const CommandLineState& state, std::string& strError)
{
    const Command command = state.m_options.m_eCommand;
    for (const GivenOption& option : state.m_given) {
        if ((option.m_pEntry->m_nCommands & MaskOf(command)) == 0) {
            strError = "option '" + std::string(option.m_pEntry->m_strName) + "' belongs to " +
                       CommandsOf(option.m_pEntry->m_nCommands) + ", not " + std::string(NameOf(command));
            return false;
        }
    }
    return true;
}

// A secret comes from one place: the command line or a file; and standard
// input holds at most one of them.
bool CheckSecretSources(const CommandLineState& state, std::string& strError)
{
    const auto given = [&state](std::string_view name) {
        return std::any_of(state.m_given.begin(), state.m_given.end(),
                           [name](const GivenOption& option) { return option.m_pEntry->m_strName == name; });
    };
    for (const auto& [value, file] : {std::pair{"--key", "--key-file"}, std::pair{"--password", "--password-file"}}) {
        if (given(value) && given(file)) {
            strError = "options '" + std::string(value) + "' and '" + std::string(file) + "' exclude each other";
            return false;
        }
    }
    const CliOptions& opts = state.m_options;
    if (opts.m_strKeyFile == "-" && opts.m_strPasswordFile == "-") {
        strError = "only one of --key-file and --password-file can read standard input";
        return false;
    }
    return true;
}

}  // namespace

bool ParseCommandLine(std::span<const std::string_view> args, CliOptions& out, std::string& strError)
{
    CommandLineState state;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (!state.m_bOptionsEnded && arg == "--") {
            state.m_bOptionsEnded = true;
            continue;
        }
        if (!state.m_bOptionsEnded && (arg == "-h" || arg == "--help")) {
            state.m_bHelp = true;
            continue;
        }
        if (!state.m_bOptionsEnded && arg == "--version") {
            state.m_bVersion = true;
            continue;
        }
        const bool bOption = !state.m_bOptionsEnded && !arg.empty() && arg.front() == '-';
        const bool bTaken = bOption ? TakeOption(args, i, state, strError) : TakeCommandWord(arg, state, strError);
        if (!bTaken) {
            return false;
        }
    }
    CliOptions& opts = state.m_options;
    if (state.m_bHelp || state.m_bVersion) {
        opts.m_eCommand = state.m_bHelp ? Command::Help : Command::Version;
        out = opts;
        return true;
    }
    if (opts.m_eCommand == Command::None) {
        strError = "no command given (expected frame, make or ports)";
        return false;
    }
    if (!CheckGivenBelong(state, strError)) {
        return false;
    }
    if (!CheckSecretSources(state, strError)) {
        return false;
    }
    if (opts.m_eCommand != Command::Ports && !CheckSettingsCount(opts, strError)) {
        return false;
    }
    out = opts;
    return true;
}

}  // namespace varnis::cli
