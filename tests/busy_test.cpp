// The busy indication of a long run: on Windows the window is minimized for
// the run and back to normal at its end; elsewhere it keeps its state. Either
// way the end shows "hand.ico" again and nested runs change nothing until the
// outermost ends.
#include "host/qt/busy.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QShortcut>
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

// Esc stops a run; pressed again while the run stops, it must not reach the
// window's own Esc (which closes it): that comes back a moment after a
// stopped run, at once after one that was not stopped, and a run begun in
// between keeps it away.
TEST(BusyIndicator, TheWindowsEscComesBackOnlyAMomentAfterAStop) {
    QWidget window;
    QLabel line(&window);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    host::BusyIndicator busy(&window, &line);
    busy.begin();
    EXPECT_FALSE(close->isEnabled());
    busy.end();
    EXPECT_TRUE(close->isEnabled());

    busy.begin();
    busy.requestStop();
    busy.end();
    EXPECT_FALSE(close->isEnabled());
    busy.begin();  // within the moment: held by this run
    busy.end();
    EXPECT_TRUE(close->isEnabled());

    busy.begin();
    busy.requestStop();
    busy.end();
    QElapsedTimer waited;
    waited.start();
    while (!close->isEnabled() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(close->isEnabled());
}
