#include "logging/DataLogUpload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "base/CNumeric.h"
#include "base/Texts.h"
#include "link/LinkCommands.h"
#include "logging/LogSources.h"

namespace tavrix {

namespace {

constexpr int kPacing = 1;

// The upload's file: written under a temporary name in the chosen folder and renamed over the
// chosen name only once it is whole, so a failed upload leaves an earlier file as it was. The
// temporary file goes away with the object unless it was committed.
class StagedFile {
public:
    explicit StagedFile(std::string target) : target_(std::move(target)) {}
    ~StagedFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
    }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    bool Open() {
        struct stat st {};
        mode_t mode = 0644;
        if (::stat(target_.c_str(), &st) == 0) {
            if (!S_ISREG(st.st_mode)) return false;
            mode = st.st_mode & 07777;
        }
        const size_t slash = target_.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
        if (base.empty()) return false;
        std::string name = (slash == std::string::npos ? "" : dir) + "." + base + ".XXXXXX";
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) return false;
        temp_ = name;
        (void)::fchmod(fd_, mode);
        dir_ = dir;
        return true;
    }

    // Writes everything, makes it reach the disk and puts it in place of the chosen file.
    bool Commit(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        if (::fsync(fd_) != 0 && errno != EINVAL) return false;
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return false;
        if (::rename(temp_.c_str(), target_.c_str()) != 0) return false;
        committed_ = true;
        const int d = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d >= 0) {
            (void)::fsync(d);
            ::close(d);
        }
        return true;
    }

private:
    std::string target_, temp_, dir_;
    int fd_ = -1;
    bool committed_ = false;
};

// Puts the instrument's log back into `state` and reads it back: over LAN a command only
// reaches a buffer, over RS232 a command cannot fail, so only the answer proves it arrived.
// A lost link is made again once.
bool RestoreLogState(DataLogUploadContext& ctx, const std::string& state) {
    static const std::string kState = "DLog:State?";
    const std::string restore = "DLog:State " + state;
    bool reconnected = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (ctx.link.GetPortType() == kPortLan && (attempt > 0 || !ctx.link.Lan().IsConnected())) {
            if (reconnected) return false;
            reconnected = true;
            ctx.link.LanDisconnect();
            if (ctx.link.LanConnect() != 1) return false;
        }
        if (ctx.link.Transact(&restore, nullptr, kPacing) != 0) continue;
        std::string now;
        if (ctx.link.Transact(&kState, &now, kPacing) != 0) continue;
        return now == state;
    }
    return false;
}

}  // namespace

int UploadInternalDataLog(DataLogUploadContext& ctx) {
    auto pause = [&] {
        if (ctx.sleep)
            ctx.sleep(std::chrono::milliseconds(50));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    auto commError = [&] { ReportCommunicationFailure(ctx.link, ctx.op, ctx.log); };

    // The lock is held for exchanges only: never while a dialog or a box waits for the
    // operator, so monitors and a logging run go on meanwhile. A busy instrument makes the
    // command give up without a word.
    std::string id;
    int status;
    {
        SessionLock lock(ctx.mutex, 1000);
        if (!lock) return -1;
        static const std::string kIdn = "*IDN?";
        status = ctx.link.Transact(&kIdn, &id);
    }
    if (status != 0 || id.empty() || id == ";") {
        commError();
        return -1;
    }
    FileDialogRequest save;
    save.filter = "MSExcel Comma Separated Value Files(*.csv)|*.csv||";
    save.defaultExtension = "csv";
    save.options = kHideReadOnly | kOverwritePrompt;
    const DialogResult<std::string> file = ctx.op.AskSaveFile(save);
    if (!file.Ok()) return -1;

    // The file is made before the instrument's log is touched: a file that cannot be made
    // leaves the instrument as it was.
    StagedFile out(file.value);
    if (!out.Open()) {
        ctx.op.ShowMessage(datalog_texts::kFailedToCreate, MessageIcon::Stop);
        return -1;
    }

    std::string state, count, records;
    int n = 0;
    bool paused = false, restored = true;
    {
        SessionLock lock(ctx.mutex, 1000);
        if (!lock) return -1;
        static const std::string kState = "DLog:State?", kOff = "DLog:State off",
                                 kCount = "DLog:Count?", kRead = "DLog:Read?";
        status = ctx.link.Transact(&kState, &state, kPacing);
        // Without the earlier state there would be nothing to put back.
        if (status == 0 && state.empty()) status = link_status::kNoReply;
        if (status == 0) {
            pause();
            paused = true;
            status = ctx.link.Transact(&kOff, nullptr, kPacing);
        }
        if (status == 0) {
            pause();
            status = ctx.link.Transact(&kCount, &count, kPacing);
        }
        if (status == 0)
            n = ctx.link.FetchTable(std::atoi(count.c_str()), datalog_texts::kProgress, &kRead,
                                    &records);
        // Every way out after the pause puts the earlier state back.
        if (paused) restored = RestoreLogState(ctx, state);
    }

    int result = 0;
    if (status != 0) {
        commError();
        result = -1;
    } else if (n < 0) {
        ctx.op.ShowMessage(datalog_texts::kConnectionFailed, MessageIcon::None);
        if (ctx.link.GetPortType() == kPortRs232)
            for (const char* line : texts::kRs232CheckList) ctx.log.Append(line);
        result = -1;
    } else {
        records += "\n";
        // Say "Complete" only for what reached the file.
        if (!out.Commit(records)) {
            ctx.op.ShowMessage(datalog_texts::kFailedToCreate, MessageIcon::Stop);
            result = -1;
        } else {
            ctx.op.ShowMessage(datalog_texts::kComplete, MessageIcon::None);
            ctx.log.Append(records);
            ctx.log.Append(FormatC(datalog_texts::kUploaded, file.value.c_str()));
        }
    }
    if (!restored) {
        const std::string word = PrintableInstrumentText(state, 40);
        const std::string text = FormatC(datalog_texts::kLeftOff, word.c_str(), word.c_str());
        ctx.op.ShowMessage(text, MessageIcon::Stop);
        ctx.log.Append(text + "\n");
        result = -1;
    }
    return result;
}

}  // namespace tavrix
