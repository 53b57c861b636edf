#pragma once

#include <span>

#include "app/DialogControls.h"

// The busy lock: while a command or a transfer runs, the controls that would start another are
// disabled. Taking it remembers where the keyboard focus was; releasing it gives the focus back there,
// unless the focus has been moved on purpose meanwhile. Its state lives on the window's thread.
class BusyLock {
public:
    explicit BusyLock(DialogControls& controls) : m_controls(controls) {}

    // The controls it disables, in the order it disables them.
    static std::span<const int> Controls();

    // Any thread; each runs as one unit on the window's thread. Release first drops the input the
    // operator made meanwhile, so that none of it reaches the controls it enables again.
    void Take();
    void Release();
    // Release's unit, for a caller already on the window's thread in a unit of its own.
    void ReleaseHere();
    // Whether a command or a transfer holds it; on the window's thread.
    bool Held() const { return m_held; }

private:
    DialogControls& m_controls;
    bool m_held = false;
    int m_focusBefore = 0;  // the control the operator had focused
    int m_focusAfter = 0;   // where disabling the controls moved the focus
};
