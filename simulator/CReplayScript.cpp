#include "simulator/CReplayScript.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>

namespace talbo::tesk::vorta::devsim {
namespace {

using nlohmann::json;

// A recorded answer is padded back to its recorded length, within reason: more than any client
// reads shows the same as the real thing.
constexpr std::uint64_t kMaxReplayedBody = std::uint64_t{16} << 20;
// A client that resends more often than this is not following any trace.
constexpr int kMaxDropsBefore = 16;

bool IsHostName(std::string_view text) {
    return !text.empty() && text.size() <= 254 && std::all_of(text.begin(), text.end(), [](char c) {
        return c == '.' || c == '-' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
               (c >= 'A' && c <= 'Z');
    });
}

std::optional<RequestKind> KindNamed(std::string_view name) {
    for (RequestKind kind : {RequestKind::Priming, RequestKind::GetInformation,
                             RequestKind::ChangeMode, RequestKind::Update}) {
        if (RequestKindName(kind) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    static const std::array<int, 256> kValues = [] {
        std::array<int, 256> values{};
        values.fill(-1);
        const std::string_view alphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (std::size_t i = 0; i < alphabet.size(); ++i) {
            values[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
        }
        return values;
    }();
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int quad[4];
        int padding = 0;
        for (int j = 0; j < 4; ++j) {
            const char c = text[i + static_cast<std::size_t>(j)];
            if (c == '=' && i + 4 == text.size() && j >= 2) {
                quad[j] = 0;
                ++padding;
                continue;
            }
            quad[j] = padding == 0 ? kValues[static_cast<unsigned char>(c)] : -1;
            if (quad[j] < 0) {
                return std::nullopt;
            }
        }
        const unsigned bits =
            (static_cast<unsigned>(quad[0]) << 18) | (static_cast<unsigned>(quad[1]) << 12) |
            (static_cast<unsigned>(quad[2]) << 6) | static_cast<unsigned>(quad[3]);
        out.push_back(static_cast<char>((bits >> 16) & 0xFF));
        if (padding < 2) {
            out.push_back(static_cast<char>((bits >> 8) & 0xFF));
        }
        if (padding < 1) {
            out.push_back(static_cast<char>(bits & 0xFF));
        }
    }
    return out;
}

// The round trip of one "exchange" line; false with an error text when a field is not as the
// trace writes it.
bool ReadStep(const json& line, ReplayStep& step, std::string& error) {
    const auto request = line.find("request");
    if (request == line.end() || !request->is_string()) {
        error = "an exchange without a \"request\"";
        return false;
    }
    const std::optional<RequestKind> kind = KindNamed(request->get<std::string>());
    if (!kind) {
        error = "unknown request \"" + request->get<std::string>() + "\"";
        return false;
    }
    step.kind = *kind;
    if (const auto part = line.find("part"); part != line.end() && part->is_string()) {
        step.part = part->get<std::string>();
    }
    if (const auto number = line.find("part_number");
        number != line.end() && number->is_number_integer()) {
        step.partNumber = number->get<long long>();
    }
    if (const auto probe = line.find("probe"); probe != line.end() && probe->is_number_integer()) {
        step.probe = static_cast<int>(std::clamp<long long>(probe->get<long long>(), 0, 1000000));
    }
    const auto status = line.find("status");
    if (status == line.end() || !(status->is_null() || status->is_number_integer())) {
        error = "an exchange needs a \"status\" (a number, or null for no answer)";
        return false;
    }
    if (status->is_number_integer()) {
        const long long code = status->get<long long>();
        if (code < 100 || code > 599) {
            error = "HTTP status " + std::to_string(code) + " out of range";
            return false;
        }
        step.status = static_cast<int>(code);
    }
    // Resends beyond the authentication rounds are connections that died under the request.
    int authenticationRounds = 0;
    if (const auto responses = line.find("responses");
        responses != line.end() && responses->is_array()) {
        const std::size_t earlier =
            responses->size() - (step.status && !responses->empty() ? 1 : 0);
        for (std::size_t i = 0; i < earlier; ++i) {
            if ((*responses)[i] == 401) {
                ++authenticationRounds;
            }
        }
    }
    if (const auto resends = line.find("resends");
        resends != line.end() && resends->is_number_integer()) {
        step.dropsBefore = static_cast<int>(std::clamp<long long>(
            resends->get<long long>() - authenticationRounds, 0, kMaxDropsBefore));
    }
    if (const auto answer = line.find("answer"); answer != line.end() && answer->is_string()) {
        step.body = answer->get<std::string>();
    } else if (const auto encoded = line.find("answer_base64");
               encoded != line.end() && encoded->is_string()) {
        std::optional<std::string> bytes = DecodeBase64(encoded->get<std::string>());
        if (!bytes) {
            error = "\"answer_base64\" is not base64";
            return false;
        }
        step.body = std::move(*bytes);
    }
    if (const auto length = line.find("answer_bytes");
        length != line.end() && length->is_number_unsigned()) {
        const std::uint64_t recorded = std::min(length->get<std::uint64_t>(), kMaxReplayedBody);
        if (recorded > step.body.size()) {
            // The trace keeps only the start of a long answer; the rest was never read anyway
            // or made the answer too long, and spaces keep it so.
            step.body.append(static_cast<std::size_t>(recorded - step.body.size()), ' ');
        }
    }
    return true;
}

std::string Describe(const ReplayStep& step) {
    std::string text(RequestKindName(step.kind));
    if (!step.part.empty()) {
        text += " " + step.part;
    }
    if (step.partNumber) {
        text += " (part " + std::to_string(*step.partNumber) + ")";
    }
    if (step.probe > 0) {
        text += ", probe " + std::to_string(step.probe);
    }
    return text;
}

}  // namespace

std::shared_ptr<CReplayScript> CReplayScript::FromText(const std::string& text,
                                                       std::optional<int> job, std::string& error) {
    std::shared_ptr<CReplayScript> script(new CReplayScript);
    int jobs = 0;
    std::size_t lineNumber = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t end = text.find('\n', position);
        const bool complete = end != std::string::npos;
        const std::string_view line(text.data() + position,
                                    (complete ? end : text.size()) - position);
        position = complete ? end + 1 : text.size();
        ++lineNumber;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
            continue;
        }
        const std::string where = "trace line " + std::to_string(lineNumber) + ": ";
        json value;
        try {
            value = json::parse(line);
        } catch (const json::exception&) {
            if (!complete) {
                break;  // the last line of a run that was killed while writing it
            }
            error = where + "not a JSON object";
            return nullptr;
        }
        if (!value.is_object()) {
            error = where + "not a JSON object";
            return nullptr;
        }
        const auto host = value.find("host");
        if (host == value.end() || !host->is_string() || !IsHostName(host->get<std::string>())) {
            error = where + "no \"host\" that is a host name";
            return nullptr;
        }
        if (script->host_.empty()) {
            script->host_ = host->get<std::string>();
        } else if (script->host_ != host->get<std::string>()) {
            error = where + "host \"" + host->get<std::string>() + "\", but the trace is of \"" +
                    script->host_ + "\" (one device per trace)";
            return nullptr;
        }
        const auto event = value.find("event");
        const std::string eventName =
            event != value.end() && event->is_string() ? event->get<std::string>() : "";
        if (eventName == "job") {
            ++jobs;
            continue;
        }
        if (eventName != "exchange" || (job && jobs != *job)) {
            continue;
        }
        ReplayStep step;
        step.line = lineNumber;
        if (!ReadStep(value, step, error)) {
            error = where + error;
            return nullptr;
        }
        script->steps_.push_back(std::move(step));
    }
    if (job && *job > jobs) {
        error = "the trace holds " + std::to_string(jobs) + " job(s), not " + std::to_string(*job);
        return nullptr;
    }
    if (script->steps_.empty()) {
        error = job ? "job " + std::to_string(*job) + " of the trace holds no exchange"
                    : std::string("the trace holds no exchange");
        return nullptr;
    }
    return script;
}

std::shared_ptr<CReplayScript> CReplayScript::FromFile(const std::filesystem::path& path,
                                                       std::optional<int> job, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read the trace " + path.string();
        return nullptr;
    }
    std::ostringstream text;
    text << file.rdbuf();
    auto script = FromText(text.str(), job, error);
    if (!script) {
        error = path.string() + ": " + error;
    }
    return script;
}

ReplayAnswer CReplayScript::Take(RequestKind kind, bool reusedConnection) {
    std::lock_guard lock(mutex_);
    return Decide(kind, reusedConnection, true);
}

ReplayAnswer::Outcome CReplayScript::Peek(RequestKind kind, bool reusedConnection) {
    std::lock_guard lock(mutex_);
    return Decide(kind, reusedConnection, false).outcome;
}

std::size_t CReplayScript::Served() {
    std::lock_guard lock(mutex_);
    return next_;
}

ReplayAnswer CReplayScript::Decide(RequestKind kind, bool reusedConnection, bool serve) {
    ReplayAnswer answer;
    if (absorbResend_) {
        const RequestKind resent = *absorbResend_;
        if (serve) {
            absorbResend_.reset();
        }
        if (resent == kind && !reusedConnection) {
            answer.outcome = ReplayAnswer::Outcome::Drop;
            answer.line = next_ > 0 ? steps_[next_ - 1].line : 0;
            answer.note = "the client's own resend of the request before, dropped as that one";
            return answer;
        }
    }
    if (next_ >= steps_.size()) {
        answer.outcome = ReplayAnswer::Outcome::Exhausted;
        answer.note = "all " + std::to_string(steps_.size()) + " recorded round trips served";
        return answer;
    }
    const ReplayStep& step = steps_[next_];
    answer.line = step.line;
    answer.probe = step.probe > 0;
    if (step.kind != kind) {
        answer.outcome = ReplayAnswer::Outcome::Diverged;
        answer.note = "trace line " + std::to_string(step.line) + " holds " + Describe(step) +
                      ", not " + std::string(RequestKindName(kind));
        return answer;
    }
    if (dropsServed_ < step.dropsBefore) {
        answer.outcome = ReplayAnswer::Outcome::Drop;
        answer.note = "trace line " + std::to_string(step.line) + ": " + Describe(step) +
                      ", connection " + std::to_string(dropsServed_ + 1) + " of " +
                      std::to_string(step.dropsBefore) + " that died under it";
        if (serve) {
            ++dropsServed_;
        }
        return answer;
    }
    answer.note = "trace line " + std::to_string(step.line) + ": " + Describe(step);
    if (step.status) {
        answer.outcome = ReplayAnswer::Outcome::Answer;
        answer.status = *step.status;
        answer.body = step.body;
    } else {
        answer.outcome = ReplayAnswer::Outcome::Drop;
        answer.note += ", no answer";
    }
    if (serve) {
        ++next_;
        dropsServed_ = 0;
        if (!step.status && reusedConnection) {
            absorbResend_ = kind;
        }
    }
    return answer;
}

}  // namespace talbo::tesk::vorta::devsim
