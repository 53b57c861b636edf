#pragma once

#include <span>
#include <string_view>

// Dialog template 102: every control of the main window with its caption, id and place, in dialog units
// (x, y, width, height), in tab order.
enum class ControlKind {
    GroupBox,
    Label,
    PushButton,
    RadioButton,
    Edit,
    DigitsEdit,
    DropList,
    ReportList,
    Console,
    Progress
};

struct ControlTemplate {
    ControlKind kind;
    int id;
    std::string_view caption;
    int x, y, width, height;
    // What a screen reader says for it.
    std::string_view accessibleName;
};

struct DialogTemplate {
    std::string_view caption;
    int width, height;  // dialog units
    int fontPointSize;
    std::span<const ControlTemplate> controls;
};

const DialogTemplate& MainDialogTemplate();
