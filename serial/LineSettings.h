// A port's line settings and time-outs, as the engine keeps them.
#pragma once

#include <string>

namespace varnis {

// The line settings the engine asked for at the last Initialise (what a DCB
// held): what the line was found at, rebuilt from the settings text, with
// RTS on. A line that cannot carry a value (a pseudo-terminal has no parity
// or data bits of its own) keeps its own; this record still holds the value
// asked for.
struct LineSettings {
    int m_nBaud = 0;
    char m_cParity = 'N';
    int m_nDataBits = 8;
    int m_nStopBits = 1;
    bool m_bRts = false;
};

// Read and write time-outs, milliseconds. A write of n bytes gives up after
// WriteTotalTimeoutMultiplier * n + WriteTotalTimeoutConstant.
struct CommTimeouts {
    int m_nReadIntervalTimeout = 0;
    int m_nReadTotalTimeoutMultiplier = 0;
    int m_nReadTotalTimeoutConstant = 0;
    int m_nWriteTotalTimeoutMultiplier = 0;
    int m_nWriteTotalTimeoutConstant = 0;
};

// Parses a settings text "baud=%d parity=%c data=%d stop=%d" (keys in any
// order, each optional) over `settings`. False when the text is malformed or
// holds a value no serial line has (parity other than N/E/O/M/S, data bits
// outside 5..8, stop bits other than 1, 1.5 or 2, a baud rate of 0 or less).
bool BuildLineSettings(const std::string& text, LineSettings& settings);

}  // namespace varnis
