#include "apps/cli/CliRun.h"

#include "apps/cli/CliWindow.h"
#include "apps/cli/LineReader.h"
#include "apps/cli/PortListing.h"
#include "link/DeviceLink.h"
#include "serial/EventLoop.h"
#include "serial/OwnerThread.h"
#include "serial/PortDiagnosis.h"
#include "serial/SerialPort.h"

#include <array>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace varnis::cli {
namespace {

// The search tries at most ten ports, each for its opening time and 100 ms.
constexpr std::chrono::seconds kSearchLimit{60};

std::string Trimmed(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first])) != 0) {
        ++first;
    }
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1])) != 0) {
        --last;
    }
    std::string out = text.substr(first, last - first);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// A terminal echoes the line end the user typed; otherwise the prompt's line
// is ended here.
void EndPromptLine(std::ostream& err, int nInputFd, bool bGotLine) {
    if (!bGotLine || ::isatty(nInputFd) == 0) {
        err << std::endl;
    }
}

// The locking confirmation of the window, on the terminal: y or yes is OK,
// anything else (the end of input included) is Cancel.
bool ConfirmLocking(EventLoop& loop, LineReader& reader, std::ostream& err, int nInputFd) {
    err << "Warning: " << kLockingQuestion << " [y/N] " << std::flush;
    std::string answer;
    const bool bGotLine = reader.ReadLine(loop, answer);
    EndPromptLine(err, nInputFd, bGotLine);
    if (!bGotLine) {
        return false;
    }
    const std::string word = Trimmed(answer);
    return word == "y" || word == "yes";
}

int ReportWritten(int nWritten, int nCount, std::ostream& err) {
    if (nCount > 1) {
        err << nWritten << " of " << nCount << " cards written." << std::endl;
    }
    return nWritten == nCount ? kExitOk : kExitFailure;
}

// The engine as the link drives it, watched: which port was opened last (the
// one the device answers on), and, when asked, why a port could not be
// opened, found out after the engine has given up on it.
class WatchedEngine final : public IPortEngine {
public:
    WatchedEngine(IPortEngine& engine, const PortTable& table, bool bDiagnose)
        : m_engine(engine), m_table(table), m_bDiagnose(bDiagnose) {}

    bool Initialise(ISerialOwner* pPortOwner, unsigned portnr, int baud, char parity, int databits, int stopbits,
                    std::uint32_t eventMask, int sendBufferSize) override {
        if (m_engine.Initialise(pPortOwner, portnr, baud, parity, databits, stopbits, eventMask, sendBufferSize)) {
            m_nOpenPort = portnr;
            return true;
        }
        const std::string& path = m_table.PathOf(portnr);
        if (path.empty() || !m_bDiagnose) {
            return false;
        }
        m_lastFailure = DiagnosePort(path);
        Trace("COM" + std::to_string(portnr) + " (" + Printable(path, 200) + ") skipped: " +
              Printable(m_lastFailure->m_strText, 200) + "\n");
        return false;
    }
    bool StartMonitor() override { return m_engine.StartMonitor(); }
    void Send(std::span<const std::uint8_t> data) override { m_engine.Send(data); }
    bool Close() override { return m_engine.Close(); }

    unsigned OpenPort() const { return m_nOpenPort; }
    // Why the last port that could not be opened could not, if it was looked at.
    const std::optional<PortDiagnosis>& LastFailure() const { return m_lastFailure; }

private:
    IPortEngine& m_engine;
    const PortTable& m_table;
    bool m_bDiagnose;
    unsigned m_nOpenPort = 0;
    std::optional<PortDiagnosis> m_lastFailure;
};

// The engine's reports go to standard error as they are, except the report
// of a lost line: the run tells of that in one line of its own.
class CliErrorReporter final : public IErrorReporter {
public:
    void ReportError(std::string_view text, std::string_view, const CancelSignal&) override {
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
    void ReportLineLost(std::string_view, std::string_view, const CancelSignal&) override {}
};

// Everything one `make` run holds. Declared so that destruction runs in the
// safe order: the engine first (it stops its monitoring thread, whose
// hand-over is cancelled by the stop), then the owner channel, the loop last.
class MakeSession {
public:
    MakeSession(const CliOptions& options, bool bLockingConfirmed, const PortTable& table, bool bDiagnose,
                std::ostream& out, std::ostream& err)
        : m_owner(m_loop,
                  [this](const SerialNotification& n) {
                      if (n.m_nMessage == SPN_RXCHAR) {
                          m_link.OnReceivedByte(n.m_nWParam, n.m_nLParam);
                      } else if (n.m_nMessage == SPN_LINE_LOST) {
                          m_nLostPort = n.m_nLParam;  // the run ends: nothing more is asked of the link
                      }
                  }),
          m_window(options.m_form, bLockingConfirmed, m_build, out, err), m_engine(m_port),
          m_table(table), m_watched(m_engine, m_table, bDiagnose), m_link(m_window, m_watched, m_linkState, m_build) {
        m_port.SetPortTable(table);
        m_port.SetErrorReporter(&m_reporter);
        m_window.Attach(&m_loop, &m_link, &m_owner);
    }
    ~MakeSession() {
        m_link.OnClosePort();
        m_owner.Close();
    }
    MakeSession(const MakeSession&) = delete;
    MakeSession& operator=(const MakeSession&) = delete;

    EventLoop& Loop() { return m_loop; }
    CliWindow& Window() { return m_window; }
    DeviceLink& Link() { return m_link; }
    const WatchedEngine& Engine() const { return m_watched; }
    const BuildState& Build() const { return m_build; }
    // The port whose line was lost (0: none); once set, the run ends.
    unsigned LostPort() const { return m_nLostPort; }

private:
    unsigned m_nLostPort = 0;
    CliErrorReporter m_reporter;
    EventLoop m_loop;
    SerialOwnerChannel m_owner;
    LinkState m_linkState;
    BuildState m_build;
    CliWindow m_window;
    SerialPort m_port;
    SerialPortEngine m_engine;
    PortTable m_table;
    WatchedEngine m_watched;
    DeviceLink m_link;
};

}  // namespace

std::string FormatFrame(const ConfigurationFrame& frame) {
    std::string text;
    text.reserve(frame.size() * 3);
    for (const std::uint8_t byte : frame) {
        std::array<char, 4> hex{};
        std::snprintf(hex.data(), hex.size(), "%02X", static_cast<unsigned>(byte));
        if (!text.empty()) {
            text.push_back(' ');
        }
        text.append(hex.data());
    }
    return text;
}

bool SelectPorts(const std::optional<std::string>& strPort, PortTable& table, std::string& strError) {
    if (!strPort) {
        table = PortTable::FromSystem();
        return true;
    }
    const std::string& port = *strPort;  // the parser writes COMn as "COM" and the number
    const bool bComName = port.size() > 3 && port.starts_with("COM") &&
                          std::isdigit(static_cast<unsigned char>(port[3])) != 0;
    table = PortTable();
    if (!bComName) {
        table.SetNamedPath(1, port);
        return true;
    }
    const unsigned portnr = static_cast<unsigned>(std::stoul(port.substr(3)));
    const PortTable system = PortTable::FromSystem();
    const std::string& path = system.PathOf(portnr);
    if (path.empty()) {
        strError = "no serial device behind " + port;
        return false;
    }
    table.SetPath(portnr, path);
    return true;
}

int RunFrame(const CliOptions& options, std::ostream& out, std::ostream& err) {
    BuildState build;
    // Nothing is sent, so nothing is locked: the frame shows what the card would carry.
    CliWindow window(options.m_form, true, build, out, err);
    // No device is involved here: the form counts as connected, so the build
    // finds the port open and starts from the connection defaults.
    window.EnterConnectedState();
    if (!BuildSettingsBlock(window, build)) {
        return kExitFailure;
    }
    out << FormatFrame(AssembleConfigurationFrame(build)) << std::endl;
    return kExitOk;
}

int RunMake(const CliOptions& options, std::ostream& out, std::ostream& err, int nInputFd) {
    // The form is checked before anything is asked, looked for or sent, so a
    // refused form sends nothing at all. The window's build repeats the same checks.
    {
        BuildState scratch;
        CliWindow form(options.m_form, true, scratch, out, err);
        form.EnterConnectedState();
        if (!BuildSettingsBlock(form, scratch)) {
            return kExitFailure;
        }
    }

    PortTable table;
    std::string strError;
    if (!SelectPorts(options.m_strPort, table, strError)) {
        err << "varnis-cli: " << strError << std::endl;
        return kExitFailure;
    }

    EventLoop promptLoop;
    LineReader reader(nInputFd);
    bool bLockingConfirmed = true;
    if (options.m_form.m_bConfigLocking.value_or(false) && !options.m_bYes) {
        bLockingConfirmed = ConfirmLocking(promptLoop, reader, err, nInputFd);
        if (!bLockingConfirmed) {
            err << "varnis-cli: configuration locking not confirmed; nothing was sent." << std::endl;
            return kExitFailure;
        }
    }

    // A port the user named is looked at when it cannot be opened, and so is
    // every port the search skips when the trace is on.
    const bool bNamedPort = options.m_strPort.has_value();
    MakeSession session(options, bLockingConfirmed, table, bNamedPort || options.m_bTrace, out, err);
    EventLoop& loop = session.Loop();
    CliWindow& window = session.Window();
    window.HoldNotFound(bNamedPort);

    // A lost line ends the run at once, in one line that names the port.
    const auto lineLost = [&session, &table, &options, bNamedPort, &err]() {
        if (session.LostPort() == 0) {
            return false;
        }
        const std::string path = Printable(table.PathOf(session.LostPort()), 200);
        const std::string port = bNamedPort && !options.m_strPort->starts_with("COM")
                                     ? path
                                     : "COM" + std::to_string(session.LostPort()) + " (" + path + ")";
        err << "varnis-cli: the line to the device on " << port << " was lost" << std::endl;
        return true;
    };

    session.Link().OnOpenPort();
    const bool bSearchEnded = loop.RunUntil(
        [&] { return window.IsConnected() || window.LastAnswer() == DeviceAnswer::NotFound || session.LostPort() != 0; },
        kSearchLimit);
    if (lineLost()) {
        return kExitFailure;
    }
    if (!window.IsConnected()) {
        if (!bSearchEnded) {
            err << "varnis-cli: the device search did not end within " << kSearchLimit.count() << " s." << std::endl;
        } else if (const auto& failure = session.Engine().LastFailure();
                   bNamedPort && failure && failure->m_eProblem != PortProblem::None) {
            std::string name = Printable(*options.m_strPort, 200);
            if (options.m_strPort->starts_with("COM")) {
                name += " (" + Printable(table.PathOf(static_cast<unsigned>(std::stoul(options.m_strPort->substr(3)))), 200) + ")";
            }
            err << "varnis-cli: cannot use " << name << ": " << Printable(failure->m_strText, 300) << std::endl;
        } else if (bNamedPort) {
            err << "Warning: " << kNotFoundText << std::endl;
        }
        return kExitFailure;
    }
    const unsigned nPort = session.Engine().OpenPort();
    const std::string path = Printable(table.PathOf(nPort), 200);
    if (bNamedPort && !options.m_strPort->starts_with("COM")) {
        err << "varnis-cli: found on " << path << std::endl;
    } else {
        err << "varnis-cli: found on COM" << nPort << " (" << path << ")" << std::endl;
    }

    int nWritten = 0;
    for (int nCard = 1; nCard <= options.m_nCount; ++nCard) {
        if (nCard > 1) {
            err << "Place the next card (" << nCard << " of " << options.m_nCount << ") and press Enter: "
                << std::flush;
            std::string line;
            const bool bGotLine = reader.ReadLine(loop, line, [&session] { return session.LostPort() != 0; });
            if (session.LostPort() != 0) {
                err << std::endl;  // ends the prompt's line
                lineLost();
                return kExitFailure;
            }
            EndPromptLine(err, nInputFd, bGotLine);
            if (!bGotLine) {
                err << "varnis-cli: end of input." << std::endl;
                return ReportWritten(nWritten, options.m_nCount, err);
            }
        }
        window.ClearAnswer();
        session.Link().OnMake();
        if (!session.Build().m_bFrameReady) {
            return ReportWritten(nWritten, options.m_nCount, err);  // the build has shown why
        }
        // The window waits for the result without limit; here the wait is bounded.
        const bool bAnswered = loop.RunUntil(
            [&] { return window.LastAnswer() != DeviceAnswer::None || session.LostPort() != 0; },
            std::chrono::milliseconds(options.m_nReplyTimeoutMs));
        if (lineLost()) {
            return kExitFailure;
        }
        if (!bAnswered) {
            out << "No result from the device within " << options.m_nReplyTimeoutMs
                << " ms; the card was not confirmed." << std::endl;
            return ReportWritten(nWritten, options.m_nCount, err);
        }
        if (window.LastAnswer() != DeviceAnswer::Success) {
            return ReportWritten(nWritten, options.m_nCount, err);
        }
        ++nWritten;
        // A result that cannot be reported ends the run: no card is made
        // whose outcome nobody would see.
        if (!out.good()) {
            return ReportWritten(nWritten, options.m_nCount, err);
        }
    }
    return ReportWritten(nWritten, options.m_nCount, err);
}

int RunPorts(const CliOptions& options, std::ostream& out, std::ostream& err) {
    PortTable table;
    std::string strError;
    if (!SelectPorts(options.m_strPort, table, strError)) {
        err << "varnis-cli: " << strError << std::endl;
        return kExitFailure;
    }
    std::vector<ListedPort> ports = TablePorts(table);
    if (options.m_strPort) {
        // Only the port named; a path is listed as itself.
        std::erase_if(ports, [](const ListedPort& port) { return port.m_strPath.empty(); });
        if (!options.m_strPort->starts_with("COM")) {
            for (ListedPort& port : ports) {
                port.m_strLabel.clear();
            }
        }
    }
    WritePortList(ports, PortInspector(), out);
    return kExitOk;
}

bool StandardOutput::WriteOut() {
    const char* pNext = pbase();
    while (pNext < pptr()) {
        if (m_nError != 0) {
            break;  // lost already: the rest is dropped
        }
        const ssize_t nDone = ::write(m_nFd, pNext, static_cast<std::size_t>(pptr() - pNext));
        if (nDone < 0 && errno == EINTR) {
            continue;
        }
        if (nDone <= 0) {
            m_nError = nDone < 0 ? errno : EIO;
            break;
        }
        pNext += nDone;
    }
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    return m_nError == 0;
}

StandardOutput::int_type StandardOutput::overflow(int_type ch) {
    if (!WriteOut()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

int StandardOutput::sync() { return WriteOut() ? 0 : -1; }

bool StandardOutput::Finish(std::string& strError) {
    WriteOut();
    // Some failures are only told on closing (a full disk over NFS, ...).
    if (::close(m_nFd) != 0 && errno != EINTR && m_nError == 0) {
        m_nError = errno;
    }
    if (m_nError == 0) {
        return true;
    }
    strError = std::string("cannot write to standard output: ") + std::strerror(m_nError);
    return false;
}

}  // namespace varnis::cli
