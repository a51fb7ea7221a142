#include "link/SerialDevices.h"

#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tavrix {

namespace {

constexpr const char* kByIdFolder = "/dev/serial/by-id";

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <class T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* s) {
    return s ? std::string(s) : std::string();
}

std::string Canonical(const std::string& path) {
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf)) return {};
    return buf;
}

bool IsCharDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// 0 ttyS, 1 ttyUSB, 2 ttyACM; -1 for every other tty.
int Kind(const std::string& name) {
    static const char* const kinds[] = {"ttyS", "ttyUSB", "ttyACM"};
    for (int k = 0; k < 3; ++k) {
        const size_t n = std::strlen(kinds[k]);
        if (name.size() > n && name.compare(0, n, kinds[k]) == 0 &&
            std::all_of(name.begin() + n, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return k;
    }
    return -1;
}

long Number(const std::string& name) {
    size_t i = name.size();
    while (i > 0 && name[i - 1] >= '0' && name[i - 1] <= '9') --i;
    return std::strtol(name.c_str() + i, nullptr, 10);
}

void ReadUsbStrings(udev_device* tty, SerialDeviceInfo& info) {
    // Owned by `tty`: not to be unreferenced.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    if (!usb) return;
    info.vendor = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
    info.product = Text(udev_device_get_sysattr_value(usb, "product"));
    info.serial = Text(udev_device_get_sysattr_value(usb, "serial"));
    info.vendorId = Text(udev_device_get_sysattr_value(usb, "idVendor"));
    info.productId = Text(udev_device_get_sysattr_value(usb, "idProduct"));
}

std::string ByIdFromDatabase(udev_device* tty) {
    const std::string prefix = std::string(kByIdFolder) + "/";
    for (udev_list_entry* e = udev_device_get_devlinks_list_entry(tty); e;
         e = udev_list_entry_get_next(e)) {
        const std::string link = Text(udev_list_entry_get_name(e));
        if (link.compare(0, prefix.size(), prefix) == 0) return link;
    }
    return {};
}

}  // namespace

std::string SerialDeviceInfo::Description() const {
    std::string d = vendor;
    if (!product.empty()) d += (d.empty() ? "" : " ") + product;
    if (!vendorId.empty() || !productId.empty())
        d += (d.empty() ? "(" : " (") + vendorId + ":" + productId + ")";
    if (!serial.empty()) d += (d.empty() ? "serial " : " serial ") + serial;
    return d;
}

std::string FindByIdLink(const std::string& node, const std::string& folder) {
    const std::string target = Canonical(node);
    if (target.empty()) return {};
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return {};
    std::vector<std::string> hits;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const std::string link = folder + "/" + e->d_name;
        if (Canonical(link) == target) hits.push_back(link);
    }
    ::closedir(dir);
    if (hits.empty()) return {};
    // One adapter can have several names (one per interface); take a stable one.
    return *std::min_element(hits.begin(), hits.end());
}

bool SameDevice(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const std::string ca = Canonical(a);
    return !ca.empty() && ca == Canonical(b);
}

std::vector<SerialDeviceInfo> ListSerialDevices() {
    std::vector<SerialDeviceInfo> found;
    UdevPtr<udev> u(udev_new());
    if (!u) return found;
    UdevPtr<udev_enumerate> en(udev_enumerate_new(u.get()));
    if (!en || udev_enumerate_add_match_subsystem(en.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(en.get()) < 0)
        return found;
    for (udev_list_entry* e = udev_enumerate_get_list_entry(en.get()); e;
         e = udev_list_entry_get_next(e)) {
        UdevPtr<udev_device> dev(
            udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(e)));
        if (!dev) continue;
        const std::string name = Text(udev_device_get_sysname(dev.get()));
        const int kind = Kind(name);
        if (kind < 0) continue;
        // The 8250 driver keeps ttyS0..ttyS31 whether or not a port is fitted; those it keeps
        // for nothing hang from the platform bus, fitted ones from PNP or PCI.
        udev_device* parent = udev_device_get_parent(dev.get());
        if (kind == 0 && (!parent || Text(udev_device_get_subsystem(parent)) == "platform"))
            continue;
        SerialDeviceInfo info;
        info.node = Text(udev_device_get_devnode(dev.get()));
        if (info.node.empty()) info.node = "/dev/" + name;
        if (!IsCharDevice(info.node)) continue;
        info.byId = ByIdFromDatabase(dev.get());
        if (info.byId.empty()) info.byId = FindByIdLink(info.node, kByIdFolder);
        ReadUsbStrings(dev.get(), info);
        found.push_back(std::move(info));
    }
    std::sort(found.begin(), found.end(), [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) {
        const std::string na = a.node.substr(a.node.rfind('/') + 1);
        const std::string nb = b.node.substr(b.node.rfind('/') + 1);
        if (Kind(na) != Kind(nb)) return Kind(na) < Kind(nb);
        return Number(na) < Number(nb);
    });
    return found;
}

SerialDeviceChoices SerialDeviceChoices::For(const std::vector<SerialDeviceInfo>& present,
                                             const std::string& stored) {
    SerialDeviceChoices c;
    for (const SerialDeviceInfo& d : present) {
        Entry entry{d.StablePath(), d.StablePath()};
        if (!d.byId.empty()) entry.label += " (" + d.node + ")";
        if (const std::string desc = d.Description(); !desc.empty()) entry.label += " " + desc;
        if (c.selected < 0 && !stored.empty() && (stored == d.byId || SameDevice(stored, d.node)))
            c.selected = static_cast<int>(c.entries.size());
        c.entries.push_back(std::move(entry));
    }
    if (c.selected < 0 && !stored.empty()) {
        c.selected = static_cast<int>(c.entries.size());
        c.entries.push_back({stored, IsCharDevice(stored) ? stored : stored + " (not present)"});
    }
    return c;
}

}  // namespace tavrix
