#include "simulator/CSimulatedDevice.h"

#include <charconv>

#include "simulator/XmlIndent.h"

namespace talbo::tesk::vorta::devsim {
namespace {

std::optional<int> NumberOf(std::string_view text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Statuses in which the device takes part in an update; any other keeps it busy.
bool IsBusyStatus(std::string_view status) {
    return status != "Idle" && status != "SelfUpdating" && status != "Broken";
}

bool IsChangeModeStep(StepKind kind) {
    return kind == StepKind::EnterUpdateMode || kind == StepKind::ReChangeMode;
}

RequestKind KindOf(RequestType type) {
    switch (type) {
        case RequestType::GetInformation:
            return RequestKind::GetInformation;
        case RequestType::ChangeMode:
            return RequestKind::ChangeMode;
        case RequestType::Update:
            return RequestKind::Update;
    }
    return RequestKind::Unknown;
}

}  // namespace

std::string_view PartSourceName(PartIdentity::Source source) {
    switch (source) {
        case PartIdentity::Source::None:
            return "none";
        case PartIdentity::Source::Digest:
            return "digest";
        case PartIdentity::Source::Sequence:
            return "sequence";
        case PartIdentity::Source::Unknown:
            return "unknown";
    }
    return "";
}

CSimulatedDevice::CSimulatedDevice(DeviceSettings settings, std::shared_ptr<const CUpdatePlan> plan)
    : settings_(std::move(settings)),
      plan_(std::move(plan)),
      authenticator_(settings_.auth, "device@" + settings_.host),
      faults_(settings_.faults),
      firmware_(settings_.firmware),
      status_(settings_.status),
      appName_(settings_.appName) {
    nextPart_ = plan_->FirstNumber();
    if (status_ == "SelfUpdating") {
        // Updating itself and waiting for its parts: the update starts again from the top.
        updateMode_ = true;
        status_ = "Idle";
    } else if (status_ == "Broken") {
        status_ = "Idle";
        announcedVersion_ = settings_.updateVersion;
        EnterBrokenState(settings_.progress);
    }
}

void CSimulatedDevice::EnterBrokenState(const std::optional<std::string>& progress) {
    updateMode_ = true;
    broken_ = true;
    brokenProgress_ = progress;
    nextBlock_ = 0;
    if (progress) {
        if (auto number = NumberOf(*progress); number && plan_->IndexOfNumber(*number)) {
            nextPart_ = *number;
        }
    }
    KeepModeOnlyAtRestartStep();
}

// An interrupted update keeps the changed mode only when it stopped at the part after which the
// device restarts anyway; anywhere else the mode has to be changed again before more parts,
// which is where the client takes such an update up.
void CSimulatedDevice::KeepModeOnlyAtRestartStep() {
    auto index = plan_->IndexOfNumber(nextPart_);
    modeChanged_ = index && plan_->Steps()[*index].kind == StepKind::UploadAndRestart;
}

bool CSimulatedDevice::IsDown() {
    std::lock_guard lock(mutex_);
    if (!down_) {
        return false;
    }
    if (downForEver_ || Clock::now() < upAt_) {
        return true;
    }
    ComeBack();
    return false;
}

void CSimulatedDevice::ComeBack() {
    down_ = false;
    if (!comebackArmed_) {
        return;
    }
    Fault fault = *comebackArmed_;
    comebackArmed_.reset();
    if (fault.text == "Broken") {
        EnterBrokenState(fault.progress.empty() ? std::nullopt : std::optional(fault.progress));
    } else if (IsBusyStatus(fault.text)) {
        status_ = fault.text;
        appName_ = fault.appName;
    } else {
        reportOverride_ = StatusReport{fault.text, {}, {}, {}, false};
    }
}

void CSimulatedDevice::BeginRestart(DeviceAnswer& answer) {
    down_ = true;
    modeChanged_ = false;
    if (noComebackArmed_) {
        noComebackArmed_ = false;
        downForEver_ = true;
        answer.restartMs = -1;
        return;
    }
    upAt_ = Clock::now() + std::chrono::milliseconds(settings_.restartMs);
    answer.restartMs = settings_.restartMs;
}

PartIdentity CSimulatedDevice::Identify(RequestType type, std::string_view digest,
                                        std::optional<std::uint64_t> fileSize) {
    std::lock_guard lock(mutex_);
    PartIdentity part;
    if (type == RequestType::GetInformation) {
        return part;
    }
    const auto& steps = plan_->Steps();
    if (plan_->KnowsDigests()) {
        part.location = plan_->FindDigest(digest);
        part.source = part.location ? PartIdentity::Source::Digest : PartIdentity::Source::Unknown;
    } else if (type == RequestType::ChangeMode) {
        part.source = PartIdentity::Source::Sequence;
        part.location = GuessChangeModePart(digest, fileSize);
    } else if (auto index = plan_->IndexOfNumber(nextPart_);
               index && nextBlock_ < steps[*index].blocks.size()) {
        // Without the image the device takes the file for the part its sequence expects.
        part.source = PartIdentity::Source::Sequence;
        part.location = PartLocation{*index, nextBlock_};
    } else {
        part.source = PartIdentity::Source::Sequence;
    }
    if (part.location) {
        const auto& step = steps[part.location->step];
        part.name = step.blocks[part.location->block].name;
        part.number = step.number;
    }
    return part;
}

// Without the image a change-mode file is told apart by its size when that is decisive (the
// backup part and the re-change part differ in size in the carried layout), else by where the
// device stands: out of update mode, or before its first change, it is the backup part.
std::optional<PartLocation> CSimulatedDevice::GuessChangeModePart(
    std::string_view digest, std::optional<std::uint64_t> fileSize) const {
    const auto& steps = plan_->Steps();
    std::optional<std::size_t> backup;
    std::optional<std::size_t> rechange = ReChangeStepFor(nextPart_);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].kind == StepKind::EnterUpdateMode && !backup)
            backup = i;
        if (steps[i].kind == StepKind::ReChangeMode && !rechange)
            rechange = i;
    }
    if (!backup || !rechange) {
        auto only = backup ? backup : rechange;
        return only ? std::optional(PartLocation{*only, 0}) : std::nullopt;
    }
    std::uint64_t backupSize = steps[*backup].blocks.front().size;
    std::uint64_t rechangeSize = steps[*rechange].blocks.front().size;
    if (fileSize && backupSize != rechangeSize) {
        if (*fileSize == backupSize)
            return PartLocation{*backup, 0};
        if (*fileSize == rechangeSize)
            return PartLocation{*rechange, 0};
    }
    bool isBackup = !updateMode_ || digest == backupDigest_ || nextPart_ <= steps[*backup].number;
    return PartLocation{isBackup ? *backup : *rechange, 0};
}

std::vector<Fault> CSimulatedDevice::FireFaults(RequestKind kind, const PartIdentity& part) {
    std::lock_guard lock(mutex_);
    auto fired = faults_.Fire(kind, part.name, part.number);
    for (const auto& fault : fired) {
        if (fault.action == FaultAction::NoComeback) {
            noComebackArmed_ = true;
        } else if (fault.action == FaultAction::ComebackStatus) {
            comebackArmed_ = fault;
        } else if (fault.action == FaultAction::KeepFirmware) {
            keepFirmwareArmed_ = true;
        }
    }
    return fired;
}

StatusReport CSimulatedDevice::CurrentStatus() {
    std::lock_guard lock(mutex_);
    return CurrentStatusLocked();
}

StatusReport CSimulatedDevice::CurrentStatusLocked() const {
    if (reportOverride_) {
        return *reportOverride_;
    }
    if (IsBusyStatus(status_)) {
        return StatusReport{status_, appName_, {}, {}, false};
    }
    if (updateMode_) {
        if (broken_) {
            StatusReport report{"Broken", {}, {}, announcedVersion_, false};
            if (brokenProgress_) {
                report.progress = *brokenProgress_;
                report.withProgress = true;
            }
            return report;
        }
        return StatusReport{"SelfUpdating", {}, {}, {}, false};
    }
    return StatusReport{status_, appName_, {}, {}, false};
}

void CSimulatedDevice::MarkBroken() {
    if (updateMode_) {
        broken_ = true;
        brokenProgress_ = std::to_string(nextPart_);
        nextBlock_ = 0;
        KeepModeOnlyAtRestartStep();
    }
}

void CSimulatedDevice::NoteInterruptedTransfer(RequestKind kind) {
    if (kind == RequestKind::ChangeMode || kind == RequestKind::Update ||
        kind == RequestKind::Unknown) {
        std::lock_guard lock(mutex_);
        MarkBroken();
    }
}

DeviceAnswer CSimulatedDevice::Refuse(RequestKind kind, std::string reason, std::string note,
                                      std::string appName) {
    // A refused part interrupts an update under way: the device then reports it unfinished.
    if (kind != RequestKind::GetInformation && kind != RequestKind::Priming) {
        MarkBroken();
    }
    DeviceAnswer answer;
    answer.body = RefusalResponse(reason, appName);
    answer.outcome = "refused";
    answer.reason = std::move(reason);
    answer.note = std::move(note);
    return answer;
}

DeviceAnswer CSimulatedDevice::Accept(std::string note) {
    DeviceAnswer answer;
    answer.body = AcceptedResponse();
    answer.outcome = "accepted";
    answer.note = std::move(note);
    broken_ = false;
    brokenProgress_.reset();
    reportOverride_.reset();
    return answer;
}

std::optional<DeviceAnswer> CSimulatedDevice::AnswerFromFaults(RequestKind kind,
                                                               const std::vector<Fault>& faults) {
    for (const auto& fault : faults) {
        if (fault.action == FaultAction::Status) {
            DeviceAnswer answer;
            answer.httpStatus = fault.code;
            answer.challenge = fault.code == 401;
            answer.outcome = "status";
            answer.note = "fault: " + fault.Describe();
            return answer;
        }
    }
    for (const auto& fault : faults) {
        if (fault.action == FaultAction::Busy && kind == RequestKind::GetInformation) {
            DeviceAnswer answer;
            answer.body =
                InformationResponse(settings_.model, firmware_,
                                    StatusReport{"AnotherApp", fault.appName, {}, {}, false});
            answer.outcome = "information";
            answer.reason = "AnotherApp";
            answer.note = "fault: " + fault.Describe();
            return answer;
        }
        if (fault.action == FaultAction::Busy) {
            return Refuse(kind, "AnotherApp", "fault: " + fault.Describe(), fault.appName);
        }
        if (fault.action == FaultAction::Refuse) {
            return Refuse(kind, fault.text, "fault: " + fault.Describe(),
                          fault.text == "AnotherApp" ? fault.appName : std::string());
        }
    }
    return std::nullopt;
}

void CSimulatedDevice::FinishBody(DeviceAnswer& answer, const std::vector<Fault>& faults) const {
    if (answer.httpStatus != 200) {
        return;
    }
    if (settings_.pretty) {
        answer.body = IndentXml(answer.body);
    }
    for (const auto& fault : faults) {
        switch (fault.action) {
            case FaultAction::MalformedXml:
                answer.body = MalformedXmlResponse();
                break;
            case FaultAction::SchemaInvalid:
                answer.body = SchemaInvalidResponse();
                break;
            case FaultAction::NonUtf8:
                answer.body = NonUtf8Response();
                break;
            case FaultAction::Oversized:
                answer.body = OversizedResponse(fault.bytes);
                break;
            case FaultAction::Body:
                answer.body = fault.text;
                break;
            default:
                continue;
        }
        answer.faults.push_back(fault.Describe());
    }
}

DeviceAnswer CSimulatedDevice::HandlePriming(const std::vector<Fault>& faults) {
    std::lock_guard lock(mutex_);
    auto answer = AnswerFromFaults(RequestKind::Priming, faults);
    if (!answer) {
        // An empty request asks for nothing; the client discards whatever comes back.
        answer = DeviceAnswer{};
        answer->body = RefusalResponse("OtherError");
        answer->outcome = "refused";
        answer->reason = "OtherError";
        answer->note = "empty request (credentials settled)";
    }
    FinishBody(*answer, faults);
    return *answer;
}

DeviceAnswer CSimulatedDevice::HandleMalformed(RequestKind kind, std::string reason,
                                               std::string note, const std::vector<Fault>& faults) {
    std::lock_guard lock(mutex_);
    auto answer = AnswerFromFaults(kind, faults);
    if (!answer) {
        answer = Refuse(kind, std::move(reason), std::move(note));
    }
    FinishBody(*answer, faults);
    return *answer;
}

DeviceAnswer CSimulatedDevice::Handle(const RequestDocument& document, const PartIdentity& part,
                                      const FileCheck& file, const std::vector<Fault>& faults) {
    std::lock_guard lock(mutex_);
    RequestKind kind = KindOf(document.type);
    auto answer = AnswerFromFaults(kind, faults);
    if (!answer) {
        if (document.type == RequestType::GetInformation) {
            answer = DeviceAnswer{};
            StatusReport status = CurrentStatusLocked();
            answer->body = InformationResponse(settings_.model, firmware_, status);
            answer->outcome = "information";
            answer->reason = status.text;
            if (status.withProgress) {
                answer->note = "unfinished update, progress " + status.progress;
            }
        } else if (IsBusyStatus(status_)) {
            if (status_ == "AnotherUpdating") {
                answer = Refuse(kind, "AnotherUpdating", "another client is updating the device");
            } else if (status_ == "AnotherApp") {
                answer = Refuse(kind, "AnotherApp",
                                "application " + appName_ + " keeps the device busy", appName_);
            } else {
                answer =
                    Refuse(kind, "OtherError", "device status " + status_ + " allows no update");
            }
        } else if (!file.ok) {
            answer = Refuse(kind, "InvalidFile", file.problem);
        } else if (part.source == PartIdentity::Source::Unknown) {
            answer = Refuse(kind, "NotCorrespond",
                            "no block of the update image has the digest " + document.fileDigest);
        } else if (document.type == RequestType::ChangeMode) {
            answer = HandleChangeMode(document, part);
        } else {
            answer = HandleUpdate(document, part);
        }
    }
    FinishBody(*answer, faults);
    return *answer;
}

std::optional<std::size_t> CSimulatedDevice::StepAfter(int number) const {
    const auto& steps = plan_->Steps();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].number > number) {
            return i;
        }
    }
    return std::nullopt;
}

// The change-mode step that a ReChangeMode request re-enters: the last one at or before the
// first unfinished part.
std::optional<std::size_t> CSimulatedDevice::ReChangeStepFor(int nextPart) const {
    std::optional<std::size_t> found;
    const auto& steps = plan_->Steps();
    for (std::size_t i = 0; i < steps.size() && steps[i].number <= nextPart; ++i) {
        if (steps[i].kind == StepKind::ReChangeMode) {
            found = i;
        }
    }
    return found;
}

std::string CSimulatedDevice::PartText(const PartLocation& location) const {
    const auto& step = plan_->Steps()[location.step];
    return "part " + std::to_string(step.number) + " (" + step.blocks[location.block].name + ")";
}

DeviceAnswer CSimulatedDevice::HandleChangeMode(const RequestDocument& document,
                                                const PartIdentity& part) {
    const RequestKind kind = RequestKind::ChangeMode;
    if (!part.location) {
        return Refuse(kind, "OtherError", "the update plan has no change-mode part");
    }
    const auto& steps = plan_->Steps();
    const PlanStep& step = steps[part.location->step];
    if (step.kind == StepKind::EnterUpdateMode) {
        updateMode_ = true;
        announcedVersion_ = document.afterVersion;
        backupDigest_ = document.fileDigest;
        auto after = StepAfter(step.number);
        nextPart_ = after ? steps[*after].number : step.number + 1;
        nextBlock_ = 0;
        DeviceAnswer answer = Accept("settings backed up, update mode entered; restarting");
        BeginRestart(answer);
        return answer;
    }
    if (step.kind != StepKind::ReChangeMode) {
        return Refuse(
            kind, "OtherError",
            "ChangeMode carries " + PartText(*part.location) + ", not a change-mode part");
    }
    if (!updateMode_) {
        return Refuse(kind, "OtherError",
                      "ReChangeMode while not in update mode (BackupSettingValue first)");
    }
    if (!announcedVersion_.empty() && document.afterVersion != announcedVersion_) {
        return Refuse(kind, "VersionNotSame",
                      "after-version " + document.afterVersion + " differs from " +
                          announcedVersion_ + " of the update under way");
    }
    auto entered = ReChangeStepFor(nextPart_);
    if (!entered) {
        return Refuse(kind, "OtherError", "ReChangeMode before the update mode was entered");
    }
    auto after = StepAfter(steps[*entered].number);
    if (!after) {
        return Refuse(kind, "OtherError", "no part follows ReChangeMode in the update plan");
    }
    if (announcedVersion_.empty()) {
        announcedVersion_ = document.afterVersion;
    }
    nextPart_ = steps[*after].number;
    nextBlock_ = 0;
    modeChanged_ = true;
    return Accept("mode changed; expecting part " + std::to_string(nextPart_));
}

DeviceAnswer CSimulatedDevice::HandleUpdate(const RequestDocument& document,
                                            const PartIdentity& part) {
    const RequestKind kind = RequestKind::Update;
    if (!updateMode_) {
        return Refuse(kind, "ModeNotChanged",
                      "Update before ChangeMode: the device is not in update mode");
    }
    if (!modeChanged_) {
        return Refuse(kind, "ModeNotChanged", "Update after a restart without ReChangeMode");
    }
    if (!announcedVersion_.empty() && document.afterVersion != announcedVersion_) {
        return Refuse(kind, "VersionNotSame",
                      "after-version " + document.afterVersion + " differs from " +
                          announcedVersion_ + " of the update under way");
    }
    const auto& steps = plan_->Steps();
    auto index = plan_->IndexOfNumber(nextPart_);
    if (!index) {
        return Refuse(kind, "OtherError", "no part is expected any more");
    }
    const PlanStep& step = steps[*index];
    if (IsChangeModeStep(step.kind)) {
        return Refuse(
            kind, "ModeNotChanged",
            "part " + std::to_string(step.number) + " is a change-mode step, not an upload");
    }
    PartLocation expected{*index, nextBlock_};
    if (!part.location || part.location->step != expected.step ||
        part.location->block != expected.block) {
        return Refuse(
            kind, "OtherError",
            "expected " + PartText(expected) + ", got " +
                (part.location ? PartText(*part.location) : std::string("no known part")));
    }
    if (announcedVersion_.empty()) {
        announcedVersion_ = document.afterVersion;
    }
    ++nextBlock_;
    if (nextBlock_ < step.blocks.size()) {
        return Accept(PartText(expected) + " written");
    }
    nextBlock_ = 0;
    auto after = StepAfter(step.number);
    std::string note = PartText(expected) + " written";
    bool complete = !after;
    if (complete) {
        if (keepFirmwareArmed_) {
            // The device took every part and says so, yet still runs what it ran before.
            keepFirmwareArmed_ = false;
            note += "; update complete, old firmware " + firmware_ + " kept (fault)";
        } else {
            firmware_ = announcedVersion_;
            note += "; update complete, firmware " + firmware_;
        }
        updateMode_ = false;
        modeChanged_ = false;
        status_ = "Idle";
        nextPart_ = plan_->FirstNumber();
    } else {
        nextPart_ = steps[*after].number;
    }
    DeviceAnswer answer = Accept(note);
    if (step.kind == StepKind::UploadAndRestart) {
        answer.note += "; restarting";
        BeginRestart(answer);
    }
    return answer;
}

DeviceSnapshot CSimulatedDevice::Snapshot() {
    std::lock_guard lock(mutex_);
    DeviceSnapshot snapshot;
    snapshot.host = settings_.host;
    snapshot.firmware = firmware_;
    snapshot.status = CurrentStatusLocked().text;
    snapshot.updateMode = updateMode_;
    snapshot.nextPart = nextPart_;
    snapshot.modeChanged = modeChanged_;
    snapshot.down = down_ && (downForEver_ || Clock::now() < upAt_);
    return snapshot;
}

}  // namespace talbo::tesk::vorta::devsim
