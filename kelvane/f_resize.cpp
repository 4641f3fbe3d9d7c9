#include "kelvane/f_resize.h"

#include <algorithm>

namespace kelvane {

namespace {
int scaled(int value, double radio) {
    return static_cast<int>(value * radio);
}
}  // namespace

ResizeResult f_resize(int screenWidth, int screenHeight, const WindowGeometry& window,
                      std::vector<ControlGeometry> controls) {
    const int ii_winbolderwidth = window.width - window.clientWidth;
    const int ii_winbolderheight = window.height - window.clientHeight;
    const double wradio = screenWidth * 0.0009765625;
    const double hradio = screenHeight / 768.0;
    const double radio = std::min(wradio, hradio);

    ResizeResult result;
    result.radio = radio;
    result.windowWidth = window.width;
    result.windowHeight = window.height;
    if (radio == 1.0) {
        result.controls = std::move(controls);
        return result;
    }
    result.changed = true;
    result.windowWidth = scaled(window.width - ii_winbolderwidth, radio) + ii_winbolderwidth;
    result.windowHeight = scaled(window.height - ii_winbolderheight, radio) + ii_winbolderheight;
    for (ControlGeometry& control : controls) {
        control.width = scaled(control.width, radio);
        control.x = scaled(control.x, radio);
        control.y = scaled(control.y, radio);
        control.height = scaled(control.height, radio);
        if (control.kind != ControlKind::Grid) control.textSize = scaled(control.textSize, radio);
    }
    result.controls = std::move(controls);
    return result;
}

}  // namespace kelvane
