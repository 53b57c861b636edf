#pragma once

// Control identifiers of the main window (dialog template 102). The window, the handlers and the tests
// address every control by these numbers.
namespace ctl {

inline constexpr int kHomeNumberList = 1000;
inline constexpr int kAdd = 1001;
inline constexpr int kNumberEdit = 1002;
inline constexpr int kTxEdit = 1003;
inline constexpr int kRxEdit = 1004;
inline constexpr int kPllTxEdit = 1006;
inline constexpr int kPllRxEdit = 1008;
inline constexpr int kSaveAs = 1009;
inline constexpr int kWrite = 1010;
inline constexpr int kSerialPortEdit = 1011;
inline constexpr int kLogConsole = 1012;
inline constexpr int kBaudEdit = 1013;
inline constexpr int kRead = 1014;
inline constexpr int kOpen = 1015;
inline constexpr int kWideBandEnable = 1016;
inline constexpr int kWideBandDisable = 1017;
inline constexpr int kWideBandGet = 1018;
inline constexpr int kWideBandSet = 1019;
inline constexpr int kWriteAll = 1020;
inline constexpr int kReadAll = 1021;
inline constexpr int kDispList = 1022;
inline constexpr int kDispGet = 1023;
inline constexpr int kDispSet = 1024;
inline constexpr int kClearScreen = 1025;
inline constexpr int kSerialNumberEdit = 1026;
inline constexpr int kSerialNumberWrite = 1027;
inline constexpr int kDtmfDelayEdit = 1028;
inline constexpr int kDtmfDelayGet = 1029;
inline constexpr int kDtmfDelaySet = 1030;
inline constexpr int kSerialNumberRead = 1031;
inline constexpr int kRadioMfgList = 1032;
inline constexpr int kRadioMfgGet = 1033;
inline constexpr int kRadioMfgSet = 1034;
inline constexpr int kMinVolumeEdit = 1035;
inline constexpr int kMinVolumeGet = 1036;
inline constexpr int kMinVolumeSet = 1037;
inline constexpr int kSquelchGet = 1038;
inline constexpr int kSquelchSet = 1039;
inline constexpr int kSquelchList = 1040;
inline constexpr int kUserDescriptionEdit = 1041;
inline constexpr int kUserDescriptionWrite = 1042;
inline constexpr int kUserDescriptionRead = 1043;

// Beyond template 102: a transfer's progress and its Stop button, and Verify.
inline constexpr int kTransferProgress = 1044;
inline constexpr int kStop = 1045;
inline constexpr int kVerify = 1046;

// Labels and group boxes carry no identifier of their own.
inline constexpr int kStatic = -1;

// Results of the modal run.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

}  // namespace ctl
