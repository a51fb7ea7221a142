#include "TestSupport.h"

#include <stdlib.h>

namespace tavrix::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tavrix-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

namespace {
class RecordingProgress : public ProgressWindow {
public:
    explicit RecordingProgress(std::shared_ptr<ProgressRecord> r) : r_(std::move(r)) {}
    ~RecordingProgress() override { Close(); }
    void SetMessage(const std::string& text) override { r_->messages.push_back(text); }
    void SetRange(int low, int high) override {
        r_->low = low;
        r_->high = high;
    }
    void SetPos(int pos) override { r_->positions.push_back(pos); }
    void Close() override {
        if (!closed_) ++r_->closed;
        closed_ = true;
    }

private:
    std::shared_ptr<ProgressRecord> r_;
    bool closed_ = false;
};

template <typename T>
DialogResult<T> Next(std::deque<DialogResult<T>>& q) {
    if (q.empty()) return DialogResult<T>::Cancelled();
    auto r = q.front();
    q.pop_front();
    return r;
}
}  // namespace

void ScriptedOperator::ShowMessage(const std::string& text, MessageIcon icon) {
    messages.push_back({text, icon});
}

bool ScriptedOperator::AskYesNo(const std::string& text, MessageIcon) {
    questions.push_back(text);
    if (yesNoAnswers.empty()) return false;
    bool a = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return a;
}

std::unique_ptr<ProgressWindow> ScriptedOperator::OpenProgress() {
    auto rec = std::make_shared<ProgressRecord>();
    progress.push_back(rec);
    return std::make_unique<RecordingProgress>(rec);
}

DialogResult<SerialSetupChoice> ScriptedOperator::AskSerialSetup(const SerialSetupChoice& preset) {
    serialPresets.push_back(preset);
    return Next(serialAnswers);
}

DialogResult<int> ScriptedOperator::AskPortType(int current) {
    portTypePresets.push_back(current);
    return Next(portTypeAnswers);
}

DialogResult<int> ScriptedOperator::AskGpibAddress(int current) {
    gpibPresets.push_back(current);
    return Next(gpibAnswers);
}

DialogResult<IpAddressChoice> ScriptedOperator::AskIpAddress(const IpAddressChoice& preset) {
    ipPresets.push_back(preset);
    return Next(ipAnswers);
}

std::vector<std::string> ScriptedOperator::MessageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.text);
    return out;
}

}  // namespace tavrix::test
