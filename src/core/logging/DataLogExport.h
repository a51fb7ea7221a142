#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "logging/DataLogFile.h"

namespace tavrix {

struct TidyExportOptions {
    // Columns to write, by index; empty for all of them.
    std::vector<size_t> columns;
    // Only rows with times in [fromMs, toMs] (UTC milliseconds); the defaults take all.
    int64_t fromMs = INT64_MIN;
    int64_t toMs = INT64_MAX;
};

struct TidyExportResult {
    size_t rows = 0;
    size_t gaps = 0;
    size_t problems = 0;
    size_t rowsLeftOut = 0;  // rows whose time could not be placed
    std::vector<DataLogProblem> firstProblems;
};

// Writes a data log (or an uploaded internal log) as a tidy CSV: the header line "time" and one
// column per source named with the source, its name and unit (A_Sample_K), then one line per
// row: the time in ISO 8601 with milliseconds and the UTC offset, the values as the log holds
// them (a value that is not a number is left empty). A loss of communication is one line with
// its time and every value empty, so a plot breaks its line there. The file is written beside
// the target and renamed over it at the end, so a failed export leaves no half file.
// 0 on success; -1 with `error`.
int ExportTidyCsv(const std::string& logPath, const std::string& outPath,
                  const TidyExportOptions& options, TidyExportResult& result, std::string& error);

// The tidy column names of a log's columns, made unique (a repeated name gets "_2", "_3").
std::vector<std::string> TidyColumnNames(const std::vector<DataLogColumn>& columns);

// A value as the tidy file writes it: the number's text without blanks or a leading "+";
// empty when it is not a finite number.
std::string TidyValue(std::string_view text);

}  // namespace tavrix
