// Test scaffolding for the Windows window tier; shipped nowhere. Drives
// varnis.exe from outside, as a user's tools see it: the window and its
// controls found by id, clicks (BM_CLICK), typing (WM_SETTEXT), list choices
// (CB_SETCURSEL with CBN_SELCHANGE), enabled, checked and focus states read,
// message boxes found, read and answered.
//   window-driver PROGRAM STEP...
// starts PROGRAM (a Windows path) and runs each step in order; a step is its
// words separated by "|":
//   click|ID  settext|ID|TEXT  select|ID|INDEX  key|ID|return|escape
//   syscommand|N  close            (the close button: SC_CLOSE)
//   enabled|ID,ID,...              exactly these form controls are enabled
//   checked|ID,ID,...              exactly these radio buttons and check boxes are checked
//   text|ID|TEXT  selection|ID|INDEX  focus|ID
//   wait-enabled|ID  wait-disabled|ID   until ID is enabled, or disabled (10 s)
//   box|TEXT|CAPTION|ok|cancel     a message box of the program (10 s), answered; TEXT * for any
//   wait-box|TEXT|OWNER            a message box (10 s) left open, owned by the main window, the
//                                  help window or another box (OWNER main, help, box)
//   close-first|TEXT|ok|cancel     the box with TEXT, or the help window (TEXT help), told to close
//                                  (WM_COMMAND, as a click would), and hidden within 10 s
//   main|enabled|disabled          the main window is enabled (within 10 s), or disabled
//   nobox|MS                       no message box for MS milliseconds
//   help|FILE                      the help window is open with FILE's text; closed with OK
//   positions|PIXELS               every control within PIXELS of its dialog-unit rectangle
//   signal|FILE                    writes the window's screen rectangle to FILE, for the script
//   wait-file|FILE                 until FILE exists (60 s)
//   sleep|MS  exit|MS              the program ends by itself within MS, status 0
// Prints "startup-ms N" once the window is shown, and the first failing step
// with what it found. Exit status 0 when every step held, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The main form's controls: id and dialog-unit rectangle.
struct Control {
    int m_nId;
    int x, y, w, h;
    bool m_bCheckable;
};
// clang-format off
constexpr Control kControls[] = {
    {1026, 46, 11, 48, 81, false}, {1027, 107, 9, 41, 14, false}, {1029, 161, 9, 40, 14, false},
    {1000, 274, 9, 68, 14, false}, {1038, 31, 35, 136, 10, true}, {1039, 212, 35, 192, 10, true},
    {1040, 31, 59, 44, 10, true},  {1041, 180, 59, 28, 10, true}, {1042, 31, 82, 76, 10, true},
    {1043, 180, 82, 76, 10, true}, {1044, 321, 81, 76, 10, true}, {1056, 8, 98, 44, 10, true},
    {1006, 51, 98, 61, 10, true},  {1008, 169, 95, 32, 14, false}, {1007, 323, 95, 28, 14, false},
    {1046, 19, 121, 48, 10, true}, {1047, 100, 121, 52, 10, true}, {1045, 180, 121, 52, 10, true},
    {1049, 256, 121, 60, 10, true}, {1048, 327, 121, 64, 10, true}, {1019, 54, 150, 48, 70, false},
    {1020, 54, 168, 48, 59, false}, {1021, 210, 143, 42, 78, false}, {1060, 210, 156, 42, 71, false},
    {1053, 271, 159, 128, 10, true}, {1052, 271, 173, 124, 10, true}, {1050, 19, 201, 36, 10, true},
    {1051, 80, 201, 36, 10, true}, {1024, 168, 198, 98, 14, false}, {1067, 61, 233, 57, 14, false},
    {1064, 122, 235, 36, 10, true}, {1065, 161, 235, 39, 10, true}, {1066, 294, 237, 40, 10, true},
    {1017, 62, 268, 87, 14, false}, {1, 290, 269, 50, 14, false},
};
// clang-format on
constexpr DWORD kWaitMs = 10000;

PROCESS_INFORMATION g_process{};
HWND g_hMain = nullptr;

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return wide;
}

std::string Narrow(const std::wstring& wide)
{
    std::string text(wide.size() * 3 + 1, '\0');
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), static_cast<int>(text.size()), nullptr, nullptr);
    text.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return text;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> words;
    std::stringstream stream(text);
    for (std::string word; std::getline(stream, word, separator);)
        words.push_back(word);
    if (!text.empty() && text.back() == separator)
        words.emplace_back();
    return words;
}

LRESULT Send(HWND hWnd, UINT nMessage, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hWnd, nMessage, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

std::string TextOf(HWND hWnd)
{
    std::wstring wide(4096, L'\0');
    const auto n = static_cast<size_t>(Send(hWnd, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(wide.data())));
    wide.resize(n < wide.size() ? n : 0);
    return Narrow(wide);
}

HWND Item(int nId)
{
    return GetDlgItem(g_hMain, nId);
}

HWND FocusedWindow()
{
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    return GetGUIThreadInfo(g_process.dwThreadId, &gui) ? gui.hwndFocus : nullptr;
}

bool IsHelp(HWND hWnd)
{
    return GetDlgItem(hWnd, 1059) != nullptr;
}

// The program's visible dialog windows other than the main window: its boxes
// and the help window.
std::vector<HWND> Boxes()
{
    struct Search {
        std::vector<HWND> m_found;
    } search;
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            DWORD dwPid = 0;
            GetWindowThreadProcessId(hWnd, &dwPid);
            wchar_t szClass[32] = {};
            GetClassNameW(hWnd, szClass, 32);
            if (dwPid == g_process.dwProcessId && hWnd != g_hMain && IsWindowVisible(hWnd) &&
                std::wstring(szClass) == L"#32770")
                reinterpret_cast<Search*>(lParam)->m_found.push_back(hWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.m_found;
}

// A box's text: its longest static text.
std::string BoxText(HWND hBox)
{
    std::string best;
    for (HWND hChild = GetWindow(hBox, GW_CHILD); hChild != nullptr; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        wchar_t szClass[32] = {};
        GetClassNameW(hChild, szClass, 32);
        if (std::wstring(szClass) == L"Static") {
            const std::string text = TextOf(hChild);
            if (text.size() > best.size())
                best = text;
        }
    }
    return best;
}

template <typename Pred>
bool WaitFor(Pred pred, DWORD dwMs, DWORD dwPeriodMs = 20)
{
    const ULONGLONG ullEnd = GetTickCount64() + dwMs;
    for (;;) {
        if (pred())
            return true;
        if (GetTickCount64() >= ullEnd)
            return false;
        Sleep(dwPeriodMs);
    }
}

// The texts of the boxes open now, for a failure's report.
std::string OpenBoxes()
{
    std::string texts;
    for (HWND hBox : Boxes())
        texts += "; a box is open: '" + BoxText(hBox) + "'";
    return texts;
}

// A message box (not the help window) with TEXT, * for any; none: nullptr.
HWND FindBox(const std::string& text)
{
    for (HWND hBox : Boxes()) {
        if (!IsHelp(hBox) && (text == "*" || BoxText(hBox) == text))
            return hBox;
    }
    return nullptr;
}

// What owns a window: main, help, box, or none.
std::string OwnerKind(HWND hWnd)
{
    HWND hOwner = GetWindow(hWnd, GW_OWNER);
    if (hOwner == nullptr)
        return "none";
    return hOwner == g_hMain ? "main" : IsHelp(hOwner) ? "help" : "box";
}

std::string IdsOf(const std::set<int>& ids)
{
    std::string text;
    for (const int nId : ids)
        text += (text.empty() ? "" : ",") + std::to_string(nId);
    return text;
}

std::set<int> ParseIds(const std::string& text)
{
    std::set<int> ids;
    for (const std::string& word : Split(text, ','))
        if (!word.empty())
            ids.insert(std::atoi(word.c_str()));
    return ids;
}

bool Fail(const std::string& step, const std::string& found)
{
    std::printf("FAIL %s: %s\n", step.c_str(), found.c_str());
    return false;
}

bool Launch(const std::string& program)
{
    std::wstring command = L"\"" + Wide(program) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    LARGE_INTEGER start{};
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &g_process))
        return Fail("start", "CreateProcess failed, error " + std::to_string(GetLastError()));
    const bool bShown = WaitFor(
        []() {
            EnumWindows(
                [](HWND hWnd, LPARAM) -> BOOL {
                    DWORD dwPid = 0;
                    GetWindowThreadProcessId(hWnd, &dwPid);
                    if (dwPid == g_process.dwProcessId && IsWindowVisible(hWnd) && GetWindow(hWnd, GW_OWNER) == nullptr)
                        g_hMain = hWnd;
                    return g_hMain == nullptr;
                },
                0);
            return g_hMain != nullptr;
        },
        kWaitMs);
    if (!bShown)
        return Fail("start", "no window within 10 s");
    LARGE_INTEGER shown{};
    QueryPerformanceCounter(&shown);
    std::printf("startup-ms %lld\n", (shown.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
    std::fflush(stdout);
    return true;
}

bool AnswerBox(const std::vector<std::string>& w, const std::string& step)
{
    HWND hBox = nullptr;
    if (!WaitFor(
            [&hBox]() {
                hBox = FindBox("*");
                return hBox != nullptr;
            },
            kWaitMs))
        return Fail(step, "no box within 10 s");
    wchar_t szCaption[256] = {};
    GetWindowTextW(hBox, szCaption, 256);
    const std::string text = BoxText(hBox);
    const int nButton = w.at(3) == "cancel" ? IDCANCEL : IDOK;
    PostMessageW(GetDlgItem(hBox, nButton), BM_CLICK, 0, 0);
    if (!WaitFor([hBox]() { return !IsWindow(hBox) || !IsWindowVisible(hBox); }, kWaitMs))
        return Fail(step, "the box did not close");
    if ((w.at(1) != "*" && text != w.at(1)) || Narrow(szCaption) != w.at(2))
        return Fail(step, "box '" + text + "' caption '" + Narrow(szCaption) + "'");
    return true;
}

bool CheckHelp(const std::string& file, const std::string& step)
{
    std::ifstream in(file, std::ios::binary);
    const std::string expected{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    HWND hHelp = nullptr;
    if (!WaitFor(
            [&hHelp]() {
                for (HWND hBox : Boxes()) {
                    if (GetDlgItem(hBox, 1059) != nullptr)
                        hHelp = hBox;
                }
                return hHelp != nullptr;
            },
            kWaitMs))
        return Fail(step, "no help window within 10 s");
    wchar_t szCaption[64] = {};
    GetWindowTextW(hHelp, szCaption, 64);
    const std::string text = TextOf(GetDlgItem(hHelp, 1059));
    const bool bFocusOnOk = FocusedWindow() == GetDlgItem(hHelp, IDOK);
    const LONG style = GetWindowLongW(GetDlgItem(hHelp, 1059), GWL_STYLE);
    PostMessageW(GetDlgItem(hHelp, IDOK), BM_CLICK, 0, 0);
    if (!WaitFor([hHelp]() { return !IsWindow(hHelp); }, kWaitMs))
        return Fail(step, "the help window did not close");
    if (Narrow(szCaption) != "Help" || text != expected || !bFocusOnOk || (style & ES_READONLY) == 0 ||
        (style & ES_MULTILINE) == 0)
        return Fail(step, "caption '" + Narrow(szCaption) + "', focus on OK " + std::to_string(bFocusOnOk) +
                              ", text '" + text + "'");
    return true;
}

bool CheckPositions(int nPixels, const std::string& step)
{
    // The dialog's base units, as the client area of 405 x 287 units shows them.
    RECT client{};
    GetClientRect(g_hMain, &client);
    RECT units{0, 0, 405, 287};
    if (!MapDialogRect(g_hMain, &units))
        units = client;  // the system does not map another program's dialog: its size stands in
    std::string bad;
    for (const Control& c : kControls) {
        RECT want{c.x, c.y, c.x + c.w, c.y + c.h};
        want.left = MulDiv(want.left, units.right, 405);
        want.right = MulDiv(want.right, units.right, 405);
        want.top = MulDiv(want.top, units.bottom, 287);
        want.bottom = MulDiv(want.bottom, units.bottom, 287);
        RECT got{};
        GetWindowRect(Item(c.m_nId), &got);
        MapWindowPoints(nullptr, g_hMain, reinterpret_cast<POINT*>(&got), 2);
        // A drop-down list's rectangle holds its opened list: its top, left and width count.
        const bool bList = c.h > 50;
        if (std::abs(got.left - want.left) > nPixels || std::abs(got.top - want.top) > nPixels ||
            std::abs(got.right - want.right) > nPixels || (!bList && std::abs(got.bottom - want.bottom) > nPixels))
            bad += " " + std::to_string(c.m_nId);
    }
    if (units.right != client.right || units.bottom != client.bottom)
        bad += " client area";
    return bad.empty() ? true : Fail(step, "out of place:" + bad);
}

bool CheckSet(const std::string& step, const std::string& ids, bool bChecked)
{
    std::set<int> got;
    for (const Control& c : kControls) {
        if (bChecked ? c.m_bCheckable && Send(Item(c.m_nId), BM_GETCHECK) == BST_CHECKED
                     : IsWindowEnabled(Item(c.m_nId)) != FALSE)
            got.insert(c.m_nId);
    }
    return got == ParseIds(ids) ? true : Fail(step, IdsOf(got));
}

bool WaitBox(const std::vector<std::string>& w, const std::string& step)
{
    std::string found;
    const bool bFound = WaitFor(
        [&]() {
            found.clear();
            for (HWND hBox : Boxes()) {
                if (IsHelp(hBox))
                    continue;
                const std::string text = BoxText(hBox);
                const std::string owner = OwnerKind(hBox);
                if ((w.at(1) == "*" || text == w.at(1)) && owner == w.at(2))
                    return true;
                found += " '" + text + "' owned by " + owner;
            }
            return false;
        },
        kWaitMs);
    return bFound ? true : Fail(step, "within 10 s only:" + found);
}

bool CloseFirst(const std::vector<std::string>& w, const std::string& step)
{
    HWND hWnd = nullptr;
    for (HWND hBox : Boxes()) {
        if (w.at(1) == "help" ? IsHelp(hBox) : !IsHelp(hBox) && BoxText(hBox) == w.at(1))
            hWnd = hBox;
    }
    if (hWnd == nullptr)
        return Fail(step, "no such window");
    PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(w.at(2) == "cancel" ? IDCANCEL : IDOK, BN_CLICKED), 0);
    return WaitFor([hWnd]() { return !IsWindow(hWnd) || !IsWindowVisible(hWnd); }, kWaitMs) ? true
                                                                                            : Fail(step, "still shown");
}

bool RunStep(const std::string& step)
{
    const std::vector<std::string> w = Split(step, '|');
    const std::string& verb = w.at(0);
    const auto id = [&w]() { return std::atoi(w.at(1).c_str()); };
    if (verb == "click") {
        PostMessageW(Item(id()), BM_CLICK, 0, 0);
    } else if (verb == "settext") {
        Send(Item(id()), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(w.at(2)).c_str()));
    } else if (verb == "select") {
        Send(Item(id()), CB_SETCURSEL, std::atoi(w.at(2).c_str()));
        Send(g_hMain, WM_COMMAND, MAKEWPARAM(id(), CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id())));
    } else if (verb == "key") {
        const WPARAM vk = w.at(2) == "return" ? VK_RETURN : VK_ESCAPE;
        PostMessageW(Item(id()), WM_KEYDOWN, vk, 1);
        PostMessageW(Item(id()), WM_KEYUP, vk, 0xC0000001);
    } else if (verb == "syscommand") {
        PostMessageW(g_hMain, WM_SYSCOMMAND, std::strtoul(w.at(1).c_str(), nullptr, 0), 0);
    } else if (verb == "close") {
        PostMessageW(g_hMain, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (verb == "enabled" || verb == "checked") {
        return CheckSet(step, w.size() > 1 ? w[1] : "", verb == "checked");
    } else if (verb == "text") {
        const std::string got = TextOf(Item(id()));
        return got == w.at(2) ? true : Fail(step, "'" + got + "'");
    } else if (verb == "selection") {
        const auto got = Send(Item(id()), CB_GETCURSEL);
        return got == std::atoi(w.at(2).c_str()) ? true : Fail(step, std::to_string(got));
    } else if (verb == "focus") {
        HWND hFocus = FocusedWindow();
        const int got = hFocus != nullptr ? GetDlgCtrlID(hFocus) : 0;
        return got == id() ? true : Fail(step, std::to_string(got));
    } else if (verb == "wait-enabled") {
        return WaitFor([&]() { return IsWindowEnabled(Item(id())) != FALSE; }, kWaitMs)
                   ? true
                   : Fail(step, "still disabled" + OpenBoxes());
    } else if (verb == "wait-disabled") {
        return WaitFor([&]() { return IsWindowEnabled(Item(id())) == FALSE; }, kWaitMs)
                   ? true
                   : Fail(step, "still enabled" + OpenBoxes());
    } else if (verb == "box") {
        return AnswerBox(w, step);
    } else if (verb == "wait-box") {
        return WaitBox(w, step);
    } else if (verb == "close-first") {
        return CloseFirst(w, step);
    } else if (verb == "main") {
        if (w.at(1) == "disabled")
            return IsWindowEnabled(g_hMain) == FALSE ? true : Fail(step, "enabled");
        return WaitFor([]() { return IsWindowEnabled(g_hMain) != FALSE; }, kWaitMs) ? true : Fail(step, "disabled");
    } else if (verb == "nobox") {
        const bool bBox = WaitFor([]() { return !Boxes().empty(); }, std::strtoul(w.at(1).c_str(), nullptr, 10));
        return bBox ? Fail(step, "box '" + BoxText(Boxes().front()) + "'") : true;
    } else if (verb == "help") {
        return CheckHelp(w.at(1), step);
    } else if (verb == "positions") {
        return CheckPositions(id(), step);
    } else if (verb == "signal") {
        // The file holds the window's rectangle on the screen.
        RECT rect{};
        GetWindowRect(g_hMain, &rect);
        std::ofstream(w.at(1)) << rect.left << ' ' << rect.top << ' ' << rect.right << ' ' << rect.bottom << '\n';
    } else if (verb == "wait-file") {
        const std::wstring path = Wide(w.at(1));
        return WaitFor([&path]() { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000)
                   ? true
                   : Fail(step, "no such file within 60 s");
    } else if (verb == "sleep") {
        Sleep(std::strtoul(w.at(1).c_str(), nullptr, 10));
    } else if (verb == "exit") {
        if (WaitForSingleObject(g_process.hProcess, std::strtoul(w.at(1).c_str(), nullptr, 10)) != WAIT_OBJECT_0)
            return Fail(step, "still running");
        DWORD dwStatus = 1;
        GetExitCodeProcess(g_process.hProcess, &dwStatus);
        return dwStatus == 0 ? true : Fail(step, "exit status " + std::to_string(dwStatus));
    } else {
        return Fail(step, "unknown step");
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: window-driver PROGRAM STEP...\n");
        return 2;
    }
    bool bOk = Launch(argv[1]);
    for (int n = 2; bOk && n < argc; ++n)
        bOk = RunStep(argv[n]);
    // A program still running at the end is ended: the next case starts afresh.
    if (g_process.hProcess != nullptr && WaitForSingleObject(g_process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(g_process.hProcess, 3);
        WaitForSingleObject(g_process.hProcess, kWaitMs);
    }
    return bOk ? 0 : 1;
}
