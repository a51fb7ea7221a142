#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/OperatorInterface.h"

namespace tavrix::test {

// A scratch folder removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

struct ShownMessage {
    std::string text;
    MessageIcon icon;
    bool operator==(const ShownMessage&) const = default;
};

// Progress window that records what it was told.
struct ProgressRecord {
    std::vector<std::string> messages;
    std::vector<int> positions;
    int low = 0, high = 0;
    int closed = 0;
};

// The operator of the tests: answers dialogs from queues (an empty queue cancels) and records
// every message box, question and progress window.
class ScriptedOperator : public OperatorInterface {
public:
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text, MessageIcon icon) override;
    std::unique_ptr<ProgressWindow> OpenProgress() override;
    void PumpMessages() override { ++pumps; }
    DialogResult<SerialSetupChoice> AskSerialSetup(const SerialSetupChoice& preset) override;
    DialogResult<int> AskPortType(int current) override;
    DialogResult<int> AskGpibAddress(int current) override;
    DialogResult<IpAddressChoice> AskIpAddress(const IpAddressChoice& preset) override;

    std::vector<ShownMessage> messages;
    std::vector<std::string> questions;
    std::deque<bool> yesNoAnswers;
    std::deque<DialogResult<SerialSetupChoice>> serialAnswers;
    std::deque<DialogResult<int>> portTypeAnswers;
    std::deque<DialogResult<int>> gpibAnswers;
    std::deque<DialogResult<IpAddressChoice>> ipAnswers;
    // Presets the dialogs were opened with.
    std::vector<SerialSetupChoice> serialPresets;
    std::vector<int> portTypePresets, gpibPresets;
    std::vector<IpAddressChoice> ipPresets;
    std::vector<std::shared_ptr<ProgressRecord>> progress;
    int pumps = 0;

    std::vector<std::string> MessageTexts() const;
};

// Collects the lines appended to the view's log.
class CollectingLog : public LogSink {
public:
    void Append(const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

}  // namespace tavrix::test
