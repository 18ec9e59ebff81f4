#include "ui/core/FormTable.h"

#include "config/CardSettings.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace varnis {

namespace {

// One entry a line, as the form reads.
// clang-format off
constexpr std::array kForm = {
    FormItem{ControlKind::Frame, 0, "Port Settings", 1, 1, 213, 25},
    FormItem{ControlKind::Frame, 0, "", 213, 1, 191, 25},
    FormItem{ControlKind::Frame, 0, "Output Data Definition", 1, 26, 403, 22},
    FormItem{ControlKind::Frame, 0, "Interface Selection", 1, 49, 403, 23},
    FormItem{ControlKind::Frame, 0, "WIEGAND Parameters", 1, 73, 403, 21},
    FormItem{ControlKind::Frame, 0, "", 1, 89, 403, 22},
    FormItem{ControlKind::Frame, 0, "ABA Parameters", 1, 112, 403, 23},
    FormItem{ControlKind::Frame, 0, "Sector Parameters", 1, 136, 109, 54},
    FormItem{ControlKind::Frame, 0, "", 109, 136, 155, 54},
    FormItem{ControlKind::Frame, 0, "", 263, 136, 142, 54},
    FormItem{ControlKind::Frame, 0, "Key Checking", 1, 191, 403, 23},
    FormItem{ControlKind::Frame, 0, "Configuration Security", 1, 216, 217, 45},
    FormItem{ControlKind::Frame, 0, "Configuration Password", 13, 224, 193, 25},
    FormItem{ControlKind::Frame, 0, "", 217, 216, 187, 45},
    FormItem{ControlKind::Frame, 0, "Configuration Locking", 235, 224, 157, 30},
    FormItem{ControlKind::Frame, 0, "", 1, 260, 217, 27},
    FormItem{ControlKind::Frame, 0, "", 217, 260, 187, 27},

    FormItem{ControlKind::Label, 0, "Port:", 16, 12, 21, 8, kIdPortList},
    FormItem{ControlKind::List, kIdPortList, "", 46, 11, 48, 81},
    FormItem{ControlKind::Button, kIdOpenPort, "OpenPort", 107, 9, 41, 14},
    FormItem{ControlKind::Button, kIdClosePort, "ClosePort", 161, 9, 40, 14},
    FormItem{ControlKind::Button, kIdHelp, "Help", 274, 9, 68, 14},

    FormItem{ControlKind::Radio, kIdMode0, "Mode0：Output UID number", 31, 35, 136, 10, 0, kGroupOutputMode, true},
    FormItem{ControlKind::Radio, kIdMode1, "Mode1：Output sector data after KEY checking", 212, 35, 192, 10, 0, kGroupOutputMode},

    FormItem{ControlKind::Radio, kIdWiegand, "WIEGAND", 31, 59, 44, 10, 0, kGroupInterface, true},
    FormItem{ControlKind::Radio, kIdAba, "ABA", 180, 59, 28, 10, 0, kGroupInterface},

    FormItem{ControlKind::Radio, kIdWiegand26, "WIEGAND 26 bits", 31, 82, 76, 10, 0, kGroupWiegandLength, true},
    FormItem{ControlKind::Radio, kIdWiegand34, "WIEGAND 34 bits", 180, 82, 76, 10, 0, kGroupWiegandLength},
    FormItem{ControlKind::Radio, kIdWiegand42, "WIEGAND 42 bits", 321, 81, 76, 10, 0, kGroupWiegandLength},

    FormItem{ControlKind::Radio, kIdDefaultTiming, "Default", 8, 98, 44, 10, 0, kGroupImpulseTiming, true},
    FormItem{ControlKind::Radio, kIdUserDefined, "User-defined", 51, 98, 61, 10, 0, kGroupImpulseTiming},
    FormItem{ControlKind::Label, 0, "ImpulseWidth:", 115, 98, 53, 8, kIdImpulseWidth},
    FormItem{ControlKind::Edit, kIdImpulseWidth, "", 169, 95, 32, 14},
    FormItem{ControlKind::Label, 0, "*50us", 201, 97, 21, 8},
    FormItem{ControlKind::Label, 0, "(1-255)", 221, 97, 29, 8},
    FormItem{ControlKind::Label, 0, "ImpulseInterval:", 255, 97, 65, 8, kIdImpulseInterval},
    FormItem{ControlKind::Edit, kIdImpulseInterval, "", 323, 95, 28, 14},
    FormItem{ControlKind::Label, 0, "*50us", 353, 97, 21, 8},
    FormItem{ControlKind::Label, 0, "(1-255)", 373, 97, 29, 8},

    FormItem{ControlKind::Radio, kIdAba6HTo8D, "6H to 8D", 19, 121, 48, 10, 0, kGroupAbaFormat},
    FormItem{ControlKind::Radio, kIdAba6HTo10D, "6H to 10D", 100, 121, 52, 10, 0, kGroupAbaFormat},
    FormItem{ControlKind::Radio, kIdAba8HTo10D, "8H to 10D", 180, 121, 52, 10, 0, kGroupAbaFormat, true},
    FormItem{ControlKind::Radio, kIdAba4H2HTo8D, "4H+2H to 8D", 256, 121, 60, 10, 0, kGroupAbaFormat},
    FormItem{ControlKind::Radio, kIdAba4H2HTo10D, "4H+2H to 10D", 327, 121, 64, 10, 0, kGroupAbaFormat},

    FormItem{ControlKind::Label, 0, "Sector No.：", 6, 153, 48, 8, kIdSector},
    FormItem{ControlKind::List, kIdSector, "", 54, 150, 48, 70},
    FormItem{ControlKind::Label, 0, "Block No.：", 9, 171, 44, 8, kIdBlock},
    FormItem{ControlKind::List, kIdBlock, "", 54, 168, 48, 59},
    FormItem{ControlKind::Label, 0, "Start address in block:", 115, 146, 93, 8, kIdStartAddress},
    FormItem{ControlKind::List, kIdStartAddress, "", 210, 143, 42, 78},
    FormItem{ControlKind::Label, 0, "End address:", 159, 159, 49, 8, kIdEndAddress},
    FormItem{ControlKind::List, kIdEndAddress, "", 210, 156, 42, 71},
    FormItem{ControlKind::Label, 0, "(Start address <=End address)", 112, 170, 117, 8},
    FormItem{ControlKind::Label, 0, "(Length <=5 bytes)", 156, 180, 73, 8},
    FormItem{ControlKind::Label, 0, "Data Arrangment Order：", 267, 145, 93, 8},
    FormItem{ControlKind::Radio, kIdLsbFirst, "Least Significant Byte first", 271, 159, 128, 10, 0, kGroupByteOrder},
    FormItem{ControlKind::Radio, kIdMsbFirst, "Most Significant Byte first", 271, 173, 124, 10, 0, kGroupByteOrder, true},

    FormItem{ControlKind::Radio, kIdKeyA, "KEY A", 19, 201, 36, 10, 0, kGroupKeyType, true},
    FormItem{ControlKind::Radio, kIdKeyB, "KEY B", 80, 201, 36, 10, 0, kGroupKeyType},
    FormItem{ControlKind::Label, 0, "KEY:", 142, 202, 17, 8, kIdKey},
    FormItem{ControlKind::Edit, kIdKey, "", 168, 198, 98, 14},
    FormItem{ControlKind::Label, 0, "(6bytes hexadecimal digits,LSB)", 272, 200, 125, 8},

    FormItem{ControlKind::Label, 0, "Password:", 18, 235, 37, 8, kIdPassword},
    FormItem{ControlKind::Edit, kIdPassword, "", 61, 233, 57, 14},
    FormItem{ControlKind::Radio, kIdPasswordEnable, "Enable", 122, 235, 36, 10, 0, kGroupPasswordProtection, true},
    FormItem{ControlKind::Radio, kIdPasswordDisable, "Disable", 161, 235, 39, 10, 0, kGroupPasswordProtection},
    FormItem{ControlKind::Label, 0, "(default as 47150263)", 18, 251, 85, 8},
    FormItem{ControlKind::Check, kIdLocking, "Enable", 294, 237, 40, 10},

    FormItem{ControlKind::Button, kIdMake, "Make Provin", 62, 268, 87, 14},
    FormItem{ControlKind::DefaultButton, kIdExit, "Exit", 290, 269, 50, 14},
};
// clang-format on

constexpr std::array<int, 15> kTabOrder = {kIdExit,     kIdHelp,      kIdImpulseInterval, kIdImpulseWidth, kIdMake,
                                           kIdSector,   kIdBlock,     kIdStartAddress,    kIdKey,          kIdPortList,
                                           kIdOpenPort, kIdClosePort, kIdEndAddress,      kIdPassword,     kIdLocking};

constexpr std::array kHelpForm = {
    FormItem{ControlKind::Guide, kIdHelpText, "", 1, 1, 261, 190},
    FormItem{ControlKind::DefaultButton, kIdExit, "OK", 202, 196, 43, 15},
};

}  // namespace

std::span<const FormItem> MainFormItems()
{
    return kForm;
}

std::span<const int> MainTabOrder()
{
    return kTabOrder;
}

bool IsTabStop(int nId)
{
    return std::find(kTabOrder.begin(), kTabOrder.end(), nId) != kTabOrder.end();
}

std::span<const FormItem> HelpFormItems()
{
    return kHelpForm;
}

const FormItem* FindFormItem(int nId)
{
    const auto it = std::find_if(kForm.begin(), kForm.end(), [nId](const FormItem& item) { return item.m_nId == nId; });
    return it == kForm.end() ? nullptr : &*it;
}

std::vector<int> GroupMembers(int nGroup)
{
    std::vector<int> members;
    for (const FormItem& item : kForm) {
        if (item.m_eKind == ControlKind::Radio && item.m_nGroup == nGroup)
            members.push_back(item.m_nId);
    }
    std::sort(members.begin(), members.end());
    const auto first =
        std::find_if(members.begin(), members.end(), [](int nId) { return FindFormItem(nId)->m_bGroupStart; });
    std::rotate(members.begin(), first, first + 1);
    return members;
}

int LengthLimitOf(int nId)
{
    switch (nId) {
    case kIdKey: return kKeyTextLimit;
    case kIdPassword: return kPasswordTextLimit;
    case kIdImpulseInterval:
    case kIdImpulseWidth: return kImpulseTextLimit;
    default: return 0;
    }
}

std::vector<std::string> ListItems(int nId)
{
    std::vector<std::string> items;
    if (nId == kIdPortList) {
        items.emplace_back("AUTO");
        for (int n = 1; n <= 10; ++n)
            items.push_back("COM" + std::to_string(n));
        return items;
    }
    int nLast = 15;
    if (nId == kIdBlock)
        nLast = 3;
    else if (nId == kIdStartAddress)
        nLast = 13;
    for (int n = 0; n <= nLast; ++n)
        items.push_back(std::to_string(n));
    return items;
}

std::string LabelOf(int nId)
{
    for (const FormItem& item : kForm) {
        if (item.m_eKind != ControlKind::Label || item.m_nBuddy != nId)
            continue;
        std::string label = item.m_pszText;
        for (bool bCut = true; bCut;) {
            bCut = false;
            for (const std::string_view colon : {std::string_view(":"), std::string_view("：")}) {
                if (label.ends_with(colon)) {
                    label.resize(label.size() - colon.size());
                    bCut = true;
                }
            }
        }
        return label;
    }
    return {};
}

std::string AccessibleNameOf(int nId)
{
    switch (nId) {
    // Two choices read "Enable": their names say which setting they belong to.
    case kIdPasswordEnable: return "Password protection: Enable";
    case kIdPasswordDisable: return "Password protection: Disable";
    case kIdLocking: return "Configuration Locking: Enable";
    case kIdHelpText: return kGuideAccessibleName;
    default: return LabelOf(nId);
    }
}

std::string AccessibleDescriptionOf(int nId)
{
    switch (nId) {
    case kIdImpulseWidth:
    case kIdImpulseInterval: return "*50us (1-255)";
    case kIdKey: return "(6bytes hexadecimal digits,LSB)";
    case kIdPassword: return "(default as 47150263)";
    case kIdStartAddress:
    case kIdEndAddress: return "(Start address <=End address) (Length <=5 bytes)";
    default: return {};
    }
}

std::vector<AccessibleAnnotation> AccessibleAnnotations(std::span<const FormItem> items)
{
    std::vector<AccessibleAnnotation> annotations;
    for (const FormItem& item : items) {
        if (item.m_nId == 0)
            continue;
        std::string name = AccessibleNameOf(item.m_nId);
        annotations.push_back(
            {item.m_nId, name.empty() ? item.m_pszText : std::move(name), AccessibleDescriptionOf(item.m_nId)});
    }
    return annotations;
}

std::string GuideText()
{
    static constexpr std::array kLines = {
        "\r\n1.The program is used to make the Provin for TLR4A7K reader.",
        "\r\n2.Switch on the Provin Generator Device and press 'OpenPort' to establish the connection.",
        "\r\n3.Output data source, UID number or Sector Data, is optional.",
        "\r\n4.Wiegand or ABA interface is optional.",
        "\r\n5.The number of data bits,the impulse width and the impulse interval time of Wiegand can be defined.",
        "\r\n6.The output data content of ABA can be defined.",
        "\r\n7.When selected to output the sector data of Mifare card, the attribute of the data such as Sector "
        "Number, Block Number,Starting Address,Ending Address and Sequece Arrangement can be defined.",
        "\r\n8.Sector anthentication mode and password content can be defined.",
        "\r\n9.Two level configuration security measures,Password Protection and Configuration Locking,can be "
        "selected.",
    };
    std::string text = "User's Guide:\r\n";
    for (const char* pszLine : kLines) {
        text += pszLine;
        text += "\r\n";
    }
    return text;
}

}  // namespace varnis
