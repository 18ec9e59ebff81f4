// Control ids of the main window's form and of the help window.
#pragma once

namespace varnis {

enum ControlId : int {
    kIdExit = 1,
    // Escape and the caption's close button: the window ends with Cancel.
    kIdCancel = 2,
    kIdHelp = 1000,
    kIdUserDefined = 1006,
    kIdImpulseInterval = 1007,
    kIdImpulseWidth = 1008,
    kIdMake = 1017,
    kIdSector = 1019,
    kIdBlock = 1020,
    kIdStartAddress = 1021,
    kIdKey = 1024,
    kIdPortList = 1026,
    kIdOpenPort = 1027,
    kIdClosePort = 1029,
    kIdMode0 = 1038,
    kIdMode1 = 1039,
    kIdWiegand = 1040,
    kIdAba = 1041,
    kIdWiegand26 = 1042,
    kIdWiegand34 = 1043,
    kIdWiegand42 = 1044,
    kIdAba8HTo10D = 1045,
    kIdAba6HTo8D = 1046,
    kIdAba6HTo10D = 1047,
    kIdAba4H2HTo10D = 1048,
    kIdAba4H2HTo8D = 1049,
    kIdKeyA = 1050,
    kIdKeyB = 1051,
    kIdMsbFirst = 1052,
    kIdLsbFirst = 1053,
    kIdDefaultTiming = 1056,
    kIdHelpText = 1059,
    kIdEndAddress = 1060,
    kIdPasswordEnable = 1064,
    kIdPasswordDisable = 1065,
    kIdLocking = 1066,
    kIdPassword = 1067,
};

// The command id of the help item in the window's menu, and the standard
// window commands beside it.
inline constexpr unsigned kSysCommandAbout = 0x0010;
inline constexpr unsigned kSysCommandMinimise = 0xF020;
inline constexpr unsigned kSysCommandClose = 0xF060;

}  // namespace varnis
