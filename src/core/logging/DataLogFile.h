#pragma once

#include <sys/types.h>
#include <cstdint>

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavrix {

// Wall-clock fields of a log stamp.
struct LogDateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// A moment placed in time: the wall-clock fields where it was logged, their offset from UTC
// and the UTC milliseconds since 1970.
struct LogInstant {
    LogDateTime local;
    int offsetMinutes = 0;
    int64_t epochMs = 0;
};

// "M/D/YYYY H:M:S" (no leading zeros needed, blanks around allowed).
bool ParseLogStamp(std::string_view text, LogDateTime& out);
// "YYYY-MM-DDTHH:MM:SS[.mmm](+HH:MM|-HH:MM|Z)".
bool ParseIsoTime(std::string_view text, LogInstant& out);
// ISO 8601 with milliseconds and the UTC offset: 2026-12-08T17:09:42.125+01:00.
std::string FormatIsoTime(const LogInstant& t);
// Places wall-clock fields in the machine's time zone (TZ).
LogInstant LocalInstant(const LogDateTime& t);
// The wall-clock fields of an instant in the machine's time zone.
LogInstant InstantFromEpochMs(int64_t epochMs);

enum class DataLogKind {
    DataLog,      // written by this program's data logging
    InternalLog,  // the instrument's own log, as uploaded
};

// One value column of a log.
struct DataLogColumn {
    std::string heading;  // as in the file's column header ("Channel A", "RANGE", ...)
    std::string source;   // A..H, heater1, heater1_range, analog1, setpoint1, ... or colN
    std::string name;     // the instrument's name of the source ("" when it has none)
    std::string unit;     // "K", "%", ...; "" when the file does not say
    // "A Sample (K)": for legends and axis groups.
    std::string Label() const;
    // A_Sample_K: a column name for analysis tools (letters, digits and "_" only).
    std::string TidyName() const;
};

// Where rows are missing: from the loss of communication to its return (toMs -1 while the
// file has not said it returned).
struct DataLogGap {
    LogInstant from;
    int64_t toMs = -1;
    size_t beforeRow = 0;  // index of the first row after the gap
};

struct DataLogProblem {
    size_t line = 0;  // 1-based
    std::string what;
};

// A row placed in time, its values as the file holds them.
struct DataLogRow {
    size_t line = 0;
    LogInstant time;
    const std::vector<std::string_view>* values = nullptr;
};

// What a log says about itself besides its rows.
struct DataLogInfo {
    DataLogKind kind = DataLogKind::DataLog;
    std::vector<DataLogColumn> columns;
    double interval = 0.0;  // seconds, 0 when the file does not say
    bool hasStart = false;
    LogInstant started;
    int entriesLine = -1;  // "Number of entries = N", -1 while absent
    bool terminated = false;
    LogInstant terminatedAt;
    bool exitCommError = false;
    bool isoTimes = false;  // rows carry ISO 8601 times
    // The run ended with its closing lines; a file without them is still being written or
    // was cut short.
    bool Closed() const { return terminated; }
};

struct DataLogReadOptions {
    // An uploaded internal log has times of day only: the date of its first record.
    LogDateTime internalFirstDate{1970, 1, 1};
};

// Reads a data log line by line: the header, then rows, gaps and the closing lines. Rows are
// handed out as they are placed; nothing is kept, so a file of any length reads in little
// memory. Lines may end in LF, CR LF or CR alone.
class DataLogParser {
public:
    explicit DataLogParser(DataLogReadOptions options = {});

    // One line without its line end; false once the file is refused (Error() says why).
    bool Line(std::string_view line);
    // The end of the file (so far): false when what was read is not a whole header.
    bool Finish();

    const DataLogInfo& Info() const { return info_; }
    const std::string& Error() const { return error_; }
    bool HeaderDone() const { return state_ == State::Body; }
    size_t LineNumber() const { return line_; }

    std::function<void(const DataLogRow&)> onRow;
    std::function<void(const DataLogGap&)> onGapStart;
    std::function<void(int64_t toMs)> onGapEnd;
    std::function<void(const DataLogProblem&)> onProblem;

private:
    enum class State { Start, Header, Body };
    bool Refuse(std::string why);
    bool HeaderLine(std::string_view line);
    void BodyLine(std::string_view line);
    void Row(std::string_view line, size_t firstValue);
    bool Place(std::string_view timeText, LogInstant& out);
    void Anchor(const LogInstant& t);
    void Problem(std::string what);
    void SetColumns(std::string_view header);

    DataLogReadOptions options_;
    DataLogInfo info_;
    State state_ = State::Start;
    std::string error_;
    size_t line_ = 0;
    size_t rows_ = 0;
    bool gapOpen_ = false;
    // The placing cursor: the day (days since 1970) and second of the day of the last placed
    // moment; -1 before the first.
    int64_t day_ = 0;
    int secondOfDay_ = -1;
    // Offset cache: the epoch seconds of the start of the hour last placed.
    int64_t cachedHourKey_ = -1;
    int64_t cachedHourEpoch_ = 0;
    int cachedOffset_ = 0;
    std::vector<std::string_view> fields_;
    size_t headerLines_ = 0;
    std::string srcName_[12];  // names of inputs A..H, heaters, analog outputs
    std::string srcUnit_[8];
};

// A data log read into memory for plotting: times and values as numbers, column by column
// (a value that is not a number is NaN). Reads a growing file: Refresh() takes the rows
// written since the last read.
class DataLogFile {
public:
    // Reads the whole file; false with `error` when it is refused.
    bool Open(const std::string& path, std::string& error);
    // Reads what was added since; the number of new rows, or -1 with `error` when the file
    // became unreadable, was cut back or replaced.
    long Refresh(std::string& error);

    const std::string& Path() const { return path_; }
    const DataLogInfo& Info() const { return parser_->Info(); }
    size_t RowCount() const { return times_.size(); }
    // Seconds since 1970 (UTC) of each row.
    const std::vector<double>& Times() const { return times_; }
    const std::vector<float>& Values(size_t column) const { return values_[column]; }
    const std::vector<DataLogGap>& Gaps() const { return gaps_; }
    const std::vector<DataLogProblem>& Problems() const { return problems_; }
    size_t ProblemCount() const { return problemCount_; }
    // The UTC offset of the last row read (for showing times as they were logged).
    int OffsetMinutes() const { return offsetMinutes_; }

    static constexpr size_t kKeptProblems = 1000;

private:
    bool ReadSome(std::string& error);
    void Wire();

    std::string path_;
    std::unique_ptr<DataLogParser> parser_;
    uint64_t offset_ = 0;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    std::string partial_;
    bool lastWasCr_ = false;
    std::vector<double> times_;
    std::vector<std::vector<float>> values_;
    std::vector<DataLogGap> gaps_;
    std::vector<DataLogProblem> problems_;
    size_t problemCount_ = 0;
    int offsetMinutes_ = 0;
};

// Which kind a file is, from its first line: true for an uploaded internal log.
bool LooksLikeInternalLog(std::string_view firstLine);
// The date of an internal log's first record: its last record was read at or before
// `uploadedAt` (the file's time), and each time of day that goes back is a new day.
LogDateTime InternalLogFirstDate(const std::string& path, const LogDateTime& uploadedAt);
// Reads the file's lines, feeding `parser`; false (with `error`) when it cannot be read or
// the parser refuses it. Options for an internal log are worked out from the file itself.
bool ParseDataLogFile(const std::string& path, DataLogParser& parser, std::string& error);
DataLogReadOptions ReadOptionsFor(const std::string& path);

// A time given on the command line: ISO 8601 (local time when it has no offset) or
// "M/D/YYYY H:M:S" (local time).
bool ParseTimeArgument(std::string_view text, int64_t& epochMs);
// The columns a comma-separated list names, in the list's order: by source (A, heater1,
// heater1_range, setpoint1, col1, ...) or by tidy name (A_Sample_K), any case. false with
// `error` naming what matched nothing.
bool SelectColumns(const std::vector<DataLogColumn>& columns, const std::string& list,
                   std::vector<size_t>& out, std::string& error);

// Value of one field ("+23.456", " 1.5E+01"); NaN when it is not a number.
float ParseLogValue(std::string_view text);

// Min/max decimation for drawing: of the points with times in [from, to], per pixel column
// the first, lowest, highest and last point (in time order), so that a line through them
// looks like the whole series. Indices into the series; all of them when there are fewer
// points than 4 per column. NaN values are left out.
// Only rows begin..end-1 take part (a stretch between gaps).
void DecimateMinMax(const std::vector<double>& times, const std::vector<float>& values,
                    size_t begin, size_t end, double from, double to, int columns,
                    std::vector<size_t>& out);

// How many evenly spaced time marks a time axis of `spanSeconds` gets: where the span is a
// whole number of a round step (1, 2, 5, 10, 15, 30 s; 1, 2, 5, 10, 15, 30 min; 1, 2, 3, 6,
// 12 h; days), marks that fall on that step (4 to 9 of them); otherwise `fallback`.
int TimeMarkCount(double spanSeconds, int fallback = 7);

}  // namespace tavrix
