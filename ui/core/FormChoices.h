// The choices of a form as a user makes them, and the clicks and typing that
// make them on a form in memory: for a front end without a window (the
// command line).
#pragma once

#include "config/CardSettings.h"

#include <optional>
#include <string>
#include <string_view>

namespace varnis {

class MemorySurface;
class VarnisDlgCore;

// What the user puts into the form. Unset fields keep the connection defaults.
struct FormChoices {
    std::optional<OutputMode> m_eMode;
    std::optional<InterfaceKind> m_eInterface;
    std::optional<WiegandLength> m_eWiegandLength;
    std::optional<AbaFormat> m_eAbaFormat;
    std::optional<ImpulseTiming> m_eImpulseTiming;
    std::optional<std::string> m_strImpulseWidth;
    std::optional<std::string> m_strImpulseInterval;
    std::optional<int> m_nSector;
    std::optional<int> m_nBlock;
    std::optional<int> m_nStartAddress;
    std::optional<int> m_nEndAddress;
    std::optional<ByteOrder> m_eByteOrder;
    std::optional<KeyType> m_eKeyType;
    std::optional<std::string> m_strKey;
    std::optional<std::string> m_strPassword;
    std::optional<bool> m_bPasswordProtection;
    std::optional<bool> m_bConfigLocking;
};

// The choice a word names, case and runs of blanks aside: the form's own
// label for it or a short word ("uid", "msb", "26", "on"). False for any
// other word.
bool ParseChoiceWord(std::string_view word, OutputMode& out);
bool ParseChoiceWord(std::string_view word, InterfaceKind& out);
bool ParseChoiceWord(std::string_view word, WiegandLength& out);
bool ParseChoiceWord(std::string_view word, AbaFormat& out);
bool ParseChoiceWord(std::string_view word, ImpulseTiming& out);
bool ParseChoiceWord(std::string_view word, ByteOrder& out);
bool ParseChoiceWord(std::string_view word, KeyType& out);
bool ParseChoiceWord(std::string_view word, bool& out);  // on, off, enable, disable

// A click sets the mark as a toolkit does and reaches the core through its
// one entry for clicks (VarnisDlgCore::OnCommand).
void FillInForm(const FormChoices& choices, MemorySurface& surface, VarnisDlgCore& core);

}  // namespace varnis
