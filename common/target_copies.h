// The copies of a run into its target folder: the one way both programs copy.
//
// The caller adds copies in its own order. Workers write each into its
// destination under a temporary handle (host::TargetFolder::stage), the
// copies of one folder together; the copies so written reach their devices
// together (host::FileSystemFlush) and only then take their names, and a copy
// has ended once its name has reached the device too. So a name never points
// at bytes a power cut can take, and a copy called done holds every byte of
// one state of its source.
//
// Each copy's finish, with how it ended and why, runs on the thread that adds
// the copies, in the order they were added, whatever the workers: a person or
// a file sees what copying one file after another would show.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/ordered_work.h"
#include "common/sequences_by_hash.h"
#include "host/fs.h"
#include "host/result.h"

namespace common {

struct TargetCopy {
    std::string source;  // its full path
    std::string folder;  // its destination below the target ("": the target itself)
    std::string name;    // its name there
    bool replace = false;
    // The destination's key (host::folderKey of the folder's path, then
    // host::sameFileKey of the name): copies to one key take their names in
    // their order.
    std::string key;
    // Keys of files the copy reads that another copy of the run may write
    // (kelvane: its source): it reads them once that copy has its name.
    std::vector<std::string> reads;
    std::int64_t length = 0;  // as the caller knows it: small files go to a worker together
};

struct CopyEnd {
    enum class How { Copied, Failed, NotBegun };
    How how = How::NotBegun;
    std::shared_ptr<const host::Failure> failure;  // Failed: why
    host::SourceStamp source;                      // Copied: the source as it was copied
};

class TargetCopies {
  public:
    using Finish = std::function<void(const CopyEnd&)>;

    struct Options {
        int workers = kDefaultWorkers;  // 1: every copy on the adding thread
        bool verify = false;            // host::TargetFolder::setVerify
        // Copies of one folder that go to a worker together, while their
        // lengths add up to under 1 MiB (1: each copy alone).
        std::size_t batchFiles = 16;
        // Asked before each copy begins: once it says stop, no copy begins
        // (those not begun end NotBegun) and the copies under way end.
        std::function<bool()> stopRequested;
    };

    TargetCopies(std::string target, Options options);
    // Waits for the work under way; copies that have not ended are dropped,
    // with their temporary files, and their finishes do not run.
    ~TargetCopies();
    TargetCopies(const TargetCopies&) = delete;
    TargetCopies& operator=(const TargetCopies&) = delete;

    // Adds a copy; `finish` runs once it has ended. A copy into a folder not
    // yet reached looks at its source first, so a missing one makes no
    // folder; one that would lead out of the target (a link) is refused.
    void add(TargetCopy copy, Finish finish);
    // Runs `finish` in its turn among the copies' finishes (a log line, a
    // failure found without copying).
    void addInTurn(std::function<void()> finish);

    // Waits until every copy to `key` added so far has taken its name (or
    // failed), so that the destination can be looked at as it will stay.
    void settle(const std::string& key);

    // Copies added from now on begin only after the next flush has called
    // the hook (torrin: once their journal entries are on the device).
    void holdUntilFlushed() noexcept { work_.work().holdBack(); }
    // Called by each flush once the devices are flushed and the copies named
    // before it have ended, before the copies held start and those written
    // since the last flush take their names. A failure stops: the copies
    // held, and whatever was added after them, are dropped (their finishes
    // do not run), and the flush returns it; a copy added later fails with
    // it at once.
    void setBeforeRelease(std::function<host::Status()> hook) { beforeRelease_ = std::move(hook); }
    bool holding(const std::string& key) { return work_.work().keptBack(key); }

    // One flush: the devices the copies were written to are flushed, the copies
    // written before it take their names, and those named before an earlier
    // flush have ended. A failure of the devices fails the copies it
    // concerns (and is returned); the hook's failure is returned.
    host::Status flush();
    // Flushes when it is due: copies held, written or named wait for it, and
    // the first of them has waited long enough, or the workers are idle with
    // copies held, or too many wait.
    host::Status flushWhenDue();
    // Every copy added ends, and every finish runs. The first failure of a
    // flush (or of the hook) is returned; the copies it concerns have failed.
    host::Status finishAll();

    // Why the devices could not be flushed, since the first time they could
    // not: the copies written or named then have failed with it, although
    // some may be there whole (a name that reached the device anyway).
    const std::optional<host::Failure>& devicesFailure() const noexcept { return devicesFailure_; }

    WorkerPool& pool() { return work_.pool(); }
    int threads() const { return work_.threads(); }
    // Copies added and not yet ended (or dropped).
    std::size_t waiting() const noexcept;

  private:
    struct Entry;
    struct Batch;
    struct BatchSlot;
    void handOver();
    void runBatch(Batch& batch, int worker);
    void written(Batch& batch);
    void name(const std::vector<long>& written);
    void named(const std::vector<long>& sequences, const std::vector<host::Status>& results);
    void namedOne(long sequence, const host::Status& result);
    void finishEnded();
    void dropHeld();
    void readAfterWrite(const std::string& key);
    Entry& entry(long sequence);
    static std::uint64_t keyHash(const std::string& key) noexcept;

    const std::string target_;
    const Options options_;
    WorkersWithState<host::TargetFolder> work_;
    host::FileSystemFlush devices_;
    std::function<host::Status()> beforeRelease_;

    std::shared_ptr<Batch> batch_;  // being gathered
    std::vector<std::vector<BatchSlot>> spareSlots_;
    // Every copy (and turn) not yet finished, in the order added.
    std::deque<Entry> entries_;
    long firstSequence_ = 0;
    long nextSequence_ = 0;
    // The copies written and not yet named, and those named (their names
    // given since the last flush) and not yet on the device, in their order.
    std::vector<long> written_;
    std::vector<long> named_;
    // Destinations of copies added and not yet named: their last piece of work.
    SequencesByHash unnamed_;
    std::optional<host::Failure> devicesFailure_;
    // Why the hook failed, once it has: no copy added since may begin, since
    // nothing the hook keeps could vouch for it.
    std::optional<host::Failure> hookFailure_;
    std::size_t maxWritten_ = 0;
    bool finishing_ = false;  // finishes are running: one they call adds no run of its own
    std::chrono::steady_clock::time_point firstWaiting_{};
    std::chrono::steady_clock::time_point lastFlush_{};  // the epoch before the first
    std::chrono::microseconds idleGap_{500};
};

}  // namespace common
