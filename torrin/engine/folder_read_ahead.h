// The folders of torrin's walk, listed and their files' times read by the
// workers ahead of the walk. Reading the times of a million files is what an
// incremental run waits on; several folders read at once keep the disk (or
// the cores) busy while the walk decides what to copy, folder after folder
// in its own order.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/ordered_work.h"
#include "host/folder_status.h"
#include "host/fs.h"

namespace torrin {

struct FolderReading {
    bool listed = false;                   // false: the folder could not be read
    std::optional<host::Failure> failure;  // why not
    std::vector<host::ListingEntry> entries;
    // The length and times of each entry (nullopt where they cannot be
    // read; length 0 where only a file's times could be).
    std::vector<std::optional<host::FileStatus>> statuses;
};

// Lists `folder` under `mask` and reads its files' lengths and times.
// Throws only std::bad_alloc.
FolderReading readFolder(const std::string& folder, int mask);

class FolderReadAhead {
  public:
    using Reader = std::function<FolderReading(const std::string& folder, int mask)>;

    // Without a pool every folder is read when the walk takes it. `read`
    // reads one folder (readFolder unless a test gives another).
    FolderReadAhead(common::WorkerPool* pool, int mask, Reader read = readFolder);
    // Waits for the reads still running; those not yet started are dropped.
    ~FolderReadAhead();
    FolderReadAhead(const FolderReadAhead&) = delete;
    FolderReadAhead& operator=(const FolderReadAhead&) = delete;

    // The walk will enter these folders next, in this order (before any
    // folder expected earlier and not yet taken).
    void expect(const std::vector<std::string>& folders);
    // The reading of `folder`: the one read ahead, else read now. What the
    // reading of `folder` threw, on a worker too, comes out here.
    FolderReading take(const std::string& folder);

  private:
    enum class State { Waiting, Reading, Read, Taken };
    struct Request {
        std::string folder;
        State state = State::Waiting;
        FolderReading reading;
        std::exception_ptr failure;
    };
    void readAhead();
    void postTurns(long turns);

    common::WorkerPool* pool_;
    int mask_;
    Reader read_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Waiting requests, the next folder of the walk last: the workers take
    // from the back, so the folders the walk needs soonest are read first.
    std::vector<std::shared_ptr<Request>> stack_;
    std::unordered_map<std::string, std::shared_ptr<Request>> requests_;
    long turns_ = 0;  // posted to the pool and not yet ended
    bool walkWaiting_ = false;
};

}  // namespace torrin
