// The device session against a device whose every reply the fuzzer shapes: the simulated device's
// model answers each request truthfully, and the fuzzer chooses, reply by reply, to pass the answer on
// in pieces at moments of its choosing, to keep it back (the model then does not act on the request), to
// have the write refused, to break its frame (code, sub-code, a cut, filler bytes after it), or to send
// bytes of its own. Time is the target's own: no wait waits.
//
// Whatever the replies, what the session says it read is what the device holds, what it says it wrote
// the device holds, and a transfer it calls whole is whole. Bytes of the fuzzer's own may happen to be a
// well-formed reply saying something else: a device may say what it likes, so after such a reply the
// values of that command are not checked.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "device/DeviceSession.h"
#include "device/DeviceSettings.h"
#include "protocol/DeviceCommand.h"
#include "protocol/LogSink.h"
#include "sim/DeviceModel.h"
#include "table/HomeNumberRules.h"
#include "table/HomeNumberTable.h"

namespace {

using Clock = std::chrono::steady_clock;
using vantor::sim::Bytes;
using vantor::sim::DeviceModel;
using vantor::sim::DeviceState;

// SESSION_FUZZ_VERBOSE=1 shows each exchange and the log, for an input that failed.
bool Verbose() {
    static const bool verbose = std::getenv("SESSION_FUZZ_VERBOSE") != nullptr;
    return verbose;
}

class ShownLog final : public LogSink {
public:
    void Text(std::string_view text, bool) override { Show(std::string(text)); }
    void Number(std::int32_t value, bool) override { Show(std::to_string(value)); }
    void String(const std::string& text, bool) override { Show(text); }
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override { Show(HexDigits(bytes, count)); }

private:
    static void Show(const std::string& text) {
        if (Verbose()) std::fprintf(stderr, "%s", text.c_str());
    }
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "session: %s\n", what.c_str());
    std::abort();
}

// Whether the first `n` bytes of a home number's reply with three-digit codes are a whole reply of
// two-digit codes.
bool TwoDigitsOfThree(std::span<const std::uint8_t> request, const Bytes& reply, std::size_t n) {
    return !request.empty() && request[0] == 0x33 && reply.size() == 10 && n == 8;
}

bool TextRead(std::span<const std::uint8_t> request) {
    return request.size() == 2 && (request[0] == 0x37 || request[0] == 0x3C) && request[1] == 0x02;
}

// Where a piece of a text reply may end. A text that has ended before its field is full may make a
// whole reply: a device that paused among the zeros after its text, longer than the port may hold bytes
// back, cannot be told from one that sent a shorter field, and what it sends after the pause would come
// with the next reply. Devices send a reply without a pause, so the zeros come in one piece with the
// rest; a pause before the first of them is a pause inside a text that has not ended.
std::size_t TextPieceEnd(const Bytes& bytes, std::size_t from, std::size_t to) {
    if (bytes.size() <= 2) return to;
    const std::size_t zero = static_cast<std::size_t>(std::find(bytes.begin() + 2, bytes.end(), 0) - bytes.begin());
    if (to <= zero || to >= bytes.size()) return to;
    return from < zero ? zero : bytes.size();
}

// The latest a reply comes, from its request: the device's own time and its line.
constexpr std::chrono::milliseconds kLatest{950};

// The far end: the model behind the fuzzer's hand, its reply pieces due at moments of the target's time.
class FarEnd final : public SerialLink::Wire {
public:
    FarEnd(FuzzedDataProvider& fuzz, DeviceModel& model, Clock::time_point& now)
        : m_fuzz(fuzz), m_model(model), m_now(now) {}

    std::int32_t Write(std::span<const std::uint8_t> request) override {
        Answer(request);
        return static_cast<std::int32_t>(request.size());
    }
    std::int32_t Waiting() override {
        std::int32_t waiting = 0;
        for (const Piece& piece : m_pieces) {
            if (piece.at > m_now) break;
            waiting += static_cast<std::int32_t>(piece.bytes.size() - piece.taken);
        }
        return waiting;
    }
    std::int32_t Read(std::span<std::uint8_t> dest) override {
        std::size_t got = 0;
        while (got < dest.size() && !m_pieces.empty() && m_pieces.front().at <= m_now) {
            Piece& piece = m_pieces.front();
            while (got < dest.size() && piece.taken < piece.bytes.size()) dest[got++] = piece.bytes[piece.taken++];
            if (piece.taken == piece.bytes.size()) m_pieces.pop_front();
        }
        if (Verbose() && got) {
            std::string hex;
            for (std::size_t i = 0; i < got; ++i) hex += " " + std::to_string(dest[i]);
            std::fprintf(stderr, "  read%s at %.3f s\n", hex.c_str(), std::chrono::duration<double>(m_now.time_since_epoch()).count());
        }
        return static_cast<std::int32_t>(got);
    }
    // When the next piece is due; none when nothing is on its way.
    std::optional<Clock::time_point> Next() const {
        if (m_pieces.empty()) return std::nullopt;
        return m_pieces.front().at;
    }
    // Whether a reply of the fuzzer's own bytes went out since the command began: what the command then
    // reports may be what those bytes said.
    bool Invented() const { return m_invented; }
    void NewCommand() { m_invented = false; }

private:
    struct Piece {
        Clock::time_point at;
        Bytes bytes;
        std::size_t taken = 0;
    };

    void Answer(std::span<const std::uint8_t> request) {
        // Without fuzzer bytes left, the device answers as it should, at once.
        const int choice = m_fuzz.remaining_bytes() ? m_fuzz.ConsumeIntegralInRange<int>(0, 15) : 0;
        if (choice == 8) return;  // silence: not acted on
        std::optional<Bytes> reply = m_model.Answer(request, choice == 9);
        if (!reply) return;
        Bytes bytes = *reply;
        const auto shown = [](std::span<const std::uint8_t> b) {
            std::string hex;
            for (const std::uint8_t x : b) hex += " " + std::to_string(x);
            return hex;
        };
        switch (choice) {
            case 10:  // a wrong code or sub-code
                if (!bytes.empty()) {
                    const std::size_t at = m_fuzz.ConsumeIntegralInRange<std::size_t>(0, std::min<std::size_t>(1, bytes.size() - 1));
                    const auto value = m_fuzz.ConsumeIntegral<std::uint8_t>();
                    if (value != bytes[at]) bytes[at] = value;
                }
                break;
            case 11:  // cut short
                bytes.resize(m_fuzz.ConsumeIntegralInRange<std::size_t>(0, bytes.size()));
                // A text reply is as long as the device makes it: a shorter one is a shorter text.
                if (TextRead(request)) m_invented = true;
                // Three-digit codes cut after two digits each are a whole reply of two-digit codes.
                if (TwoDigitsOfThree(request, *reply, bytes.size())) m_invented = true;
                break;
            case 12:  // filler after it
                bytes.insert(bytes.end(), m_fuzz.ConsumeIntegralInRange<std::size_t>(1, 60), 0x55);
                // A longer text reply is a longer text, and two-digit codes with two bytes more are
                // three-digit codes (taken as they come, digits or not).
                if (TextRead(request) || (request[0] == 0x33 && request[1] == 0x02)) m_invented = true;
                break;
            case 13:  // bytes of the fuzzer's own
                bytes = m_fuzz.ConsumeBytes<std::uint8_t>(m_fuzz.ConsumeIntegralInRange<std::size_t>(0, 48));
                m_invented = true;
                break;
            default:
                break;
        }
        if (Verbose()) std::fprintf(stderr, "request%s -> choice %d, reply%s\n", shown(request).c_str(), choice, shown(bytes).c_str());
        // In pieces: up to three, each after a pause of the fuzzer's (a late reply, an adapter's timer).
        // A line carries bytes in order: a reply begins after the one before it has ended.
        Clock::time_point at = std::max(m_now + std::chrono::milliseconds(2), m_lastAt);
        const int pieces = m_fuzz.remaining_bytes() ? m_fuzz.ConsumeIntegralInRange<int>(1, 3) : 1;
        std::size_t from = 0;
        for (int i = 0; i < pieces && from < bytes.size(); ++i) {
            std::size_t to = i + 1 == pieces ? bytes.size()
                                             : m_fuzz.ConsumeIntegralInRange<std::size_t>(from, bytes.size());
            // Three-digit codes cut after two digits each look like a whole reply of two-digit codes:
            // a device that pauses there longer than the port may hold bytes cannot be told from one
            // that sent two-digit codes and then bytes of no reply. Devices send a reply without a pause.
            if (TwoDigitsOfThree(request, *reply, to) && bytes.size() >= 9) to = 9;
            if (TextRead(request)) to = TextPieceEnd(bytes, from, to);
            if (i > 0 || choice >= 14) at += std::chrono::microseconds(m_fuzz.ConsumeIntegralInRange<int>(0, 950'000));
            // A device answers within kLatest of the request, or never (when the line's order would
            // push even its first byte later); once begun, a reply ends by then.
            if (i == 0 && at > m_now + kLatest) break;
            at = std::min(at, std::max(m_now + kLatest, m_lastAt));
            if (to > from) m_pieces.push_back({at, Bytes(bytes.begin() + from, bytes.begin() + to)});
            if (Verbose() && to > from)
                std::fprintf(stderr, "  piece of %zu bytes due at %.3f s\n", to - from,
                             std::chrono::duration<double>(at.time_since_epoch()).count());
            from = to;
            m_lastAt = at;
        }
    }

    FuzzedDataProvider& m_fuzz;
    DeviceModel& m_model;
    Clock::time_point& m_now;
    std::deque<Piece> m_pieces;
    Clock::time_point m_lastAt{};  // when the latest reply's last piece is due
    bool m_invented = false;
};

// A transfer that never stops of itself.
class Running final : public DeviceSession::Progress {
public:
    void RowsDone(std::int32_t) override {}
    void SettingsNext() override {}
    bool StopRequested() override { return false; }
};

struct Setting {
    const protocol::DeviceCommand& command;
    std::uint8_t DeviceState::*field;
};
const Setting kSettings[] = {
    {protocol::kWideBand, &DeviceState::wideBand}, {protocol::kDisp, &DeviceState::disp},
    {protocol::kSquelch, &DeviceState::squelch},   {protocol::kRadioMfg, &DeviceState::radioMfg},
    {protocol::kDtmfDelay, &DeviceState::dtmfDelay}, {protocol::kMinVolume, &DeviceState::minVolume},
};

// A text field as the device holds it, up to its first zero byte.
std::string Text(const std::string& field) { return field.substr(0, field.find('\0')); }

std::string PllText(std::uint16_t wire) {
    if (wire == vantor::sim::kNoPll) return "";
    return std::to_string(wire / 10) + "." + std::to_string(wire % 10);
}

// The device's row as the table holds it.
table::TableRow DeviceRow(const DeviceState& state, std::int32_t homeNumber) {
    const auto& codes = state.homeNumbers[static_cast<std::size_t>(homeNumber - 1)];
    table::TableRow row{std::to_string(homeNumber), codes.tx, codes.rx, "", ""};
    if (homeNumber <= vantor::sim::kPllHomeNumberCount) {
        row.pllTx = PllText(state.pll[static_cast<std::size_t>(homeNumber - 1)].tx);
        row.pllRx = PllText(state.pll[static_cast<std::size_t>(homeNumber - 1)].rx);
    }
    return row;
}

// A pair of codes as the window's checks let them go: none, 2 or 3 digits each of one length, FFF for none.
table::Codes Codes(FuzzedDataProvider& fuzz) {
    static const table::Codes kCodes[] = {{"", ""}, {"12", "34"}, {"123", "456"}, {"FFF", "FFF"}, {"98", "07"}, {"000", "999"}};
    return kCodes[fuzz.ConsumeIntegralInRange<std::size_t>(0, std::size(kCodes) - 1)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fuzz(data, size);
    Clock::time_point now{};
    DeviceState start;
    start.homeNumbers[0] = {"12", "34"};
    start.homeNumbers[1] = {"123", "456"};
    start.pll[0] = {455, 466};
    start.pll[2] = {1465, vantor::sim::kNoPll};
    DeviceModel model(start);
    FarEnd far(fuzz, model, now);
    ShownLog log;
    const std::int32_t baud = fuzz.ConsumeBool() ? 19200 : 300;
    DeviceSession session(
        log, [&](int ms) { now += std::chrono::milliseconds(std::max(ms, 0)); },
        [&] {
            return DeviceSession::PortChoice{"1", baud};
        },
        [&](SerialLink& link, std::chrono::microseconds span) {
            if (link.InputCount() > 0) return true;
            const Clock::time_point end = now + span;
            if (const auto next = far.Next(); next && *next <= end) {
                now = std::max(now, *next);
                return true;
            }
            now = end;
            return false;
        });
    session.SetClock([&] { return now; });
    session.Link().UseWire(&far, std::chrono::microseconds(fuzz.ConsumeBool() ? 8000 : 24000));

    for (int command = 0; command < 8 && fuzz.remaining_bytes() > 0; ++command) {
        far.NewCommand();
        switch (fuzz.ConsumeIntegralInRange<int>(0, 8)) {
            case 0: {
                const Setting& s = kSettings[fuzz.ConsumeIntegralInRange<std::size_t>(0, std::size(kSettings) - 1)];
                const Reading<std::int32_t> got = session.Get(s.command);
                if (got.value && !far.Invented() && *got.value != static_cast<std::int8_t>(model.State().*s.field))
                    Fail(std::string(s.command.name) + " read as " + std::to_string(*got.value));
                break;
            }
            case 1: {
                const Setting& s = kSettings[fuzz.ConsumeIntegralInRange<std::size_t>(0, std::size(kSettings) - 1)];
                const std::int32_t value = fuzz.ConsumeIntegralInRange<std::int32_t>(0, 25);
                const Outcome set = session.Set(s.command, value);
                if (set.Done() && !far.Invented() && model.State().*s.field != value)
                    Fail(std::string(s.command.name) + " written as " + std::to_string(value) + " but the device holds " +
                         std::to_string(model.State().*s.field));
                break;
            }
            case 2: {
                const bool serial = fuzz.ConsumeBool();
                const Reading<std::string> got = session.ReadText(serial ? protocol::kSerialNumber : protocol::kUserDescription);
                const std::string held = Text(serial ? model.State().serialNumber : model.State().userDescription);
                if (got.value && !far.Invented() && *got.value != held) Fail("a text read as '" + *got.value + "', held '" + held + "'");
                break;
            }
            case 3: {
                const bool serial = fuzz.ConsumeBool();
                const std::string text = fuzz.ConsumeRandomLengthString(40);
                const Outcome written = session.WriteText(serial ? protocol::kSerialNumber : protocol::kUserDescription, text);
                const std::string held = Text(serial ? model.State().serialNumber : model.State().userDescription);
                if (written.Done() && !far.Invented() && held != text.substr(0, text.find('\0')).substr(0, serial ? 32 : 12))
                    Fail("a text written as '" + text + "' but held as '" + held + "'");
                break;
            }
            case 4: {
                const auto homeNumber = fuzz.ConsumeIntegralInRange<std::int32_t>(1, 500);
                const Reading<HomeNumberReading> got = session.ReadHomeNumber(homeNumber);
                if (far.Invented() || !got.value) break;
                const table::TableRow held = DeviceRow(model.State(), homeNumber);
                if (got.value->codes && (got.value->codes->tx != held.tx || got.value->codes->rx != held.rx))
                    Fail("home number " + std::to_string(homeNumber) + " read as " + got.value->codes->tx + "/" +
                         got.value->codes->rx + ", held " + held.tx + "/" + held.rx);
                if (got.value->pll && (got.value->pll->tx != held.pllTx || got.value->pll->rx != held.pllRx))
                    Fail("the PLL values of " + std::to_string(homeNumber) + " read as " + got.value->pll->tx + "/" +
                         got.value->pll->rx + ", held " + held.pllTx + "/" + held.pllRx);
                break;
            }
            case 5: {
                const auto homeNumber = fuzz.ConsumeIntegralInRange<std::int32_t>(1, 500);
                const table::Codes pair = Codes(fuzz);
                const table::Codes codes = table::CodesForSending(pair.tx, pair.rx);
                const Outcome written = session.WriteHomeNumber(homeNumber, codes, "45.5", "");
                const table::TableRow held = DeviceRow(model.State(), homeNumber);
                if (written.Done() && !far.Invented() && (held.tx != codes.tx || held.rx != codes.rx))
                    Fail("home number " + std::to_string(homeNumber) + " written as " + codes.tx + "/" + codes.rx +
                         ", held " + held.tx + "/" + held.rx);
                break;
            }
            case 6: {
                // Read All over the first rows.
                const auto rows = fuzz.ConsumeIntegralInRange<std::int32_t>(1, 6);
                table::HomeNumberTable table(rows);
                SettingValues settings;
                Running running;
                const Outcome read = session.ReadAll(table, settings, running);
                if (far.Invented()) break;
                // Each cell read is the device's; a run that says it is whole has read every one.
                for (std::int32_t position = 0; position < rows; ++position) {
                    const table::TableRow got = table.Row(position), held = DeviceRow(model.State(), position + 1);
                    for (const auto& [cell, truth] : {std::pair{got.tx, held.tx}, std::pair{got.rx, held.rx},
                                                      std::pair{got.pllTx, held.pllTx}, std::pair{got.pllRx, held.pllRx}}) {
                        if ((read.Done() || !cell.empty()) && cell != truth)
                            Fail("Read All: row " + std::to_string(position + 1) + " has '" + cell + "' where the device holds '" +
                                 truth + "'");
                    }
                }
                if (read.Done() && settings.Text(protocol::kSerialNumber) != Text(model.State().serialNumber))
                    Fail("Read All: the serial number");
                break;
            }
            case 8: {
                // Verify of what the device holds: read whole, it finds no difference.
                const auto rows = fuzz.ConsumeIntegralInRange<std::int32_t>(1, 6);
                table::HomeNumberTable table(rows);
                for (std::int32_t n = 1; n <= rows; ++n) {
                    const table::TableRow held = DeviceRow(model.State(), n);
                    table.SetRow(n, held.tx, held.rx);
                    table.SetPll(n, held.pllTx, held.pllRx);
                }
                SettingValues settings;
                for (const Setting& s : kSettings) {
                    settings.ShowValue(s.command, static_cast<std::int8_t>(model.State().*s.field));
                }
                settings.ShowText(protocol::kSerialNumber, Text(model.State().serialNumber));
                settings.ShowText(protocol::kUserDescription, Text(model.State().userDescription));
                Running running;
                const Reading<int> verdict = session.Verify(table, settings, running);
                if (verdict.value && *verdict.value != 0 && !far.Invented())
                    Fail("Verify found " + std::to_string(*verdict.value) + " differences on a device that holds the table");
                break;
            }
            default: {
                // Write All of a few rows of the fuzzer's, and the device's settings.
                const auto rows = fuzz.ConsumeIntegralInRange<std::int32_t>(1, 6);
                table::HomeNumberTable table(rows);
                for (std::int32_t n = 1; n <= rows; ++n) {
                    const table::Codes pair = Codes(fuzz);
                    table.SetRow(n, pair.tx, pair.rx);
                }
                SettingValues settings;
                for (const Setting& s : kSettings) settings.ShowValue(s.command, fuzz.ConsumeIntegralInRange<int>(0, 3));
                if (!WriteAllRefusals(table, settings).empty()) break;
                Running running;
                const Outcome written = session.WriteAll(table, settings, running);
                if (!written.Done() || far.Invented()) break;
                for (std::int32_t n = 1; n <= rows; ++n) {
                    const table::TableRow row = table.Row(n - 1), held = DeviceRow(model.State(), n);
                    const table::Codes sent = table::CodesForSending(row.tx, row.rx);
                    if (held.tx != sent.tx || held.rx != sent.rx)
                        Fail("Write All said done, but row " + std::to_string(n) + " holds " + held.tx + "/" + held.rx);
                }
                break;
            }
        }
    }
    return 0;
}
