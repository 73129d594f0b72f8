#pragma once
// The steps of an update as a device knows them: numbers, names and, when the update image is
// given, the size and MD5 of every block so that each uploaded file can be recognised. Without
// an image the device knows only the step layout of the carried image and takes each upload to
// be the part its sequence expects next.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talbo::tesk::vorta::devsim {

enum class StepKind {
    EnterUpdateMode,  // "BackupSettingValue": change mode, then restart
    ReChangeMode,     // "ReChangeMode": change mode again after a restart
    Upload,           // any other step: uploaded
    UploadAndRestart  // "Reboot": uploaded, then restart
};

StepKind KindOfStep(std::string_view name);

struct PlanBlock {
    std::string name;  // the step name, with 1, 2, ... appended for further blocks
    std::uint64_t size = 0;
    std::string digest;  // empty when the plan was not read from an image
};

struct PlanStep {
    int number = 0;
    std::string name;
    StepKind kind = StepKind::Upload;
    std::vector<PlanBlock> blocks;
};

struct PartLocation {
    std::size_t step = 0;   // index into Steps()
    std::size_t block = 0;  // index into that step's blocks
};

class CUpdatePlan {
public:
    // The eleven steps of the carried image, one block each, without digests.
    static CUpdatePlan CarriedLayout();
    // Reads the header and digests every block of an update image; nullopt with an error text
    // when the file is not a valid image.
    static std::optional<CUpdatePlan> FromImageFile(const std::filesystem::path& path,
                                                    std::string& error);

    const std::vector<PlanStep>& Steps() const { return steps_; }
    bool KnowsDigests() const { return knowsDigests_; }
    const std::string& AfterVersion() const { return afterVersion_; }

    // Index of the step with this number, if any.
    std::optional<std::size_t> IndexOfNumber(int number) const;
    // Where a block of this digest sits; the first such block in image order.
    std::optional<PartLocation> FindDigest(std::string_view digest) const;
    int FirstNumber() const { return steps_.empty() ? 0 : steps_.front().number; }

private:
    std::vector<PlanStep> steps_;  // in ascending number order
    bool knowsDigests_ = false;
    std::string afterVersion_;
};

}  // namespace talbo::tesk::vorta::devsim
