#include "logging/DataLogUpload.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "base/CNumeric.h"
#include "base/FileSafety.h"
#include "base/Texts.h"
#include "link/LinkCommands.h"

namespace tavrix {

namespace {
// The file API: one create, whole writes, checked.
struct OutFile {
    int fd = -1;
    ~OutFile() {
        if (fd >= 0) ::close(fd);
    }
    bool WriteAll(const std::string& s) {
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return ::fsync(fd) == 0 || errno == EINVAL;
    }
};
}  // namespace

int UploadInternalDataLog(DataLogUploadContext& ctx) {
    SessionLock lock(ctx.mutex, 1000);
    if (!lock) return -1;
    auto pause = [&] {
        if (ctx.sleep)
            ctx.sleep(std::chrono::milliseconds(50));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    auto commError = [&] { ReportCommunicationFailure(ctx.link, ctx.op, ctx.log); };

    std::string id;
    static const std::string kIdn = "*IDN?";
    if (ctx.link.Transact(&kIdn, &id) != 0 || id.empty() || id == ";") {
        commError();
        return -1;
    }
    FileDialogRequest save;
    save.filter = "MSExcel Comma Separated Value Files(*.csv)|*.csv||";
    save.defaultExtension = "csv";
    save.options = kHideReadOnly | kOverwritePrompt;
    const DialogResult<std::string> file = ctx.op.AskSaveFile(save);
    if (!file.Ok()) return -1;

    const int pacing = 1;
    std::string state, count;
    static const std::string kState = "DLog:State?", kOff = "DLog:State off",
                             kCount = "DLog:Count?", kRead = "DLog:Read?";
    int status = ctx.link.Transact(&kState, &state, pacing);
    if (status == 0) {
        pause();
        status = ctx.link.Transact(&kOff, nullptr, pacing);
    }
    if (status == 0) {
        pause();
        status = ctx.link.Transact(&kCount, &count, pacing);
    }
    if (status != 0) {
        commError();
        return -1;
    }
    const int expected = std::atoi(count.c_str());

    OutFile out;
    std::string why;
    out.fd = files::OpenOutput(file.value, {}, why);
    if (out.fd < 0) {
        ctx.op.ShowMessage(datalog_texts::kFailedToCreate, MessageIcon::Stop);
        return -1;
    }
    std::string records;
    const int n = ctx.link.FetchTable(expected, datalog_texts::kProgress, &kRead, &records);
    int result = 0;
    if (n < 0) {
        ctx.op.ShowMessage(datalog_texts::kConnectionFailed, MessageIcon::None);
        if (ctx.link.GetPortType() == kPortRs232)
            for (const char* line : texts::kRs232CheckList) ctx.log.Append(line);
        result = -1;
    } else {
        records += "\n";
        // Say "Complete" only for what reached the file.
        if (!out.WriteAll(records)) {
            ctx.op.ShowMessage(datalog_texts::kFailedToCreate, MessageIcon::Stop);
            result = -1;
        } else {
            ctx.op.ShowMessage(datalog_texts::kComplete, MessageIcon::None);
            ctx.log.Append(records);
            ctx.log.Append(FormatC(datalog_texts::kUploaded, file.value.c_str()));
        }
    }
    const std::string restore = "DLog:State " + state;
    if (ctx.link.Transact(&restore, nullptr, pacing) != 0) {
        commError();
        result = -1;
    }
    return result;
}

}  // namespace tavrix
