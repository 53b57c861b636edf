#include "app/BusyLock.h"

#include <array>

#include "app/ControlIds.h"

namespace {

constexpr std::array<int, 25> kLocked{
    ctl::kSquelchGet,
    ctl::kSquelchSet,
    ctl::kMinVolumeGet,
    ctl::kMinVolumeSet,
    ctl::kRadioMfgSet,
    ctl::kRadioMfgGet,
    ctl::kDtmfDelayGet,
    ctl::kDtmfDelaySet,
    ctl::kSerialNumberRead,
    ctl::kSerialNumberWrite,
    ctl::kDispGet,
    ctl::kDispSet,
    ctl::kWriteAll,
    ctl::kReadAll,
    ctl::kRead,
    ctl::kWrite,
    ctl::kWideBandGet,
    ctl::kWideBandSet,
    ctl::kHomeNumberList,
    ctl::kAdd,
    ctl::kSaveAs,
    ctl::kOpen,
    ctl::kUserDescriptionWrite,
    ctl::kUserDescriptionRead,
    ctl::kVerify,
};

}  // namespace

std::span<const int> BusyLock::Controls() { return kLocked; }

// Disabling the focused button moves the focus on to the next control, where a following Enter or Space
// would act on something the operator never chose. The lock remembers both places; only the first Take
// of a run does (a command under a transfer takes it again under the transfer's).
void BusyLock::Take() {
    m_controls.RunAsUnit([&] {
        const bool first = !m_held;
        if (first) m_focusBefore = m_controls.GetFocus();
        for (int id : kLocked) m_controls.EnableWindow(id, false);
        if (first) m_focusAfter = m_controls.GetFocus();
        m_held = true;
    });
}

void BusyLock::Release() {
    m_controls.DiscardPendingInput();
    m_controls.RunAsUnit([&] { ReleaseHere(); });
}

void BusyLock::ReleaseHere() {
    for (int id : kLocked) m_controls.EnableWindow(id, true);
    if (m_held && m_focusBefore != 0 && m_controls.GetFocus() == m_focusAfter) m_controls.SetFocus(m_focusBefore);
    m_held = false;
}
