// The busy indication of a long run: on Windows the window is minimized for
// the run and back to normal at its end; elsewhere it keeps its state. Either
// way the end shows "hand.ico" again and nested runs change nothing until the
// outermost ends.
#include "host/qt/busy.h"

#include <gtest/gtest.h>
#include <QLabel>
#include <QWidget>

#include "host/desktop.h"

TEST(BusyIndicator, MinimizesForTheRunWhereThePlatformDoesAndRestoresAtTheEnd) {
    QWidget window;
    QLabel line(&window);
    window.show();
    host::BusyIndicator busy(&window, &line);

    busy.begin();
    busy.begin();  // a nested run
    busy.runOnWorker([](host::ProgressSink& progress) { progress.step(1, "a.txt"); });
    EXPECT_EQ(window.isMinimized(), host::minimizesDuringRuns());
    busy.end();
    EXPECT_EQ(window.isMinimized(), host::minimizesDuringRuns()) << "the inner end restored early";
    EXPECT_TRUE(busy.isBusy());

    busy.end();
    EXPECT_FALSE(busy.isBusy());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_FALSE(line.isVisible());
}
