#include "consoles/CommandFileRunner.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "base/CNumeric.h"
#include "consoles/ConsoleTexts.h"

namespace tavrix {

namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Line breaks around an element's text come from the file's layout; the text between them is
// sent as written. A break inside would put a second line on the wire, so such a text is not
// sent at all.
std::string WithoutSurroundingBreaks(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == '\r' || text[b] == '\n')) ++b;
    while (e > b && (text[e - 1] == '\r' || text[e - 1] == '\n')) --e;
    return text.substr(b, e - b);
}

bool IsOneLine(const std::string& text) {
    return text.find_first_of("\r\n") == std::string::npos;
}

// The C library's text-to-integer conversion, clamped instead of overflowing.
int ToMilliseconds(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v < 0) return 0;
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

}  // namespace

CommandFileRunner::CommandFileRunner(CInstrumentLink& link, SessionMutex& mutex, LogSink& log,
                                     ErrorLogFile& errorLog, Sleep sleep)
    : link_(link), mutex_(mutex), log_(log), errorLog_(errorLog), sleep_(std::move(sleep)) {}

void CommandFileRunner::Log(const std::string& text) {
    log_.Append(text);
}

void CommandFileRunner::LogAndRecord(const std::string& text) {
    log_.Append(text);
    errorLog_.Record(text);
}

std::string CommandFileRunner::Where(const char* separator, const std::string& text) const {
    return group_ + separator + std::to_string(counter_) + ": " + text;
}

std::string CommandFileRunner::NextUpperTag() {
    ++counter_;
    return Upper(reader_.NextTag());
}

CommandFileRunner::Status CommandFileRunner::Step() {
    SessionLock lock(mutex_, 0);
    if (!lock) return Status::Busy;
    if (reuse_)
        reuse_ = false;
    else
        tag_ = NextUpperTag();

    if (CommandFileReader::IsClosingTag(tag_)) {
        if (tag_ == "/TRANSACTIONS") {
            Finish(true);
            return Status::Completed;
        }
    } else if (!CommandFileReader::IsComment(tag_)) {
        if (!Act()) {
            Finish(false);
            return Status::Aborted;
        }
    }
    // An empty tag ends the run only at the end of the file: "<>" in the middle of a file must
    // not pass the rest of it by as completed.
    if (tag_.empty() && reader_.AtEnd()) {
        Finish(true);
        return Status::Completed;
    }
    return Status::Continue;
}

bool CommandFileRunner::Act() {
    if (tag_ == "COMMAND") return SendCommand(false);
    if (tag_ == "CALCUR") return SendCommand(true);
    if (tag_ == "QUERY") return SendQuery();
    if (tag_ == "PAUSE") {
        sleep_(std::chrono::milliseconds(ToMilliseconds(reader_.ReadContent())));
        return true;
    }
    if (tag_ == "MODEL") {
        Log("Command for Model " + reader_.ReadContent() + "\n");
        return true;
    }
    // A reply check that does not follow a query has nothing to check.
    if (tag_ == "FLOATRESPONSE" || tag_ == "RESPONSE") return true;
    group_ = tag_;
    counter_ = 0;
    return true;
}

bool CommandFileRunner::SendCommand(bool pacing) {
    const std::string line = WithoutSurroundingBreaks(reader_.ReadContent());
    if (!IsOneLine(line) || link_.Transact(&line, nullptr, pacing ? 1 : 0) != 0) {
        LogAndRecord("Error:Not able to send \"" + Where(":tag ", line) + "\" command \n");
        return false;
    }
    Log(group_ + (pacing ? ": CalCur:" : ": Command:") + line + "\n");
    sleep_(std::chrono::milliseconds(kSettleMs));
    return true;
}

bool CommandFileRunner::SendQuery() {
    const std::string query = WithoutSurroundingBreaks(reader_.ReadContent());
    std::string reply;
    if (!IsOneLine(query) || link_.Transact(&query, &reply, 0) != 0) {
        LogAndRecord("Error:Not able to send \"" + Where(":tag ", query) + "\" command \n");
        return false;
    }
    Log(group_ + ": Query:" + query + "\n");
    sleep_(std::chrono::milliseconds(kSettleMs));
    if (reply.empty()) {
        LogAndRecord("Error:No returned string from device for \"" + Where(":tag ", query) +
                     "\" from target\n");
        return false;
    }
    Log("Received:" + reply + "\n");

    tag_ = NextUpperTag();
    if (tag_ == "FLOATRESPONSE") {
        const std::string expected = reader_.ReadContent();
        CheckFloat(query, reply, expected);
    } else if (tag_ == "RESPONSE") {
        const std::string expected = reader_.ReadContent();
        CheckText(query, reply, expected, reader_.Truncated());
    } else {
        reuse_ = true;
    }
    return true;
}

void CommandFileRunner::CheckFloat(const std::string& query, const std::string& reply,
                                   const std::string& expected) {
    Log("Expected:" + expected + "\n");
    float received = 0.0f;
    if (ScanC(reply.c_str(), "%f", &received) != 1) {
        LogAndRecord("Error:Unable to convert the response to float \"" + Where(":tag ", query) +
                     "\"\n");
        LogAndRecord("Received:" + reply + ",Expected:" + expected + "\n");
        ++errors_;
        return;
    }
    float wanted = 0.0f;
    if (ScanC(expected.c_str(), "%f", &wanted) != 1) wanted = 0.0f;
    const float difference = std::fabs(wanted - received);
    // The tolerance is a share of the expected value's size, so a negative expected value is
    // checked like a positive one; "nan" is never close to anything.
    if (!std::isfinite(difference) ||
        difference > kFloatTolerance * std::fabs(static_cast<double>(wanted))) {
        LogAndRecord("Error:The return string for query \"" + Where(": tag ", query) + "\"\n");
        LogAndRecord("Received:" + reply + ",Expected:" + expected + "\n");
        ++errors_;
    }
}

void CommandFileRunner::CheckText(const std::string& query, const std::string& reply,
                                  const std::string& expected, bool expectedTruncated) {
    const std::string upper = Upper(reply);
    std::string compact;
    for (char c : upper)
        if (c != ' ') compact.push_back(c);
    const std::string wanted = Upper(expected);
    // An expected text cut at the content limit is not the text the file asked for.
    if (expectedTruncated || compact != wanted) {
        LogAndRecord("Error:The returned string for query \"" + Where(": tag ", query) + "\"\n");
        LogAndRecord("Received:" + upper + ",Expected:" + wanted + "\n");
        ++errors_;
    }
}

void CommandFileRunner::Abort(const std::string& why) {
    LogAndRecord(why);
    Finish(false);
}

void CommandFileRunner::Finish(bool completed) {
    LogAndRecord(completed ? texts::kTestCompleted : texts::kTestAborted);
    LogAndRecord(std::to_string(errors_) + texts::kErrorsLogged);
}

// ---------------------------------------------------------------------------------------------

CommandFileRun RunCommandFile(LinkContext& ctx, const CommandFileOptions& options) {
    CommandFileRun run;
    ErrorLogFile errorLog;
    const auto candidates = ErrorLogFile::Candidates(options.errorLogPath, options.fallbackFolder);
    if (!errorLog.CreateFirstOf(candidates)) {
        run.outcome = CommandFileRun::Outcome::NoErrorLog;
        ctx.op.ShowMessage("Unable to create ErrorLog.txt (" + errorLog.Error() +
                               "). The command file was not run.",
                           MessageIcon::Stop);
        return run;
    }
    run.errorLogPath = errorLog.Path();
    // Say where the records go when it is not where the operator would look first.
    if (options.errorLogPath.empty() && errorLog.Path() != candidates.front())
        ctx.log.Append("ErrorLog.txt is written to " + errorLog.Path() +
                       (errorLog.Skipped().empty() ? "" : " (" + errorLog.Skipped() + ")") + "\n");

    FileDialogRequest request;
    request.filter = texts::kXmlFilter;
    request.defaultExtension = texts::kXmlExtension;
    request.options = kHideReadOnly | kFileMustExist;
    const auto chosen = ctx.op.AskOpenFile(request);
    if (!chosen.Ok()) {
        run.outcome = CommandFileRun::Outcome::Cancelled;
        return run;
    }

    CommandFileRunner runner(ctx.link, ctx.sessionMutex, ctx.log, errorLog, ctx.sleep);
    if (!runner.Open(chosen.value)) {
        ctx.log.Append("Error:Failed to open " + chosen.value + " \n");
        run.outcome = CommandFileRun::Outcome::NotOpened;
        return run;
    }

    constexpr auto kPoll = std::chrono::milliseconds(10);
    ctx.sleep(std::chrono::milliseconds(CommandFileRunner::kSettleMs));
    auto waited = std::chrono::milliseconds(0);
    CommandFileRunner::Status status = CommandFileRunner::Status::Continue;
    for (;;) {
        status = runner.Step();
        if (status == CommandFileRunner::Status::Completed ||
            status == CommandFileRunner::Status::Aborted)
            break;
        if (status == CommandFileRunner::Status::Continue) {
            waited = std::chrono::milliseconds(0);
            continue;
        }
        // Other threads hold the lock only for an exchange or two; one that never lets go is
        // a fault to report, not a reason to end the run as completed.
        if (waited >= options.busyLimit) {
            runner.Abort("Error:The instrument stayed busy for " +
                         std::to_string(options.busyLimit.count()) + " ms\n");
            status = CommandFileRunner::Status::Aborted;
            break;
        }
        ctx.sleep(kPoll);
        waited += kPoll;
    }
    run.outcome = status == CommandFileRunner::Status::Completed
                      ? CommandFileRun::Outcome::Completed
                      : CommandFileRun::Outcome::Aborted;
    run.errors = runner.Errors();
    errorLog.Close();
    if (errorLog.WriteFailed()) {
        run.errorLogIncomplete = true;
        ctx.log.Append("Error:" + errorLog.Path() + " is incomplete: " + errorLog.Error() + "\n");
    }
    return run;
}

}  // namespace tavrix
