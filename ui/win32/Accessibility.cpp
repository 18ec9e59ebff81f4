#include "ui/win32/Accessibility.h"

#include "platform/win32/WideText.h"

#include <objbase.h>
#include <oleacc.h>

#include <array>
#include <string>

namespace varnis {

namespace {

const std::array<MSAAPROPID, 2> kProperties = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};

}  // namespace

void DialogAnnotations::Annotate(const ControlsById& controls, std::span<const FormItem> items)
{
    Clear();
    // The dialog's thread may have joined an apartment already; then it is
    // used as it is and left alone afterwards.
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_bComStarted = SUCCEEDED(hrCom);
    void* pServices = nullptr;
    if (FAILED(
            CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices, &pServices))) {
        Clear();
        return;
    }
    m_pServices = static_cast<IAccPropServices*>(pServices);
    for (const AccessibleAnnotation& annotation : AccessibleAnnotations(items)) {
        HWND hControl = controls.Find(annotation.m_nId);
        if (hControl == nullptr)
            continue;
        const std::wstring name = WideFromUtf8(annotation.m_strName);
        bool bSet =
            SUCCEEDED(m_pServices->SetHwndPropStr(hControl, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME, name.c_str()));
        if (!annotation.m_strDescription.empty()) {
            const std::wstring note = WideFromUtf8(annotation.m_strDescription);
            bSet = SUCCEEDED(m_pServices->SetHwndPropStr(hControl, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                                                         note.c_str())) ||
                   bSet;
        }
        if (bSet)
            m_annotated.push_back(hControl);
    }
}

void DialogAnnotations::Clear()
{
    if (m_pServices != nullptr) {
        for (HWND hControl : m_annotated)
            m_pServices->ClearHwndProps(hControl, OBJID_CLIENT, CHILDID_SELF, kProperties.data(),
                                        static_cast<int>(kProperties.size()));
        m_pServices->Release();
        m_pServices = nullptr;
    }
    m_annotated.clear();
    if (m_bComStarted) {
        CoUninitialize();
        m_bComStarted = false;
    }
}

}  // namespace varnis
