#include "apps/cli/CliOptions.h"

#include <array>
#include <cctype>
#include <charconv>
#include <functional>

namespace varnis::cli {
namespace {

std::string Lower(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return out;
}

// Lower case with every run of blanks made one space and the ends trimmed.
std::string Normalised(std::string_view text) {
    std::string out;
    bool bBlank = false;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            bBlank = !out.empty();
            continue;
        }
        if (bBlank) {
            out.push_back(' ');
            bBlank = false;
        }
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return out;
}

template <typename T>
struct Word {
    std::string_view m_strWord;
    T m_value;
};

template <typename T, std::size_t N>
bool LookUp(const std::array<Word<T>, N>& words, std::string_view value, T& out) {
    const std::string key = Normalised(value);
    for (const auto& word : words) {
        if (key == word.m_strWord) {
            out = word.m_value;
            return true;
        }
    }
    return false;
}

constexpr std::array<Word<OutputMode>, 2> kModeWords{{{"uid", OutputMode::Uid}, {"sector", OutputMode::SectorData}}};
constexpr std::array<Word<InterfaceKind>, 2> kInterfaceWords{
    {{"wiegand", InterfaceKind::Wiegand}, {"aba", InterfaceKind::Aba}}};
constexpr std::array<Word<WiegandLength>, 3> kWiegandWords{
    {{"26", WiegandLength::Bits26}, {"34", WiegandLength::Bits34}, {"42", WiegandLength::Bits42}}};
constexpr std::array<Word<ImpulseTiming>, 2> kTimingWords{
    {{"default", ImpulseTiming::Default}, {"user", ImpulseTiming::UserDefined}}};
constexpr std::array<Word<ByteOrder>, 2> kOrderWords{{{"msb", ByteOrder::MsbFirst}, {"lsb", ByteOrder::LsbFirst}}};
constexpr std::array<Word<KeyType>, 4> kKeyTypeWords{
    {{"a", KeyType::KeyA}, {"b", KeyType::KeyB}, {"key a", KeyType::KeyA}, {"key b", KeyType::KeyB}}};
constexpr std::array<Word<bool>, 2> kOnOffWords{{{"on", true}, {"off", false}}};
// The form's labels, lower-cased, and a compact spelling of each.
constexpr std::array<Word<AbaFormat>, 10> kAbaWords{{
    {"8h to 10d", AbaFormat::H8ToD10},
    {"6h to 8d", AbaFormat::H6ToD8},
    {"6h to 10d", AbaFormat::H6ToD10},
    {"4h+2h to 10d", AbaFormat::H4H2ToD10},
    {"4h+2h to 8d", AbaFormat::H4H2ToD8},
    {"8h-10d", AbaFormat::H8ToD10},
    {"6h-8d", AbaFormat::H6ToD8},
    {"6h-10d", AbaFormat::H6ToD10},
    {"4h+2h-10d", AbaFormat::H4H2ToD10},
    {"4h+2h-8d", AbaFormat::H4H2ToD8},
}};

bool ParseNumber(std::string_view text, int nMin, int nMax, int& out) {
    if (text.empty()) {
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

std::string InvalidValue(std::string_view value, std::string_view name, std::string_view expected) {
    std::string msg = "invalid value '";
    msg.append(value).append("' for ").append(name).append(" (expected ").append(expected).append(")");
    return msg;
}

// One option: its name, whether it takes a value, whether it belongs to
// `make` only, and what it does with the value (false + message on error).
struct OptionEntry {
    std::string_view m_strName;
    bool m_bTakesValue;
    bool m_bMakeOnly;
    std::function<bool(std::string_view, CliOptions&, std::string&)> m_apply;
};

template <typename T, std::size_t N>
OptionEntry WordOption(std::string_view name, const std::array<Word<T>, N>& words, std::string_view expected,
                      std::optional<T> FormChoices::*member) {
    return {name, true, false,
            [name, &words, expected, member](std::string_view value, CliOptions& opts, std::string& err) {
                T parsed{};
                if (!LookUp(words, value, parsed)) {
                    err = InvalidValue(value, name, expected);
                    return false;
                }
                opts.m_form.*member = parsed;
                return true;
            }};
}

OptionEntry ListOption(std::string_view name, int nMax, std::optional<int> FormChoices::*member) {
    return {name, true, false, [name, nMax, member](std::string_view value, CliOptions& opts, std::string& err) {
                int parsed = 0;
                if (!ParseNumber(value, 0, nMax, parsed)) {
                    err = InvalidValue(value, name, "0 to " + std::to_string(nMax));
                    return false;
                }
                opts.m_form.*member = parsed;
                return true;
            }};
}

// An edit field: taken as typed, but no longer than the field lets one type.
OptionEntry TextOption(std::string_view name, int nLimit, std::optional<std::string> FormChoices::*member) {
    return {name, true, false, [name, nLimit, member](std::string_view value, CliOptions& opts, std::string& err) {
                if (CharacterCount(value) > static_cast<std::size_t>(nLimit)) {
                    err = InvalidValue(value, name, "at most " + std::to_string(nLimit) + " characters");
                    return false;
                }
                opts.m_form.*member = std::string(value);
                return true;
            }};
}

const std::array<OptionEntry, 23>& Options() {
    static const std::array<OptionEntry, 23> options{{
        {"--help", false, false,
         [](std::string_view, CliOptions& opts, std::string&) {
             opts.m_eCommand = Command::Help;
             return true;
         }},
        {"--trace", false, false,
         [](std::string_view, CliOptions& opts, std::string&) {
             opts.m_bTrace = true;
             return true;
         }},
        WordOption("--mode", kModeWords, "uid or sector", &FormChoices::m_eMode),
        WordOption("--interface", kInterfaceWords, "wiegand or aba", &FormChoices::m_eInterface),
        WordOption("--wiegand", kWiegandWords, "26, 34 or 42", &FormChoices::m_eWiegandLength),
        WordOption("--aba", kAbaWords, "\"8H to 10D\", \"6H to 8D\", \"6H to 10D\", \"4H+2H to 10D\" or \"4H+2H to 8D\"",
                   &FormChoices::m_eAbaFormat),
        WordOption("--timing", kTimingWords, "default or user", &FormChoices::m_eImpulseTiming),
        TextOption("--width", kImpulseTextLimit, &FormChoices::m_strImpulseWidth),
        TextOption("--interval", kImpulseTextLimit, &FormChoices::m_strImpulseInterval),
        ListOption("--sector", 15, &FormChoices::m_nSector),
        ListOption("--block", 3, &FormChoices::m_nBlock),
        ListOption("--start", 13, &FormChoices::m_nStartAddress),
        ListOption("--end", 15, &FormChoices::m_nEndAddress),
        WordOption("--order", kOrderWords, "msb or lsb", &FormChoices::m_eByteOrder),
        WordOption("--key-type", kKeyTypeWords, "a or b", &FormChoices::m_eKeyType),
        TextOption("--key", kKeyTextLimit, &FormChoices::m_strKey),
        TextOption("--password", kPasswordTextLimit, &FormChoices::m_strPassword),
        WordOption("--protection", kOnOffWords, "on or off", &FormChoices::m_bPasswordProtection),
        WordOption("--locking", kOnOffWords, "on or off", &FormChoices::m_bConfigLocking),
        {"--port", true, true,
         [](std::string_view value, CliOptions& opts, std::string& err) {
             if (value.empty()) {
                 err = InvalidValue(value, "--port", "COM1 to COM10 or a device path");
                 return false;
             }
             const std::string lower = Lower(value);
             if (lower.rfind("com", 0) == 0) {
                 int n = 0;
                 if (!ParseNumber(std::string_view(lower).substr(3), 1, 10, n)) {
                     err = InvalidValue(value, "--port", "COM1 to COM10 or a device path");
                     return false;
                 }
             }
             opts.m_strPort = std::string(value);
             return true;
         }},
        {"--count", true, true,
         [](std::string_view value, CliOptions& opts, std::string& err) {
             if (!ParseNumber(value, 1, 1000000, opts.m_nCount)) {
                 err = InvalidValue(value, "--count", "a number of cards, 1 or more");
                 return false;
             }
             return true;
         }},
        {"--yes", false, true,
         [](std::string_view, CliOptions& opts, std::string&) {
             opts.m_bYes = true;
             return true;
         }},
        {"--reply-timeout", true, true,
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

}  // namespace

std::size_t CharacterCount(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) {
        // Continuation bytes (10xxxxxx) belong to the character before them.
        if ((static_cast<unsigned char>(c) & 0xC0U) != 0x80U) {
            ++count;
        }
    }
    return count;
}

bool ParseAbaFormatWord(std::string_view word, AbaFormat& out) { return LookUp(kAbaWords, word, out); }

bool ParseCommandLine(std::span<const std::string_view> args, CliOptions& out, std::string& strError) {
    CliOptions opts;
    bool bHelp = false;
    bool bMakeOnlySeen = false;
    std::string_view makeOnlyName;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "-h") {
            bHelp = true;
            continue;
        }
        if (arg.size() < 2 || arg.substr(0, 2) != "--") {
            if (!arg.empty() && arg.front() == '-') {
                strError = "unknown option '" + std::string(arg) + "'";
                return false;
            }
            Command command = Command::None;
            if (arg == "frame") {
                command = Command::Frame;
            } else if (arg == "make") {
                command = Command::Make;
            } else if (arg == "help") {
                command = Command::Help;
            } else {
                strError = "unknown command '" + std::string(arg) + "' (expected frame or make)";
                return false;
            }
            if (opts.m_eCommand != Command::None && opts.m_eCommand != Command::Help) {
                strError = "unexpected argument '" + std::string(arg) + "'";
                return false;
            }
            if (command == Command::Help) {
                bHelp = true;
            } else {
                opts.m_eCommand = command;
            }
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        const OptionEntry* pEntry = nullptr;
        for (const auto& entry : Options()) {
            if (entry.m_strName == name) {
                pEntry = &entry;
                break;
            }
        }
        if (pEntry == nullptr) {
            strError = "unknown option '" + std::string(name) + "'";
            return false;
        }
        std::string_view value;
        if (pEntry->m_bTakesValue) {
            if (eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                strError = "option '" + std::string(name) + "' needs a value";
                return false;
            }
        } else if (eq != std::string_view::npos) {
            strError = "option '" + std::string(name) + "' takes no value";
            return false;
        }
        if (pEntry->m_strName == "--help") {
            bHelp = true;
            continue;
        }
        if (!pEntry->m_apply(value, opts, strError)) {
            return false;
        }
        if (pEntry->m_bMakeOnly && !bMakeOnlySeen) {
            bMakeOnlySeen = true;
            makeOnlyName = pEntry->m_strName;
        }
    }
    if (bHelp) {
        opts.m_eCommand = Command::Help;
        out = opts;
        return true;
    }
    if (opts.m_eCommand == Command::None) {
        strError = "no command given (expected frame or make)";
        return false;
    }
    if (opts.m_eCommand == Command::Frame && bMakeOnlySeen) {
        strError = "option '" + std::string(makeOnlyName) + "' belongs to make, not frame";
        return false;
    }
    // The impulse fields can be typed in only while "User-defined" is chosen.
    const bool bUserTiming = opts.m_form.m_eImpulseTiming == ImpulseTiming::UserDefined;
    if (!bUserTiming && opts.m_form.m_strImpulseWidth) {
        strError = "option '--width' needs --timing user";
        return false;
    }
    if (!bUserTiming && opts.m_form.m_strImpulseInterval) {
        strError = "option '--interval' needs --timing user";
        return false;
    }
    out = opts;
    return true;
}

std::string UsageText() {
    return R"(Usage: varnis-cli frame [settings]
       varnis-cli make  [settings] [--port COMn | --port DEVICE-PATH] [--count N] [--yes]
                        [--reply-timeout MS]
       varnis-cli --help

frame  prints the 26-byte configuration frame for the settings, as hexadecimal
       bytes on one line. A setting the form refuses is reported on standard
       error and no frame is printed.
make   finds the generator device on COM1 to COM10 (or uses --port), makes one
       configuration card (or N with --count) and prints the device's answer
       for each card: "Success!", "Failure!" or the time-out message.

Settings start from the defaults of a new connection; each option is the
choice or text of the form:
  --mode uid|sector               output UID number / sector data after KEY checking
  --interface wiegand|aba
  --wiegand 26|34|42              WIEGAND length in bits
  --aba FORMAT                    "8H to 10D", "6H to 8D", "6H to 10D", "4H+2H to 10D"
                                  or "4H+2H to 8D" (also 8h-10d, 4h+2h-8d, ...)
  --timing default|user           impulse timing
  --width TEXT --interval TEXT    impulse width and interval, 1-255 units of 50us
                                  (need --timing user)
  --sector 0-15 --block 0-3       sector and block
  --start 0-13 --end 0-15         start and end address in the block
  --order msb|lsb                 data arrangement order
  --key-type a|b --key TEXT       KEY A / KEY B and the key, 12 hexadecimal digits
  --password TEXT                 configuration password, 8 hexadecimal digits
  --protection on|off             password protection
  --locking on|off                configuration locking

make only:
  --port COMn|DEVICE-PATH         use this port instead of searching COM1 to COM10
  --count N                       make N cards; asks to place the next card and press
                                  Enter between cards (end of input stops the run)
  --yes                           turn configuration locking on without asking
  --reply-timeout MS              give up on a card whose result has not come within
                                  MS milliseconds (default 30000)

Other: --trace writes the debug trace to standard error.
Turning configuration locking on with make asks for confirmation on standard
input (y or yes = OK, anything else = Cancel) unless --yes is given.

Exit status: 0 when every card was written (make) or the frame was printed;
1 when the form was refused, the device was not found or a card was not
written; 2 for a usage error.
)";
}

}  // namespace varnis::cli
