#include "apps/cli/CliRun.h"

#include "config/TextCharacters.h"
#include "apps/cli/CliWindow.h"
#include "apps/cli/PortListing.h"
#include "apps/cli/SearchWatch.h"
#include "ui/core/FormTable.h"
#include "platform/LineReader.h"
#include "platform/Terminal.h"
#include "serial/EventLoop.h"
#include "serial/PortDiagnosis.h"

#include <cctype>
#include <cstdio>
#include <chrono>
#include <unistd.h>

namespace varnis::cli {
namespace {

// The search tries at most ten ports, each for its opening time and 100 ms.
constexpr std::chrono::seconds kSearchLimit{60};

using console::LineReader;

// One line from `reader` while `loop` serves the port and the timers; the
// wait is for a person, and ends with a line, the end of input or `abandon`.
bool ReadLine(LineReader& reader, EventLoop& loop, std::string& strLine, const std::function<bool()>& abandon = {})
{
    if (!reader.Start([&loop] { loop.Post([] {}); })) {
        return false;
    }
    const auto doneOrAbandoned = [&reader, &abandon] { return reader.IsDone() || (abandon && abandon()); };
    while (!loop.RunUntil(doneOrAbandoned, std::chrono::hours(1))) {
    }
    return reader.Take(strLine);
}

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
    const bool bGotLine = ReadLine(reader, loop, answer);
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

// A lost line ends the run at once, in one line that names the port.
bool LineLost(const CliWindow& window, const PortTable& table, bool bNamedPath, std::ostream& err)
{
    if (window.LostPort() == 0) {
        return false;
    }
    err << "varnis-cli: the line to the device on " << PortName(table, window.LostPort(), bNamedPath) << " was lost"
        << std::endl;
    return true;
}

// Runs the search as "OpenPort" does. Found: says where. Not found: says why
// for each port that has a device; a port the user named that cannot be
// opened at all is told in one line of its own.
bool FindDevice(CliWindow& window, const CliOptions& options, const PortTable& table, std::ostream& err)
{
    const bool bNamedPort = options.m_strPort.has_value();
    const bool bNamedPath = bNamedPort && table.IsNamedByPath(1);  // a path, or COMn beyond the table
    SearchWatch watch(table);
    window.SetOnSearchStep([&watch, &window](const SearchStep& step) { watch.OnStep(step, window.LastOpenFailure()); });
    window.HoldNotFound(bNamedPort);
    window.OpenPort();
    const bool bSearchEnded = window.Loop().RunUntil(
        [&] {
            return window.IsConnected() || window.LastAnswer() == LinkAnswerKind::NotFound || window.LostPort() != 0;
        },
        kSearchLimit);
    window.SetOnSearchStep(nullptr);
    if (LineLost(window, table, bNamedPath, err)) {
        return false;
    }
    if (window.IsConnected()) {
        const unsigned nPort = watch.OpenPort();
        err << "varnis-cli: found on " << PortName(table, nPort, bNamedPath) << std::endl;
        return true;
    }
    if (!bSearchEnded) {
        err << "varnis-cli: the device search did not end within " << kSearchLimit.count() << " s." << std::endl;
        return false;
    }
    const std::vector<PassedPort>& passed = watch.Passed();
    if (bNamedPort && passed.size() == 1 && passed.front().m_why.m_eProblem != PortProblem::None) {
        const unsigned nPort = passed.front().m_nPort;
        err << "varnis-cli: cannot use " << PortName(table, nPort, bNamedPath) << ": "
            << Printable(passed.front().m_why.m_strText, 300) << std::endl;
        return false;
    }
    if (bNamedPort) {
        err << "Warning: " << kMsgNotFound << std::endl;
    }
    WhyNotFound(table, passed, bNamedPath, err);
    return false;
}

// The cards, one after the other; between two, the user places the next.
int MakeCards(CliWindow& window, const CliOptions& options, const PortTable& table, LineReader& reader,
              std::ostream& out, std::ostream& err, int nInputFd)
{
    const bool bNamedPath = options.m_strPort.has_value() && table.IsNamedByPath(1);
    int nWritten = 0;
    for (int nCard = 1; nCard <= options.m_nCount; ++nCard) {
        if (nCard > 1) {
            err << "Place the next card (" << nCard << " of " << options.m_nCount
                << ") and press Enter: " << std::flush;
            std::string line;
            const bool bGotLine = ReadLine(reader, window.Loop(), line, [&window] { return window.LostPort() != 0; });
            if (window.LostPort() != 0) {
                err << std::endl;  // ends the prompt's line
                LineLost(window, table, bNamedPath, err);
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
        window.Make();
        if (!window.Build().m_bFrameReady) {
            break;  // the build has shown why
        }
        // The window waits for the result without limit; here the wait is bounded.
        const bool bAnswered =
            window.Loop().RunUntil([&] { return window.LastAnswer().has_value() || window.LostPort() != 0; },
                                   std::chrono::milliseconds(options.m_nReplyTimeoutMs));
        if (LineLost(window, table, bNamedPath, err)) {
            return kExitFailure;
        }
        if (!bAnswered) {
            out << "No result from the device within " << options.m_nReplyTimeoutMs
                << " ms; the card was not confirmed." << std::endl;
            break;
        }
        if (window.LastAnswer() != LinkAnswerKind::Success) {
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
    CliWindow form(options.m_form, true, out, err);
    form.ConnectWithoutDevice();
    return form.BuildSettings();
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
        bLockingConfirmed = Confirm(kLockingConfirmText, promptLoop, reader, err, nInputFd);
        if (!bLockingConfirmed) {
            err << "varnis-cli: configuration locking not confirmed; nothing was sent." << std::endl;
            return kExitFailure;
        }
    }
    CliWindow window(options.m_form, bLockingConfirmed, out, err);
    window.SetPortTable(table);
    if (!FindDevice(window, options, table, err)) {
        return kExitFailure;
    }
    return MakeCards(window, options, table, reader, out, err, nInputFd);
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
        if (console::IsOwnTerminal(table.PathOf(portnr))) {
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
