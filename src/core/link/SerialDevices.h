#pragma once

#include <string>
#include <vector>

namespace tavrix {

// A serial device present on this machine. USB adapters get their /dev/ttyUSBn number from the
// order they were plugged in; the /dev/serial/by-id/ name stays the same, so it is the one to
// store.
struct SerialDeviceInfo {
    std::string node;  // /dev/ttyUSB0, /dev/ttyACM0, /dev/ttyS0
    std::string byId;  // /dev/serial/by-id/usb-..., empty when the system has none
    std::string vendor, product, serial;  // USB strings, empty when unknown
    std::string vendorId, productId;      // four hex digits each

    const std::string& StablePath() const { return byId.empty() ? node : byId; }
    // "FTDI FT232R USB UART (0403:6001) serial A1B2C3", empty for a plain port.
    std::string Description() const;
};

// The serial devices present (ttyS*, ttyUSB*, ttyACM*), ordered by kind and number; a ttyS entry
// the kernel keeps for a port that is not fitted is left out. Uses libudev; without a device
// database (a container) the USB strings come from the devices' own attributes.
std::vector<SerialDeviceInfo> ListSerialDevices();

// The symbolic link in `folder` (normally /dev/serial/by-id) that leads to `node`, or "".
std::string FindByIdLink(const std::string& node, const std::string& folder);

// Whether two device paths name the same device (a by-id link and its node do).
bool SameDevice(const std::string& a, const std::string& b);

// What the RS232 set-up offers for one COM entry: every device present, and the stored device
// when it is not among them (a simulator's pseudo-terminal, an adapter unplugged for now), so
// that opening the dialog and pressing OK never changes the stored value.
struct SerialDeviceChoices {
    struct Entry {
        std::string path;   // the value to store
        std::string label;  // what the list shows
    };
    std::vector<Entry> entries;
    int selected = -1;  // the entry of the stored device

    static SerialDeviceChoices For(const std::vector<SerialDeviceInfo>& present,
                                   const std::string& stored);
};

}  // namespace tavrix
