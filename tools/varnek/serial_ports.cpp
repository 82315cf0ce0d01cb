// The serial ports of this machine (Linux: sysfs, with the USB identity of adapters;
// Windows: the registry's SERIALCOMM), and the component's reason for a refused open.
#include "serial_options.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "varnek_debug.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <unistd.h>
#endif

std::string Serial_OpenError() { return VKD_SerialOpenError(); }

#ifdef _WIN32

int Serial_ListPorts()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
        printf("no serial ports\n");
        return 0;
    }
    int found = 0;
    for (DWORD i = 0;; ++i) {
        char name[256], data[64];
        DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
        LONG rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE *>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataSize] = '\0';
        printf("%-8s %s\n", data, name);
        ++found;
    }
    RegCloseKey(key);
    if (found == 0) printf("no serial ports\n");
    return 0;
}

#else

namespace {

std::string ReadLine(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string RealPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

std::vector<std::string> Entries(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
    return names;
}

// "USB vvvv:pppp serial S (maker product)" for a port on a USB adapter, else "".
std::string UsbIdentity(const std::string &device)
{
    for (std::string dir = device; dir.size() > 1; dir = dir.substr(0, dir.rfind('/'))) {
        std::string vendor = ReadLine(dir + "/idVendor");
        if (vendor.empty()) continue;
        std::string out = "USB " + vendor + ":" + ReadLine(dir + "/idProduct");
        std::string serial = ReadLine(dir + "/serial");
        if (!serial.empty()) out += " serial " + serial;
        std::string maker = ReadLine(dir + "/manufacturer"), product = ReadLine(dir + "/product");
        if (!maker.empty() || !product.empty()) out += " (" + maker + (maker.empty() ? "" : " ") + product + ")";
        return out;
    }
    return "";
}

// The stable names udev gives the port (/dev/serial/by-id/...).
std::string StableName(const std::string &devicePath)
{
    const std::string dir = "/dev/serial/by-id";
    for (const std::string &name : Entries(dir)) {
        if (RealPath(dir + "/" + name) == devicePath) return dir + "/" + name;
    }
    return "";
}

// The driver of the port's hardware; newer kernels put a generic "port" device between.
std::string DriverName(const std::string &device)
{
    for (std::string dir = device; dir.size() > 1; dir = dir.substr(0, dir.rfind('/'))) {
        std::string driver = RealPath(dir + "/driver");
        if (driver.empty()) continue;
        std::string name = driver.substr(driver.rfind('/') + 1);
        if (name != "port" && name != "ctrl") return name;
    }
    return "";
}

}  // namespace

int Serial_ListPorts()
{
    int found = 0;
    for (const std::string &name : Entries("/sys/class/tty")) {
        std::string sys = "/sys/class/tty/" + name;
        std::string device = RealPath(sys + "/device");
        if (device.empty()) continue;  // virtual terminals and pseudo-terminals
        std::string subsystem = RealPath(sys + "/device/subsystem");
        // The 8250 driver registers placeholders for ports that are not there.
        if (name.compare(0, 5, "ttyS") == 0 && ReadLine(sys + "/type") == "0") continue;
        if (name.compare(0, 5, "ttyS") == 0 && subsystem.size() >= 9 && subsystem.compare(subsystem.size() - 9, 9, "/platform") == 0) {
            continue;
        }
        std::string line = "/dev/" + name;
        std::string usb = UsbIdentity(device);
        if (!usb.empty()) line += "  " + usb;
        else if (!DriverName(device).empty()) line += "  " + DriverName(device);
        std::string stable = StableName("/dev/" + name);
        if (!stable.empty()) line += "  " + stable;
        printf("%s\n", line.c_str());
        ++found;
    }
    if (found == 0) printf("no serial ports\n");
    return 0;
}

#endif
