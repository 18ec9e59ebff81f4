#include "apps/cli/CliRun.h"

#include "apps/cli/CliText.h"
#include "apps/cli/CliWindow.h"
#include "apps/cli/LineReader.h"
#include "apps/cli/PortListing.h"
#include "apps/cli/SearchWatch.h"
#include "apps/cli/Terminal.h"
#include "link/DeviceLink.h"
#include "serial/EventLoop.h"
#include "serial/OwnerThread.h"
#include "serial/PortDiagnosis.h"
#include "serial/SerialPort.h"

#include <cctype>
#include <cstdio>
#include <chrono>
#include <functional>
#include <unistd.h>

namespace varnis::cli {
namespace {

// The search tries at most ten ports, each for its opening time and 100 ms.
constexpr std::chrono::seconds kSearchLimit{60};

// A terminal echoes the line end the user typed; otherwise the prompt's line
// is ended here.
void EndPromptLine(std::ostream& err, int nInputFd, bool bGotLine)
{
    if (!bGotLine || ::isatty(nInputFd) == 0) {
        err << std::endl;
    }
}

// A question on the terminal, as the window's locking confirmation asks it:
// y or yes is OK, anything else (the end of input, an answer too long to be
// one) is Cancel.
bool Confirm(std::string_view question, EventLoop& loop, LineReader& reader, std::ostream& err, int nInputFd)
{
    err << "Warning: " << question << " [y/N] " << std::flush;
    std::string answer;
    const bool bGotLine = reader.ReadLine(loop, answer);
    EndPromptLine(err, nInputFd, bGotLine);
    if (!bGotLine) {
        return false;
    }
    const std::string word = Normalised(answer);
    return word == "y" || word == "yes";
}

// Password protection with the password every new form shows protects
// nothing; the window allows it, the command line asks first.
std::string DefaultPasswordQuestion()
{
    return "password protection is on with the default password " + std::string(kDefaultPasswordText) +
           ", which anyone can read from the form; protect the reader with it all the same?";
}

bool ProtectsWithDefaultPassword(const FormChoices& form)
{
    return form.m_bPasswordProtection.value_or(false) &&
           Normalised(form.m_strPassword.value_or(std::string(kDefaultPasswordText))) == kDefaultPasswordText;
}

int ReportWritten(int nWritten, int nCount, std::ostream& err)
{
    if (nCount > 1) {
        err << nWritten << " of " << nCount << " cards written." << std::endl;
    }
    return nWritten == nCount ? kExitOk : kExitFailure;
}

// The window's timers on the session's event loop.
class LoopTimers final : public IWindowTimers {
public:
    explicit LoopTimers(EventLoop& loop) : m_loop(loop) {}
    void Start(int nId, int nMilliseconds, std::function<void()> onExpiry) override
    {
        m_loop.StartTimer(nId, nMilliseconds, std::move(onExpiry));
    }
    void Stop(int nId) override { m_loop.StopTimer(nId); }

private:
    EventLoop& m_loop;
};

// The engine's reports go to standard error as they are, except the report
// of a lost line: the run tells of that in one line of its own.
class CliErrorReporter final : public IErrorReporter {
public:
    void ReportError(std::string_view text, std::string_view, const CancelSignal&) override
    {
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
    void ReportLineLost(std::string_view, std::string_view, const CancelSignal&) override {}
};

// Everything one `make` run holds. Declared so that destruction runs in the
// safe order: the engine first (it stops its monitoring thread, whose
// hand-over is cancelled by the stop), then the owner channel, the loop last.
class MakeSession {
public:
    MakeSession(const CliOptions& options, bool bLockingConfirmed, const PortTable& table, std::ostream& out,
                std::ostream& err)
        : m_owner(m_loop,
                  [this](const SerialNotification& n) {
                      if (n.m_nMessage == SPN_RXCHAR) {
                          m_window.NoteReplyByte(m_linkState.m_nParserState, n.m_nWParam);
                          m_link.OnReceivedByte(n.m_nWParam, n.m_nLParam);
                      } else if (n.m_nMessage == SPN_CAUGHT_UP) {
                          m_link.OnCaughtUp(n.m_nWParam, n.m_nLParam);
                      } else if (n.m_nMessage == SPN_LINE_LOST) {
                          m_nLostPort = n.m_nLParam;  // the run ends: nothing more is asked of the link
                      }
                  }),
          m_window(options.m_form, bLockingConfirmed, m_build, out, err),
          m_engine(m_port),
          m_table(table),
          m_watched(m_engine, m_port, m_table),
          m_link(m_window, m_watched, m_linkState, m_build)
    {
        m_port.SetPortTable(table);
        m_port.SetErrorReporter(&m_reporter);
        m_window.Attach(&m_timers, &m_link, &m_owner);
        m_window.SetOnProbeUnanswered([this] { m_watched.NoAnswer(); });
    }
    ~MakeSession()
    {
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
    LoopTimers m_timers{m_loop};
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

// A lost line ends the run at once, in one line that names the port.
bool LineLost(const MakeSession& session, const PortTable& table, bool bNamedPath, std::ostream& err)
{
    if (session.LostPort() == 0) {
        return false;
    }
    err << "varnis-cli: the line to the device on " << PortName(table, session.LostPort(), bNamedPath) << " was lost"
        << std::endl;
    return true;
}

// Runs the search as "OpenPort" does. Found: says where. Not found: says why
// for each port that has a device; a port the user named that cannot be
// opened at all is told in one line of its own.
bool FindDevice(MakeSession& session, const CliOptions& options, const PortTable& table, std::ostream& err)
{
    CliWindow& window = session.Window();
    const bool bNamedPort = options.m_strPort.has_value();
    const bool bNamedPath = bNamedPort && table.IsNamedByPath(1);  // a path, or COMn beyond the table
    window.HoldNotFound(bNamedPort);
    session.Link().OnOpenPort();
    const bool bSearchEnded = session.Loop().RunUntil(
        [&] {
            return window.IsConnected() || window.LastAnswer() == DeviceAnswer::NotFound || session.LostPort() != 0;
        },
        kSearchLimit);
    if (LineLost(session, table, bNamedPath, err)) {
        return false;
    }
    if (window.IsConnected()) {
        const unsigned nPort = session.Engine().OpenPort();
        err << "varnis-cli: found on " << PortName(table, nPort, bNamedPath) << std::endl;
        return true;
    }
    if (!bSearchEnded) {
        err << "varnis-cli: the device search did not end within " << kSearchLimit.count() << " s." << std::endl;
        return false;
    }
    const std::vector<PassedPort>& passed = session.Engine().Passed();
    if (bNamedPort && passed.size() == 1 && passed.front().m_why.m_eProblem != PortProblem::None) {
        const unsigned nPort = passed.front().m_nPort;
        err << "varnis-cli: cannot use " << PortName(table, nPort, bNamedPath) << ": "
            << Printable(passed.front().m_why.m_strText, 300) << std::endl;
        return false;
    }
    if (bNamedPort) {
        err << "Warning: " << kNotFoundText << std::endl;
    }
    WhyNotFound(table, passed, bNamedPath, err);
    return false;
}

// The cards, one after the other; between two, the user places the next.
int MakeCards(MakeSession& session, const CliOptions& options, const PortTable& table, LineReader& reader,
              std::ostream& out, std::ostream& err, int nInputFd)
{
    CliWindow& window = session.Window();
    const bool bNamedPath = options.m_strPort.has_value() && table.IsNamedByPath(1);
    int nWritten = 0;
    for (int nCard = 1; nCard <= options.m_nCount; ++nCard) {
        if (nCard > 1) {
            err << "Place the next card (" << nCard << " of " << options.m_nCount
                << ") and press Enter: " << std::flush;
            std::string line;
            const bool bGotLine = reader.ReadLine(session.Loop(), line, [&session] { return session.LostPort() != 0; });
            if (session.LostPort() != 0) {
                err << std::endl;  // ends the prompt's line
                LineLost(session, table, bNamedPath, err);
                return kExitFailure;
            }
            EndPromptLine(err, nInputFd, bGotLine);
            if (!bGotLine) {
                err << (reader.TooLong() ? "varnis-cli: the answer is longer than a line can be."
                                         : "varnis-cli: end of input.")
                    << std::endl;
                break;
            }
        }
        window.ClearAnswer();
        session.Link().OnMake();
        if (!session.Build().m_bFrameReady) {
            break;  // the build has shown why
        }
        // The window waits for the result without limit; here the wait is bounded.
        const bool bAnswered = session.Loop().RunUntil(
            [&] { return window.LastAnswer() != DeviceAnswer::None || session.LostPort() != 0; },
            std::chrono::milliseconds(options.m_nReplyTimeoutMs));
        if (LineLost(session, table, bNamedPath, err)) {
            return kExitFailure;
        }
        if (!bAnswered) {
            out << "No result from the device within " << options.m_nReplyTimeoutMs
                << " ms; the card was not confirmed." << std::endl;
            break;
        }
        if (window.LastAnswer() != DeviceAnswer::Success) {
            break;
        }
        ++nWritten;
        // A result that cannot be reported ends the run: no card is made
        // whose outcome nobody would see.
        if (!out.good()) {
            break;
        }
    }
    return ReportWritten(nWritten, options.m_nCount, err);
}

// The form is checked before anything is asked, looked for or sent, so a
// refused form sends nothing at all. The window's build repeats the same checks.
bool FormAccepted(const CliOptions& options, std::ostream& out, std::ostream& err)
{
    BuildState scratch;
    CliWindow form(options.m_form, true, scratch, out, err);
    form.EnterConnectedState();
    return BuildSettingsBlock(form, scratch);
}

// After the form: the locking question, the search and the cards.
int MakeOnPorts(const CliOptions& options, const PortTable& table, std::ostream& out, std::ostream& err, int nInputFd)
{
    EventLoop promptLoop;
    LineReader reader(nInputFd);
    if (ProtectsWithDefaultPassword(options.m_form) && !options.m_bYes &&
        !Confirm(DefaultPasswordQuestion(), promptLoop, reader, err, nInputFd)) {
        err << "varnis-cli: protection with the default password not confirmed; nothing was sent." << std::endl;
        return kExitFailure;
    }
    bool bLockingConfirmed = true;
    if (options.m_form.m_bConfigLocking.value_or(false) && !options.m_bYes) {
        bLockingConfirmed = Confirm(kLockingQuestion, promptLoop, reader, err, nInputFd);
        if (!bLockingConfirmed) {
            err << "varnis-cli: configuration locking not confirmed; nothing was sent." << std::endl;
            return kExitFailure;
        }
    }
    MakeSession session(options, bLockingConfirmed, table, out, err);
    if (!FindDevice(session, options, table, err)) {
        return kExitFailure;
    }
    return MakeCards(session, options, table, reader, out, err, nInputFd);
}

}  // namespace

bool SelectPorts(const std::optional<std::string>& strPort, PortTable& table, std::string& strError)
{
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
    const std::string path = PortTable::ComPath(portnr);
    if (path.empty()) {
        strError = "no serial device behind " + port;
        return false;
    }
    if (portnr > PortTable::kPortCount) {
        table.SetNamedPath(1, path);  // beyond the table (Windows): the reports name the path
    } else {
        table.SetPath(portnr, path);
    }
    return true;
}

int RunMake(const CliOptions& options, std::ostream& out, std::ostream& err, int nInputFd)
{
    if (!FormAccepted(options, out, err)) {
        return kExitFailure;
    }
    PortTable table;
    std::string strError;
    if (!SelectPorts(options.m_strPort, table, strError)) {
        err << "varnis-cli: " << strError << std::endl;
        return kExitFailure;
    }
    for (unsigned portnr = 1; options.m_strPort && portnr <= PortTable::kPortCount; ++portnr) {
        if (IsOwnTerminal(table.PathOf(portnr))) {
            err << "varnis-cli: cannot use " << Printable(*options.m_strPort, 200)
                << ": it is the terminal varnis-cli runs in, not a port" << std::endl;
            return kExitFailure;
        }
    }
    return MakeOnPorts(options, table, out, err, nInputFd);
}

int RunMakeOnTable(const CliOptions& options, const PortTable& table, std::ostream& out, std::ostream& err,
                   int nInputFd)
{
    if (!FormAccepted(options, out, err)) {
        return kExitFailure;
    }
    return MakeOnPorts(options, table, out, err, nInputFd);
}

int RunPorts(const CliOptions& options, std::ostream& out, std::ostream& err)
{
    PortTable table;
    std::string strError;
    if (!SelectPorts(options.m_strPort, table, strError)) {
        err << "varnis-cli: " << strError << std::endl;
        return kExitFailure;
    }
    std::vector<ListedPort> ports = options.m_strPort ? TablePorts(table) : SystemPortList(table);
    if (options.m_strPort) {
        // Only the port named, under its own name; a path is listed as itself.
        std::erase_if(ports, [](const ListedPort& port) { return port.m_strPath.empty(); });
        const bool bComName = options.m_strPort->starts_with("COM");
        for (ListedPort& port : ports) {
            port.m_strLabel = bComName ? *options.m_strPort : std::string();
            port.m_strNote = bComName ? SearchNote(*options.m_strPort) : std::string();
        }
    }
    WritePortList(ports, PortInfoRoots{}, out);
    return kExitOk;
}

}  // namespace varnis::cli
