// The busy indication of a long run: on Windows the window is minimized for
// the run and back to normal at its end; elsewhere it keeps its state. Either
// way the end shows "hand.ico" again and nested runs change nothing until the
// outermost ends.
#include "host/qt/busy.h"

#include <gtest/gtest.h>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <stdexcept>
#include <string>
#include <thread>

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

// The work runs off the window's thread, whose events go on meanwhile: its
// first step reaches the progress line, and a close asked for then (a timer of
// the window's thread) stops the work, which waits for it; the run says it
// was stopped.
TEST(BusyIndicator, TheWorkRunsBesideTheWindowsEventsAndStopsWhenAsked) {
    QWidget window;
    QLabel line(&window);
    host::BusyIndicator busy(&window, &line);
    const std::thread::id windowThread = std::this_thread::get_id();
    // Once the step is shown, the window asks to close, which stops the run.
    std::string shownMeanwhile;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (line.text().isEmpty()) return;
        poll.stop();
        shownMeanwhile = line.text().toStdString();
        EXPECT_FALSE(busy.allowClose());
    });
    poll.start(5);
    const bool stopped = busy.runOnWorker([&](host::ProgressSink& progress) {
        EXPECT_NE(std::this_thread::get_id(), windowThread);
        progress.step(1, "a.txt");
        while (!progress.stopRequested()) std::this_thread::yield();
    });
    EXPECT_TRUE(stopped);
    EXPECT_EQ(shownMeanwhile, "1  a.txt");
    EXPECT_FALSE(busy.isBusy());
}

// What the work throws comes out on the window's thread, and the run is over.
TEST(BusyIndicator, WhatTheWorkThrowsComesOutOfTheRun) {
    QWidget window;
    host::BusyIndicator busy(&window, nullptr);
    EXPECT_THROW(busy.runOnWorker([](host::ProgressSink&) { throw std::runtime_error("disk"); }),
                 std::runtime_error);
    EXPECT_FALSE(busy.isBusy());
    EXPECT_FALSE(busy.runOnWorker(
        [](host::ProgressSink& progress) { EXPECT_FALSE(progress.stopRequested()); }));
}
