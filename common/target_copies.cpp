#include "common/target_copies.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "host/fault_injection.h"
#include "host/paths.h"
#include "host/progress.h"

namespace common {

namespace {

// Copies that follow each other go to a worker together (Options::batchFiles):
// fewer hand-overs, and the files of one folder mostly on one worker, so that
// workers seldom add names to one folder at once (the system lets one at a
// time do that). Large files go to a worker each, so several are copied at
// once.
constexpr std::int64_t kBatchBytes = 1 << 20;
// Copies of one folder named by one worker together.
constexpr std::size_t kNamedTogether = 64;
// Pieces of work under way per worker, at most: each may hold a batch of
// written copies open until the adding thread takes them, so the files this
// process may hold open bound them too (piecesPerWorker). Many under way
// spare flushes: a run holding copies for its journal flushes once the
// workers' window of them is full.
constexpr std::size_t kMostPiecesPerWorker = 32;

std::size_t piecesPerWorker(const TargetCopies::Options& options) {
    const std::size_t perPiece = std::max<std::size_t>(options.batchFiles, 1) *
                                 static_cast<std::size_t>(std::max(1, options.workers));
    return std::clamp<std::size_t>(host::openFileAllowance() / 2 / perPiece, 2,
                                   kMostPiecesPerWorker);
}
// Held copies beyond this are flushed for at once (one at a time: a copy
// waits for no more than this many others).
constexpr std::size_t kMostHeldAlone = 4096;
// Slot lists of ended batches kept for the next ones.
constexpr std::size_t kSpareSlotLists = 64;
// What waits for a flush waits at most about this long however long the
// caller takes to add the next copy; the gap before a flush made because the
// workers wait for held copies is a few times what the last flush took, so
// that flushing takes a fifth of a run at most, from kMinIdleGap on a quiet
// disk to kMaxIdleGap on a busy one.
constexpr std::chrono::milliseconds kLongestWait{500};
constexpr std::chrono::microseconds kMinIdleGap{500};
constexpr std::chrono::milliseconds kMaxIdleGap{100};
constexpr int kIdleGapPerFlushTime = 4;

// Why a copy into a folder not yet reached does not begin: its source is
// not a file that can be read.
std::optional<host::Failure> sourceUnfit(const std::string& source) {
    if (host::fileExists(source)) return std::nullopt;
    const host::EntryInfo found = host::lookUpEntry(source);
    using Kind = host::EntryInfo::Kind;
    switch (found.kind) {
        case Kind::File:
            return std::nullopt;
        case Kind::Missing:
            return host::Failure{"cannot open", source, 0, found.text};
        case Kind::Unreadable:
            return host::Failure{"cannot read the source file", source, 0, found.text};
        default:
            return host::Failure{"cannot copy", source, 0, "not a file but " + found.text};
    }
}

// Writes one copy into its folder below the worker's target.
host::Result<host::StagedCopy> write(host::TargetFolder& target, const TargetCopy& copy) {
    const std::string& folder = copy.folder;
    // Folders are made only for a file about to be copied into them: a list
    // of missing files leaves no empty folder tree in the target.
    const bool reached = target.isAt(folder);
    if (!reached) {
        if (auto unfit = sourceUnfit(copy.source)) return std::move(*unfit);
    }
    const auto reach = [&]() -> std::optional<host::Failure> {
        const host::Result<host::TargetFolder::Reach> entered = target.enter(folder);
        if (!entered) return entered.error();
        if (*entered == host::TargetFolder::Reach::Outside)
            return host::Failure{"will not write", host::joinPath(target.path(), copy.name), 0,
                                 "a folder on its way is a link or outside the target folder"};
        return std::nullopt;
    };
    if (auto outside = reach()) {
        target.leave();
        return std::move(*outside);
    }
    host::Result<host::StagedCopy> written = target.stage(copy.source, copy.name, copy.replace);
    if (!written && reached) {
        // Reached for an earlier copy, the folder may have gone meanwhile:
        // reached and made once more. A source gone meanwhile says so.
        if (auto unfit = sourceUnfit(copy.source)) {
            target.leave();
            return std::move(*unfit);
        }
        if (target.destinationGone()) {
            target.leave();
            if (auto outside = reach()) {
                target.leave();
                return std::move(*outside);
            }
            written = target.stage(copy.source, copy.name, copy.replace);
        }
    }
    if (!written) target.leave();
    return written;
}

}  // namespace

// Copies not yet named are found by their keys' hashes: two keys of one hash
// only make a wait longer than it needs to be.
std::uint64_t TargetCopies::keyHash(const std::string& key) noexcept {
    return std::hash<std::string>{}(key);
}

namespace {

// The key naming pieces hold for a destination: its key's hash, short enough
// to be held without an allocation; one hash for two keys only orders two
// namings that need not be.
std::string namingKey(std::uint64_t hash) {
    std::string key(1, '#');
    for (; hash != 0; hash /= 36) key += "0123456789abcdefghijklmnopqrstuvwxyz"[hash % 36];
    return key;
}

}  // namespace

struct TargetCopies::Entry {
    enum class State { Waiting, Written, Naming, Named, Ended };
    State state = State::Waiting;
    Finish finish;  // a copy's, or a turn (which takes no notice of the end)
    CopyEnd end;
    std::optional<host::StagedCopy> staged;
    std::uint64_t key = 0;  // keyHash of the destination's key
    // The copy's piece of ordered work (-1 until handed over); a turn's:
    // the number of the next piece when it was added.
    long piece = -1;

    // Ends the copy as failed, letting go of its file.
    void fail(host::Failure failure) {
        staged.reset();
        state = State::Ended;
        end.how = CopyEnd::How::Failed;
        end.failure = std::make_shared<const host::Failure>(std::move(failure));
    }
};

struct TargetCopies::BatchSlot {
    TargetCopy copy;
    long sequence = 0;
    bool begun = false;
    std::optional<host::Result<host::StagedCopy>> written;
};

struct TargetCopies::Batch {
    using Slot = BatchSlot;
    std::vector<Slot> slots;
    std::int64_t bytes = 0;
};

TargetCopies::TargetCopies(std::string target, Options options)
    : target_(std::move(target)),
      options_(std::move(options)),
      work_(
          options_.workers,
          [&] {
              auto folder = std::make_unique<host::TargetFolder>(target_);
              folder->setVerify(options_.verify);
              return folder;
          },
          piecesPerWorker(options_)) {
    // Written copies hold a file open each until they are named: a quarter
    // of what may be open, the pieces under way taking half.
    maxWritten_ = std::clamp<std::size_t>(host::openFileAllowance() / 4, 16, 1024);
}

TargetCopies::~TargetCopies() = default;

std::size_t TargetCopies::waiting() const noexcept {
    return entries_.size();
}

TargetCopies::Entry& TargetCopies::entry(long sequence) {
    return entries_[static_cast<std::size_t>(sequence - firstSequence_)];
}

void TargetCopies::add(TargetCopy copy, Finish finish) {
    for (const std::string& read : copy.reads) readAfterWrite(read);
    if (entries_.empty()) firstWaiting_ = std::chrono::steady_clock::now();
    const long sequence = nextSequence_++;
    Entry& added = entries_.emplace_back();
    added.finish = std::move(finish);
    if (hookFailure_) {
        // The flush the reads above made may have been the one that failed:
        // the holding has ended, and this copy would begin unheld.
        added.piece = work_.work().added();
        added.fail(*hookFailure_);
        finishEnded();
        return;
    }
    added.key = keyHash(copy.key);
    unnamed_.set(added.key, sequence);
    if (!batch_) {
        batch_ = std::make_shared<Batch>();
        if (!spareSlots_.empty()) {
            batch_->slots = std::move(spareSlots_.back());
            spareSlots_.pop_back();
        }
        // On the adding thread a batch is one copy.
        batch_->slots.reserve(threads() == 0 ? 1 : options_.batchFiles);
    }
    batch_->bytes += copy.length;
    batch_->slots.push_back({std::move(copy), sequence, false, std::nullopt});
    if (threads() == 0 || batch_->slots.size() >= options_.batchFiles ||
        batch_->bytes >= kBatchBytes)
        handOver();
    finishEnded();
}

void TargetCopies::addInTurn(std::function<void()> finish) {
    handOver();
    if (entries_.empty()) firstWaiting_ = std::chrono::steady_clock::now();
    Entry& added = entries_.emplace_back();
    ++nextSequence_;
    added.finish = [turn = std::move(finish)](const CopyEnd&) { turn(); };
    added.piece = work_.work().added();
    added.state = Entry::State::Ended;
    finishEnded();
}

void TargetCopies::handOver() {
    if (!batch_) return;
    const std::shared_ptr<Batch> batch = std::move(batch_);
    // The copies' keys are the piece's: the copies need them no more.
    OrderedWork::Keys keys;
    keys.writes.reserve(batch->slots.size());
    for (Batch::Slot& slot : batch->slots) {
        keys.writes.push_back(std::move(slot.copy.key));
        std::move(slot.copy.reads.begin(), slot.copy.reads.end(), std::back_inserter(keys.reads));
    }
    const long piece = work_.work().added();
    for (const Batch::Slot& slot : batch->slots) entry(slot.sequence).piece = piece;
    work_.work().add([this, batch](int worker) { runBatch(*batch, worker); },
                     [this, batch] { written(*batch); }, std::move(keys));
    static_cast<void>(flushWhenDue());  // a failure is the copies' own, and kept
}

void TargetCopies::runBatch(Batch& batch, int worker) {
    host::TargetFolder& target = work_.state(worker);
    for (Batch::Slot& slot : batch.slots) {
        if (options_.stopRequested && options_.stopRequested()) break;
        slot.begun = true;
        host::faults::reach(host::faults::kCopyBegun);
        slot.written.emplace(write(target, slot.copy));
        host::markProgress();  // a clone or an empty file copies no piece
    }
}

// A batch's work has ended: its copies wait for a flush, or have ended.
void TargetCopies::written(Batch& batch) {
    for (Batch::Slot& slot : batch.slots) {
        Entry& copy = entry(slot.sequence);
        if (slot.begun && *slot.written) {
            copy.staged.emplace(std::move(**slot.written));
            if (copy.staged->published()) {
                // Named where it was written: only its name's flush is left.
                namedOne(slot.sequence, {});
                continue;
            }
            devices_.noteStaged(*copy.staged);
            copy.state = Entry::State::Written;
            written_.push_back(slot.sequence);
            continue;
        }
        if (slot.begun)
            copy.fail(std::move(*slot.written).error());
        else
            copy.state = Entry::State::Ended;
        unnamed_.eraseIf(copy.key, slot.sequence);
    }
    // Its room serves a later batch: a batch's slots are one large block,
    // which the allocator would otherwise make afresh for every batch.
    batch.slots.clear();
    if (spareSlots_.size() < kSpareSlotLists) spareSlots_.push_back(std::move(batch.slots));
}

void TargetCopies::finishEnded() {
    if (finishing_) return;
    finishing_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{finishing_};
    while (!entries_.empty() && entries_.front().state == Entry::State::Ended) {
        Entry ended = std::move(entries_.front());
        entries_.pop_front();
        ++firstSequence_;
        host::markProgress();
        if (ended.finish) ended.finish(ended.end);
    }
}

// The copies `written` take their names on the workers, those of a folder
// together; copies to one name take theirs in their order (their keys).
void TargetCopies::name(const std::vector<long>& written) {
    struct Naming {
        std::vector<long> sequences;
        std::vector<host::StagedCopy*> copies;
        std::vector<host::Status> named;
    };
    std::shared_ptr<Naming> naming;
    OrderedWork::Keys keys;
    const auto handOverNaming = [&] {
        if (!naming) return;
        naming->named.resize(naming->copies.size());
        const long piece = work_.work().added();
        for (const long sequence : naming->sequences) entry(sequence).piece = piece;
        work_.work().add(
            [naming](int) {
                for (std::size_t i = 0; i < naming->copies.size(); ++i) {
                    naming->named[i] = naming->copies[i]->publish();
                    if (naming->named[i]) host::faults::reach(host::faults::kCopyDone);
                }
            },
            [this, naming] { named(naming->sequences, naming->named); }, std::move(keys));
        naming.reset();
        keys = {};
    };
    const host::StagedCopy* last = nullptr;
    for (const long sequence : written) {
        Entry& copy = entry(sequence);
        if (naming && (naming->copies.size() >= kNamedTogether || !last->sameFolder(*copy.staged)))
            handOverNaming();
        if (!naming) naming = std::make_shared<Naming>();
        naming->sequences.push_back(sequence);
        naming->copies.push_back(&*copy.staged);
        keys.writes.push_back(namingKey(copy.key));
        copy.state = Entry::State::Naming;
        last = &*copy.staged;
    }
    handOverNaming();
}

// A piece of naming has ended: its copies wait for the flush that puts their
// names on the device, or have failed.
void TargetCopies::named(const std::vector<long>& sequences,
                         const std::vector<host::Status>& results) {
    for (std::size_t i = 0; i < sequences.size(); ++i) namedOne(sequences[i], results[i]);
}

void TargetCopies::namedOne(long sequence, const host::Status& result) {
    Entry& copy = entry(sequence);
    unnamed_.eraseIf(copy.key, sequence);
    if (!result) {
        copy.fail(result.error());
        return;
    }
    devices_.notePublished(*copy.staged);
    copy.end.source = copy.staged->source();
    // Named, it needs nothing of its own for the flush: its file closes now.
    copy.staged.reset();
    copy.state = Entry::State::Named;
    named_.push_back(sequence);
}

host::Status TargetCopies::flush() {
    const auto started = std::chrono::steady_clock::now();
    host::Status status = devices_.flush();
    const auto forget = [&](Entry& copy, long sequence) { unnamed_.eraseIf(copy.key, sequence); };
    const auto fail = [&](long sequence, const host::Failure& failure) {
        Entry& copy = entry(sequence);
        copy.fail(failure);
        forget(copy, sequence);
    };
    const bool devicesFlushed = status.has_value();
    if (!devicesFlushed) {
        if (!devicesFailure_) devicesFailure_ = status.error();
        // What was written since the last flush may not be on the device.
        for (const long sequence : named_) fail(sequence, status.error());
        for (const long sequence : written_) fail(sequence, status.error());
    } else {
        for (const long sequence : named_) {
            Entry& copy = entry(sequence);
            copy.staged.reset();
            copy.state = Entry::State::Ended;
            copy.end.how = CopyEnd::How::Copied;
        }
    }
    named_.clear();
    std::vector<long> naming = std::move(written_);
    written_.clear();
    finishEnded();

    if (beforeRelease_) {
        if (host::Status kept = beforeRelease_(); !kept) {
            if (!hookFailure_) hookFailure_ = kept.error();
            dropHeld();
            if (status) status = std::move(kept);
        }
    }
    work_.work().release();
    // Named from here on, by the next flush on their device. Their naming is
    // not held with the copies: a failing hook drops only those.
    if (devicesFlushed) name(naming);
    const auto now = std::chrono::steady_clock::now();
    idleGap_ = std::clamp(
        std::chrono::duration_cast<std::chrono::microseconds>(now - started) * kIdleGapPerFlushTime,
        kMinIdleGap, std::chrono::microseconds(kMaxIdleGap));
    lastFlush_ = now;
    firstWaiting_ = now;
    finishEnded();
    return status;
}

// Drops the copies held for the flush and whatever was added after them.
void TargetCopies::dropHeld() {
    OrderedWork& work = work_.work();
    const long firstHeld = work.added() - static_cast<long>(work.keptBackCount());
    work.discardKeptBack();
    batch_.reset();
    while (!entries_.empty() && (entries_.back().piece < 0 || entries_.back().piece >= firstHeld)) {
        Entry& dropped = entries_.back();
        unnamed_.eraseIf(dropped.key, nextSequence_ - 1);
        entries_.pop_back();
        --nextSequence_;
    }
}

host::Status TargetCopies::flushWhenDue() {
    OrderedWork& work = work_.work();
    const std::size_t held = work.keptBackCount();
    if (held == 0 && written_.empty() && named_.empty()) return {};
    const std::size_t heldLimit = threads() > 0 ? work.window() : kMostHeldAlone;
    if (held >= heldLimit || written_.size() >= maxWritten_) return flush();
    const auto now = std::chrono::steady_clock::now();
    if (now - firstWaiting_ >= kLongestWait ||
        (held > 0 && work.running() == 0 && now - lastFlush_ >= idleGap_))
        return flush();
    return {};
}

void TargetCopies::readAfterWrite(const std::string& key) {
    const std::uint64_t hashed = keyHash(key);
    for (std::optional<long> found; (found = unnamed_.find(hashed));) {
        const long sequence = *found;
        if (entry(sequence).piece < 0) {
            handOver();
            continue;
        }
        if (work_.work().keptBack(key)) {
            static_cast<void>(flush());
            continue;
        }
        work_.work().waitForKey(key);
        work_.work().finishThrough(entry(sequence).piece);
        // Written: a flush hands it to be named; being named: the wait
        // above was for that.
        if (const std::optional<long> still = unnamed_.find(hashed);
            still == sequence && entry(sequence).state == Entry::State::Written)
            static_cast<void>(flush());
    }
}

void TargetCopies::settle(const std::string& key) {
    readAfterWrite(key);
    finishEnded();
}

host::Status TargetCopies::finishAll() {
    handOver();
    host::Status first;
    const auto keep = [&](host::Status status) {
        if (!status && first) first = std::move(status);
    };
    while (!entries_.empty()) {
        if (work_.work().keptBackCount() > 0) {
            keep(flush());
            continue;
        }
        work_.work().finishAll();
        finishEnded();
        if (entries_.empty()) break;
        keep(flush());
    }
    return first;
}

}  // namespace common
