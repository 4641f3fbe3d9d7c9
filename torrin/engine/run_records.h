// What torrin keeps beside confi9.ini between runs, besides the settings:
// the journal of the run in progress, so that a killed run is continued
// rather than started again (no file lost, none copied twice), the list
// of failures to try again, so that a file whose copy failed is not passed
// over for good once the threshold has moved on, and the state of the last
// run: the instant its threshold names and the disks it used.
//
// Both are text files of lines ended by LF, fields separated by a tab. Names
// are the bytes the file system gave, with "\" written "\\", a tab "\t", a
// line feed "\n" and a carriage return "\r".
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/fs.h"

namespace torrin {

// What a journal belongs to: a run continues a journal only when these match.
struct JournalHeader {
    std::string target;
    std::string threshold;
    bool fullStructure = false;
    std::vector<std::string> sources;  // the folders walked, in order
    bool operator==(const JournalHeader&) const = default;
};

// One copy, recorded before it starts: its source and its destination below
// the target (folders and name, with the system's separator). Once the copy
// and its name are on the device a line confirms it, with the source as it
// was copied: a confirmed copy whose source still has that stamp is done.
struct JournalEntry {
    std::string source;
    std::string destination;
    std::optional<host::SourceStamp> confirmed;
};

struct Journal {
    JournalHeader header;
    std::vector<JournalEntry> entries;
};

std::string journalHeaderText(const JournalHeader& header);
// The entry's line (without its confirmation), appended to `text` or alone.
void appendJournalEntry(std::string& text, std::string_view source, std::string_view destination);
std::string journalEntryText(const JournalEntry& entry);
// The line that confirms the `index`-th entry (from 0) of the journal.
void appendJournalConfirmation(std::string& text, std::size_t index,
                               const host::SourceStamp& source);
std::string journalConfirmationText(std::size_t index, const host::SourceStamp& source);
// nullopt for a file that is not a journal or is damaged before its last
// line (a confirmation of no entry before it among them); a last line without
// its line end (a write the kill cut short) is left out.
std::optional<Journal> parseJournal(std::string_view text);

// A failure to try again: a file, or a folder that could not be read (walked
// again with `threshold`, the threshold of the run that failed).
struct RetryEntry {
    bool isFolder = false;
    std::string row;       // the source folder of the settings it belongs to
    std::string relative;  // below the row ("" for the row itself)
    std::string threshold;
    bool operator==(const RetryEntry&) const = default;
};

struct RetryList {
    std::vector<RetryEntry> entries;
    // False when some of the text reads as no entry (garbage, a damaged or
    // cut line, no first line): the file is then kept for the user to see.
    bool whole = true;
};

std::string retryListText(const std::vector<RetryEntry>& entries);
// Every line that reads as an entry, wherever it is: a retry list only ever
// adds work. A byte-order mark and CR LF line ends are read through.
RetryList parseRetryList(std::string_view text);

// A threshold a run stored: its text as "fdt" holds it, the instant it
// names (whatever the zone the next run reads it in), and where the system
// says so, the system start it was stored in and the seconds since that
// start at the same instant, so that a later run of that start can tell the
// clock was set back in between.
struct StoredThreshold {
    std::string text;
    std::time_t instant = 0;
    std::string boot;
    std::int64_t sinceBoot = 0;
    bool operator==(const StoredThreshold&) const = default;
};

// The disk a source row or the target was on (host::DiskIdentity).
struct RememberedDisk {
    bool isTarget = false;
    std::string folder;  // the row or the target as the settings give it
    std::string names;
    bool ownRoot = false;
    bool operator==(const RememberedDisk&) const = default;
};

struct RunState {
    std::optional<StoredThreshold> threshold;  // the one "fdt" should hold
    std::vector<StoredThreshold> earlier;      // the ones before it, newest first
    std::vector<RememberedDisk> disks;
    bool operator==(const RunState&) const = default;
};

std::string runStateText(const RunState& state);
// Lines that read as nothing are left out: the state only ever makes a run
// more careful, and a run without it reads "fdt" as it always has.
RunState parseRunState(std::string_view text);

}  // namespace torrin
