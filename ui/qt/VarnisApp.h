// The application object and the program's start-up.
#pragma once

#include "serial/PortTable.h"

#include <functional>
#include <optional>

namespace varnis {

class VarnisDlg;

// Whether the toolkit can expect a display: a platform named for it, or an
// X11 or Wayland display of the session.
bool HasGraphicalSession();

class VarnisApp {
public:
    VarnisApp() = default;
    VarnisApp(const VarnisApp&) = delete;
    VarnisApp& operator=(const VarnisApp&) = delete;

    // Set before Run. Without a table the machine's own serial devices are used.
    void SetPortTable(const PortTable& table) { m_portTable = table; }
    // Called with the main window once it exists, before its modal run.
    void SetMainWindowHook(std::function<void(VarnisDlg&)> hook) { m_hook = std::move(hook); }

    // Prepares the toolkit, runs the start-up and returns the exit code; 1
    // with one line on standard error when there is no graphical session.
    // Release builds drop the engine's debug trace.
    int Run(int& argc, char** argv);
    // The start-up: creates and runs the main window modally until it is
    // closed, then destroys it. False: the application does not go on running.
    bool InitInstance();

    VarnisDlg* MainWindow() const { return m_pMainWnd; }

private:
    std::optional<PortTable> m_portTable;
    std::function<void(VarnisDlg&)> m_hook;
    VarnisDlg* m_pMainWnd = nullptr;
};

}  // namespace varnis
