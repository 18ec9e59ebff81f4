// The main window's form and the help window's form as one table each: every
// control with its id, kind, text and rectangle in dialog units, its radio
// group, whether it starts a group or is a Tab stop, its length limit and its
// list items. Each window toolkit builds its forms from these tables.
#pragma once

#include "ui/core/FormIds.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnis {

inline constexpr const char* kMainWindowTitle = "Provin Generator v3.3";
inline constexpr const char* kHelpWindowTitle = "Help";
inline constexpr const char* kDialogFontName = "宋体";
inline constexpr int kDialogFontPoints = 9;
inline constexpr const char* kHelpFontName = "新宋体";
inline constexpr int kHelpFontPoints = 10;
inline constexpr int kFormWidthUnits = 405;
inline constexpr int kFormHeightUnits = 287;
inline constexpr int kHelpWidthUnits = 263;
inline constexpr int kHelpHeightUnits = 218;

// The help item of the window's menu: its text is string resource 101.
inline constexpr int kAboutMenuStringId = 101;
inline constexpr const char* kAboutMenuText = "关于 Varnis(&A)...";
inline constexpr const char* kLockingConfirmText =
    "Configuration will not be able to change after configuration locking enabled,are you sure to start the operation?";
inline constexpr const char* kGuideAccessibleName = "User's Guide";

enum class ControlKind : std::uint8_t { Frame, Label, List, Button, DefaultButton, Radio, Check, Edit, Guide };

enum RadioGroup : int {
    kNoGroup = 0,
    kGroupOutputMode,
    kGroupInterface,
    kGroupWiegandLength,
    kGroupAbaFormat,
    kGroupKeyType,
    kGroupByteOrder,
    kGroupImpulseTiming,
    kGroupPasswordProtection,
    kGroupCount
};

// One control of a form; geometry in dialog units. A label names the control
// it describes (`m_nBuddy`); a radio button names its group, and the group's
// first button in the group's own order starts it (`m_bGroupStart`).
struct FormItem {
    ControlKind m_eKind;
    int m_nId;  // 0 for labels and frames
    const char* m_pszText;
    int x, y, w, h;
    int m_nBuddy = 0;
    int m_nGroup = kNoGroup;
    bool m_bGroupStart = false;
};

// The main form in reading order, frames first so that the controls lie on
// top of them.
std::span<const FormItem> MainFormItems();
// The order the Tab key visits (disabled controls are skipped); radio buttons,
// labels and frames are no Tab stops.
std::span<const int> MainTabOrder();
bool IsTabStop(int nId);
// The help window's two controls: the guide field and OK.
std::span<const FormItem> HelpFormItems();

// The item with a form id, or null.
const FormItem* FindFormItem(int nId);
// The radio buttons of one group in the group's own order, its first button first.
std::vector<int> GroupMembers(int nGroup);
// Edit fields' length limits in characters; 0 for other controls.
int LengthLimitOf(int nId);
// A drop-down list's items, in ascending order (the selected index is the value).
std::vector<std::string> ListItems(int nId);
// The label of the control `nId` without its trailing colon, or "".
std::string LabelOf(int nId);
// What assistive technology says of a control beyond its label: its accessible
// name where the label alone would be ambiguous, and the notes beside an edit field
// or an address list.
std::string AccessibleNameOf(int nId);
std::string AccessibleDescriptionOf(int nId);

// What a native dialog hands to assistive technology for one control of a
// form: a name of its own (the accessible name, else the control's own text)
// and its note, "" where it has none.
struct AccessibleAnnotation {
    int m_nId = 0;
    std::string m_strName;
    std::string m_strDescription;
};
// One entry for each control of `items` that has an id (labels and frames
// have none), in the order of `items`.
std::vector<AccessibleAnnotation> AccessibleAnnotations(std::span<const FormItem> items);

// The user's guide, every line break a carriage return and line feed.
std::string GuideText();

// Where the icon goes when the window is drawn minimised: centred in the
// client area, integer division rounding toward zero.
struct IconPosition {
    int m_nX = 0;
    int m_nY = 0;
};

constexpr IconPosition MinimisedIconPosition(int nClientWidth, int nClientHeight, int nIconWidth, int nIconHeight)
{
    return IconPosition{(nClientWidth - nIconWidth + 1) / 2, (nClientHeight - nIconHeight + 1) / 2};
}

}  // namespace varnis
