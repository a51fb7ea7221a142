#include "base/ShortcutBar.h"

#include "base/Texts.h"

namespace tavrix {

ShortcutBarModel::ShortcutBarModel() {
    s_.statusWord = texts::kNotConnected;
    s_.modelText = texts::kNoDevice;
}

void ShortcutBarModel::SetStatus(int state) {
    {
        std::lock_guard lock(mutex_);
        switch (state) {
            case kStateConnected:
                s_.statusWord = texts::kConnected;
                break;
            case kStateNotConnected:
                s_.statusWord = texts::kNotConnected;
                break;
            case kStateError:
                s_.statusWord = texts::kError;
                break;
            default:
                return;
        }
        s_.ledIndex = state;
    }
    Changed();
}

void ShortcutBarModel::ShowModelAndVersion(const std::string& model, const std::string& version) {
    {
        std::lock_guard lock(mutex_);
        s_.modelText = model;
        s_.versionText = version;
    }
    Changed();
}

void ShortcutBarModel::ShowTransport(int portType) {
    {
        std::lock_guard lock(mutex_);
        switch (portType) {
            case 0:
                s_.transportName = "RS232";
                break;
            case 2:
                s_.transportName = "GPIB";
                break;
            case 3:
                s_.transportName = "LAN";
                break;
            default:
                return;
        }
        s_.transport = portType;
    }
    Changed();
}

void ShortcutBarModel::EnableButton(ShortcutButton button, bool enable) {
    {
        std::lock_guard lock(mutex_);
        s_.buttons[static_cast<int>(button)] = enable;
    }
    Changed();
}

void ShortcutBarModel::Reset() {
    {
        std::lock_guard lock(mutex_);
        s_.buttons.fill(false);
        s_.modelText = texts::kNoDevice;
        s_.versionText.clear();
    }
    Changed();
}

ShortcutBarModel::Snapshot ShortcutBarModel::Get() const {
    std::lock_guard lock(mutex_);
    return s_;
}

void ShortcutBarModel::SetOnChanged(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    onChanged_ = std::move(callback);
}

void ShortcutBarModel::Changed() {
    std::function<void()> cb;
    {
        std::lock_guard lock(mutex_);
        cb = onChanged_;
    }
    if (cb) cb();
}

}  // namespace tavrix
