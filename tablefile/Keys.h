#pragma once

#include <string_view>

// The key texts that the writer puts in front of each value (followed by one space) and that the reader
// looks for inside its tokens. One list, so that a file written here always loads here.
namespace tablefile {

inline constexpr std::string_view kSerialNumberKey = "SerialNumber:";
inline constexpr std::string_view kUserDescriptionKey = "UserDescript:";
inline constexpr std::string_view kMinVolumeKey = "MINvolume:";
inline constexpr std::string_view kDtmfDelayKey = "DTMFDelay:";
inline constexpr std::string_view kWideBandKey = "WideBand:";
inline constexpr std::string_view kSquelchKey = "'SQUELCH':";
inline constexpr std::string_view kDispKey = "'DISP':";
inline constexpr std::string_view kRadioMfgKey = "RadioMfg:";
inline constexpr std::string_view kChannelsKey = "Channels:";

inline constexpr std::string_view kPllTxMark = "PLTX";
inline constexpr std::string_view kPllRxMark = "PLRX";

// A row whose codes are both this (or both empty) holds nothing worth saving.
inline constexpr std::string_view kNoCode = "FFF";

inline constexpr std::string_view kLineEnd = "\r\n";

}  // namespace tablefile
