// The start state's check marks on the window's own template, as the window
// sets them in WM_INITDIALOG (the form made, not yet shown, its options
// disabled): the system's BM_SETCHECK on each automatic radio button against
// the window's DialogControls::SetCheck, in turns, so that a change in the
// machine's load falls on both alike. Prints the median of each and their
// ratio, and whether both left every button of the form in the same state.
//   check_marks [ROUNDS]     (under Wine on an X server, or on Windows)
#include "ui/win32/DialogControls.h"
#include "ui/core/FormIds.h"
#include "ui/core/FormTable.h"
#include "ui/win32/DialogTemplate.h"
#include "bench/win32/EndOnlyDialog.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace varnis;

constexpr std::array kStartMarks = {kIdMode0, kIdWiegand,  kIdWiegand26,     kIdAba8HTo10D,
                                    kIdKeyA,  kIdLsbFirst, kIdDefaultTiming, kIdPasswordDisable};

struct Run {
    int m_nRounds = 15;
    std::vector<double> m_system;
    std::vector<double> m_window;
    bool m_bSameState = true;
};

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Every radio button's check mark and Tab stop, in the form's order.
std::vector<LONG_PTR> ButtonStates(HWND hDlg)
{
    std::vector<LONG_PTR> states;
    for (const FormItem& item : MainFormItems()) {
        if (item.m_eKind != ControlKind::Radio)
            continue;
        HWND hButton = GetDlgItem(hDlg, item.m_nId);
        states.push_back(SendMessageW(hButton, BM_GETCHECK, 0, 0));
        states.push_back(GetWindowLongPtrW(hButton, GWL_STYLE) & (WS_TABSTOP | BS_TYPEMASK));
    }
    return states;
}

void ClearMarks(HWND hDlg)
{
    for (const FormItem& item : MainFormItems()) {
        if (item.m_eKind == ControlKind::Radio)
            SendDlgItemMessageW(hDlg, item.m_nId, BM_SETCHECK, BST_UNCHECKED, 0);
    }
}

template <typename SetMarks>
double Timed(HWND hDlg, SetMarks setMarks)
{
    ClearMarks(hDlg);
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    QueryPerformanceCounter(&start);
    setMarks();
    QueryPerformanceCounter(&end);
    return Milliseconds(start, end);
}

INT_PTR CALLBACK MeasuringDialogProc(HWND hDlg, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    if (nMessage != WM_INITDIALOG)
        return bench::EndOnlyDialogProc(hDlg, nMessage, wParam, lParam);
    Run& run = *reinterpret_cast<Run*>(lParam);
    DialogControls controls;
    controls.Attach(hDlg);
    for (int i = 0; i < run.m_nRounds; ++i) {
        run.m_system.push_back(Timed(hDlg, [&]() {
            for (const int nId : kStartMarks)
                SendDlgItemMessageW(hDlg, nId, BM_SETCHECK, BST_CHECKED, 0);
        }));
        const std::vector<LONG_PTR> bySystem = ButtonStates(hDlg);
        run.m_window.push_back(Timed(hDlg, [&]() {
            for (const int nId : kStartMarks)
                controls.SetCheck(nId, true);
        }));
        run.m_bSameState = run.m_bSameState && ButtonStates(hDlg) == bySystem;
    }
    EndDialog(hDlg, IDOK);
    return TRUE;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    INITCOMMONCONTROLSEX commonControls{sizeof commonControls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&commonControls);
    Run run;
    if (argc > 1)
        run.m_nRounds = std::clamp(std::atoi(argv[1]), 1, 1000);
    const std::vector<unsigned short> words = BuildMainTemplate(ResolveDialogFont(kDialogFontName, kDialogFontPoints));
    if (DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr,
                                &MeasuringDialogProc, reinterpret_cast<LPARAM>(&run)) != IDOK) {
        std::fprintf(stderr, "check_marks: the form could not be made\n");
        return 1;
    }
    const double system = Median(run.m_system);
    const double window = Median(run.m_window);
    std::printf("check marks of the start state (ms, median of %d): system %.2f, window %.2f, ratio %.2f; %s\n",
                run.m_nRounds, system, window, system > 0 ? window / system : 0.0,
                run.m_bSameState ? "same marks and Tab stops" : "MARKS DIFFER");
    return run.m_bSameState ? 0 : 1;
}
