#include "torrin/engine/folder_read_ahead.h"

#include <algorithm>
#include <optional>

#include "host/paths.h"
#include "host/progress.h"

namespace torrin {

namespace {

// Readings held ahead of the walk at most; a folder of average size holds a
// few kilobytes, so memory stays small however large the tree.
constexpr std::size_t kMostAhead = 512;
// Folders a turn reads before it lets the copies handed over meanwhile run.
constexpr int kFoldersPerTurn = 16;

}  // namespace

FolderReading readFolder(const std::string& folder, int mask) {
    FolderReading reading;
    // The statuses come from the same open folder as the names, before any
    // sub-folder is walked (so one folder is open at a time per reader,
    // however deep the tree), and the system does not resolve the whole
    // path again for each of a million files.
    host::Status listed = host::listDirectory(folder, mask, reading.entries, &reading.statuses);
    reading.listed = bool(listed);
    if (!reading.listed) {
        reading.failure = std::move(listed).error();
        return reading;
    }
    // An entry the listing could not tell about is asked by itself.
    std::optional<host::FolderStatusReader> reader;
    for (std::size_t i = 0; i < reading.entries.size(); ++i) {
        const host::ListingEntry& entry = reading.entries[i];
        if (reading.statuses[i]) continue;
        if (!reader) reader.emplace().open(folder);
        // A folder's change time tells a folder moved in as a whole.
        reading.statuses[i] = reader->status(entry.name);
        host::markProgress();
        if (reading.statuses[i] || entry.isFolder) continue;
        if (const auto times = host::fileTimes(host::joinPath(folder, entry.name)))
            reading.statuses[i] = host::FileStatus{0, times->modified, times->created};
    }
    return reading;
}

FolderReadAhead::FolderReadAhead(common::WorkerPool* pool, int mask, Reader read)
    : pool_(pool && pool->threads() > 0 ? pool : nullptr), mask_(mask), read_(std::move(read)) {}

FolderReadAhead::~FolderReadAhead() {
    std::unique_lock lock(mutex_);
    // Requests not yet started are dropped; their posted turns find nothing,
    // and every turn ends before this object does.
    for (const auto& request : stack_) request->state = State::Taken;
    changed_.wait(lock, [this] { return turns_ == 0; });
}

void FolderReadAhead::expect(const std::vector<std::string>& folders) {
    if (!pool_) return;
    long newTurns = 0;
    {
        std::lock_guard lock(mutex_);
        // Past the limit the folders needed last are left to the walk.
        const std::size_t room = kMostAhead > requests_.size() ? kMostAhead - requests_.size() : 0;
        const std::size_t count = std::min(room, folders.size());
        for (std::size_t i = count; i-- > 0;) {
            auto request = std::make_shared<Request>();
            request->folder = folders[i];
            if (!requests_.emplace(folders[i], request).second) continue;
            stack_.push_back(std::move(request));
        }
        // A turn reads folder after folder while there are any, so a few
        // turns serve the whole walk: one per thread at most.
        newTurns = std::min<long>(static_cast<long>(stack_.size()), pool_->threads()) - turns_;
        if (newTurns < 0) newTurns = 0;
        turns_ += newTurns;
    }
    postTurns(newTurns);
}

// Posts `turns` turns already counted in turns_. A turn that cannot be posted
// is counted off again: the folders it would have read are read by the walk.
void FolderReadAhead::postTurns(long turns) {
    for (long turn = 0; turn < turns; ++turn) {
        try {
            pool_->post([this](int) { readAhead(); });
        } catch (...) {
            std::lock_guard lock(mutex_);
            turns_ -= turns - turn;
            changed_.notify_all();
            return;
        }
    }
}

void FolderReadAhead::readAhead() {
    std::unique_lock lock(mutex_);
    for (int read = 0; read < kFoldersPerTurn; ++read) {
        std::shared_ptr<Request> request;
        while (!stack_.empty() && !request) {
            if (stack_.back()->state == State::Waiting) request = stack_.back();
            stack_.pop_back();
        }
        if (!request) break;
        request->state = State::Reading;
        lock.unlock();
        // A turn must not throw: the pool's thread would end the program.
        // What the reading threw goes to the walk, which takes it.
        FolderReading reading;
        std::exception_ptr failure;
        try {
            reading = read_(request->folder, mask_);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        request->reading = std::move(reading);
        request->failure = failure;
        request->state = State::Read;
        if (walkWaiting_) changed_.notify_all();
    }
    if (!stack_.empty()) {
        // Back in the queue behind the copies handed over meanwhile.
        lock.unlock();
        postTurns(1);
        return;
    }
    --turns_;
    // Under the lock: once it is released the owner may be gone.
    changed_.notify_all();
}

FolderReading FolderReadAhead::take(const std::string& folder) {
    std::unique_lock lock(mutex_);
    const auto found = requests_.find(folder);
    if (found == requests_.end()) {
        lock.unlock();
        return read_(folder, mask_);
    }
    const std::shared_ptr<Request> request = found->second;
    requests_.erase(found);
    if (request->state == State::Waiting) {
        // Not started: the walk reads it itself rather than wait for a turn.
        request->state = State::Taken;
        lock.unlock();
        return read_(folder, mask_);
    }
    walkWaiting_ = true;
    changed_.wait(lock, [&] { return request->state == State::Read; });
    walkWaiting_ = false;
    request->state = State::Taken;
    if (request->failure) std::rethrow_exception(request->failure);
    return std::move(request->reading);
}

}  // namespace torrin
