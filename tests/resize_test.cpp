#include "kelvane/f_resize.h"

#include <gtest/gtest.h>

using kelvane::ControlGeometry;
using kelvane::ControlKind;
using kelvane::f_resize;
using kelvane::WindowGeometry;

namespace {

// A window of 1000x700 client area with a 10x30 frame, and three controls.
const WindowGeometry kWindow{1010, 730, 1000, 700};

std::vector<ControlGeometry> sampleControls() {
    return {
        {"cb_16", ControlKind::CommandButton, 100, 40, 331, 30, -9},
        {"dw_1", ControlKind::Grid, 12, 106, 386, 416, -9},
        {"st_1", ControlKind::StaticText, 7, 3, 1, 1, -12},
    };
}

TEST(FResize, ScreenOfTheDesignSizeChangesNothing) {
    auto result = f_resize(1024, 768, kWindow, sampleControls());
    EXPECT_FALSE(result.changed);
    EXPECT_EQ(result.windowWidth, 1010);
    EXPECT_EQ(result.windowHeight, 730);
    EXPECT_EQ(result.controls[0].x, 100);
    EXPECT_EQ(result.controls[0].textSize, -9);
}

TEST(FResize, WiderScreenTakesTheWidthFactorWhenItIsSmaller) {
    auto result = f_resize(1280, 1024, kWindow, sampleControls());
    ASSERT_TRUE(result.changed);
    EXPECT_DOUBLE_EQ(result.radio, 1.25);
    const ControlGeometry& button = result.controls[0];
    EXPECT_EQ(button.x, 125);
    EXPECT_EQ(button.y, 50);
    EXPECT_EQ(button.width, 413);     // 413.75 cut
    EXPECT_EQ(button.height, 37);     // 37.5 cut
    EXPECT_EQ(button.textSize, -11);  // -11.25 cut towards zero, not -12
    // The frame keeps its size; only the client area grows.
    EXPECT_EQ(result.windowWidth, 1250 + 10);
    EXPECT_EQ(result.windowHeight, 875 + 30);
}

TEST(FResize, SmallerScreenShrinksEveryValueOnItsOwn) {
    auto result = f_resize(800, 600, kWindow, sampleControls());
    EXPECT_DOUBLE_EQ(result.radio, 0.78125);
    EXPECT_EQ(result.controls[0].width, 258);    // 258.59 cut
    EXPECT_EQ(result.controls[0].textSize, -7);  // -7.03 cut
    // 1 * 0.78 cuts to 0: no accumulation, no rounding to nearest.
    EXPECT_EQ(result.controls[2].width, 0);
    EXPECT_EQ(result.controls[2].x, 5);  // 5.47 cut
}

TEST(FResize, WidescreenTakesTheHeightFactor) {
    auto result = f_resize(1920, 1080, kWindow, sampleControls());
    EXPECT_DOUBLE_EQ(result.radio, 1.40625);
    EXPECT_EQ(result.controls[0].x, 140);         // 140.625
    EXPECT_EQ(result.controls[0].textSize, -12);  // -12.65625
}

TEST(FResize, GridsKeepTheirTextSizeButMoveAndGrow) {
    auto result = f_resize(1280, 1024, kWindow, sampleControls());
    const ControlGeometry& grid = result.controls[1];
    EXPECT_EQ(grid.textSize, -9);
    EXPECT_EQ(grid.x, 15);
    EXPECT_EQ(grid.width, 482);  // 482.5
    EXPECT_EQ(result.controls[2].textSize, -15);
}

}  // namespace
