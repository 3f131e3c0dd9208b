// pxe: the network boot tree, and on Linux serving it with dnsmasq.
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#endif

#include "base/text.h"
#include "cli/commands.h"
#include "media/net_tree.h"

namespace scour::cli {

namespace {

struct PxeArgs {
    std::wstring folder;
    std::wstring interface;  // empty: build only
};

std::wstring ParsePxe(const std::vector<std::wstring>& args, PxeArgs& out) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--serve") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return L"--serve needs an INTERFACE";
            }
            out.interface = args[++i];
        } else if (out.folder.empty() && !args[i].empty() && args[i].rfind(L"--", 0) != 0) {
            out.folder = args[i];
        } else {
            return L"pxe takes one DIR and at most --serve INTERFACE";
        }
    }
    if (out.folder.empty()) {
        return L"pxe needs a DIR";
    }
#ifdef _WIN32
    if (!out.interface.empty()) {
        return L"--serve runs dnsmasq on Linux; on Windows serve DIR with any TFTP and proxy "
               L"DHCP server";
    }
#else
    // dnsmasq takes a list of interfaces there: one name, and nothing more.
    if (!out.interface.empty() &&
        (out.interface.size() >= IF_NAMESIZE ||
         out.interface.find_first_of(L", /=\t\n") != std::wstring::npos)) {
        return L"\"" + out.interface + L"\" is no network interface name";
    }
#endif
    return {};
}

std::wstring CheckPxe(const std::vector<std::wstring>& args) {
    PxeArgs parsed;
    return ParsePxe(args, parsed);
}

#ifndef _WIN32
// dnsmasq as the PATH finds it; empty when it is not there.
std::string FindDnsmasq() {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty()) {
            const std::string candidate = dir + "/dnsmasq";
            if (access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return {};
}

// One proxy DHCP range per IPv4 network of the interface: dnsmasq answers
// PXE requests only on networks it is given, and the tree cannot know them.
std::vector<std::string> ProxyRanges(const std::string& interface) {
    std::vector<std::string> ranges;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return ranges;
    }
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_netmask == nullptr ||
            a->ifa_addr->sa_family != AF_INET || interface != a->ifa_name) {
            continue;
        }
        in_addr address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr;
        const in_addr mask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr;
        address.s_addr &= mask.s_addr;
        char net[INET_ADDRSTRLEN] = {}, bits[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address, net, sizeof net) != nullptr &&
            inet_ntop(AF_INET, &mask, bits, sizeof bits) != nullptr) {
            ranges.push_back(std::string("--dhcp-range=") + net + ",proxy," + bits);
        }
    }
    freeifaddrs(list);
    return ranges;
}

// What keeps dnsmasq from serving, checked before anything is written.
std::wstring ServeRefusal(const std::wstring& interface, std::string& dnsmasq,
                          std::vector<std::string>& ranges) {
    dnsmasq = FindDnsmasq();
    if (dnsmasq.empty()) {
        return L"dnsmasq is not installed (Debian package dnsmasq-base; "
               L"apt-get install dnsmasq-base)";
    }
    if (geteuid() != 0) {
        return L"serving needs root: dnsmasq answers on the DHCP and TFTP ports";
    }
    if (if_nametoindex(ToUtf8(interface).c_str()) == 0) {
        return L"there is no network interface \"" + interface + L"\"";
    }
    ranges = ProxyRanges(ToUtf8(interface));
    if (ranges.empty()) {
        return L"the interface \"" + interface + L"\" has no IPv4 address to answer on";
    }
    return {};
}

// Replaces this process by dnsmasq in the foreground: Ctrl-C reaches it
// directly, and its exit status is the command's.
int Serve(const std::string& dnsmasq, const std::wstring& folder, const std::wstring& interface,
          const std::vector<std::string>& ranges) {
    const std::string config = "--conf-file=" + ToUtf8(JoinPath(folder, kDnsmasqConfigName));
    const std::string iface = "--interface=" + ToUtf8(interface);
    std::vector<std::string> words = {
        dnsmasq, "--keep-in-foreground", "--log-facility=-", "--pid-file", config, iface};
    words.insert(words.end(), ranges.begin(), ranges.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    execv(dnsmasq.c_str(), argv.data());
    PrintError(L"error: cannot start " + FromUtf8(dnsmasq) + L": " +
               FromUtf8(std::strerror(errno)) + L"\n");
    return kExitFailed;
}
#endif

int Pxe(Context& c) {
    PxeArgs args;
    ParsePxe(c.args, args);
    std::error_code ec;
    auto absolute = std::filesystem::absolute(ToFsPath(args.folder), ec).lexically_normal();
    if (!absolute.has_filename() && absolute.has_relative_path()) {
        absolute = absolute.parent_path();
    }
    const std::wstring folder = ec ? args.folder : FromFsPath(absolute);
#ifndef _WIN32
    std::string dnsmasq;
    std::vector<std::string> ranges;
    if (!args.interface.empty()) {
        if (const std::wstring refusal = ServeRefusal(args.interface, dnsmasq, ranges);
            !refusal.empty()) {
            PrintError(L"error: " + refusal + L"\n");
            return kExitFailed;
        }
    }
#endif
    // The builder has reported every failure through the reporter.
    if (!BuildNetTree(folder, c.options, c.services, c.reporter)) {
        return kExitFailed;
    }
    Print(L"Network boot tree written to " + folder + L"\n");
#ifndef _WIN32
    if (!args.interface.empty()) {
        Print(L"Serving it on " + args.interface + L" with dnsmasq; Ctrl-C stops.\n");
        return Serve(dnsmasq, folder, args.interface, ranges);
    }
#endif
    return kExitDone;
}

const bool registered = RegisterCommand(
    {90, L"pxe",
     L"pxe DIR [--serve INTERFACE]\n"
     L"                          write a network boot tree (and serve it with dnsmasq)",
     CheckPxe, Pxe});

}  // namespace

}  // namespace scour::cli
