#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

class QtDialogControls;

// What the window keeps between runs, in the user's configuration folder under the program's name: Serial
// Port, Baud, the window's size and place, and the folder of the last table file. A value that is missing,
// damaged, unreadable or one the window could not use is passed over, leaving the start value; so is a
// whole file too large to be the window's own. What is written is the window's values alone. Disabled,
// nothing is read or written.
class RememberedSettings {
public:
    explicit RememberedSettings(bool enabled) : m_enabled(enabled) {}

    // After the window's initialisation, before it shows: the kept values into it.
    void Restore(QtDialogControls& controls);
    // Once the window has closed: its values kept.
    void Save(QtDialogControls& controls) const;

    // A file's size and modification time.
    struct Stamp {
        qint64 size = 0;
        qint64 modified = 0;  // ms since the epoch
        bool operator==(const Stamp&) const = default;
    };

private:
    bool m_enabled;
    // The damaged file Restore passed over. QSettings parses a file once until it changes, and tells of the
    // damage only then: read again unchanged, it passes for sound.
    std::optional<Stamp> m_passedOver;
};
