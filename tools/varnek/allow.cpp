#include "allow.h"

#include <fstream>

namespace {

std::string Trim(const std::string &s)
{
    size_t hash = s.find('#');
    std::string t = s.substr(0, hash);
    size_t first = t.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    size_t last = t.find_last_not_of(" \t\r\n");
    return t.substr(first, last - first + 1);
}

}  // namespace

bool Allow_Load(const std::string &path, AllowList &out, std::string &error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read the allow file " + path;
        return false;
    }
    out = AllowList();
    out.active = true;
    std::string line;
    while (std::getline(in, line)) {
        std::string entry = Trim(line);
        if (entry.empty()) continue;
        Network net;
        if (Address_ParseNetwork(entry, net)) {
            out.networks.push_back(net);
        } else {
            out.names.push_back(entry.substr(0, 16));  // names are 16 bytes in the open frame
        }
    }
    return true;
}

std::string Allow_Check(const AllowList &list, const std::string &name, const uint8_t *addr)
{
    if (!list.active) return "";
    if (list.names.empty() && list.networks.empty()) return "No station is allowed here";
    if (!list.names.empty()) {
        bool listed = false;
        for (const std::string &n : list.names) listed = listed || n == name;
        if (!listed) return "Station " + name.substr(0, 16) + " is not allowed here";
    }
    if (!list.networks.empty() && addr != nullptr) {
        bool inside = false;
        for (const Network &n : list.networks) inside = inside || Address_InNetwork(addr, n);
        if (!inside) return "Address " + Address_Dotted(addr) + " is not allowed here";
    }
    return "";
}
