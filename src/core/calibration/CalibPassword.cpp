#include "calibration/CalibPassword.h"

#include <cctype>

#include "calibration/CalibTexts.h"
#include "base/CNumeric.h"

namespace tavrix {

namespace ct = calib_texts;

void WipeSecret(std::string& secret) {
    volatile char* p = secret.data();
    for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

namespace {
std::string Upper(const std::string& s) {
    std::string u = s;
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

// Characters that would end the command line or start another command in it.
bool SafeInCommand(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F || c == ';' || c == ':' || c == '?') return false;
    return true;
}
}  // namespace

std::optional<std::string> PaddedCalibPassword(const std::string& typed) {
    if (typed.size() > kCalibPasswordLength) return std::nullopt;
    std::string padded = typed;
    padded.resize(kCalibPasswordLength, ' ');
    return padded;
}

bool CheckCalibrationPassword(const std::string& typed, const CalibTransact& transact,
                              OperatorInterface& op) {
    std::optional<std::string> padded = PaddedCalibPassword(typed);
    if (!padded) return false;
    std::string reply;
    if (!transact || transact(ct::kPasswordQuery, &reply) != 0) {
        op.ShowMessage(ct::kFailedToGetPassword, MessageIcon::Stop);
        WipeSecret(*padded);
        return false;
    }
    const bool same = reply == *padded;
    WipeSecret(reply);
    WipeSecret(*padded);
    return same;
}

bool VerifyCalibrationPassword(CalibrationDialogs& dialogs, const CalibTransact& transact,
                               OperatorInterface& op) {
    DialogResult<std::string> typed = dialogs.AskCalibrationPassword();
    if (!typed.Ok()) return false;
    const bool ok = CheckCalibrationPassword(typed.value, transact, op);
    WipeSecret(typed.value);
    return ok;
}

const char* ChangePasswordForm::CheckOnLeave(const std::string& text) {
    return text != Upper(text) ? ct::kPasswordUppercase : nullptr;
}

std::string ChangePasswordForm::CheckOnOk(const NewPasswordEntry& entry) {
    if (entry.newText.size() > kCalibPasswordLength || entry.retyped.size() > kCalibPasswordLength)
        return FormatC(ct::kEnterNoMoreThan, static_cast<int>(kCalibPasswordLength));
    return {};
}

int SetCalibrationPassword(const NewPasswordEntry& entry, const CalibTransact& transact,
                           OperatorInterface& op) {
    if (entry.newText != entry.retyped) {
        op.ShowMessage(ct::kPasswordsDoNotMatch, MessageIcon::Stop);
        return -1;
    }
    if (entry.newText.size() > kCalibPasswordLength) {
        op.ShowMessage(ct::kPasswordTooLong, MessageIcon::Stop);
        return -1;
    }
    if (!SafeInCommand(entry.newText)) {
        op.ShowMessage(ct::kPasswordBadCharacter, MessageIcon::Stop);
        return -1;
    }
    std::string line = ct::kSetPassword + Upper(entry.newText) + ct::kPasswordReadBack;
    std::string reply;
    const int status = transact ? transact(line, &reply) : -1;
    WipeSecret(line);
    WipeSecret(reply);
    if (status != 0) {
        op.ShowMessage(ct::kFailedToSetPassword, MessageIcon::Stop);
        return -1;
    }
    return 0;
}

void ChangeCalibrationPassword(CalibrationDialogs& dialogs, const CalibTransact& transact,
                               OperatorInterface& op) {
    DialogResult<NewPasswordEntry> entry = dialogs.AskNewCalibrationPassword();
    if (!entry.Ok()) return;
    SetCalibrationPassword(entry.value, transact, op);
    WipeSecret(entry.value.newText);
    WipeSecret(entry.value.retyped);
}

}  // namespace tavrix
