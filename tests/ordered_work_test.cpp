// The ordered work of both programs' copies and torrin's folder read-ahead, on
// their own: failures on the workers and in the finishes, the limit of pieces
// waiting, and destruction while work is still queued or running. Run under
// AddressSanitizer and ThreadSanitizer in CI, where a worker left on freed
// state or an unordered access fails the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/ordered_work.h"
#include "host/fault_injection.h"
#include "support/work_order.h"
#include "torrin/engine/folder_read_ahead.h"

namespace {

using common::OrderedWork;
using common::WorkerPool;

// A gate the workers wait at until the test opens it.
class Gate {
  public:
    void wait() { opened_.wait(); }
    void open() { promise_.set_value(); }

  private:
    std::promise<void> promise_;
    std::shared_future<void> opened_ = promise_.get_future().share();
};

// Counts in its destructor, so a test can tell when what a piece holds is
// gone. The count is guarded among the workers only: a test that reads it
// after the owner has gone, without the owner's ordering, is a race that
// ThreadSanitizer reports.
struct Held {
    Held(int& released, std::mutex& mutex) : released_(released), mutex_(mutex) {}
    ~Held() {
        std::lock_guard lock(mutex_);
        ++released_;
    }
    int& released_;
    std::mutex& mutex_;
};

TEST(OrderedWork, AFailureComesOutInItsTurnAndTheRestFinishInOrder) {
    for (const int threads : {0, 3}) {
        WorkerPool pool(threads);
        OrderedWork work(&pool);
        std::vector<long> finished;
        for (long piece = 0; piece < 6; ++piece) {
            const bool throwsInWork = piece == 1;
            const bool throwsInFinish = piece == 3;
            try {
                work.add(
                    [throwsInWork](int) {
                        if (throwsInWork) throw std::runtime_error("work 1");
                    },
                    [&finished, piece, throwsInFinish] {
                        if (throwsInFinish) throw std::runtime_error("finish 3");
                        finished.push_back(piece);
                    });
            } catch (const std::runtime_error& error) {
                finished.push_back(error.what() == std::string("work 1") ? -1 : -3);
            }
        }
        for (;;) {
            try {
                work.finishAll();
                break;
            } catch (const std::runtime_error& error) {
                finished.push_back(error.what() == std::string("work 1") ? -1 : -3);
            }
        }
        // Each failure in the place of its piece's finish, which never runs.
        EXPECT_EQ(finished, (std::vector<long>{0, -1, 2, -3, 4, 5})) << threads << " threads";
    }
}

TEST(OrderedWork, NoMoreThanTheWindowWaitsToBeFinished) {
    WorkerPool pool(2);
    OrderedWork work(&pool, 3);
    long finished = 0;
    for (long piece = 0; piece < 40; ++piece) {
        work.add([](int) {}, [&finished] { ++finished; });
        EXPECT_LE(work.added() - finished, 3) << "after piece " << piece;
    }
    work.finishAll();
    EXPECT_EQ(finished, 40);
}

// Runs its action when the scope it was made in is left.
struct OnExit {
    std::function<void()> action;
    ~OnExit() { action(); }
};

// Set once the owner of some work has gone. A worker that finds it set is
// still at work for an owner that is gone; the first pieces wait a moment
// for it, so that such a worker is seen, not missed by a few microseconds.
class Gone {
  public:
    void set() {
        set_ = true;
        promise_.set_value();
    }
    bool seenBy(bool waitAMoment) const {
        if (waitAMoment)
            return seen_.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready;
        return set_;
    }

  private:
    std::atomic<bool> set_{false};
    std::promise<void> promise_;
    std::shared_future<void> seen_ = promise_.get_future().share();
};

// Whether the owner goes by an exception from a finish or from the caller, it
// first waits for every piece handed to the pool, queued or running, and lets
// go of what the pieces hold; no finish runs after the failure.
TEST(OrderedWork, DestructionWaitsForQueuedAndRunningWork) {
    for (const bool finishThrows : {false, true}) {
        constexpr int kPieces = 50;
        std::atomic<int> worked{0};
        std::atomic<int> workedLate{0};
        Gone gone;
        int released = 0;
        std::mutex releasing;
        int finishedAfterFailure = 0;
        Gate gate;
        WorkerPool pool(2);
        try {
            const OnExit ownerGone{[&] { gone.set(); }};
            OrderedWork work(&pool);
            bool failed = false;
            for (int piece = 0; piece < kPieces; ++piece) {
                auto held = std::make_shared<Held>(released, releasing);
                work.add(
                    [&, piece, held = std::move(held)](int) {
                        if (piece > 0) gate.wait();
                        if (gone.seenBy(piece <= 2)) ++workedLate;
                        ++worked;
                    },
                    [&, piece] {
                        if (failed) ++finishedAfterFailure;
                        if (finishThrows && piece == 0) {
                            failed = true;
                            throw std::runtime_error("sink");
                        }
                    });
            }
            // The workers are held at the gate with most pieces still queued;
            // it opens as the owner goes.
            const OnExit opens{[&] { gate.open(); }};
            if (finishThrows) work.finishAll();
            throw std::runtime_error("caller");
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), finishThrows ? "sink" : "caller");
        }
        EXPECT_EQ(workedLate.load(), 0);
        EXPECT_EQ(worked.load(), kPieces);
        EXPECT_EQ(released, kPieces);
        EXPECT_EQ(finishedAfterFailure, 0);
    }
}

// ---------------------------------------------------------------------------
// Keys: conflicting pieces run one at a time in their order; others do not wait.

using host::faults::WorkOrder;

using testing_support::inOrder;

// Each piece reads one of five keys and writes another (or the same, or
// nothing), chosen at random. While a piece runs, no piece that conflicts with
// it runs, and each key sees its writes in the order the pieces were added,
// each read between the writes around it; under LaterFirst, pieces that do not
// conflict still complete out of their order.
TEST(OrderedWork, PiecesSharingAKeyNeverOverlapAndKeepTheirOrder) {
    for (const WorkOrder order : {WorkOrder::AsPosted, WorkOrder::LaterFirst}) {
        inOrder(order, [&] {
            host::faults::setWorkDelayForTesting(order == WorkOrder::AsPosted ? 300 : 0);
            const long outOfOrderBefore = host::faults::outOfOrderCompletionsForTesting();
            std::mutex mutex;
            std::map<std::string, int> readers, writers;
            std::map<std::string, std::vector<std::pair<long, bool>>> seen;  // number, written
            int overlaps = 0;
            std::vector<long> finished;
            {
                WorkerPool pool(4);
                OrderedWork work(&pool, 16);
                std::mt19937 random(7);
                for (long piece = 0; piece < 300; ++piece) {
                    const std::string read = "k" + std::to_string(random() % 5);
                    const long written = static_cast<long>(random() % 6);
                    OrderedWork::Keys keys{{read}, {}};
                    if (written < 5) keys.writes.push_back("k" + std::to_string(written));
                    // A key both read and written is written.
                    OrderedWork::Keys declared = keys;
                    if (declared.writes == declared.reads) declared.reads.clear();
                    work.add(
                        [&, piece, declared](int) {
                            const auto access = [&](int change) {
                                std::lock_guard lock(mutex);
                                for (const std::string& key : declared.writes) {
                                    if (change > 0 && (writers[key] > 0 || readers[key] > 0))
                                        ++overlaps;
                                    writers[key] += change;
                                    if (change > 0) seen[key].emplace_back(piece, true);
                                }
                                for (const std::string& key : declared.reads) {
                                    if (change > 0 && writers[key] > 0) ++overlaps;
                                    readers[key] += change;
                                    if (change > 0) seen[key].emplace_back(piece, false);
                                }
                            };
                            access(1);
                            std::this_thread::sleep_for(std::chrono::microseconds(50));
                            access(-1);
                        },
                        [&finished, piece] { finished.push_back(piece); }, std::move(keys));
                }
                work.finishAll();
            }
            host::faults::setWorkDelayForTesting(0);
            EXPECT_EQ(overlaps, 0);
            ASSERT_EQ(finished.size(), 300u);
            EXPECT_TRUE(std::is_sorted(finished.begin(), finished.end()));
            for (const auto& [key, accesses] : seen) {
                for (std::size_t j = 1; j < accesses.size(); ++j) {
                    for (std::size_t i = 0; i < j; ++i) {
                        const auto [before, wrote] = accesses[i];
                        const auto [after, writes] = accesses[j];
                        if (wrote || writes) {
                            EXPECT_LT(before, after) << key;
                        }
                    }
                }
            }
            if (order == WorkOrder::LaterFirst) {
                EXPECT_GT(host::faults::outOfOrderCompletionsForTesting(), outOfOrderBefore);
            }
        });
    }
}

// A wait for a key returns once every piece holding it has done its work,
// whatever the order the workers take them in, and does not wait for pieces
// that do not hold it.
TEST(OrderedWork, AWaitForAKeyReturnsOnceItsHoldersAreDone) {
    inOrder(WorkOrder::LaterFirst, [] {
        WorkerPool pool(2);
        OrderedWork work(&pool);
        std::atomic<int> done{0};
        const auto slow = [&done](int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++done;
        };
        work.add(slow, [] {}, {{}, {"k"}});
        work.add(slow, [] {}, {{"k"}, {}});
        work.add([](int) {}, [] {}, {{}, {"other"}});
        work.waitForKey("k");
        EXPECT_EQ(done.load(), 2);
        work.finishAll();
    });
    WorkerPool pool(2);
    OrderedWork work(&pool);
    Gate gate;
    work.add([&gate](int) { gate.wait(); }, [] {}, {{}, {"other"}});
    work.add([](int) {}, [] {}, {{}, {"k"}});
    work.waitForKey("k");
    gate.open();
    work.finishAll();
}

// Work kept back starts at release(), in its turn, or never when dropped; a
// wait for what it holds is refused rather than left to hang.
TEST(OrderedWork, WorkKeptBackStartsAtReleaseOrNever) {
    WorkerPool none(0);
    OrderedWork work(&none);
    std::vector<std::string> ran;
    work.add([&](int) { ran.push_back("work 0"); }, [&] { ran.push_back("finish 0"); });
    work.holdBack();
    for (int piece = 1; piece <= 2; ++piece) {
        const std::string number = std::to_string(piece);
        work.add([&, number](int) { ran.push_back("work " + number); },
                 [&, number] { ran.push_back("finish " + number); }, {{}, {"k"}});
    }
    EXPECT_EQ(ran, (std::vector<std::string>{"work 0", "finish 0"}));
    EXPECT_TRUE(work.keptBack("k"));
    EXPECT_THROW(work.waitForKey("k"), std::logic_error);
    work.release();
    EXPECT_EQ(ran, (std::vector<std::string>{"work 0", "finish 0", "work 1", "finish 1", "work 2",
                                             "finish 2"}));
    work.holdBack();
    work.add([&](int) { ran.push_back("work 3"); }, [&] { ran.push_back("finish 3"); });
    work.discardKeptBack();
    work.add([&](int) { ran.push_back("work 4"); }, [&] { ran.push_back("finish 4"); });
    work.finishAll();
    EXPECT_EQ(ran.size(), 8u);
    EXPECT_EQ(ran.back(), "finish 4");
}

// ---------------------------------------------------------------------------
// torrin's folder read-ahead, with a reader that only records.

class ReadAhead : public ::testing::Test {
  protected:
    // Reads "folder" by recording it; throws for `failing`; waits at `gate`
    // when one is given.
    torrin::FolderReadAhead::Reader reader(std::string failing = {}, Gate* gate = nullptr) {
        return [this, failing, gate](const std::string& folder, int) {
            if (gate) gate->wait();
            {
                std::lock_guard lock(mutex_);
                ++reads_[folder];
                if (std::this_thread::get_id() != walk_) readAhead_.push_back(folder);
            }
            if (folder == failing) throw std::runtime_error("cannot read " + folder);
            torrin::FolderReading reading;
            reading.listed = true;
            reading.entries.push_back({folder + "/file", false});
            return reading;
        };
    }

    static std::vector<std::string> folders(int count) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) names.push_back("/d" + std::to_string(i));
        return names;
    }

    const std::thread::id walk_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::map<std::string, int> reads_;
    std::vector<std::string> readAhead_;  // by a worker, in the order read
};

TEST_F(ReadAhead, AFailedReadComesOutWhereTheWalkTakesThatFolder) {
    WorkerPool pool(3);
    torrin::FolderReadAhead ahead(&pool, 16, reader("/d2"));
    const auto names = folders(6);
    ahead.expect(names);
    for (const std::string& folder : names) {
        if (folder == "/d2") {
            EXPECT_THROW(ahead.take(folder), std::runtime_error);
            continue;
        }
        const torrin::FolderReading reading = ahead.take(folder);
        ASSERT_EQ(reading.entries.size(), 1u);
        EXPECT_EQ(reading.entries[0].name, folder + "/file");
    }
    for (const std::string& folder : names) EXPECT_EQ(reads_[folder], 1) << folder;
}

TEST_F(ReadAhead, FoldersPastTheLimitAreLeftToTheWalk) {
    WorkerPool pool(2);
    const auto names = folders(600);
    {
        torrin::FolderReadAhead ahead(&pool, 16, reader());
        ahead.expect(names);
        // The last ones were never asked of the workers: read here, at once.
        EXPECT_EQ(ahead.take("/d599").entries.size(), 1u);
    }
    std::lock_guard lock(mutex_);
    EXPECT_LE(readAhead_.size(), 512u);
    for (const std::string& folder : readAhead_) {
        EXPECT_LT(std::stoi(folder.substr(2)), 512) << folder;
        EXPECT_EQ(reads_[folder], 1) << folder;
    }
}

// The walk stops (an exception from its progress, a failed folder) while the
// workers read ahead: its read-ahead waits for the reads under way, so no
// worker reads for an owner that is gone.
TEST_F(ReadAhead, DestructionWaitsForTheReadsUnderWay) {
    Gate gate;
    WorkerPool pool(2);
    Gone gone;
    std::atomic<int> readLate{0};
    const auto read = reader({}, &gate);
    try {
        const OnExit aheadGone{[&] { gone.set(); }};
        torrin::FolderReadAhead ahead(&pool, 16, [&](const std::string& folder, int mask) {
            auto reading = read(folder, mask);
            if (gone.seenBy(true)) ++readLate;
            return reading;
        });
        ahead.expect(folders(100));
        const OnExit opens{[&] { gate.open(); }};
        throw std::runtime_error("walk stopped");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(readLate.load(), 0);
    std::lock_guard lock(mutex_);
    for (const auto& [folder, reads] : reads_) EXPECT_EQ(reads, 1) << folder;
}

}  // namespace
