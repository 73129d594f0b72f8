#pragma once
// One simulated device: its firmware state, the update it is going through, its restarts and
// the faults it shows. It follows an update the way the client drives it: change mode with
// "BackupSettingValue" and restart; change mode with "ReChangeMode"; the parts in their order;
// restart after "Reboot"; change mode again; the remaining parts; then the new version and
// "Idle". Every decision comes with a note saying why, for the event log.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "simulator/CAuthenticator.h"
#include "simulator/CFaultScript.h"
#include "simulator/CRequestDocumentReader.h"
#include "simulator/CResponseWriter.h"
#include "simulator/CUpdatePlan.h"
#include "simulator/DeviceSettings.h"

namespace talbo::tesk::vorta::devsim {

// Which part of the update an uploaded file is.
struct PartIdentity {
    enum class Source { None, Digest, Sequence, Unknown };
    Source source = Source::None;  // Unknown: a digest that no block of the image has
    std::optional<PartLocation> location;
    std::string name;
    int number = 0;
};

std::string_view PartSourceName(PartIdentity::Source source);

// The outcome of the body checks for the file part.
struct FileCheck {
    bool ok = true;
    std::string problem;  // why the file part is refused ("InvalidFile")
};

struct DeviceAnswer {
    int httpStatus = 200;
    std::string body;
    bool challenge = false;        // a 401 that carries the device's challenge
    std::string outcome;           // "accepted", "information", "refused", "status"
    std::string reason;            // the refusal reason, or the status reported
    std::string note;              // why, in words
    std::optional<int> restartMs;  // this answer starts a restart of that length (-1: for ever)
    std::vector<std::string> faults;
};

struct DeviceSnapshot {
    std::string host;
    std::string firmware;
    std::string status;
    bool updateMode = false;
    int nextPart = 0;
    bool modeChanged = false;
    bool down = false;
};

class CSimulatedDevice {
public:
    CSimulatedDevice(DeviceSettings settings, std::shared_ptr<const CUpdatePlan> plan);

    const DeviceSettings& Settings() const { return settings_; }
    const std::string& Host() const { return settings_.host; }
    // The trace the device answers from, or null for a device that follows the update itself.
    CReplayScript* Replay() const { return settings_.replay.get(); }
    CAuthenticator& Authenticator() { return authenticator_; }

    // True while the device restarts; a device whose down-time has passed comes back here.
    bool IsDown();

    // fileSize: the size of the file part when it is known in advance.
    PartIdentity Identify(RequestType type, std::string_view digest,
                          std::optional<std::uint64_t> fileSize);
    // Counts the request against the fault script and returns the faults that fire; restart
    // faults are armed for the next restart.
    std::vector<Fault> FireFaults(RequestKind kind, const PartIdentity& part);

    DeviceAnswer Handle(const RequestDocument& document, const PartIdentity& part,
                        const FileCheck& file, const std::vector<Fault>& faults);
    DeviceAnswer HandlePriming(const std::vector<Fault>& faults);
    // A body that could not be read as a request: refused with reason and note.
    DeviceAnswer HandleMalformed(RequestKind kind, std::string reason, std::string note,
                                 const std::vector<Fault>& faults);
    // An upload that ended before its answer (dropped or aborted connection).
    void NoteInterruptedTransfer(RequestKind kind);

    DeviceSnapshot Snapshot();
    StatusReport CurrentStatus();  // what a GetInformation would report now

private:
    using Clock = std::chrono::steady_clock;

    StatusReport CurrentStatusLocked() const;
    DeviceAnswer Refuse(RequestKind kind, std::string reason, std::string note,
                        std::string appName = {});
    DeviceAnswer Accept(std::string note);
    DeviceAnswer HandleChangeMode(const RequestDocument& document, const PartIdentity& part);
    DeviceAnswer HandleUpdate(const RequestDocument& document, const PartIdentity& part);
    // Answers that faults replace or damage; nullopt when no fault decides the answer.
    std::optional<DeviceAnswer> AnswerFromFaults(RequestKind kind,
                                                 const std::vector<Fault>& faults);
    // Lays the body out as the device's settings say, then damages it as faults ask.
    void FinishBody(DeviceAnswer& answer, const std::vector<Fault>& faults) const;
    void BeginRestart(DeviceAnswer& answer);
    void ComeBack();
    void MarkBroken();
    void EnterBrokenState(const std::optional<std::string>& progress);
    void KeepModeOnlyAtRestartStep();
    std::optional<PartLocation> GuessChangeModePart(std::string_view digest,
                                                    std::optional<std::uint64_t> fileSize) const;
    std::optional<std::size_t> StepAfter(int number) const;
    std::optional<std::size_t> ReChangeStepFor(int nextPart) const;
    std::string PartText(const PartLocation& location) const;

    DeviceSettings settings_;
    std::shared_ptr<const CUpdatePlan> plan_;
    CAuthenticator authenticator_;

    std::mutex mutex_;
    CFaultScript faults_;
    std::string firmware_;
    std::string status_;  // the status outside an update: Idle or a busy status
    std::string appName_;
    std::optional<StatusReport> reportOverride_;  // what it says after a "comeback-status"
    bool updateMode_ = false;
    int nextPart_ = 0;  // number of the first step not done yet
    std::size_t nextBlock_ = 0;
    bool modeChanged_ = false;
    bool broken_ = false;
    std::optional<std::string> brokenProgress_;
    std::string announcedVersion_;
    std::string backupDigest_;

    bool down_ = false;
    bool downForEver_ = false;
    Clock::time_point upAt_;
    bool noComebackArmed_ = false;
    bool keepFirmwareArmed_ = false;
    std::optional<Fault> comebackArmed_;
};

}  // namespace talbo::tesk::vorta::devsim
