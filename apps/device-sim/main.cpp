// varnis-device-sim: the simulated generator device as a program. It serves a
// new pseudo-terminal (or a device it is given), prints the path a serial
// program should open as its first line of output, then logs every exchange
// with the settings the card would carry, until SIGINT or SIGTERM.

#include "sim/SimDevice.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <termios.h>
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

// Fills `options` from the arguments; false with a one-line reason on a bad one.
bool ParseOptions(std::span<char*> args, Options& options, std::string& strError)
{
    bool bFaultChosen = false;
    const auto chooseFault = [&](SimFault eFault, std::string_view name) {
        if (bFaultChosen) {
            strError = "only one fault at a time (" + std::string(name) + ")";
            return false;
        }
        bFaultChosen = true;
        options.m_behaviour.m_eFault = eFault;
        return true;
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> inlineValue;
        if (const auto nEq = arg.find('='); arg.starts_with("--") && nEq != std::string_view::npos) {
            inlineValue = arg.substr(nEq + 1);
            arg = arg.substr(0, nEq);
        }
        const auto takeValue = [&](std::string_view& value) {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                strError = std::string(arg) + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        const auto takeMs = [&](int& nOut) {
            std::string_view value;
            if (!takeValue(value)) {
                return false;
            }
            const auto nMs = ParseNumber(value, 0, kMaxMs);
            if (!nMs) {
                strError = std::string(arg) + " needs milliseconds from 0 to " + std::to_string(kMaxMs) + ", not '" +
                           std::string(value) + "'";
                return false;
            }
            nOut = static_cast<int>(*nMs);
            return true;
        };
        const bool bTakesValue = arg == "--device" || arg == "--ack-delay" || arg == "--write-time" ||
                                 arg == "--ack-wait" || arg == "--fail" || arg == "--late-ack";
        if (inlineValue && !bTakesValue) {
            strError = std::string(arg) + " takes no value";
            return false;
        }
        bool bOk = true;
        if (arg == "-h" || arg == "--help") {
            options.m_bHelp = true;
        } else if (arg == "--version") {
            options.m_bVersion = true;
        } else if (arg == "--device") {
            std::string_view value;
            bOk = takeValue(value);
            if (bOk && value.empty()) {
                strError = "--device needs a path";
                bOk = false;
            }
            options.m_strDevice = value;
        } else if (arg == "--ack-delay") {
            bOk = takeMs(options.m_behaviour.m_nAckDelayMs);
        } else if (arg == "--write-time") {
            bOk = takeMs(options.m_behaviour.m_nCardWriteMs);
        } else if (arg == "--ack-wait") {
            bOk = takeMs(options.m_behaviour.m_nAckWaitMs);
        } else if (arg == "--fail") {
            std::string_view value;
            bOk = takeValue(value);
            if (bOk) {
                const auto nStatus = ParseNumber(value, 1, 255);
                if (!nStatus) {
                    strError = "--fail needs a status from 1 to 255, not '" + std::string(value) + "'";
                    bOk = false;
                } else {
                    options.m_behaviour.m_nResultStatus = static_cast<std::uint8_t>(*nStatus);
                }
            }
        } else if (arg == "--late-ack") {
            bOk = takeMs(options.m_behaviour.m_nLateAckMs) && chooseFault(SimFault::AckTooLate, arg);
        } else if (arg == "--silent") {
            bOk = chooseFault(SimFault::Silent, arg);
        } else if (arg == "--never-announce") {
            bOk = chooseFault(SimFault::NeverAnnounces, arg);
        } else if (arg == "--bad-check") {
            bOk = chooseFault(SimFault::BadReplyCheck, arg);
        } else if (arg == "--noise") {
            bOk = chooseFault(SimFault::Noise, arg);
        } else if (arg == "--hang-up") {
            bOk = chooseFault(SimFault::HangUpMidExchange, arg);
        } else if (arg == "--quiet") {
            options.m_bQuiet = true;
        } else {
            strError = "unknown option '" + std::string(args[i]) + "'";
            bOk = false;
        }
        if (!bOk) {
            return false;
        }
    }
    return true;
}

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

// Opens a terminal device and sets it to 9600 8N1 raw, no flow control.
simdetail::OwnedFd OpenDevice(const std::string& strPath, std::string& strError)
{
    simdetail::OwnedFd hFd(::open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!hFd.IsOpen()) {
        strError = "cannot open " + strPath + ": " + std::strerror(errno);
        return hFd;
    }
    termios tio{};
    if (::tcgetattr(hFd.Get(), &tio) != 0) {
        strError = strPath + " is not a terminal: " + std::strerror(errno);
        return simdetail::OwnedFd();
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(hFd.Get(), TCSANOW, &tio) != 0) {
        strError = "cannot set up " + strPath + ": " + std::strerror(errno);
        return simdetail::OwnedFd();
    }
    ::tcflush(hFd.Get(), TCIOFLUSH);
    return hFd;
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

int Run(int argc, char** argv)
{
    Options options;
    std::string strError;
    if (!ParseOptions(std::span<char*>(argv, static_cast<std::size_t>(argc)), options, strError)) {
        PrintLine(std::string(kProgram) + ": " + strError + " (try --help)", stderr);
        return 2;
    }
    if (options.m_bHelp || options.m_bVersion) {
        std::fputs(options.m_bHelp ? kHelp.data() : kProgram.data(), stdout);
        if (!options.m_bHelp) {
            std::fputs(" " VARNIS_VERSION "\n", stdout);
        }
        // Lost output is a failure, not a success.
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            PrintLine(std::string(kProgram) + ": cannot write to standard output: " + std::strerror(errno), stderr);
            return 1;
        }
        return 0;
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
        PrintLine(std::string(kProgram) + ": cannot block signals", stderr);
        return 1;
    }
    simdetail::OwnedFd hSignals(::signalfd(-1, &signals, SFD_CLOEXEC));
    simdetail::OwnedFd hLineLost(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!hSignals.IsOpen() || !hLineLost.IsOpen()) {
        PrintLine(std::string(kProgram) + ": " + std::strerror(errno), stderr);
        return 1;
    }

    std::optional<PtyPair> pty;
    simdetail::OwnedFd hDevice;
    std::string strPath;
    if (options.m_strDevice.empty()) {
        pty = PtyPair::Open();
        if (!pty) {
            PrintLine(std::string(kProgram) + ": cannot open a pseudo-terminal: " + std::strerror(errno), stderr);
            return 1;
        }
        strPath = pty->SlavePath();
    } else {
        hDevice = OpenDevice(options.m_strDevice, strError);
        if (!hDevice.IsOpen()) {
            PrintLine(std::string(kProgram) + ": " + strError, stderr);
            return 1;
        }
        strPath = options.m_strDevice;
    }

    const int hLine = pty ? pty->MasterFd() : hDevice.Get();
    SimDevice device(hLine, options.m_behaviour);
    if (!options.m_bQuiet) {
        device.SetLogger([](std::string_view line) { LogLine(line); });
    }
    device.SetHangUpHandler([&pty, &hDevice] {
        if (pty) {
            pty->CloseMaster();
        } else {
            hDevice.Reset();
        }
    });
    const int hLineLostFd = hLineLost.Get();
    device.SetLineLostHandler([hLineLostFd] {
        const std::uint64_t nOne = 1;
        while (::write(hLineLostFd, &nOne, sizeof nOne) < 0 && errno == EINTR) {
        }
    });

    PrintLine(strPath);
    if (!options.m_bQuiet) {
        const SimBehaviour& b = options.m_behaviour;
        LogLine("serving " + strPath + "; ACK delay " + std::to_string(b.m_nAckDelayMs) + " ms, card writing " +
                std::to_string(b.m_nCardWriteMs) + " ms, result " +
                (b.m_nResultStatus == 0 ? std::string("success") : "failure status " + StatusText(b.m_nResultStatus)) +
                ", fault: " + std::string(FaultName(b.m_eFault)) +
                (b.m_eFault == SimFault::AckTooLate ? " (" + std::to_string(b.m_nLateAckMs) + " ms)" : std::string()));
    }
    if (!device.Start()) {
        PrintLine(std::string(kProgram) + ": cannot start the device", stderr);
        return 1;
    }

    int nExit = 0;
    std::array<pollfd, 2> pfds{{{hSignals.Get(), POLLIN, 0}, {hLineLost.Get(), POLLIN, 0}}};
    for (;;) {
        if (::poll(pfds.data(), pfds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            nExit = 1;
            break;
        }
        if (pfds[0].revents != 0) {
            signalfd_siginfo info{};
            const ssize_t nRead = ::read(hSignals.Get(), &info, sizeof info);
            if (!options.m_bQuiet) {
                LogLine(nRead == static_cast<ssize_t>(sizeof info) && info.ssi_signo == SIGTERM ? "SIGTERM: ending"
                                                                                                : "SIGINT: ending");
            }
            break;
        }
        if (pfds[1].revents != 0) {
            // Hanging up is what --hang-up asks for; otherwise losing the line is a failure.
            const bool bAsked = options.m_behaviour.m_eFault == SimFault::HangUpMidExchange;
            if (!options.m_bQuiet) {
                LogLine(bAsked ? "hung up: ending" : "the line is gone: ending");
            }
            nExit = bAsked ? 0 : 1;
            break;
        }
    }
    device.Stop();
    if (!options.m_bQuiet) {
        const auto nCount = device.ExchangeCount();
        LogLine(std::to_string(device.ProbesAnswered()) + " STX answered, " + std::to_string(nCount) +
                (nCount == 1 ? " frame received" : " frames received"));
    }
    return nExit;
}

}  // namespace
}  // namespace varnis

int main(int argc, char** argv)
{
    return varnis::Run(argc, argv);
}
