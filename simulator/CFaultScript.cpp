#include "simulator/CFaultScript.h"

#include <nlohmann/json.hpp>

#include <set>

namespace talbo::tesk::vorta::devsim {
namespace {

struct ActionName {
    std::string_view name;
    FaultAction action;
};

constexpr ActionName kActions[] = {
    {"status", FaultAction::Status},
    {"delay", FaultAction::Delay},
    {"drop", FaultAction::Drop},
    {"stall", FaultAction::Stall},
    {"malformed-xml", FaultAction::MalformedXml},
    {"schema-invalid", FaultAction::SchemaInvalid},
    {"non-utf8", FaultAction::NonUtf8},
    {"oversized", FaultAction::Oversized},
    {"body", FaultAction::Body},
    {"refuse", FaultAction::Refuse},
    {"busy", FaultAction::Busy},
    {"no-comeback", FaultAction::NoComeback},
    {"comeback-status", FaultAction::ComebackStatus},
    {"keep-firmware", FaultAction::KeepFirmware},
};

std::string_view NameOf(FaultAction action) {
    for (auto& entry : kActions) {
        if (entry.action == action) {
            return entry.name;
        }
    }
    return "";
}

bool ReadInt(const nlohmann::json& object, const char* key, long long low, long long high,
             long long& out, std::string& error) {
    auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    if (!it->is_number_integer() || it->get<long long>() < low || it->get<long long>() > high) {
        error = std::string("fault field \"") + key + "\" must be an integer from " +
                std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    out = it->get<long long>();
    return true;
}

bool ReadText(const nlohmann::json& object, const char* key, std::string& out, std::string& error) {
    auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    if (it->is_string()) {
        out = it->get<std::string>();
    } else if (it->is_number_integer()) {
        out = std::to_string(it->get<long long>());
    } else {
        error = std::string("fault field \"") + key + "\" must be a text";
        return false;
    }
    return true;
}

}  // namespace

std::string_view RequestKindName(RequestKind kind) {
    switch (kind) {
        case RequestKind::Priming:
            return "priming";
        case RequestKind::GetInformation:
            return "GetInformation";
        case RequestKind::ChangeMode:
            return "ChangeMode";
        case RequestKind::Update:
            return "Update";
        case RequestKind::Unknown:
            return "unknown";
    }
    return "";
}

std::string Fault::Describe() const {
    std::string text(NameOf(action));
    switch (action) {
        case FaultAction::Status:
            text += " " + std::to_string(code);
            break;
        case FaultAction::Delay:
        case FaultAction::Stall:
            text += " " + (ms == 0 ? std::string("until stopped") : std::to_string(ms) + " ms");
            break;
        case FaultAction::Refuse:
            text += " " + this->text;
            break;
        case FaultAction::Busy:
            text += " " + appName;
            break;
        case FaultAction::ComebackStatus:
            text += " " + this->text;
            break;
        default:
            break;
    }
    return text;
}

std::optional<Fault> FaultFromJson(const nlohmann::json& value, std::string& error) {
    if (!value.is_object()) {
        error = "a fault must be a JSON object";
        return std::nullopt;
    }
    static const std::set<std::string> kKnown = {
        "on",          "part",  "occurrence", "times",  "action",   "code",   "ms",
        "after-bytes", "bytes", "text",       "reason", "app-name", "status", "progress"};
    for (auto& [key, unused] : value.items()) {
        if (!kKnown.count(key)) {
            error = "unknown fault field \"" + key + "\"";
            return std::nullopt;
        }
    }
    Fault fault;
    std::string on = "any";
    if (!ReadText(value, "on", on, error)) {
        return std::nullopt;
    }
    if (on == "priming") {
        fault.on = RequestKind::Priming;
    } else if (on == "GetInformation") {
        fault.on = RequestKind::GetInformation;
    } else if (on == "ChangeMode") {
        fault.on = RequestKind::ChangeMode;
    } else if (on == "Update") {
        fault.on = RequestKind::Update;
    } else if (on != "any") {
        error = "fault \"on\" must be any, priming, GetInformation, ChangeMode or Update, not \"" +
                on + "\"";
        return std::nullopt;
    }
    std::string action;
    if (!ReadText(value, "action", action, error)) {
        return std::nullopt;
    }
    bool known = false;
    for (auto& entry : kActions) {
        if (entry.name == action) {
            fault.action = entry.action;
            known = true;
        }
    }
    if (!known) {
        error = "unknown fault action \"" + action + "\"";
        return std::nullopt;
    }
    long long occurrence = 1, times = 1, code = 500, ms = 0,
              bytes = static_cast<long long>(fault.bytes);
    long long afterBytes = -1;
    if (!ReadText(value, "part", fault.part, error) ||
        !ReadInt(value, "occurrence", 1, 1000000, occurrence, error) ||
        !ReadInt(value, "times", 0, 1000000, times, error) ||
        !ReadInt(value, "code", 100, 599, code, error) ||
        !ReadInt(value, "ms", 0, 86400000, ms, error) ||
        !ReadInt(value, "after-bytes", 0, 1LL << 40, afterBytes, error) ||
        !ReadInt(value, "bytes", 0, 1LL << 30, bytes, error) ||
        !ReadText(value, "text", fault.text, error) ||
        !ReadText(value, "reason", fault.text, error) ||
        !ReadText(value, "status", fault.text, error) ||
        !ReadText(value, "app-name", fault.appName, error) ||
        !ReadText(value, "progress", fault.progress, error)) {
        return std::nullopt;
    }
    fault.occurrence = static_cast<int>(occurrence);
    fault.times = static_cast<int>(times);
    fault.code = static_cast<int>(code);
    fault.ms = static_cast<int>(ms);
    fault.bytes = static_cast<std::uint64_t>(bytes);
    if (afterBytes >= 0) {
        fault.afterBytes = static_cast<std::uint64_t>(afterBytes);
    }
    if (fault.action == FaultAction::Status && !value.contains("code")) {
        error = "fault action status needs a \"code\"";
        return std::nullopt;
    }
    if ((fault.action == FaultAction::Refuse || fault.action == FaultAction::ComebackStatus) &&
        fault.text.empty()) {
        error = std::string("fault action ") + action + " needs a " +
                (fault.action == FaultAction::Refuse ? "\"reason\"" : "\"status\"");
        return std::nullopt;
    }
    if (fault.action == FaultAction::Busy && fault.appName.empty()) {
        error = "fault action busy needs an \"app-name\"";
        return std::nullopt;
    }
    if (fault.action == FaultAction::Refuse && fault.text == "AnotherApp" &&
        fault.appName.empty()) {
        error = "fault refusal AnotherApp needs an \"app-name\"";
        return std::nullopt;
    }
    return fault;
}

CFaultScript::CFaultScript(std::vector<Fault> faults) {
    for (auto& fault : faults) {
        faults_.push_back({std::move(fault)});
    }
}

std::vector<Fault> CFaultScript::Fire(RequestKind kind, std::string_view partName, int partNumber) {
    std::vector<Fault> fired;
    for (auto& entry : faults_) {
        const Fault& fault = entry.fault;
        if (fault.on && *fault.on != kind) {
            continue;
        }
        if (!fault.part.empty() && fault.part != partName &&
            fault.part != std::to_string(partNumber)) {
            continue;
        }
        ++entry.seen;
        if (entry.seen < fault.occurrence) {
            continue;
        }
        if (fault.times != 0 && entry.fired >= fault.times) {
            continue;
        }
        ++entry.fired;
        fired.push_back(fault);
    }
    return fired;
}

}  // namespace talbo::tesk::vorta::devsim
