#include "device/SerialNumbers.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <set>
#include <sstream>

#include "device/SafeFile.h"

namespace {

using Taken = Reading<std::string>;

Outcome Rejected(std::string why) { return Outcome::Failed(Outcome::Kind::kInputRejected, std::move(why)); }

std::optional<std::uint64_t> Number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The state file: "series TEXT", "next N", "back N N ..." lines. An empty file is a new series.
struct State {
    std::string series;
    std::uint64_t next = 0;
    std::set<std::uint64_t> back;
};

std::optional<State> Parse(const std::string& contents) {
    State state;
    std::istringstream lines(contents);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.ends_with('\r')) line.pop_back();
        if (line.empty()) continue;
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "series") {
            state.series = value;
        } else if (key == "next") {
            const auto next = Number(value);
            if (!next) return std::nullopt;
            state.next = *next;
        } else if (key == "back") {
            std::istringstream numbers(value);
            for (std::string word; numbers >> word;) {
                const auto n = Number(word);
                if (!n) return std::nullopt;
                state.back.insert(*n);
            }
        } else {
            return std::nullopt;
        }
    }
    return state;
}

std::string Written(const State& state) {
    std::string text = "series " + state.series + "\nnext " + std::to_string(state.next) + "\nback";
    for (const std::uint64_t n : state.back) text += " " + std::to_string(n);
    return text + "\n";
}

}  // namespace

SerialNumbers::SerialNumbers(SerialNumbers&& other) noexcept
    : m_series(std::move(other.m_series)),
      m_statePath(std::move(other.m_statePath)),
      m_limit(other.m_limit),
      m_prefix(std::move(other.m_prefix)),
      m_suffix(std::move(other.m_suffix)),
      m_width(other.m_width),
      m_first(other.m_first),
      m_list(std::move(other.m_list)),
      m_taken(std::move(other.m_taken)) {}

Reading<SerialNumbers> SerialNumbers::FromTemplate(const std::string& templateText, std::uint64_t first,
                                                   std::string statePath, std::size_t limit) {
    using Made = Reading<SerialNumbers>;
    // The template names the series in the state file, a line of its own there.
    if (std::any_of(templateText.begin(), templateText.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
        return Made::Failed(Rejected("a serial number template holds no control characters (line ends, tabs)"));
    }
    const std::size_t open = templateText.find("{n");
    const std::size_t close = open == std::string::npos ? open : templateText.find('}', open);
    if (close == std::string::npos || templateText.find("{n", close) != std::string::npos) {
        return Made::Failed(Rejected("a serial number template holds {n} or {n:0W} once, such as VX-{n:06}"));
    }
    const std::string field = templateText.substr(open + 2, close - open - 2);
    int width = 0;
    if (!field.empty()) {
        const auto digits = field.size() > 2 && field.starts_with(":0") ? Number(field.substr(2)) : std::nullopt;
        if (!digits || *digits < 1 || *digits > 20) {
            return Made::Failed(Rejected("'{n" + field + "}' is not {n} or {n:0W} with W from 1 to 20"));
        }
        width = static_cast<int>(*digits);
    }
    Made made = Made::Of(SerialNumbers("template " + templateText, std::move(statePath), limit));
    SerialNumbers& numbers = *made.value;
    numbers.m_prefix = templateText.substr(0, open);
    numbers.m_suffix = templateText.substr(close + 1);
    numbers.m_width = width;
    numbers.m_first = first;
    if (const std::string firstNumber = numbers.Make(first); firstNumber.size() > limit) {
        return Made::Failed(Rejected("'" + firstNumber + "' is longer than the serial number's " + std::to_string(limit) +
                                     " bytes"));
    }
    return made;
}

Reading<SerialNumbers> SerialNumbers::FromList(std::string_view listText, std::string statePath, std::size_t limit) {
    using Made = Reading<SerialNumbers>;
    std::vector<std::string> list;
    std::set<std::string> seen;
    std::size_t lineNumber = 0;
    std::istringstream lines{std::string(listText)};
    for (std::string line; std::getline(lines, line);) {
        ++lineNumber;
        if (line.ends_with('\r')) line.pop_back();
        if (line.empty()) continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (line.size() > limit) {
            return Made::Failed(Rejected(where + "'" + line + "' is longer than the serial number's " +
                                         std::to_string(limit) + " bytes"));
        }
        if (!seen.insert(line).second) return Made::Failed(Rejected(where + "'" + line + "' is listed twice"));
        list.push_back(line);
    }
    if (list.empty()) return Made::Failed(Rejected("the list holds no serial number"));
    // The series is the list itself: its first and last entries and its length name it well enough.
    Made made = Made::Of(SerialNumbers("list " + list.front() + " ... " + list.back() + " (" +
                                           std::to_string(list.size()) + ")",
                                       std::move(statePath), limit));
    made.value->m_list = std::move(list);
    return made;
}

std::string SerialNumbers::Make(std::uint64_t index) const {
    if (!m_list.empty()) return index < m_list.size() ? m_list[index] : std::string();
    std::string digits = std::to_string(index);
    if (digits.size() < static_cast<std::size_t>(m_width)) digits.insert(0, m_width - digits.size(), '0');
    return m_prefix + digits + m_suffix;
}

Reading<std::string> SerialNumbers::Take() {
    std::lock_guard lock(m_mutex);
    Taken taken;
    std::uint64_t index = 0;
    const Outcome updated = UpdateLockedFile(m_statePath, [&](const std::string& contents) -> std::optional<std::string> {
        std::optional<State> state = Parse(contents);
        if (!state) {
            taken = Taken::Failed(Rejected(m_statePath + " is not a serial number state file"));
            return std::nullopt;
        }
        if (state->series.empty()) *state = State{m_series, m_list.empty() ? m_first : 0, {}};
        if (state->series != m_series) {
            taken = Taken::Failed(Rejected(m_statePath + " belongs to another series (" + state->series + ")"));
            return std::nullopt;
        }
        const bool fromBack = !state->back.empty();
        index = fromBack ? *state->back.begin() : state->next;
        if (!m_list.empty() && index >= m_list.size()) {
            taken = Taken::Failed(Rejected("every serial number of the list has been handed out"));
            return std::nullopt;
        }
        const std::string number = Make(index);
        if (number.size() > m_limit) {
            taken = Taken::Failed(Rejected("'" + number + "' is longer than the serial number's " +
                                           std::to_string(m_limit) + " bytes"));
            return std::nullopt;
        }
        if (fromBack) {
            state->back.erase(state->back.begin());
        } else {
            ++state->next;
        }
        taken = Taken::Of(number);
        return Written(*state);
    });
    if (!updated.Done()) return Taken::Failed(updated);
    if (taken.value) m_taken[*taken.value] = index;
    return taken;
}

Outcome SerialNumbers::GiveBack(const std::string& number) {
    std::lock_guard lock(m_mutex);
    const auto found = m_taken.find(number);
    if (found == m_taken.end()) return Rejected("'" + number + "' was not taken here");
    const std::uint64_t index = found->second;
    Outcome refused;
    const Outcome updated = UpdateLockedFile(m_statePath, [&](const std::string& contents) -> std::optional<std::string> {
        std::optional<State> state = Parse(contents);
        if (!state || state->series != m_series) {
            refused = Rejected(m_statePath + " no longer holds this series");
            return std::nullopt;
        }
        state->back.insert(index);
        return Written(*state);
    });
    if (!updated.Done()) return updated;
    if (refused.Done()) m_taken.erase(found);
    return refused;
}
