#include "simulator/CFleetConfig.h"

#include <nlohmann/json.hpp>

#include "simulator/CReplayScript.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace talbo::tesk::vorta::devsim {
namespace {

using nlohmann::json;

bool IsHostName(std::string_view text) {
    return !text.empty() && text.size() <= 254 && std::all_of(text.begin(), text.end(), [](char c) {
        return c == '.' || c == '-' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
               (c >= 'A' && c <= 'Z');
    });
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Reads the device fields of one JSON object into settings; "host" and "listen" only when
// allowHost is set (they make no sense in "defaults").
bool ApplyFields(const json& object, bool allowHost, const FleetRequest& request,
                 DeviceSettings& device, std::string& error) {
    if (!object.is_object()) {
        error = "a device entry must be a JSON object";
        return false;
    }
    static const std::set<std::string> kKnown = {
        "host",     "listen",         "model", "firmware",   "status", "app-name",
        "progress", "update-version", "auth",  "restart-ms", "faults", "pretty"};
    for (auto& [key, unused] : object.items()) {
        if (!kKnown.count(key) || (!allowHost && (key == "host" || key == "listen"))) {
            error = "unknown field \"" + key + "\"";
            return false;
        }
    }
    auto text = [&](const char* key, std::string& out) {
        auto it = object.find(key);
        if (it == object.end()) {
            return true;
        }
        if (!it->is_string()) {
            error = std::string("field \"") + key + "\" must be a text";
            return false;
        }
        out = it->get<std::string>();
        return true;
    };
    std::string auth;
    std::string progress;
    std::string listen;
    if (!text("host", device.host) || !text("model", device.model) ||
        !text("firmware", device.firmware) || !text("status", device.status) ||
        !text("app-name", device.appName) || !text("update-version", device.updateVersion) ||
        !text("auth", auth) || !text("listen", listen)) {
        return false;
    }
    if (auto it = object.find("progress"); it != object.end()) {
        if (it->is_number_integer()) {
            device.progress = std::to_string(it->get<long long>());
        } else if (it->is_string()) {
            device.progress = it->get<std::string>();
        } else {
            error = "field \"progress\" must be a text or a number";
            return false;
        }
    }
    if (!auth.empty()) {
        auto scheme = ParseAuthScheme(auth);
        if (!scheme) {
            error = "field \"auth\" must be digest, basic or none, not \"" + auth + "\"";
            return false;
        }
        device.auth = *scheme;
    }
    if (auto it = object.find("restart-ms"); it != object.end()) {
        if (!it->is_number_integer() || it->get<long long>() < 0 ||
            it->get<long long>() > 86400000) {
            error = "field \"restart-ms\" must be a number of milliseconds up to 86400000";
            return false;
        }
        device.restartMs = it->get<int>();
    }
    if (auto it = object.find("pretty"); it != object.end()) {
        if (!it->is_boolean()) {
            error = "field \"pretty\" must be true or false";
            return false;
        }
        device.pretty = it->get<bool>();
    }
    if (!listen.empty()) {
        auto address = ParseListenAddress(listen, request.directPort, error);
        if (!address) {
            return false;
        }
        device.listen = *address;
    }
    if (auto it = object.find("faults"); it != object.end()) {
        if (!it->is_array()) {
            error = "field \"faults\" must be a list";
            return false;
        }
        for (auto& entry : *it) {
            auto fault = FaultFromJson(entry, error);
            if (!fault) {
                return false;
            }
            device.faults.push_back(*fault);
        }
    }
    return true;
}

void ApplyOverrides(const DeviceOverrides& overrides, DeviceSettings& device) {
    if (overrides.model)
        device.model = *overrides.model;
    if (overrides.firmware)
        device.firmware = *overrides.firmware;
    if (overrides.status)
        device.status = *overrides.status;
    if (overrides.appName)
        device.appName = *overrides.appName;
    if (overrides.progress)
        device.progress = *overrides.progress;
    if (overrides.auth)
        device.auth = *overrides.auth;
    if (overrides.restartMs)
        device.restartMs = *overrides.restartMs;
    if (overrides.pretty)
        device.pretty = *overrides.pretty;
}

bool Finish(std::vector<DeviceSettings>& devices, const FleetRequest& request, std::string& error) {
    if (devices.empty()) {
        error = "the fleet has no device";
        return false;
    }
    std::set<std::string> hosts;
    std::set<std::string> listens;
    for (auto& device : devices) {
        if (request.direct && !device.listen) {
            error = "device \"" + device.host + "\" has no \"listen\" address for direct mode";
            return false;
        }
        if (device.host.empty() && device.listen) {
            device.host = device.listen->host;
        }
        if (!IsHostName(device.host)) {
            error = "\"" + device.host +
                    "\" is not a host name (1 to 254 of letters, digits, '.' and '-')";
            return false;
        }
        if (!hosts.insert(Lower(device.host)).second) {
            error = "host \"" + device.host + "\" appears twice";
            return false;
        }
        if (request.direct && !listens.insert(device.listen->ToString()).second &&
            device.listen->port != 0) {
            error = "two devices listen on " + device.listen->ToString();
            return false;
        }
        if (device.status == "AnotherApp" && device.appName.empty()) {
            error = "device \"" + device.host + "\" has status AnotherApp but no \"app-name\"";
            return false;
        }
    }
    for (auto& [host, fault] : request.extraFaults) {
        bool matched = false;
        for (auto& device : devices) {
            if (host == "*" || Lower(host) == Lower(device.host)) {
                device.faults.push_back(fault);
                matched = true;
            }
        }
        if (!matched) {
            error = "--fault names the unknown device \"" + host + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<AuthScheme> ParseAuthScheme(std::string_view text) {
    if (text == "digest")
        return AuthScheme::Digest;
    if (text == "basic")
        return AuthScheme::Basic;
    if (text == "none")
        return AuthScheme::None;
    return std::nullopt;
}

std::optional<std::vector<DeviceSettings>> FleetFromJson(const std::string& text,
                                                         const FleetRequest& request,
                                                         std::string& error) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::exception& e) {
        error = std::string("fleet file is not valid JSON: ") + e.what();
        return std::nullopt;
    }
    if (!root.is_object()) {
        error = "fleet file must hold a JSON object";
        return std::nullopt;
    }
    for (auto& [key, unused] : root.items()) {
        if (key != "defaults" && key != "devices") {
            error = "unknown fleet field \"" + key + "\"";
            return std::nullopt;
        }
    }
    DeviceSettings base;
    if (auto it = root.find("defaults"); it != root.end()) {
        if (!ApplyFields(*it, false, request, base, error)) {
            error = "defaults: " + error;
            return std::nullopt;
        }
    }
    ApplyOverrides(request.overrides, base);
    auto list = root.find("devices");
    if (list == root.end() || !list->is_array()) {
        error = "fleet file needs a \"devices\" list";
        return std::nullopt;
    }
    std::vector<DeviceSettings> devices;
    for (std::size_t i = 0; i < list->size(); ++i) {
        DeviceSettings device = base;
        device.faults.clear();
        // Flags beat "defaults" but not the device's own fields: apply the device on top.
        if (!ApplyFields((*list)[i], true, request, device, error)) {
            error = "device " + std::to_string(i + 1) + ": " + error;
            return std::nullopt;
        }
        if (device.faults.empty()) {
            device.faults = base.faults;
        }
        if (device.host.empty() && !device.listen) {
            error = "device " + std::to_string(i + 1) + " has no \"host\"";
            return std::nullopt;
        }
        devices.push_back(std::move(device));
    }
    if (!Finish(devices, request, error)) {
        return std::nullopt;
    }
    return devices;
}

std::optional<std::vector<DeviceSettings>> BuildFleet(const FleetRequest& request,
                                                      std::string& error) {
    if (request.replayFile) {
        if (request.fleetFile || request.generatedDevices || request.direct ||
            !request.extraFaults.empty()) {
            error =
                "--replay serves the one device of its trace through the proxy; it takes no "
                "--fleet, --devices, --direct or --fault";
            return std::nullopt;
        }
        std::shared_ptr<CReplayScript> script =
            CReplayScript::FromFile(*request.replayFile, request.replayJob, error);
        if (!script) {
            return std::nullopt;
        }
        DeviceSettings device;
        ApplyOverrides(request.overrides, device);
        device.host = script->Host();
        device.replay = std::move(script);
        return std::vector<DeviceSettings>{std::move(device)};
    }
    if (request.replayJob) {
        error = "--replay-job needs --replay";
        return std::nullopt;
    }
    if (request.fleetFile) {
        if (request.generatedDevices) {
            error = "use either --fleet or --devices, not both";
            return std::nullopt;
        }
        std::ifstream file(*request.fleetFile, std::ios::binary);
        if (!file) {
            error = "cannot read the fleet file " + request.fleetFile->string();
            return std::nullopt;
        }
        std::ostringstream text;
        text << file.rdbuf();
        return FleetFromJson(text.str(), request, error);
    }
    const int count = request.generatedDevices.value_or(3);
    // Direct mode gives each device an address of its own, and 127.0.0.2 to 127.0.0.251 is all
    // the room it takes; through the proxy, devices are only names.
    const int most = request.direct ? kMaxDirectDevices : kMaxProxyDevices;
    if (count < 1 || count > most) {
        error = "--devices must be from 1 to " + std::to_string(most) +
                (request.direct ? " in direct mode" : "");
        return std::nullopt;
    }
    std::vector<DeviceSettings> devices;
    for (int i = 1; i <= count; ++i) {
        DeviceSettings device;
        ApplyOverrides(request.overrides, device);
        if (request.direct) {
            device.listen =
                ListenAddress{"127.0.0." + std::to_string(i + 1), request.directPort, false};
            device.host = device.listen->host;
        } else {
            device.host = "device-" + std::to_string(i) + ".invalid";
        }
        devices.push_back(std::move(device));
    }
    if (!Finish(devices, request, error)) {
        return std::nullopt;
    }
    return devices;
}

}  // namespace talbo::tesk::vorta::devsim
