#include "consoles/CommandFileRunner.h"

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "base/CNumeric.h"
#include "base/VisibleText.h"
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

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trimmed(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

// A PAUSE holds a plain whole number of milliseconds, blanks around it allowed; -1 for anything
// else (a sign, a unit, a fraction, an exponent, nothing) or for more than `limit`.
long long PauseMilliseconds(const std::string& text, long long limit) {
    const std::string t = Trimmed(text);
    if (t.empty() || t.size() > 18) return -1;
    long long v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v <= limit ? v : -1;
}

// A piece of file text for a one-line message: blanks and line breaks become single spaces and
// a long text is cut.
std::string ForMessage(const std::string& text) {
    constexpr size_t kShown = 60;
    std::string out;
    bool space = false;
    for (char c : Trimmed(text)) {
        if (IsBlank(c)) {
            space = true;
            continue;
        }
        if (space) out.push_back(' ');
        space = false;
        out.push_back(c);
    }
    if (out.size() > kShown) out = out.substr(0, kShown) + "...";
    return out;
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

void CommandFileRunner::CountError(const std::string& text) {
    LogAndRecord(text);
    ++errors_;
}

// Texts from the file and replies are shown with their control characters made visible, in
// the message log and in ErrorLog.txt alike; what is sent and compared is left as it is.
std::string CommandFileRunner::Where(const char* separator, const std::string& text) const {
    return VisibleText(group_) + separator + std::to_string(counter_) + ": " + VisibleText(text);
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
        // The file stopped short of its closing tag: whatever followed was never run.
        CountError(texts::kNoClosingTag);
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
        Pause();
        return true;
    }
    if (tag_ == "MODEL") {
        Log("Command for Model " + VisibleText(reader_.ReadContent()) + "\n");
        return true;
    }
    // A reply check that does not follow a query has nothing to check.
    if (tag_ == "FLOATRESPONSE" || tag_ == "RESPONSE") return true;
    // "<>" names nothing: the steps after it stay in their group.
    if (tag_.empty()) return true;
    GroupTag();
    return true;
}

void CommandFileRunner::GroupTag() {
    // A group tag is followed by layout only. Text after it means a keyword the runner does
    // not know (a misspelt "<COMAND>", say): what it holds would silently never run.
    const std::string text = reader_.TextBeforeNextTag();
    if (!Trimmed(text).empty()) {
        CountError("Error:Unknown tag \"" + Where(":tag ", tag_) +
                   "\" holds text that was not run: " + ForMessage(text) + "\n");
        return;
    }
    group_ = tag_;
    counter_ = 0;
}

void CommandFileRunner::Pause() {
    const std::string text = reader_.ReadContent();
    const long long ms = reader_.Truncated() ? -1 : PauseMilliseconds(text, kMaxPauseMs);
    if (ms < 0) {
        CountError("Error:The pause \"" + Where(":tag ", ForMessage(text)) +
                   "\" is not a whole number of milliseconds from 0 to " +
                   std::to_string(kMaxPauseMs) + "\n");
        return;
    }
    sleep_(std::chrono::milliseconds(ms));
}

bool CommandFileRunner::SendCommand(bool pacing) {
    const std::string line = WithoutSurroundingBreaks(reader_.ReadContent());
    if (!IsOneLine(line) || link_.Transact(&line, nullptr, pacing ? 1 : 0) != 0) {
        LogAndRecord("Error:Not able to send \"" + Where(":tag ", line) + "\" command \n");
        return false;
    }
    ++transactions_;
    Log(VisibleText(group_) + (pacing ? ": CalCur:" : ": Command:") + VisibleText(line) + "\n");
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
    ++transactions_;
    Log(VisibleText(group_) + ": Query:" + VisibleText(query) + "\n");
    sleep_(std::chrono::milliseconds(kSettleMs));
    if (reply.empty()) {
        LogAndRecord("Error:No returned string from device for \"" + Where(":tag ", query) +
                     "\" from target\n");
        return false;
    }
    Log("Received:" + VisibleText(reply) + "\n");

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
    Log("Expected:" + VisibleText(expected) + "\n");
    float received = 0.0f;
    if (ScanC(reply.c_str(), "%f", &received) != 1) {
        LogAndRecord("Error:Unable to convert the response to float \"" + Where(":tag ", query) +
                     "\"\n");
        LogAndRecord("Received:" + VisibleText(reply) + ",Expected:" + VisibleText(expected) +
                     "\n");
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
        LogAndRecord("Received:" + VisibleText(reply) + ",Expected:" + VisibleText(expected) +
                     "\n");
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
        LogAndRecord("Received:" + VisibleText(upper) + ",Expected:" + VisibleText(wanted) + "\n");
        ++errors_;
    }
}

void CommandFileRunner::Abort(const std::string& why) {
    LogAndRecord(why);
    Finish(false);
}

void CommandFileRunner::Finish(bool completed) {
    // A run that sent nothing tested nothing, however its file ended.
    if (completed && transactions_ == 0) CountError(texts::kNoTransaction);
    LogAndRecord(completed ? texts::kTestCompleted : texts::kTestAborted);
    const std::string count = std::to_string(errors_) + texts::kErrorsLogged;
    if (!nameErrorLogPath_) return LogAndRecord(count);
    std::string path = errorLog_.Path();
    if (!path.empty() && path[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
    }
    Log(std::to_string(errors_) + " Errors logged in " + path + "\n");
    errorLog_.Record(count);
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
    runner.NameErrorLogPath(options.nameErrorLogPath);
    if (!runner.Open(chosen.value)) {
        ctx.log.Append("Error:Failed to open " + VisibleText(chosen.value) + " \n");
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
