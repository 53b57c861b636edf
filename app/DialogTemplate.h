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

// How a control follows the window when it grows beyond the template's size. The table and the log take
// the extra width; of the extra height the table takes four parts and the log one. The column of settings
// on the right keeps its place at the right edge; what stands beside the table or the log (its buttons,
// the port and speed) moves with their right edge; what stands below them, with their bottom.
enum class Growth { kStay, kMoveRight, kMoveRightBelowTable, kMoveBelowTable, kMoveBelowLog, kGrowWithTable, kGrowWithLog };
Growth GrowthOf(const ControlTemplate& control);

// A control's place in pixels: at the template's size, and once the window is dx wider and dy taller.
struct PixelRect {
    int x, y, width, height;
    bool operator==(const PixelRect&) const = default;
};
PixelRect Grown(const PixelRect& placed, Growth growth, int dx, int dy);
