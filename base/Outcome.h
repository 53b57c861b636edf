#pragma once

// The one way the layers below the windows and vantorctl say how an operation went: what was done, or
// why not, as a kind (from better to worse) and plain words, with the path and the system's error
// number where there is one. An operation that also gives a value returns a Reading of it.
#include <optional>
#include <string>
#include <utility>

struct Outcome {
    enum class Kind {
        kDone,
        kRefused,        // the device, or the far end, said no, or gave something that does not fit
        kNoAnswer,       // nothing came back (or the request could not be sent whole)
        kInputRejected,  // what was asked for cannot be sent as it stands; nothing was sent
        kPortInUse,      // the port is there but another program holds it
        kPortFailed,     // the port could not be opened
        kFileFailed,     // a file could not be read, written or made
    };
    Kind kind = Kind::kDone;
    std::string reason;  // plain words, no line end; may be empty when the kind says it all
    std::string path;    // the file or device it concerns, where there is one
    int error = 0;       // the system's error number (errno, or GetLastError on Windows), where it gave one

    static Outcome Failed(Kind kind, std::string reason, std::string path = {}, int error = 0) {
        return {kind, std::move(reason), std::move(path), error};
    }
    bool Done() const { return kind == Kind::kDone; }
    // Keeps the worse of the two; the first of the worst kind stays, whole.
    void Note(Kind worse, std::string why = {}) {
        if (worse <= kind) return;
        *this = {worse, std::move(why), {}, 0};
    }
    void Note(const Outcome& other) {
        if (other.kind > kind) *this = other;
    }
    bool PortFailed() const { return kind == Kind::kPortInUse || kind == Kind::kPortFailed; }
};

// An operation's outcome and, when it went through, the value it gave.
template <class T>
struct Reading {
    Outcome outcome;
    std::optional<T> value;

    static Reading Of(T value) { return {Outcome{}, std::move(value)}; }
    static Reading Failed(Outcome why) { return {std::move(why), std::nullopt}; }
};
