#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The simulated device's memory and its answer to each request, as pure byte work: no clock, no file
// descriptor. The pseudo-terminal server (PtyServer) feeds it whole requests and sends what it returns.
// The device's own choices (what it refuses, what it leaves unanswered) are listed in sim/README.md.
namespace vantor::sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kWrite = 0x01;
inline constexpr std::uint8_t kRead = 0x02;
inline constexpr std::uint8_t kStatusOk = 0x00;
inline constexpr std::uint8_t kStatusRefused = 0x01;

inline constexpr std::uint8_t kHomeNumberCode = 0x33;
inline constexpr std::uint8_t kWideBandCode = 0x34;
inline constexpr std::uint8_t kDispCode = 0x35;
inline constexpr std::uint8_t kDtmfDelayCode = 0x36;
inline constexpr std::uint8_t kSerialNumberCode = 0x37;
inline constexpr std::uint8_t kPllCode = 0x38;
inline constexpr std::uint8_t kRadioMfgCode = 0x39;
inline constexpr std::uint8_t kMinVolumeCode = 0x3A;
inline constexpr std::uint8_t kSquelchCode = 0x3B;
inline constexpr std::uint8_t kUserDescriptionCode = 0x3C;

inline constexpr int kHomeNumberCount = 500;
inline constexpr int kPllHomeNumberCount = 100;
inline constexpr std::size_t kSerialNumberSize = 32;
inline constexpr std::size_t kUserDescriptionSize = 12;
inline constexpr std::uint16_t kNoPll = 0xFFFF;
inline constexpr std::uint8_t kNoCodes = 0xFF;

// A home number's two codes: both empty (no codes), or both of 2 or both of 3 ASCII digits.
struct HomeNumberCodes {
    std::string tx;
    std::string rx;
    bool operator==(const HomeNumberCodes&) const = default;
};

// PLL wire values: the frequency times ten, kNoPll for none.
struct PllValues {
    std::uint16_t tx = kNoPll;
    std::uint16_t rx = kNoPll;
    bool operator==(const PllValues&) const = default;
};

// What the device remembers. The defaults are a freshly delivered unit; the two texts are stored as the
// full fixed-size fields they arrive in (zero bytes included), so a read returns exactly what was written.
struct DeviceState {
    std::uint8_t wideBand = 1;  // 1 enabled, 2 disabled
    std::uint8_t disp = 1;      // 1 NONE, 2 TBD
    std::uint8_t dtmfDelay = 5;
    std::uint8_t radioMfg = 1;  // 1 KENWOOD, 2 ICOM
    std::uint8_t minVolume = 3;
    std::uint8_t squelch = 1;  // 1 NONE, 2 SQLCH
    std::string serialNumber = TextField("SIM00001", kSerialNumberSize);
    std::string userDescription = TextField("Simulator", kUserDescriptionSize);
    std::array<HomeNumberCodes, kHomeNumberCount> homeNumbers{};  // [0] is home number 1
    std::array<PllValues, kPllHomeNumberCount> pll{};             // [0] is home number 1

    // text cut or padded with zero bytes to exactly size bytes, as the text commands carry it
    static std::string TextField(std::string_view text, std::size_t size);
    bool operator==(const DeviceState&) const = default;
};

// How far the bytes received so far make up a request, judged by the lengths the commands fix.
enum class FrameStatus {
    kIncomplete,     // the start of a request whose length is known; more bytes are due
    kMaybeComplete,  // a home number write of 4 to 9 bytes: whole if no more bytes follow
    kComplete,       // a request of its known full length
    kUnknown,        // no request starts this way: garbage, ended only by a pause
};
FrameStatus ClassifyFrame(std::span<const std::uint8_t> bytes);

class DeviceModel {
public:
    DeviceModel() = default;
    explicit DeviceModel(DeviceState state) : m_state(std::move(state)) {}

    // The reply to one whole request, having acted on it; nullopt for a request the device cannot parse,
    // which it leaves unanswered. With refuse set, a well-formed write is answered with status 1 and not
    // stored (a device that is busy or write-protected); requests other than writes are unaffected.
    std::optional<Bytes> Answer(std::span<const std::uint8_t> request, bool refuse = false);

    const DeviceState& State() const { return m_state; }
    DeviceState& State() { return m_state; }

private:
    std::optional<Bytes> AnswerHomeNumber(std::span<const std::uint8_t> request, bool refuse);
    std::optional<Bytes> AnswerPll(std::span<const std::uint8_t> request, bool refuse);

    DeviceState m_state;
};

}  // namespace vantor::sim
