#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <string>

namespace tavrix {

// The five shortcut buttons whose state follows the identified model.
enum class ShortcutButton { CurveDownload, PidDownload, Interact, DataLogging, DatalogUpload };
inline constexpr int kShortcutButtonCount = 5;

// Status states of the bar: the LED image index too.
enum LinkState : int { kStateConnected = 0, kStateNotConnected = 1, kStateError = 2 };

// What the shortcut bar shows. The window draws it; tests and the command line read it.
class ShortcutBar {
public:
    virtual ~ShortcutBar() = default;
    virtual void SetStatus(int state) = 0;
    virtual void ShowModelAndVersion(const std::string& model, const std::string& version) = 0;
    virtual void ShowTransport(int portType) = 0;
    virtual void EnableButton(ShortcutButton button, bool enable) = 0;
    // Disables the five buttons, model text "No Device", version text empty.
    virtual void Reset() = 0;
};

// The bar's state, observable without a window. Safe to use from any thread.
class ShortcutBarModel : public ShortcutBar {
public:
    struct Snapshot {
        std::string transportName, statusWord, modelText, versionText;
        int ledIndex = 1;
        int transport = 4;  // last port type shown; 4 = none yet
        std::array<bool, kShortcutButtonCount> buttons{};
    };

    // The state of a freshly opened bar: "Not Connected", "No Device".
    ShortcutBarModel();

    void SetStatus(int state) override;
    void ShowModelAndVersion(const std::string& model, const std::string& version) override;
    void ShowTransport(int portType) override;
    void EnableButton(ShortcutButton button, bool enable) override;
    void Reset() override;

    Snapshot Get() const;
    bool ButtonEnabled(ShortcutButton b) const { return Get().buttons[static_cast<int>(b)]; }
    // Called after every change (from the thread that made it).
    void SetOnChanged(std::function<void()> callback);

private:
    void Changed();
    mutable std::mutex mutex_;
    Snapshot s_;
    std::function<void()> onChanged_;
};

}  // namespace tavrix
