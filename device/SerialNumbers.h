#pragma once

// Serial numbers for the units of a production line: made from a template with a counter ("VX-{n:06}"
// from 1200 on), or taken from a list, each handed out once however many benches and units share the
// series. The series' state (the next counter or list position, and the numbers given back) lives in a
// small file, read and advanced under its lock.
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/Outcome.h"

class SerialNumbers {
public:
    // A template holds "{n}" or "{n:0W}" (the counter, at least W digits, W 1 to 20) once; the counter
    // starts at `first` when the state file is new. The first number must fit `limit` bytes.
    static Reading<SerialNumbers> FromTemplate(const std::string& templateText, std::uint64_t first,
                                               std::string statePath, std::size_t limit);
    // A list holds one serial number a line (CR LF or LF; empty lines passed over), each within `limit`
    // bytes, none twice.
    static Reading<SerialNumbers> FromList(std::string_view listText, std::string statePath, std::size_t limit);

    SerialNumbers(SerialNumbers&& other) noexcept;

    // The next serial number, taken under the state file's lock: the first of those given back, else the
    // next one. kInputRejected when the list is used up, when the number made is longer than the limit
    // (it stays unused), or when the state file belongs to another series.
    Reading<std::string> Take();
    // A number taken here whose unit never sent it goes back, for the next unit to take first.
    Outcome GiveBack(const std::string& number);

private:
    SerialNumbers(std::string series, std::string statePath, std::size_t limit)
        : m_series(std::move(series)), m_statePath(std::move(statePath)), m_limit(limit) {}
    std::string Make(std::uint64_t index) const;

    std::string m_series;  // names the series in the state file, so that two series never share one
    std::string m_statePath;
    std::size_t m_limit = 0;
    std::string m_prefix, m_suffix;  // around the counter, for a template
    int m_width = 0;
    std::uint64_t m_first = 0;
    std::vector<std::string> m_list;  // for a list
    std::mutex m_mutex;               // units of one run take numbers from several threads
    std::map<std::string, std::uint64_t> m_taken;  // number -> its counter or list position
};
