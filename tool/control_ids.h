#pragma once

// Identifiers of the main window's controls. Every control carries its id, in decimal, as its
// objectName, so handlers, tests and language captions all reach a control the same way.
namespace zendrik::tool::control_id {

// Action buttons (hover buttons).
inline constexpr int kConnect = 1000;
inline constexpr int kDisconnect = 1015;
inline constexpr int kFactoryDefault = 1017;
inline constexpr int kReadTag = 1018;
inline constexpr int kSaveChanges = 1027;
inline constexpr int kReadConfiguration = 1028;

// Connection area.
inline constexpr int kConnectionGroup = 1031;
inline constexpr int kPortList = 1006;
inline constexpr int kConnectBaudList = 1011;
inline constexpr int kCommPortLabel = 1032;
inline constexpr int kConnectBaudLabel = 1033;
inline constexpr int kUsbRadio = 1074;
inline constexpr int kComRadio = 1075;
inline constexpr int kUdpRadio = 1076;
inline constexpr int kHostIp = 1070;
inline constexpr int kReaderIp = 1071;
inline constexpr int kHostPort = 1072;
inline constexpr int kReaderPort = 1073;

// Work mode.
inline constexpr int kWorkModeGroup = 1037;
inline constexpr int kAlwaysReadRadio = 1029;
inline constexpr int kTriggerRadio = 1030;
inline constexpr int kReadTimeLabel = 1044;
inline constexpr int kTriggerTime = 1062;
inline constexpr int kReadTimeUnit = 1045;

// Reader indicator.
inline constexpr int kIndicatorGroup = 1034;
inline constexpr int kBuzzerCheck = 1013;
inline constexpr int kLedCheck = 1012;

// RF settings.
inline constexpr int kRfGroup = 1039;
inline constexpr int kPowerLabel = 1040;
inline constexpr int kPowerList = 1069;
inline constexpr int kFreqLabel = 1041;
inline constexpr int kFreqStartList = 1059;
inline constexpr int kFreqToLabel = 1042;
inline constexpr int kFreqEndList = 1060;
inline constexpr int kFreqUnitLabel = 1043;
inline constexpr int kFccRadio = 1077;
inline constexpr int kEtsiRadio = 1078;

// Wiegand output settings and format.
inline constexpr int kWiegandOutputGroup = 1083;
inline constexpr int kForwardRadio = 1056;
inline constexpr int kInvertedRadio = 1057;
inline constexpr int kStartBytesLabel = 1086;
inline constexpr int kStartBytesList = 1080;
inline constexpr int kLengthLabel = 1087;
inline constexpr int kLengthList = 1079;
inline constexpr int kWiegandFormatGroup = 1091;
inline constexpr int kWiegand26Radio = 1025;
inline constexpr int kWiegand34Radio = 1026;

// Output time and tag reading interval.
inline constexpr int kOutputTimeGroup = 1090;
inline constexpr int kOutputTimeLabel = 1088;
inline constexpr int kWiegandInterval = 1061;
inline constexpr int kReadingIntervalGroup = 1084;
inline constexpr int kReadingIntervalLabel = 1089;
inline constexpr int kReadTagInterval = 1053;

// Status, identity and tag list.
inline constexpr int kStatusLine = 1048;
inline constexpr int kVersionText = 1068;
inline constexpr int kSerialNumberText = 1082;
inline constexpr int kTagList = 1019;

// Hidden settings: address, baud rate, password, spare field.
inline constexpr int kAddressGroup = 1036;
inline constexpr int kReaderAddress = 1063;
inline constexpr int kBaudLabel = 1035;
inline constexpr int kBaudList = 1002;
inline constexpr int kSpareNumber = 1024;
inline constexpr int kPasswordGroup = 1046;
inline constexpr int kPasswordYesRadio = 1050;
inline constexpr int kPasswordNoRadio = 1051;
inline constexpr int kPassword = 1052;

// Hidden service buttons.
inline constexpr int kSetAddressButton = 1064;
inline constexpr int kGetAddressButton = 1065;
inline constexpr int kDecimalTestReadButton = 1066;
inline constexpr int kHexTestReadButton = 1067;
inline constexpr int kUsbTagReadButton = 1081;

}  // namespace zendrik::tool::control_id
