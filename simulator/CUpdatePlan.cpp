#include "simulator/CUpdatePlan.h"

#include <algorithm>
#include <fstream>

#include "common/IniDocument.h"
#include "common/StandInImageLayout.h"
#include "common/Utf8.h"
#include "simulator/CMd5Stream.h"

namespace talbo::tesk::vorta::devsim {
namespace {

constexpr std::string_view kBlockMarker = "OKRIM TALBO TalboNet Data";

std::optional<long long> Decimal(const std::optional<std::wstring>& text) {
    if (!text || text->empty() || text->size() > 12) {
        return std::nullopt;
    }
    long long value = 0;
    for (wchar_t c : *text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + (c - L'0');
    }
    return value;
}

}  // namespace

StepKind KindOfStep(std::string_view name) {
    if (name == "BackupSettingValue")
        return StepKind::EnterUpdateMode;
    if (name == "ReChangeMode")
        return StepKind::ReChangeMode;
    if (name == "Reboot")
        return StepKind::UploadAndRestart;
    return StepKind::Upload;
}

CUpdatePlan CUpdatePlan::CarriedLayout() {
    CUpdatePlan plan;
    for (const common::StandInStep& step : common::kStandInSteps) {
        plan.steps_.push_back(
            {step.number, step.name, KindOfStep(step.name), {{step.name, step.size, {}}}});
    }
    return plan;
}

std::optional<CUpdatePlan> CUpdatePlan::FromImageFile(const std::filesystem::path& path,
                                                      std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open the image " + path.string();
        return std::nullopt;
    }
    std::string header;
    if (!std::getline(file, header, '\xFF') || file.eof()) {
        error = "the image has no 0xFF byte after its header";
        return std::nullopt;
    }
    if (header.rfind("RCX\r\nOKRIM TALBO TalboNet Form\r\n", 0) != 0) {
        error = "the image does not start with the lines RCX and OKRIM TALBO TalboNet Form";
        return std::nullopt;
    }
    auto ini = common::IniDocument::Parse(common::BytesToWide(header));
    CUpdatePlan plan;
    plan.knowsDigests_ = true;
    auto version = ini.Get(L"E", L"7");
    if (!version || version->empty()) {
        error = "the image header has no version (E, 7)";
        return std::nullopt;
    }
    plan.afterVersion_ = common::AsciiToNarrow(*version);
    for (int n = 1;; ++n) {
        std::wstring key = L"7." + std::to_wstring(n);
        auto name = ini.Get(L"E", key);
        if (!name || name->empty()) {
            break;
        }
        auto number = Decimal(ini.Get(L"E", key + L".0"));
        if (!number || *number == 0) {
            error = "step " + std::to_string(n) + " has no number";
            return std::nullopt;
        }
        PlanStep step{static_cast<int>(*number),
                      common::AsciiToNarrow(*name),
                      KindOfStep(common::AsciiToNarrow(*name)),
                      {}};
        for (int m = 1;; ++m) {
            auto size = Decimal(ini.Get(L"E", key + L"." + std::to_wstring(m)));
            if (!size || *size == 0) {
                break;
            }
            std::string blockName = step.name + (m == 1 ? std::string() : std::to_string(m - 1));
            step.blocks.push_back({blockName, static_cast<std::uint64_t>(*size), {}});
        }
        if (step.blocks.empty()) {
            error = "step " + std::to_string(n) + " has no block size";
            return std::nullopt;
        }
        plan.steps_.push_back(std::move(step));
    }
    if (plan.steps_.empty()) {
        error = "the image header names no step";
        return std::nullopt;
    }
    // Blocks follow in header order; the plan is then sorted by step number.
    std::vector<char> buffer(1 << 20);
    for (auto& step : plan.steps_) {
        for (auto& block : step.blocks) {
            CMd5Stream md5;
            std::uint64_t left = block.size;
            while (left > 0) {
                auto want =
                    static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size()));
                if (!file.read(buffer.data(), want)) {
                    error = "the image ends inside block " + block.name;
                    return std::nullopt;
                }
                md5.Update(std::string_view(buffer.data(), static_cast<std::size_t>(want)));
                left -= static_cast<std::uint64_t>(want);
            }
            char marker[kBlockMarker.size()];
            if (!file.read(marker, sizeof marker) ||
                std::string_view(marker, sizeof marker) != kBlockMarker) {
                error = "the block marker after " + block.name + " is missing";
                return std::nullopt;
            }
            block.digest = md5.FinishHex();
        }
    }
    std::stable_sort(plan.steps_.begin(), plan.steps_.end(),
                     [](const PlanStep& a, const PlanStep& b) { return a.number < b.number; });
    return plan;
}

std::optional<std::size_t> CUpdatePlan::IndexOfNumber(int number) const {
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        if (steps_[i].number == number) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<PartLocation> CUpdatePlan::FindDigest(std::string_view digest) const {
    if (!knowsDigests_ || digest.empty()) {
        return std::nullopt;
    }
    for (std::size_t s = 0; s < steps_.size(); ++s) {
        for (std::size_t b = 0; b < steps_[s].blocks.size(); ++b) {
            if (steps_[s].blocks[b].digest == digest) {
                return PartLocation{s, b};
            }
        }
    }
    return std::nullopt;
}

}  // namespace talbo::tesk::vorta::devsim
