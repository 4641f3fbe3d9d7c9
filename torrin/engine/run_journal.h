// What a torrin run keeps beside the settings so that a kill or a power cut
// never loses what it vouched for: the journal of its copies and the list of
// failures to try again, and the order in which a run's end makes them
// durable (its copies on the device, then the failures, then the threshold,
// and only then does the journal go). The formats are in run_records.h.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/durability.h"
#include "host/fs.h"
#include "host/result.h"
#include "torrin/engine/run_records.h"

namespace torrin {

class RunJournal {
  public:
    // `journal` and `retryList` are the files' paths (an empty `journal`:
    // the run keeps neither). A dry run reads them and writes nothing.
    RunJournal(std::string journal, std::string retryList, bool dryRun);
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    bool kept() const noexcept { return !journal_.empty(); }

    // Reads the journal of an interrupted run and the failures kept, and
    // starts this run's journal for `header`. A journal of the same header
    // is continued; one of another is set aside (".set-aside") with a note.
    // A failure: the records cannot be kept, and the run must copy nothing
    // (it could neither continue nor keep what it copies after a kill).
    host::Status open(const JournalHeader& header);
    // Log lines that say what open() did with the earlier records.
    const std::vector<std::string>& notes() const noexcept { return notes_; }
    bool resumed() const noexcept { return resumed_; }

    // A copy of the interrupted run from `source`, taken in its order (a
    // source walked twice has two): its entry, its destination below the
    // target and, when the copy was confirmed, the source as it was copied.
    struct EarlierCopy {
        std::size_t index = 0;
        std::string destination;
        std::optional<host::SourceStamp> confirmed;
    };
    std::optional<EarlierCopy> takeEarlier(const std::string& source);

    // Records a copy about to be made; its entry's index. The entry waits in
    // memory until flush(): the copy must not begin before.
    std::size_t record(const std::string& source, const std::string& destination);
    // Confirms the copy of entry `index`: it and its name are on the device.
    void confirm(std::size_t index, const host::SourceStamp& source);
    // The entries and confirmations recorded since the last flush reach the
    // device. After a failure nothing more is written.
    host::Status flush();

    // The failures an earlier run kept, once, for this run to try first.
    std::vector<RetryEntry> takeRetries() { return std::move(retries_); }
    // A failure of this run, kept for the next: once per file or folder,
    // under the earlier of the thresholds it failed under.
    void keepForRetry(RetryEntry entry);

    // The end of a run whose copies are all on their devices: the failures
    // to try again, then the threshold (`storeThreshold`), then the journal
    // goes. A kill at any point leaves a journal the next run continues,
    // never a threshold that passes over a failure not yet kept.
    host::Status commit(const std::function<host::Status()>& storeThreshold);

  private:
    const std::string journal_;
    const std::string retryList_;
    const bool dryRun_;
    host::JournalFile file_;
    std::string pending_;  // lines not yet written
    std::size_t entries_ = 0;
    bool failed_ = false;
    bool resumed_ = false;
    std::vector<std::string> notes_;
    std::unordered_map<std::string, std::deque<EarlierCopy>> earlier_;
    std::vector<RetryEntry> retries_;
    std::vector<RetryEntry> newRetries_;
};

}  // namespace torrin
