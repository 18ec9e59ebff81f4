// The two forms as in-memory dialog templates (DLGTEMPLATEEX), made from the
// core's form tables, and the dialog font with its stand-in where the
// system lacks it.
#pragma once

#include "ui/core/FormTable.h"

#include <span>
#include <string>
#include <vector>

namespace varnis {

struct DialogFont {
    std::wstring m_strFace;
    int m_nPoints = 0;
};

// The face and size a template names. Where `pszFace` is missing, the same
// size in a stand-in face (ui/win32/DialogFont.h); written in DialogFont.cpp.
DialogFont ResolveDialogFont(const char* pszFace, int nPoints);

// The main form in template order, which is the order of the Tab key:
// frames, then each Tab stop preceded by its label, then each radio group as
// one run that starts with its first button, then the notes.
std::vector<const FormItem*> MainTemplateOrder();

// A DLGTEMPLATEEX in WORD units, aligned as the system wants it.
std::vector<unsigned short> BuildMainTemplate(const DialogFont& font);
std::vector<unsigned short> BuildHelpTemplate(const DialogFont& font);

}  // namespace varnis
