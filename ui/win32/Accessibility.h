// The names and notes of a dialog's controls for screen readers, given
// through Dynamic Annotation. Without them a reader names a control after
// the static text before it: two choices would both read "Enable", and no
// note would reach its field.
#pragma once

#include "ui/core/FormTable.h"
#include "ui/win32/ControlsById.h"

#include <windows.h>

#include <span>
#include <vector>

struct IAccPropServices;

namespace varnis {

class DialogAnnotations {
public:
    DialogAnnotations() = default;
    ~DialogAnnotations() { Clear(); }
    DialogAnnotations(const DialogAnnotations&) = delete;
    DialogAnnotations& operator=(const DialogAnnotations&) = delete;

    // Gives each of a dialog's `controls` made from `items` its name and note
    // (AccessibleAnnotations). Where the system has no annotation service,
    // the controls keep the names the system gives them.
    void Annotate(const ControlsById& controls, std::span<const FormItem> items);
    // Takes back what Annotate gave; called when the dialog is destroyed.
    void Clear();

private:
    IAccPropServices* m_pServices = nullptr;
    bool m_bComStarted = false;
    std::vector<HWND> m_annotated;
};

}  // namespace varnis
