#pragma once

#include <cstdint>
#include <string>

#include "base/OperatorInterface.h"

namespace tavrix {

struct SerialSetupChoice {
    int commPortIndex = 1;  // 0..3 = COM1..COM4
    int baudIndex = 0;      // 0..7 = 115200 .. 1200
    // The device the chosen COM entry opens ([SerialDevices]); empty leaves it as stored.
    std::string device = {};
};

struct IpAddressChoice {
    uint32_t address = 0;  // first octet in the most significant byte
    unsigned long port = 0;
};

// The communication dialogs the link's commands ask for. Each is preset with the given value.
class LinkDialogs : public virtual OperatorInterface {
public:
    virtual DialogResult<SerialSetupChoice> AskSerialSetup(const SerialSetupChoice& preset) = 0;
    virtual DialogResult<int> AskPortType(int current) = 0;
    virtual DialogResult<int> AskGpibAddress(int current) = 0;
    virtual DialogResult<IpAddressChoice> AskIpAddress(const IpAddressChoice& preset) = 0;
};

}  // namespace tavrix
