// A reply that comes after its wait has given up, on a link played by the test in a time of its own: it
// must never pass for the reply to the request after it.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "device/DeviceSession.h"
#include "protocol/DeviceCommand.h"
#include "protocol/LogSink.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

// The device's replies, one for each request in turn, each after its delay; a line keeps them in order.
class ScriptedDevice final : public SerialLink::Wire {
public:
    struct Reply {
        milliseconds delay;
        Bytes bytes;
    };
    ScriptedDevice(Clock::time_point& now, std::vector<Reply> replies) : m_now(now), m_script(std::move(replies)) {}

    std::int32_t Write(std::span<const std::uint8_t> request) override {
        m_requests.emplace_back(request.begin(), request.end());
        if (m_next < m_script.size()) {
            const Reply& reply = m_script[m_next++];
            m_lastAt = std::max(m_now + reply.delay, m_lastAt);
            m_due.push_back({m_lastAt, reply.bytes});
        }
        return static_cast<std::int32_t>(request.size());
    }
    std::int32_t Waiting() override {
        std::int32_t n = 0;
        for (const auto& [at, bytes] : m_due) n += at <= m_now ? static_cast<std::int32_t>(bytes.size()) : 0;
        return n;
    }
    std::int32_t Read(std::span<std::uint8_t> dest) override {
        std::size_t got = 0;
        while (!m_due.empty() && m_due.front().first <= m_now && got + m_due.front().second.size() <= dest.size()) {
            for (const std::uint8_t b : m_due.front().second) dest[got++] = b;
            m_due.pop_front();
        }
        return static_cast<std::int32_t>(got);
    }
    std::optional<Clock::time_point> Next() const {
        return m_due.empty() ? std::nullopt : std::optional(m_due.front().first);
    }
    const std::vector<Bytes>& Requests() const { return m_requests; }

private:
    Clock::time_point& m_now;
    std::vector<Reply> m_script;
    std::size_t m_next = 0;
    Clock::time_point m_lastAt{};
    std::deque<std::pair<Clock::time_point, Bytes>> m_due;
    std::vector<Bytes> m_requests;
};

class TextLog final : public LogSink {
public:
    void Text(std::string_view text, bool) override { m_text += text; }
    void Number(std::int32_t value, bool) override { m_text += std::to_string(value); }
    void String(const std::string& text, bool) override { m_text += text; }
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override { m_text += HexDigits(bytes, count); }
    std::string m_text;
};

struct Played {
    Clock::time_point now{};
    TextLog log;
    ScriptedDevice device;
    DeviceSession session;

    explicit Played(std::vector<ScriptedDevice::Reply> replies)
        : device(now, std::move(replies)),
          session(
              log, [this](int ms) { now += milliseconds(std::max(ms, 0)); },
              [] {
                  return DeviceSession::PortChoice{"1", 19200};
              },
              [this](SerialLink&, std::chrono::microseconds span) {
                  if (device.Waiting() > 0) return true;
                  const auto next = device.Next();
                  now = next && *next <= now + span ? std::max(now, *next) : now + span;
                  return device.Waiting() > 0;
              }) {
        session.SetClock([this] { return now; });
        session.Link().UseWire(&device);
    }
};

// The first command's reply comes 700 ms on, after its wait gave up at 500 ms; the second's at once.
// Read as the second's, the late one would say a refused write went through, or give an old value.
TEST(LateReplyTest, ALateReplyNeverPassesForTheNextOne) {
    {
        Played p({{milliseconds(700), {0x3A, 0x01, 0x00}}, {milliseconds(2), {0x3A, 0x01, 0x01}}});
        EXPECT_EQ(p.session.Set(protocol::kMinVolume, 4).kind, Outcome::Kind::kNoAnswer);
        EXPECT_EQ(p.session.Set(protocol::kMinVolume, 5).kind, Outcome::Kind::kRefused);
        EXPECT_TRUE(p.log.m_text.ends_with("MIN volume write Response:\r\nMIN volume write FAILED\r\n")) << p.log.m_text;
        EXPECT_EQ(p.device.Requests(), (std::vector<Bytes>{{0x3A, 0x01, 0x04}, {0x3A, 0x01, 0x05}}));
    }
    {
        Played p({{milliseconds(700), {0x35, 0x02, 0x01}}, {milliseconds(2), {0x35, 0x02, 0x02}}});
        EXPECT_FALSE(p.session.Get(protocol::kDisp).value);
        EXPECT_EQ(p.session.Get(protocol::kDisp).value, 2);
    }
}

}  // namespace
