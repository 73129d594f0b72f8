#include "simulator/DeviceSettings.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>

namespace talbo::tesk::vorta::devsim {

std::string ListenAddress::ToString() const {
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<ListenAddress> ParseListenAddress(std::string_view text,
                                                std::optional<int> defaultPort,
                                                std::string& error) {
    // inet_pton reads up to a NUL, so "127.0.0.1\0junk" from a fleet file would pass whole.
    if (text.find('\0') != std::string_view::npos) {
        error = "a listen address holds a NUL character";
        return std::nullopt;
    }
    ListenAddress address;
    std::string_view host;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            error = "address \"" + std::string(text) + "\" lacks its closing ']'";
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                error = "address \"" + std::string(text) + "\" has text after ']'";
                return std::nullopt;
            }
            port = rest.substr(1);
        }
        address.ipv6 = true;
    } else {
        std::size_t colon = text.rfind(':');
        host = text.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
        }
    }
    address.host = host;
    if (address.ipv6) {
        in6_addr binary{};
        if (inet_pton(AF_INET6, address.host.c_str(), &binary) != 1 ||
            !IN6_IS_ADDR_LOOPBACK(&binary)) {
            error = "\"" + address.host + "\" is not the IPv6 loopback address ::1";
            return std::nullopt;
        }
    } else {
        in_addr binary{};
        if (inet_pton(AF_INET, address.host.c_str(), &binary) != 1) {
            error = "\"" + address.host + "\" is not a numeric IPv4 address";
            return std::nullopt;
        }
        if ((ntohl(binary.s_addr) >> 24) != 127) {
            error = "\"" + address.host + "\" is not a loopback address (127.0.0.0/8)";
            return std::nullopt;
        }
    }
    if (port.empty()) {
        if (!defaultPort) {
            error = "address \"" + std::string(text) + "\" names no port";
            return std::nullopt;
        }
        address.port = *defaultPort;
    } else {
        auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), address.port);
        if (ec != std::errc() || end != port.data() + port.size() || address.port < 0 ||
            address.port > 65535) {
            error = "port \"" + std::string(port) + "\" is not a number from 0 to 65535";
            return std::nullopt;
        }
    }
    return address;
}

}  // namespace talbo::tesk::vorta::devsim
