// Runs a program as a child process with its three standard streams on
// pipes; collects what it writes while the test goes on.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnis::test {

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();  // kills the child if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::vector<std::string>& args);
    void WriteInput(std::string_view text);
    void CloseInput();
    // True once the standard output (error) holds `needle`.
    bool WaitForOutput(std::string_view needle, std::chrono::milliseconds limit);
    bool WaitForError(std::string_view needle, std::chrono::milliseconds limit);
    // The exit status, or nothing if the child had to be killed after `limit`
    // or ended by a signal.
    std::optional<int> Wait(std::chrono::milliseconds limit);
    std::string Output() const;
    std::string Error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

struct RunResult {
    std::optional<int> m_nStatus;
    std::string m_strOut;
    std::string m_strErr;
};

// Starts, feeds `input`, closes the input and waits.
RunResult RunProgram(const std::vector<std::string>& args, std::string_view input = {},
                     std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace varnis::test
