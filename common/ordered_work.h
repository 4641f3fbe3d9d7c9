// Work spread over a few threads and finished in the order it was given. Both
// programs copy this way: the walk or the list decides what to copy, one file
// after another, the workers copy at the same time, and what a person or a
// file can see (marks, log lines, counts) is done in the given order, so a run
// on several workers looks exactly like a run on one.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace common {

// How many files are copied at once when nothing says otherwise.
inline constexpr int kDefaultWorkers = 4;
inline constexpr int kMaxWorkers = 64;
// The number of workers `text` names: a whole number from 1 to kMaxWorkers
// (blanks around it allowed); nullopt for anything else.
std::optional<int> parseWorkers(std::string_view text);
// What a "jobs" setting gives: its number, or kDefaultWorkers when it names none.
inline int workersFromText(std::string_view text) {
    return parseWorkers(text).value_or(kDefaultWorkers);
}
// The number key "jobs" of section "other" of a settings file gives. Both
// programs read it and never write it, so the file stays as its user left it.
int storedWorkers(const std::string& profile);

// Threads that run posted tasks first come, first served. Each task is told
// which thread runs it (0 .. threads-1), so it may use that thread's own state.
// A task must not throw: an exception would end the program.
class WorkerPool {
  public:
    explicit WorkerPool(int threads);
    // Runs the tasks still posted, then ends the threads.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threads() const noexcept { return static_cast<int>(threads_.size()); }
    void post(std::function<void(int thread)> task);

  private:
    void serve(int thread);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void(int)>> tasks_;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

// Pieces of work, numbered from 0 as they are added. Each has a part that runs
// on the pool (`work`) and a part that runs on the thread that adds them
// (`finish`), in the order of the numbers, once the work is done. Without a
// pool both run at once in add(), one piece after the other. Tests may force
// the later pieces' work to complete first (host/fault_injection.h).
//
// A piece may name the keys (files, say) its work reads and writes. Two pieces
// conflict when one writes a key the other reads or writes: the later one's
// work starts only once the earlier one's has ended, so they never run at
// once and run in the order they were added, as one at a time would; pieces
// that do not conflict run side by side. Only the thread that adds the pieces
// calls the members below.
class OrderedWork {
  public:
    using Work = std::function<void(int thread)>;
    using Finish = std::function<void()>;
    // The keys a piece's work reads and writes; a key in both is written.
    struct Keys {
        std::vector<std::string> reads;
        std::vector<std::string> writes;
    };

    // At most `window` pieces (default: 32 per thread) are added, not kept
    // back and not yet finished; add() finishes the oldest first when there
    // are more.
    explicit OrderedWork(WorkerPool* pool, std::size_t window = 0);
    // Waits for the work still running (its finish is not run); work kept
    // back never runs.
    ~OrderedWork();
    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;

    // Returns the piece's number. `work` may be empty: the piece is done at
    // once (its keys are not held) and only its finish waits for its turn. An
    // exception from `work` comes out of the call that runs the piece's finish.
    long add(Work work, Finish finish, Keys keys = {});
    // Finishes every piece up to and including `number`, waiting for its work
    // (std::logic_error for a piece kept back: it must be released first).
    void finishThrough(long number);
    void finishAll() { finishThrough(added_ - 1); }
    // The number the next piece gets.
    long added() const noexcept { return added_; }
    // Pieces whose work is started (posted to the pool, waiting for a
    // conflicting piece, or held back by a test's order) and not yet done.
    long running();

    // Waits until the work of every piece added so far that holds `key` has
    // ended (its finish may still be to run): after it, what those pieces
    // did to the key is there to see, and nothing of theirs changes it.
    // A piece holding it that is kept back must be released first: waiting
    // for it would never end (std::logic_error).
    void waitForKey(const std::string& key);
    // Whether a piece kept back holds `key`.
    bool keptBack(const std::string& key);
    // How many pieces are kept back.
    std::size_t keptBackCount() const noexcept { return kept_; }
    // How many pieces may be under way before add() waits for the oldest.
    std::size_t window() const noexcept { return window_; }

    // Pieces added from now on are kept back: numbered, holding their keys
    // and finished in their turn, but their work starts only at release(),
    // and they do not count against the window. For work that may start only
    // once something the adding thread does later is done (a journal written).
    void holdBack() noexcept { holding_ = true; }
    // Starts the work kept back, in its order, finishing the oldest pieces
    // as add() does; pieces added after it start at once again.
    void release();
    // Drops the pieces kept back: neither their work nor their finish runs.
    void discardKeptBack();

  private:
    struct Piece;
    struct Holder {
        Piece* piece;
        bool writes;
    };
    struct Piece {
        long number = 0;
        Finish finish;
        Work work;                                       // until it starts
        std::vector<std::pair<std::string, bool>> keys;  // each key once; true: written
        std::vector<Piece*> dependents;                  // conflicting later pieces
        int waitingFor = 0;  // conflicting earlier pieces whose work has not ended
        bool keptBack = false;
        bool done = false;
        std::exception_ptr failure;
    };
    void start(Piece& piece);
    void post(Piece& piece);
    void runWork(Piece& piece, int thread);
    void settle(Piece& piece, std::exception_ptr failure);
    void forgetKeys(Piece& piece);
    void releaseHeld() noexcept;
    void finishFront();
    void finishDone();
    void finishPastWindow();

    WorkerPool* pool_;
    std::size_t window_;
    std::mutex mutex_;
    std::condition_variable doneChanged_;
    std::deque<std::unique_ptr<Piece>> pieces_;  // not yet finished, oldest first
    // The pieces holding each key whose work has not ended, oldest first.
    std::unordered_map<std::string, std::vector<Holder>> holders_;
    long added_ = 0;
    long running_ = 0;  // started on the pool and not yet done
    // Used by the adding thread only: the pieces kept back (the last ones
    // added), whether new ones are, and the pieces held back by the
    // LaterFirst test order.
    std::size_t kept_ = 0;
    bool holding_ = false;
    std::vector<Piece*> held_;
};

// Runs `work(index, thread)` for every index of [0, count) on the pool's
// threads and on the calling thread (thread number pool.threads()), each
// index taken by the next thread that is free, with no hand-over per index:
// for many small pieces of work whose results the caller reads by index
// afterwards. Returns once every piece has ended; the first exception a piece
// threw comes out here, and no piece starts after it was thrown.
void runEachIndex(WorkerPool& pool, std::size_t count,
                  const std::function<void(std::size_t index, int thread)>& work);

// Workers with state of their own (each an open target folder, say) and the
// ordered work they do. The states are made before the threads and destroyed
// after them, and the ordered work waits for its running pieces before either
// goes: however the owner is left (an exception included), no worker ever
// uses a state that is gone.
template <typename State>
class WorkersWithState {
  public:
    // `threads` 0 or 1: no thread, one state, the work runs where it is added.
    // `piecesPerThread`: the ordered work's window per thread (0: its default).
    template <typename MakeState>
    WorkersWithState(int threads, MakeState makeState, std::size_t piecesPerThread = 0) {
        const int states = threads > 1 ? threads : 1;
        for (int i = 0; i < states; ++i) states_.push_back(makeState());
        pool_.emplace(threads > 1 ? threads : 0);
        work_.emplace(&*pool_, piecesPerThread * static_cast<std::size_t>(pool_->threads()));
    }
    ~WorkersWithState() {
        work_.reset();
        pool_.reset();
    }
    WorkersWithState(const WorkersWithState&) = delete;
    WorkersWithState& operator=(const WorkersWithState&) = delete;

    State& state(int thread) { return *states_[static_cast<std::size_t>(thread)]; }
    WorkerPool& pool() { return *pool_; }
    OrderedWork& work() { return *work_; }
    int threads() const { return pool_->threads(); }

  private:
    std::vector<std::unique_ptr<State>> states_;
    std::optional<WorkerPool> pool_;
    std::optional<OrderedWork> work_;
};

}  // namespace common
