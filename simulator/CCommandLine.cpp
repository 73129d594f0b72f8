#include "simulator/CCommandLine.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <functional>
#include <map>

namespace talbo::tesk::vorta::devsim {
namespace {

std::optional<int> Integer(const std::string& text, int low, int high) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<SimulatorOptions> ParseCommandLine(const std::vector<std::string>& arguments,
                                                 std::string& error) {
    SimulatorOptions options;
    auto& fleet = options.fleet;
    auto& overrides = fleet.overrides;
    std::optional<std::string> listen;
    using Handler = std::function<bool(const std::string&)>;
    auto text = [](std::optional<std::string>& slot) {
        return Handler([&slot](const std::string& value) {
            slot = value;
            return true;
        });
    };
    auto number = [&error](const char* name, int low, int high, auto store) {
        return Handler([=, &error](const std::string& value) {
            auto parsed = Integer(value, low, high);
            if (!parsed) {
                error = std::string(name) + " needs a number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not \"" + value + "\"";
                return false;
            }
            store(*parsed);
            return true;
        });
    };
    std::map<std::string, Handler> withValue = {
        {"--listen", text(listen)},
        {"--devices",
         number("--devices", 1, kMaxProxyDevices, [&](int n) { fleet.generatedDevices = n; })},
        {"--fleet",
         [&](const std::string& value) {
             fleet.fleetFile = value;
             return true;
         }},
        {"--image", text(options.imagePath)},
        {"--model", text(overrides.model)},
        {"--firmware", text(overrides.firmware)},
        {"--status", text(overrides.status)},
        {"--app-name", text(overrides.appName)},
        {"--progress", text(overrides.progress)},
        {"--auth",
         [&](const std::string& value) {
             overrides.auth = ParseAuthScheme(value);
             if (!overrides.auth) {
                 error = "--auth must be digest, basic or none, not \"" + value + "\"";
             }
             return overrides.auth.has_value();
         }},
        {"--restart-ms",
         number("--restart-ms", 0, 86400000, [&](int n) { overrides.restartMs = n; })},
        {"--device-port", number("--device-port", 0, 65535, [&](int n) { fleet.directPort = n; })},
        {"--log",
         [&](const std::string& value) {
             options.logPath = value;
             return true;
         }},
        {"--port-file", text(options.portFile)},
        {"--replay",
         [&](const std::string& value) {
             fleet.replayFile = value;
             return true;
         }},
        {"--replay-job", number("--replay-job", 1, 1000000, [&](int n) { fleet.replayJob = n; })},
        {"--fault",
         [&](const std::string& value) {
             std::size_t equals = value.find('=');
             if (equals == std::string::npos || equals == 0) {
                 error =
                     "--fault needs HOST=JSON, for example "
                     "'*={\"on\":\"Update\",\"action\":\"drop\"}'";
                 return false;
             }
             nlohmann::json json;
             try {
                 json = nlohmann::json::parse(value.substr(equals + 1));
             } catch (const nlohmann::json::exception& e) {
                 error = std::string("--fault holds no valid JSON: ") + e.what();
                 return false;
             }
             auto fault = FaultFromJson(json, error);
             if (!fault) {
                 error = "--fault: " + error;
                 return false;
             }
             fleet.extraFaults.emplace_back(value.substr(0, equals), *fault);
             return true;
         }},
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--version") {
            options.version = true;
            continue;
        }
        if (argument == "--direct") {
            fleet.direct = true;
            continue;
        }
        if (argument == "--pretty") {
            overrides.pretty = true;
            continue;
        }
        std::optional<std::string> inlineValue;
        if (std::size_t equals = argument.find('=');
            argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
        }
        auto handler = withValue.find(argument);
        if (handler == withValue.end()) {
            error = "unknown option \"" + argument + "\" (see --help)";
            return std::nullopt;
        }
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            error = argument + " needs a value";
            return std::nullopt;
        }
        if (!handler->second(value)) {
            return std::nullopt;
        }
    }
    if (listen) {
        if (fleet.direct) {
            error =
                "--listen belongs to proxy mode; in direct mode each device has its own address";
            return std::nullopt;
        }
        auto address = ParseListenAddress(*listen, std::nullopt, error);
        if (!address) {
            error = "--listen: " + error;
            return std::nullopt;
        }
        options.listen = *address;
    }
    return options;
}

const char* HelpText() {
    return R"(Usage: vorta-devsim [options]

Plays a fleet of Vorta devices over HTTP on this machine's loopback interface, so that the
firmware update tool can be run, demonstrated and tested without hardware. Each device answers
POST /firmware-update/firmware-update like a device: it demands the credentials client /
Tz8wq3-k on every request (Digest by default), reads the multipart body as it arrives (the file
part is digested on the fly, never kept), checks it strictly and answers GetInformation,
ChangeMode and Update with response documents of the utility namespace.

Modes
  proxy (default)   One loopback port; clients use it as their HTTP proxy
                    (http_proxy=http://127.0.0.1:8080) and address devices by host name. A
                    request whose absolute URI (or Host header) names no device is answered
                    502, as a proxy answers for a dead host; nothing is ever forwarded.
  --direct          Every device listens on its own loopback address and port. Generated
                    devices are 127.0.0.2, 127.0.0.3, ... on --device-port (port 80 needs root).

Options
  --listen ADDR:PORT  proxy address (default 127.0.0.1:8080; [::1]:PORT for IPv6; port 0
                      takes a free port, see --port-file). Loopback addresses only.
  --devices N         N generated devices device-1.invalid ... device-N.invalid (default 3;
                      up to 10000 through the proxy, 250 in direct mode)
  --fleet FILE        the devices of a fleet file (below) instead of --devices
  --replay TRACE      one device that answers as the update tool's trace of it recorded
                      (below) instead of --devices; its host name is the trace's
  --replay-job N      replay only the Nth job of the trace (default: every job, in order)
  --image FILE        the update image the devices expect: every uploaded file is recognised
                      by its MD5. Without it a device knows the step layout of the carried
                      image and takes each upload for the part it expects next.
  --model TEXT        model name (default QX-Vorta-1000)
  --firmware TEXT     firmware version (default Ver.3.00TC)
  --status TEXT       Idle (default), SelfUpdating, Broken, AnotherUpdating, AnotherApp, or any
                      other text (reported as it is; such a device refuses updates)
  --app-name TEXT     application of status AnotherApp: Print, WebConfig, WebContents,
                      WebContentsUpdater, Utility, StatusPrint, Initialization,
                      ServerDirectPrint, StatusNotification, HIDNotification
  --progress N        status Broken: the first part not done (reported as update-not-complete)
  --auth SCHEME       digest (default), basic or none
  --restart-ms N      how long a restarting device is gone (default 5000)
  --pretty            indent the answers: one element a line, in mixed content the text on a
                      line of its own before the child elements
  --fault HOST=JSON   add a fault (below) to the device HOST, or to every device with *
  --device-port N     direct mode: port of generated devices and fleet devices without one
                      (default 80)
  --log FILE          event log as JSON lines, appended (default -, standard output)
  --port-file FILE    once listening, write the bound port (proxy mode) or one line
                      "host address:port" per device (direct mode); written atomically
  --help, --version
  Flags for device fields apply to every device, over a fleet file's "defaults" but under a
  device's own fields.

Fleet file (JSON)
  { "defaults": { "restart-ms": 1000 },
    "devices": [
      { "host": "device-1.invalid" },
      { "host": "lab-2.invalid", "firmware": "Ver.3.02TC", "auth": "basic" },
      { "host": "lab-3.invalid", "status": "Broken", "progress": 5,
        "update-version": "Ver.3.01TC" },
      { "host": "lab-4.invalid", "status": "AnotherApp", "app-name": "Print" },
      { "host": "127.0.0.5", "listen": "127.0.0.5:8081",
        "faults": [ { "on": "Update", "part": 3, "action": "drop" } ] } ] }
  Device fields: host, listen (direct mode: loopback ADDR[:PORT]; host defaults to ADDR),
  model, firmware, status, app-name, progress, update-version, auth, restart-ms, pretty
  (true or false), faults.

The update a device follows
  GetInformation answers model, version and status. ChangeMode with "BackupSettingValue"
  enters update mode and restarts the device; ChangeMode with "ReChangeMode" (re)enters the
  mode after a restart; Update takes the parts in order; after "Reboot" the device restarts
  again and needs ReChangeMode; after the last part its version becomes the after-version and
  it reports Idle. While in update mode it reports SelfUpdating, or Broken with
  update-not-complete progress (the first part not done) once a part failed or was cut off.
  Out of order it refuses: ModeNotChanged for an Update outside the changed mode,
  VersionNotSame for another after-version, NotCorrespond for a file the image does not hold,
  InvalidFile for a file part that is missing, malformed or not of its file-digest, OtherError
  for anything else. While restarting it answers nothing: 502 through the proxy, refused
  connections in direct mode.

Faults (JSON objects; in a fleet device's "faults" list or with --fault)
  "on": any (default; every request, the empty priming one included), priming,
        GetInformation, ChangeMode or Update
  "part": a part name or number (ChangeMode, Update); "occurrence": the first matching
  request that shows the fault (default 1); "times": how many do (default 1, 0 = all)
  "action" and its fields:
    status          "code": HTTP status (401 comes with a challenge; with times 0 for ever)
    delay           "ms": wait, then answer normally
    drop            close the connection; "after-bytes" (default half the body) read first
    stall           stop for "ms" (0 or absent: until the simulator stops); with
                    "after-bytes" in the middle of the upload, else before answering
    malformed-xml, schema-invalid, non-utf8, oversized ("bytes", default 1 MiB + 4 KiB),
    body ("text")   the device acts on the request but its answer is damaged
    refuse          success "false" with "reason" (NotCorrespond, AnotherUpdating,
                    VersionNotSame, InvalidFile, OtherError, ModeNotChanged, AnotherApp with
                    "app-name", ModelNameFailed, VersionFailed, StatusFailed, or any text)
    busy            "app-name": GetInformation reports AnotherApp, other requests are refused
    no-comeback     the next restart never ends
    comeback-status after the next restart report "status" (Broken with "progress",
                    AnotherApp with "app-name", Idle, SelfUpdating, AnotherUpdating, ...)
    keep-firmware   the next update that completes accepts every part, then the device
                    reports Idle with its old firmware version

Replaying a trace
  With VORTA_TRACE_DIR=DIR the update tool writes DIR/<host>.jsonl for every device it talks
  to. --replay serves that device through the proxy: each request gets the next recorded
  round trip's HTTP status and answer, in order; where the tool recorded a connection error
  (no answer) the connection is closed without one, and the tool's own resends are dropped
  as recorded. Restart probes are round trips too, so the device is "down" (502) exactly
  where it was. The device still asks for its credentials (--auth applies). A request of
  another kind than the trace holds next, or one after the last, gets 502 and the event log
  says "diverged" or "exhausted". Restart timings are the tool's: shorten them with
  VORTA_REBOOT_FIRST_WAIT_MS and friends, a replay does not depend on them.

Event log
  One JSON object per line. "event":"request" lines (one per request, written before the
  answer leaves) carry time, t_ms, device, method, target, credentials, auth, request
  (priming, GetInformation, ChangeMode, Update, unknown), part, part_number, part_source,
  bytes, boundary, mac, after_version, file_digest, file_bytes, md5, digest_check, error
  (what was wrong with the body), faults, status, answer (information, accepted, refused,
  challenge, status, dropped, down, unknown-host, replayed, diverged, exhausted, ...), reason,
  note, replay_line (the trace line answered), restart_ms. Also
  "listening", "restart", "connection-refused" and, at exit, one "summary" per device.

Stop with SIGINT or SIGTERM; a one-line summary per device goes to standard error.
)";
}

}  // namespace talbo::tesk::vorta::devsim
