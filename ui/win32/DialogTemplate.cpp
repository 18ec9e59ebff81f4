#include "ui/win32/DialogTemplate.h"

#include "ui/core/FormRules.h"
#include "ui/core/MemorySurface.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

namespace varnis {

namespace {

constexpr WORD kClassButton = 0x0080;
constexpr WORD kClassEdit = 0x0081;
constexpr WORD kClassStatic = 0x0082;
constexpr WORD kClassComboBox = 0x0085;

constexpr DWORD kWindowStyle = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU |
                               WS_MINIMIZEBOX | WS_VISIBLE;

class TemplateWriter {
public:
    void Word(WORD w) { m_words.push_back(w); }
    void Dword(DWORD dw)
    {
        Word(LOWORD(dw));
        Word(HIWORD(dw));
    }
    void Text(std::string_view text)
    {
        for (const wchar_t c : WideFromUtf8(text))
            Word(static_cast<WORD>(c));
        Word(0);
    }
    void AlignDword()
    {
        if (m_words.size() % 2 != 0)
            Word(0);
    }
    void Header(std::string_view title, DWORD dwExStyle, size_t nItems, int cx, int cy, const DialogFont& font)
    {
        Word(1);       // dlgVer
        Word(0xFFFF);  // signature: the extended template
        Dword(0);      // helpID
        Dword(dwExStyle);
        Dword(kWindowStyle);
        Word(static_cast<WORD>(nItems));
        for (const int n : {0, 0, cx, cy})
            Word(static_cast<WORD>(n));
        Word(0);  // no menu
        Word(0);  // the dialog class
        Text(title);
        Word(static_cast<WORD>(font.m_nPoints));
        Word(FW_NORMAL);
        Word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, character set
        for (const wchar_t c : font.m_strFace)
            Word(static_cast<WORD>(c));
        Word(0);
    }
    void Item(const FormItem& item, DWORD dwStyle, WORD wClass)
    {
        AlignDword();
        Dword(0);  // helpID
        Dword(0);  // extended style
        Dword(dwStyle | WS_CHILD | WS_VISIBLE);
        for (const int n : {item.x, item.y, item.w, item.h})
            Word(static_cast<WORD>(n));
        Dword(static_cast<DWORD>(item.m_nId != 0 ? item.m_nId : -1));
        Word(0xFFFF);
        Word(wClass);
        Text(item.m_pszText);
        Word(0);  // no creation data
    }
    std::vector<unsigned short> Take() { return std::move(m_words); }

private:
    std::vector<unsigned short> m_words;
};

// Every control but a radio button that continues its group starts a group
// of its own, so that the arrow keys move within a radio group only.
// `dwState`: WS_DISABLED for a control the start state disables.
void WriteItem(TemplateWriter& writer, const FormItem& item, DWORD dwState = 0)
{
    const DWORD dwGroup = (item.m_eKind != ControlKind::Radio || item.m_bGroupStart ? WS_GROUP : 0) | dwState;
    const DWORD dwTab = IsTabStop(item.m_nId) || item.m_eKind == ControlKind::Guide ? WS_TABSTOP : 0;
    switch (item.m_eKind) {
    case ControlKind::Frame: writer.Item(item, dwGroup | BS_GROUPBOX, kClassButton); break;
    case ControlKind::Label: writer.Item(item, dwGroup | SS_LEFT, kClassStatic); break;
    case ControlKind::List: {
        // The port list offers "AUTO" only: it is never enabled.
        const DWORD dwDisabled = item.m_nId == kIdPortList ? WS_DISABLED : 0;
        writer.Item(item, dwGroup | dwTab | dwDisabled | CBS_DROPDOWNLIST | WS_VSCROLL, kClassComboBox);
        break;
    }
    case ControlKind::Button: writer.Item(item, dwGroup | dwTab | BS_PUSHBUTTON, kClassButton); break;
    case ControlKind::DefaultButton: writer.Item(item, dwGroup | dwTab | BS_DEFPUSHBUTTON, kClassButton); break;
    case ControlKind::Radio: writer.Item(item, dwGroup | BS_AUTORADIOBUTTON, kClassButton); break;
    case ControlKind::Check: writer.Item(item, dwGroup | dwTab | BS_AUTOCHECKBOX, kClassButton); break;
    case ControlKind::Edit: writer.Item(item, dwGroup | dwTab | WS_BORDER | ES_AUTOHSCROLL, kClassEdit); break;
    case ControlKind::Guide:
        writer.Item(item, dwGroup | dwTab | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                    kClassEdit);
        break;
    }
}

// The controls the core's start state disables, learnt by showing it on a
// form in memory: made disabled, they need not be disabled one by one while
// the window starts.
class NoConfirmation final : public IConfirmation {
public:
    bool Confirm(std::string_view, std::string_view) override { return false; }
};

std::vector<int> StartDisabledIds()
{
    MemorySurface form;
    NoConfirmation confirmation;
    SettingsBlock block{};
    FormRules(form, confirmation, block).ShowStartState();
    std::vector<int> ids;
    for (const FormItem& item : MainFormItems()) {
        if (item.m_nId != 0 && !form.IsEnabled(item.m_nId))
            ids.push_back(item.m_nId);
    }
    return ids;
}

const FormItem* LabelFor(int nId)
{
    for (const FormItem& item : MainFormItems()) {
        if (item.m_eKind == ControlKind::Label && item.m_nBuddy == nId)
            return &item;
    }
    return nullptr;
}

}  // namespace

std::vector<const FormItem*> MainTemplateOrder()
{
    std::vector<const FormItem*> order;
    const std::span<const FormItem> items = MainFormItems();
    for (const FormItem& item : items) {
        if (item.m_eKind == ControlKind::Frame)
            order.push_back(&item);
    }
    for (const int nId : MainTabOrder()) {
        if (const FormItem* pLabel = LabelFor(nId))
            order.push_back(pLabel);
        order.push_back(FindFormItem(nId));
    }
    for (int nGroup = kNoGroup + 1; nGroup < kGroupCount; ++nGroup) {
        for (const int nId : GroupMembers(nGroup))
            order.push_back(FindFormItem(nId));
    }
    for (const FormItem& item : items) {
        if (item.m_eKind == ControlKind::Label && item.m_nBuddy == 0)
            order.push_back(&item);
    }
    return order;
}

std::vector<unsigned short> BuildMainTemplate(const DialogFont& font)
{
    const std::vector<const FormItem*> order = MainTemplateOrder();
    TemplateWriter writer;
    // Shown in the task bar: it is the program's only window.
    writer.Header(kMainWindowTitle, WS_EX_APPWINDOW, order.size(), kFormWidthUnits, kFormHeightUnits, font);
    const std::vector<int> disabled = StartDisabledIds();
    for (const FormItem* pItem : order) {
        const bool bDisabled = std::find(disabled.begin(), disabled.end(), pItem->m_nId) != disabled.end();
        WriteItem(writer, *pItem, bDisabled ? WS_DISABLED : 0);
    }
    return writer.Take();
}

std::vector<unsigned short> BuildHelpTemplate(const DialogFont& font)
{
    const std::span<const FormItem> items = HelpFormItems();
    TemplateWriter writer;
    writer.Header(kHelpWindowTitle, 0, items.size(), kHelpWidthUnits, kHelpHeightUnits, font);
    for (const FormItem& item : items)
        WriteItem(writer, item);
    return writer.Take();
}

}  // namespace varnis
