// Fitting the main window to the screen: the layout is designed for 1024x768
// and scaled once, at open, by one factor in both directions.
#pragma once

#include <string>
#include <vector>

namespace kelvane {

// Control kinds; every kind but Grid has its text size scaled.
enum class ControlKind {
    Tab,
    CommandButton,
    SingleLineEdit,
    EditMask,
    StaticText,
    PictureButton,
    CheckBox,
    DropDownList,
    GroupBox,
    ListBox,
    MultiLineEdit,
    RadioButton,
    Grid,
};

struct ControlGeometry {
    std::string name;
    ControlKind kind = ControlKind::CommandButton;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int textSize = -9;  // negative: a point size
};

struct WindowGeometry {
    int width = 0;  // outer size, frame included
    int height = 0;
    int clientWidth = 0;
    int clientHeight = 0;
};

struct ResizeResult {
    bool changed = false;  // false: the factor was exactly 1 and nothing was touched
    double radio = 1.0;
    int windowWidth = 0;
    int windowHeight = 0;
    std::vector<ControlGeometry> controls;  // in the order given
};

// Every product is cut towards zero, each value on its own: no accumulation,
// no rounding to nearest.
ResizeResult f_resize(int screenWidth, int screenHeight, const WindowGeometry& window,
                      std::vector<ControlGeometry> controls);

}  // namespace kelvane
