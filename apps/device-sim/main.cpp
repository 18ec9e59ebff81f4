// varnis-device-sim: the simulated generator device as a program. It serves a
// new pseudo-terminal (or a device it is given), prints the path a serial
// program should open as its first line of output, then logs every exchange
// with the settings the card would carry, until SIGINT or SIGTERM.

#include "sim/SimDevice.h"
#include "platform/StandardOutput.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace varnis {
namespace {

constexpr std::string_view kProgram = "varnis-device-sim";
constexpr int kMaxMs = 600000;

constexpr std::string_view kHelp =
    "Usage: varnis-device-sim [OPTION...]\n"
    "A simulated generator device. Serves a new pseudo-terminal (or --device PATH),\n"
    "prints the path a serial program should open as its first line of output, then\n"
    "logs every exchange with the settings the card would carry. Ctrl-C ends it.\n"
    "\n"
    "  --device PATH      serve this terminal device instead (set to 9600 8N1 raw)\n"
    "  --ack-delay MS     wait MS before answering STX with ACK (default 0)\n"
    "  --write-time MS    time taken to write a card (default 0)\n"
    "  --ack-wait MS      how long to wait for the system's ACK after announcing (default 1000)\n"
    "  --fail STATUS      report failure with STATUS (1..255, decimal or 0x hex)\n"
    "Faults (at most one):\n"
    "  --silent           never answer anything\n"
    "  --late-ack MS      answer STX only after MS\n"
    "  --never-announce   take the frame, never announce the result\n"
    "  --bad-check        send the reply with a wrong check byte\n"
    "  --noise            send noise before the announcing STX and before the reply frame\n"
    "  --hang-up          close the line after taking a frame (the program then ends)\n"
    "Output:\n"
    "  --quiet            print only the path and errors\n"
    "  -h, --help         show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status: 0 on a clean end (also after --hang-up), 1 when the line cannot be served\n"
    "or is lost, 2 on a bad option.\n";

struct Options {
    SimBehaviour m_behaviour;
    std::string m_strDevice;
    bool m_bQuiet = false;
    bool m_bHelp = false;
    bool m_bVersion = false;
};

std::optional<long> ParseNumber(std::string_view text, long nMin, long nMax)
{
    int nBase = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        nBase = 16;
        text.remove_prefix(2);
    }
    long nValue = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), nValue, nBase);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || nValue < nMin || nValue > nMax) {
        return std::nullopt;
    }
    return nValue;
}

// The options that set a time in milliseconds.
struct MsOption {
    std::string_view m_name;
    int SimBehaviour::*m_pnMs;
};
constexpr std::array kMsOptions = {MsOption{"--ack-delay", &SimBehaviour::m_nAckDelayMs},
                                   MsOption{"--write-time", &SimBehaviour::m_nCardWriteMs},
                                   MsOption{"--ack-wait", &SimBehaviour::m_nAckWaitMs}};

// The faults chosen by a bare option (--late-ack also takes a time).
struct FaultOption {
    std::string_view m_name;
    SimFault m_eFault;
};
constexpr std::array kFaultOptions = {
    FaultOption{"--silent", SimFault::Silent}, FaultOption{"--never-announce", SimFault::NeverAnnounces},
    FaultOption{"--bad-check", SimFault::BadReplyCheck}, FaultOption{"--noise", SimFault::Noise},
    FaultOption{"--hang-up", SimFault::HangUpMidExchange}};

bool TakesValue(std::string_view arg)
{
    return arg == "--device" || arg == "--fail" || arg == "--late-ack" ||
           std::ranges::any_of(kMsOptions, [arg](const MsOption& option) { return option.m_name == arg; });
}

// Reads the arguments one by one into `options`; an option's value follows
// '=' or is the next argument. Stops at the first bad one with a one-line reason.
class OptionParser {
public:
    OptionParser(std::span<char*> args, Options& options, std::string& strError)
        : m_args(args), m_options(options), m_strError(strError)
    {
    }

    bool Parse()
    {
        for (m_nIndex = 1; m_nIndex < m_args.size(); ++m_nIndex) {
            m_arg = m_args[m_nIndex];
            m_inlineValue.reset();
            if (const auto nEq = m_arg.find('='); m_arg.starts_with("--") && nEq != std::string_view::npos) {
                m_inlineValue = m_arg.substr(nEq + 1);
                m_arg = m_arg.substr(0, nEq);
            }
            if (m_inlineValue && !TakesValue(m_arg)) {
                m_strError = std::string(m_arg) + " takes no value";
                return false;
            }
            if (!ParseOne()) {
                return false;
            }
        }
        return true;
    }

private:
    bool ParseOne()
    {
        SimBehaviour& behaviour = m_options.m_behaviour;
        if (m_arg == "-h" || m_arg == "--help") {
            m_options.m_bHelp = true;
        } else if (m_arg == "--version") {
            m_options.m_bVersion = true;
        } else if (m_arg == "--quiet") {
            m_options.m_bQuiet = true;
        } else if (m_arg == "--device") {
            return TakeDevice();
        } else if (m_arg == "--fail") {
            return TakeStatus();
        } else if (m_arg == "--late-ack") {
            return TakeMs(behaviour.m_nLateAckMs) && ChooseFault(SimFault::AckTooLate);
        } else if (const auto* pMs = std::ranges::find(kMsOptions, m_arg, &MsOption::m_name); pMs != kMsOptions.end()) {
            return TakeMs(behaviour.*(pMs->m_pnMs));
        } else if (const auto* pFault = std::ranges::find(kFaultOptions, m_arg, &FaultOption::m_name);
                   pFault != kFaultOptions.end()) {
            return ChooseFault(pFault->m_eFault);
        } else {
            m_strError = "unknown option '" + std::string(m_args[m_nIndex]) + "'";
            return false;
        }
        return true;
    }

    bool TakeValue(std::string_view& value)
    {
        if (m_inlineValue) {
            value = *m_inlineValue;
            return true;
        }
        if (m_nIndex + 1 >= m_args.size()) {
            m_strError = std::string(m_arg) + " needs a value";
            return false;
        }
        value = m_args[++m_nIndex];
        return true;
    }

    bool TakeMs(int& nOut)
    {
        std::string_view value;
        if (!TakeValue(value)) {
            return false;
        }
        const auto nMs = ParseNumber(value, 0, kMaxMs);
        if (!nMs) {
            m_strError = std::string(m_arg) + " needs milliseconds from 0 to " + std::to_string(kMaxMs) + ", not '" +
                         std::string(value) + "'";
            return false;
        }
        nOut = static_cast<int>(*nMs);
        return true;
    }

    bool TakeDevice()
    {
        std::string_view value;
        if (!TakeValue(value)) {
            return false;
        }
        if (value.empty()) {
            m_strError = "--device needs a path";
            return false;
        }
        m_options.m_strDevice = value;
        return true;
    }

    bool TakeStatus()
    {
        std::string_view value;
        if (!TakeValue(value)) {
            return false;
        }
        const auto nStatus = ParseNumber(value, 1, 255);
        if (!nStatus) {
            m_strError = "--fail needs a status from 1 to 255, not '" + std::string(value) + "'";
            return false;
        }
        m_options.m_behaviour.m_nResultStatus = static_cast<std::uint8_t>(*nStatus);
        return true;
    }

    bool ChooseFault(SimFault eFault)
    {
        if (m_bFaultChosen) {
            m_strError = "only one fault at a time (" + std::string(m_arg) + ")";
            return false;
        }
        m_bFaultChosen = true;
        m_options.m_behaviour.m_eFault = eFault;
        return true;
    }

    std::span<char*> m_args;
    Options& m_options;
    std::string& m_strError;
    std::size_t m_nIndex = 1;
    std::string_view m_arg;
    std::optional<std::string_view> m_inlineValue;
    bool m_bFaultChosen = false;
};

void PrintLine(std::string_view line, std::FILE* pStream = stdout)
{
    std::string strLine(line);
    strLine += '\n';
    std::fwrite(strLine.data(), 1, strLine.size(), pStream);
    std::fflush(pStream);
}

void LogLine(std::string_view line)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t tNow = std::chrono::system_clock::to_time_t(now);
    const auto nMs = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tmNow{};
    ::localtime_r(&tNow, &tmNow);
    std::array<char, 40> stamp{};
    const std::size_t nLen = std::strftime(stamp.data(), stamp.size(), "%Y-%m-%d %H:%M:%S", &tmNow);
    std::snprintf(stamp.data() + nLen, stamp.size() - nLen, ".%03d ", static_cast<int>(nMs));
    PrintLine(std::string(stamp.data()) + std::string(line));
}

std::string StatusText(std::uint8_t nStatus)
{
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", nStatus);
    return text.data();
}

std::string_view FaultName(SimFault eFault)
{
    switch (eFault) {
    case SimFault::None: return "none";
    case SimFault::Silent: return "silent";
    case SimFault::AckTooLate: return "late ACK";
    case SimFault::NeverAnnounces: return "never announces";
    case SimFault::BadReplyCheck: return "bad check byte";
    case SimFault::Noise: return "noise";
    case SimFault::HangUpMidExchange: return "hangs up mid-exchange";
    }
    return "?";
}

// --help or --version; lost output is a failure, not a success.
int PrintHelpOrVersion(const Options& options)
{
    std::string strError;
    const std::string text = options.m_bHelp ? std::string(kHelp) : std::string(kProgram) + " " VARNIS_VERSION "\n";
    if (!console::PrintAndFinish(text, strError)) {
        PrintLine(std::string(kProgram) + ": " + strError, stderr);
        return 1;
    }
    return 0;
}

void PrintError(const std::string& strError)
{
    PrintLine(std::string(kProgram) + ": " + strError, stderr);
}

// The line the device serves: a new pseudo-terminal, or the device given.
struct ServedLine {
    std::optional<PtyPair> m_pty;
    UniqueFd m_hDevice;
    std::string m_strPath;

    bool Open(const std::string& strDevice, std::string& strError)
    {
        if (!strDevice.empty()) {
            m_hDevice = OpenServedDevice(strDevice, strError);
            m_strPath = strDevice;
            return m_hDevice.IsOpen();
        }
        m_pty = PtyPair::Open();
        if (!m_pty) {
            strError = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
            return false;
        }
        m_strPath = m_pty->SlavePath();
        return true;
    }
    int Fd() const { return m_pty ? m_pty->MasterFd() : m_hDevice.Get(); }
    // What --hang-up does: the device's end of the line is closed.
    void HangUp()
    {
        if (m_pty) {
            m_pty->CloseMaster();
        } else {
            m_hDevice.Reset();
        }
    }
};

std::string DescribeBehaviour(const SimBehaviour& b)
{
    return "ACK delay " + std::to_string(b.m_nAckDelayMs) + " ms, card writing " + std::to_string(b.m_nCardWriteMs) +
           " ms, result " +
           (b.m_nResultStatus == 0 ? std::string("success") : "failure status " + StatusText(b.m_nResultStatus)) +
           ", fault: " + std::string(FaultName(b.m_eFault)) +
           (b.m_eFault == SimFault::AckTooLate ? " (" + std::to_string(b.m_nLateAckMs) + " ms)" : std::string());
}

// Waits for SIGINT or SIGTERM, or for the device to lose its line; the exit status.
int WaitForEnd(const Options& options, int hSignals, int hLineLost)
{
    std::array<pollfd, 2> pfds{{{hSignals, POLLIN, 0}, {hLineLost, POLLIN, 0}}};
    for (;;) {
        if (::poll(pfds.data(), pfds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 1;
        }
        if (pfds[0].revents != 0) {
            signalfd_siginfo info{};
            const ssize_t nRead = ::read(hSignals, &info, sizeof info);
            if (!options.m_bQuiet) {
                LogLine(nRead == static_cast<ssize_t>(sizeof info) && info.ssi_signo == SIGTERM ? "SIGTERM: ending"
                                                                                                : "SIGINT: ending");
            }
            return 0;
        }
        if (pfds[1].revents != 0) {
            // Hanging up is what --hang-up asks for; otherwise losing the line is a failure.
            const bool bAsked = options.m_behaviour.m_eFault == SimFault::HangUpMidExchange;
            if (!options.m_bQuiet) {
                LogLine(bAsked ? "hung up: ending" : "the line is gone: ending");
            }
            return bAsked ? 0 : 1;
        }
    }
}

// Serves the line until a signal or the line's loss ends it; the exit status.
int Serve(const Options& options, int hSignals, int hLineLost)
{
    ServedLine line;
    std::string strError;
    if (!line.Open(options.m_strDevice, strError)) {
        PrintError(strError);
        return 1;
    }
    SimDevice device(line.Fd(), options.m_behaviour);
    if (!options.m_bQuiet) {
        device.SetLogger([](std::string_view text) { LogLine(text); });
    }
    device.SetHangUpHandler([&line] { line.HangUp(); });
    device.SetLineLostHandler([hLineLost] {
        const std::uint64_t nOne = 1;
        while (::write(hLineLost, &nOne, sizeof nOne) < 0 && errno == EINTR) {
        }
    });

    PrintLine(line.m_strPath);
    if (!options.m_bQuiet) {
        LogLine("serving " + line.m_strPath + "; " + DescribeBehaviour(options.m_behaviour));
    }
    if (!device.Start()) {
        PrintError("cannot start the device");
        return 1;
    }
    const int nExit = WaitForEnd(options, hSignals, hLineLost);
    device.Stop();
    if (!options.m_bQuiet) {
        const auto nCount = device.ExchangeCount();
        LogLine(std::to_string(device.ProbesAnswered()) + " STX answered, " + std::to_string(nCount) +
                (nCount == 1 ? " frame received" : " frames received"));
    }
    return nExit;
}

int Run(int argc, char** argv)
{
    Options options;
    std::string strError;
    if (!OptionParser(std::span<char*>(argv, static_cast<std::size_t>(argc)), options, strError).Parse()) {
        PrintError(strError + " (try --help)");
        return 2;
    }
    if (options.m_bHelp || options.m_bVersion) {
        return PrintHelpOrVersion(options);
    }

    // A reader of our output that goes away must not end the program mid-exchange.
    std::signal(SIGPIPE, SIG_IGN);
    // Signals are taken from a signalfd: blocked here, before any thread
    // starts, so every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        PrintError("cannot block signals");
        return 1;
    }
    UniqueFd hSignals(::signalfd(-1, &signals, SFD_CLOEXEC));
    UniqueFd hLineLost(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!hSignals.IsOpen() || !hLineLost.IsOpen()) {
        PrintError(std::strerror(errno));
        return 1;
    }
    return Serve(options, hSignals.Get(), hLineLost.Get());
}

}  // namespace
}  // namespace varnis

int main(int argc, char** argv)
{
    return varnis::Run(argc, argv);
}
