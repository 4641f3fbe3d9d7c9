#include "common/ordered_work.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <stdexcept>

#include "base/text.h"
#include "host/fault_injection.h"
#include "host/ini.h"

namespace common {

std::optional<int> parseWorkers(std::string_view text) {
    const std::string number = base::trim(text);
    int workers = 0;
    const auto [end, error] =
        std::from_chars(number.data(), number.data() + number.size(), workers);
    if (error != std::errc() || end != number.data() + number.size() || workers < 1 ||
        workers > kMaxWorkers)
        return std::nullopt;
    return workers;
}

int storedWorkers(const std::string& profile) {
    return workersFromText(host::IniFile(profile).read("other", "jobs", ""));
}

WorkerPool::WorkerPool(int threads) {
    threads_.reserve(static_cast<std::size_t>(threads));
    for (int thread = 0; thread < threads; ++thread)
        threads_.emplace_back([this, thread] { serve(thread); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::post(std::function<void(int)> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void WorkerPool::serve(int thread) {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        std::function<void(int)> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task(thread);
        lock.lock();
    }
}

OrderedWork::OrderedWork(WorkerPool* pool, std::size_t window)
    : pool_(pool && pool->threads() > 0 ? pool : nullptr),
      // Wide enough that a long copy at the front holds up no worker for a
      // good while; each piece waiting costs a few hundred bytes.
      window_(window  ? window
              : pool_ ? 32 * static_cast<std::size_t>(pool_->threads())
                      : 1) {}

OrderedWork::~OrderedWork() {
    releaseHeld();
    std::unique_lock lock(mutex_);
    doneChanged_.wait(lock, [this] { return running_ == 0; });
}

long OrderedWork::add(Work work, Finish finish, Keys keys) {
    auto owned = std::make_unique<Piece>();
    Piece* piece = owned.get();
    piece->finish = std::move(finish);
    piece->work = std::move(work);
    if (piece->work) {
        for (std::string& key : keys.writes) piece->keys.emplace_back(std::move(key), true);
        for (std::string& key : keys.reads) piece->keys.emplace_back(std::move(key), false);
        // One entry a key, written if any entry writes it.
        std::stable_sort(piece->keys.begin(), piece->keys.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        piece->keys.erase(
            std::unique(piece->keys.begin(), piece->keys.end(),
                        [](const auto& a, const auto& b) { return a.first == b.first; }),
            piece->keys.end());
    }
    piece->keptBack = holding_ || kept_ > 0;
    const long number = added_++;
    piece->number = number;
    {
        std::lock_guard lock(mutex_);
        pieces_.push_back(std::move(owned));
        for (const auto& [key, writes] : piece->keys) holders_[key].push_back({piece, writes});
    }
    if (piece->keptBack) {
        ++kept_;
        return number;
    }
    start(*piece);
    finishPastWindow();
    finishDone();
    return number;
}

// Starts a piece's work: at once without a pool; on the pool once the
// conflicting pieces before it have ended.
void OrderedWork::start(Piece& piece) {
    piece.keptBack = false;
    if (!piece.work || !pool_) {
        std::exception_ptr failure;
        if (piece.work) {
            try {
                const Work running = std::move(piece.work);
                running(0);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        std::lock_guard lock(mutex_);
        piece.failure = failure;
        piece.done = true;
        forgetKeys(piece);
        return;
    }
    std::lock_guard lock(mutex_);
    ++running_;
    // Every piece before this one has started, so each holder ahead of it is
    // one whose work has not ended.
    for (const auto& [key, writes] : piece.keys) {
        for (const Holder& holder : holders_[key]) {
            if (holder.piece == &piece) break;
            if (!writes && !holder.writes) continue;
            holder.piece->dependents.push_back(&piece);
            ++piece.waitingFor;
        }
    }
    if (piece.waitingFor > 0) return;
    if (host::faults::workOrder() == host::faults::WorkOrder::LaterFirst) {
        try {
            held_.push_back(&piece);
        } catch (...) {
            settle(piece, std::current_exception());
        }
        return;
    }
    post(piece);
}

// Under the lock.
void OrderedWork::post(Piece& piece) {
    try {
        pool_->post([this, &piece](int thread) { runWork(piece, thread); });
    } catch (...) {
        // Never run: the piece fails, and its finish says so in its turn.
        settle(piece, std::current_exception());
    }
}

// Runs a piece's work on a worker and marks it done.
void OrderedWork::runWork(Piece& piece, int thread) {
    std::exception_ptr failure;
    try {
        host::faults::delayWork();
        // Ends with this block, and so does all it holds: once the piece is
        // marked done below, the owner may be gone.
        const Work running = std::move(piece.work);
        running(thread);
    } catch (...) {
        failure = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    if (host::faults::completionOrderWatched()) {
        for (const auto& earlier : pieces_) {
            if (earlier.get() == &piece) break;
            if (!earlier->done) {
                host::faults::countOutOfOrderCompletion();
                break;
            }
        }
    }
    // Moved: the worker keeps no hold on the exception, which the owner
    // may have thrown and let go of before this thread would drop its own.
    settle(piece, std::move(failure));
}

// Under the lock: marks a started piece done and starts the pieces that
// waited for it alone.
void OrderedWork::settle(Piece& piece, std::exception_ptr failure) {
    piece.failure = std::move(failure);
    piece.done = true;
    --running_;
    forgetKeys(piece);
    for (Piece* later : piece.dependents) {
        if (--later->waitingFor == 0) post(*later);
    }
    // Under the lock: once it is released the owner may be gone.
    doneChanged_.notify_all();
}

// Under the lock.
void OrderedWork::forgetKeys(Piece& piece) {
    for (const auto& [key, writes] : piece.keys) {
        const auto found = holders_.find(key);
        if (found == holders_.end()) continue;
        std::erase_if(found->second, [&](const Holder& holder) { return holder.piece == &piece; });
        if (found->second.empty()) holders_.erase(found);
    }
}

// The pieces held back so far go to one worker, which runs them the last
// added first.
void OrderedWork::releaseHeld() noexcept {
    if (held_.empty()) return;
    std::shared_ptr<std::vector<Piece*>> pieces;
    try {
        pieces = std::make_shared<std::vector<Piece*>>(std::move(held_));
        held_.clear();
        pool_->post([this, pieces](int thread) {
            for (auto held = pieces->rbegin(); held != pieces->rend(); ++held)
                runWork(**held, thread);
        });
    } catch (...) {
        std::lock_guard lock(mutex_);
        for (Piece* piece : pieces ? *pieces : held_) settle(*piece, std::current_exception());
        held_.clear();
    }
}

long OrderedWork::running() {
    std::lock_guard lock(mutex_);
    return running_;
}

bool OrderedWork::keptBack(const std::string& key) {
    if (kept_ == 0) return false;
    std::lock_guard lock(mutex_);
    const auto found = holders_.find(key);
    if (found == holders_.end()) return false;
    return std::any_of(found->second.begin(), found->second.end(),
                       [](const Holder& holder) { return holder.piece->keptBack; });
}

void OrderedWork::waitForKey(const std::string& key) {
    if (keptBack(key)) throw std::logic_error("waiting for work kept back");
    releaseHeld();
    std::unique_lock lock(mutex_);
    doneChanged_.wait(lock, [&] { return !holders_.contains(key); });
}

void OrderedWork::release() {
    while (kept_ > 0) {
        Piece& piece = *pieces_[pieces_.size() - kept_];
        --kept_;
        start(piece);
        finishPastWindow();
        finishDone();
    }
    holding_ = false;
}

void OrderedWork::discardKeptBack() {
    std::lock_guard lock(mutex_);
    for (; kept_ > 0; --kept_) {
        forgetKeys(*pieces_.back());
        pieces_.pop_back();
    }
    holding_ = false;
}

void OrderedWork::finishThrough(long number) {
    while (pieces_.size() > kept_ && pieces_.front()->number <= number) finishFront();
    if (!pieces_.empty() && pieces_.front()->number <= number)
        throw std::logic_error("finishing work kept back");
}

void OrderedWork::finishPastWindow() {
    while (pieces_.size() - kept_ > window_) finishFront();
}

// Finishes the oldest piece, waiting for its work.
void OrderedWork::finishFront() {
    releaseHeld();
    std::unique_ptr<Piece> piece;
    {
        std::unique_lock lock(mutex_);
        doneChanged_.wait(lock, [this] { return pieces_.front()->done; });
        piece = std::move(pieces_.front());
        pieces_.pop_front();
    }
    if (piece->failure) std::rethrow_exception(piece->failure);
    piece->finish();
}

// Finishes the oldest pieces whose work is done, without waiting.
void OrderedWork::finishDone() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (pieces_.size() == kept_ || !pieces_.front()->done) return;
        }
        finishFront();
    }
}

void runEachIndex(WorkerPool& pool, std::size_t count,
                  const std::function<void(std::size_t, int)>& work) {
    struct Shared {
        std::atomic<std::size_t> next{0};
        std::atomic<bool> failed{false};
        std::mutex mutex;
        std::condition_variable ended;
        std::exception_ptr failure;
        int running = 0;
    } shared;
    const auto serve = [&](int thread) {
        while (!shared.failed.load(std::memory_order_relaxed)) {
            const std::size_t index = shared.next.fetch_add(1, std::memory_order_relaxed);
            if (index >= count) return;
            try {
                host::faults::delayWork();
                work(index, thread);
            } catch (...) {
                std::lock_guard lock(shared.mutex);
                if (!shared.failure) shared.failure = std::current_exception();
                shared.failed.store(true);
            }
        }
    };
    const int helpers = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(pool.threads()), count > 0 ? count - 1 : 0));
    shared.running = helpers;
    for (int helper = 0; helper < helpers; ++helper) {
        pool.post([&](int thread) {
            serve(thread);
            // Under the lock: once it is released the caller may return.
            std::lock_guard lock(shared.mutex);
            --shared.running;
            shared.ended.notify_all();
        });
    }
    serve(pool.threads());
    std::unique_lock lock(shared.mutex);
    shared.ended.wait(lock, [&] { return shared.running == 0; });
    if (shared.failure) std::rethrow_exception(shared.failure);
}

}  // namespace common
