#include "torrin/engine/run_journal.h"

#include <algorithm>
#include <utility>

#include "host/fault_injection.h"
#include "host/paths.h"
#include "torrin/engine/threshold.h"

namespace torrin {

namespace {

// Keeps `text`, read from `path`, beside it as "<path>.set-aside" for the user
// to look at before the run writes the file anew; that path.
host::Result<std::string> setAside(const std::string& path, const std::string& text) {
    std::string aside = path + ".set-aside";
    if (host::Status kept = host::writeFileAtomically(aside, text, true); !kept)
        return kept.error();
    return aside;
}

// The source rows of both headers when they differ in their rows alone.
std::vector<std::string> rowsOfBoth(const JournalHeader& earlier, const JournalHeader& now) {
    std::vector<std::string> rows;
    if (earlier.target != now.target || earlier.threshold != now.threshold ||
        earlier.fullStructure != now.fullStructure)
        return rows;
    for (const std::string& row : now.sources)
        if (std::find(earlier.sources.begin(), earlier.sources.end(), row) != earlier.sources.end())
            rows.push_back(row);
    return rows;
}

// Whether `source` was found by walking one of `rows`, as its path is
// written: the walk joins the names below a row to the row's own text.
bool belowAny(const std::vector<std::string>& rows, const std::string& source) {
    return std::any_of(rows.begin(), rows.end(), [&](const std::string& row) {
        return source.size() > row.size() && source.starts_with(row) &&
               (host::isSeparator(row.back()) || host::isSeparator(source[row.size()]));
    });
}

}  // namespace

RunJournal::RunJournal(std::string journal, std::string retryList, bool dryRun)
    : journal_(std::move(journal)), retryList_(std::move(retryList)), dryRun_(dryRun) {}

host::Status RunJournal::open(const JournalHeader& header) {
    if (!kept()) return {};
    std::string text = journalHeaderText(header);
    const host::Result<std::string> earlier = host::readFile(journal_);
    if (earlier) {
        const auto journal = parseJournal(*earlier);
        const bool same = journal && journal->header == header;
        // Rows added or removed since: the copies of the rows still there
        // are continued (a row added after a kill copies nothing twice).
        const std::vector<std::string> rowsKept =
            journal && !same ? rowsOfBoth(journal->header, header) : std::vector<std::string>{};
        if (same || !rowsKept.empty()) {
            resumed_ = true;
            if (same) notes_.push_back("继续上次中断的复制");
            for (const JournalEntry& entry : journal->entries) {
                if (!same && !belowAny(rowsKept, entry.source)) continue;
                earlier_[entry.source].push_back({entries_, entry.destination, entry.confirmed});
                appendJournalEntry(text, entry.source, entry.destination);
                if (entry.confirmed) appendJournalConfirmation(text, entries_, *entry.confirmed);
                ++entries_;
            }
        }
        if (!same && !dryRun_) {
            // Another target, other sources or another threshold: kept for
            // whoever wants to look, and this run starts afresh.
            const host::Result<std::string> aside = setAside(journal_, *earlier);
            if (!aside) return aside.error();
            notes_.push_back((rowsKept.empty()
                                  ? "上次中断的复制与当前设置不符，其记录已另存为:"
                                  : "继续上次中断的复制中仍在设置里的源文件夹，其记录已另存为:") +
                             *aside);
        }
    } else if (host::fileExists(journal_)) {
        return earlier.error();
    }
    if (!retryList_.empty()) {
        if (const host::Result<std::string> list = host::readFile(retryList_)) {
            RetryList read = parseRetryList(*list);
            retries_ = std::move(read.entries);
            // The run ends by writing the list anew: what could not be read
            // is kept beside it, never dropped without a word.
            if (!read.whole) {
                std::string note = "待重试的失败记录有损坏，可读的记录仍将重试";
                if (!dryRun_) {
                    const host::Result<std::string> aside = setAside(retryList_, *list);
                    if (!aside) return aside.error();
                    note += "，原文件已另存为:" + *aside;
                }
                notes_.push_back(std::move(note));
            }
        } else if (host::fileExists(retryList_)) {
            return list.error();
        }
    }
    if (dryRun_) return {};
    if (const host::Status started = host::writeFileAtomically(journal_, text, true); !started)
        return started;
    return file_.open(journal_);
}

std::optional<RunJournal::EarlierCopy> RunJournal::takeEarlier(const std::string& source) {
    if (earlier_.empty()) return std::nullopt;
    const auto found = earlier_.find(source);
    if (found == earlier_.end()) return std::nullopt;
    EarlierCopy copy = std::move(found->second.front());
    found->second.pop_front();
    if (found->second.empty()) earlier_.erase(found);
    return copy;
}

std::size_t RunJournal::record(const std::string& source, const std::string& destination) {
    appendJournalEntry(pending_, source, destination);
    return entries_++;
}

void RunJournal::confirm(std::size_t index, const host::SourceStamp& source) {
    if (!kept() || dryRun_) return;
    appendJournalConfirmation(pending_, index, source);
}

host::Status RunJournal::flush() {
    if (!kept() || dryRun_ || pending_.empty()) return {};
    if (failed_) return host::Failure{"cannot write", journal_, 0, "an earlier write failed"};
    host::Status written = file_.append(pending_);
    if (written) written = file_.flush();
    if (written) host::faults::reach(host::faults::kJournalFlushed);
    if (!written) {
        failed_ = true;
        file_.close();
    }
    pending_.clear();
    return written;
}

void RunJournal::keepForRetry(RetryEntry entry) {
    if (retryList_.empty()) return;
    const auto same = std::find_if(newRetries_.begin(), newRetries_.end(), [&](const auto& kept) {
        return kept.isFolder == entry.isFolder && kept.row == entry.row &&
               kept.relative == entry.relative;
    });
    if (same == newRetries_.end())
        newRetries_.push_back(std::move(entry));
    else if (earlierThreshold(entry.threshold, same->threshold))
        same->threshold = entry.threshold;
}

host::Status RunJournal::commit(const std::function<host::Status()>& storeThreshold) {
    if (dryRun_) return {};
    if (!kept()) return storeThreshold();
    if (host::Status written = flush(); !written) return written;
    if (!retryList_.empty()) {
        const host::Status stored =
            newRetries_.empty()
                ? host::removeFileDurably(retryList_)
                : host::writeFileAtomically(retryList_, retryListText(newRetries_), true);
        if (!stored) return stored;
    }
    host::faults::reach(host::faults::kRetriesStored);
    if (host::Status stored = storeThreshold(); !stored) return stored;
    host::faults::reach(host::faults::kThresholdStored);
    file_.close();
    return host::removeFileDurably(journal_);
}

}  // namespace torrin
