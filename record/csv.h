// The recording's file format: comment lines, one header row, one row per raw-data answer.
// RFC 4180, UTF-8, LF line ends, '.' as the decimal separator whatever the locale: every
// number is printed from integers, never through the C library's locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "facts.h"
#include "feed.h"

extern const char kRecordHeaderRow[]; // without the line end

// The '#' lines before the header row, each ending in '\n'.
std::string RecordCommentLines(const RecordFacts &facts, int64_t startWallMs);

// Local time with milliseconds and UTC offset, e.g. 2026-12-07T10:15:02.123+01:00.
std::string LocalIsoTime(int64_t wallMs);

// One row for an answer taken 'seconds' after recording started, with its '\n', into buf.
// Returns the length (buf needs kMaxRowLength bytes).
constexpr size_t kMaxRowLength = 256;
size_t FormatRecordRow(const RawAnswer &answer, double seconds, char *buf);

// What an existing file holds, as far as appending to it goes.
enum class ExistingFile {
    kEmpty,       // nothing in it yet (or it does not exist): write the header
    kMatches,     // its header row is ours: append rows only
    kOtherHeader, // its first row that is not a comment is something else
    kNoHeader,    // comment lines only, or not a text file at all
};
// 'head' is the start of the file (enough to reach the header row).
ExistingFile ClassifyExisting(const std::string &head);
