// Reading a client's trace into the answers a replayed device gives, and the order it gives
// them in: resends of the client, connections that died, requests that leave the trace.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "simulator/CReplayScript.h"

using namespace talbo::tesk::vorta::devsim;
using Outcome = ReplayAnswer::Outcome;

namespace {

constexpr const char* kHost = "lab-4.invalid";

nlohmann::json Job() {
    return {{"time", "2024-05-01T09:30:12.345Z"}, {"event", "job"}, {"host", kHost}};
}

// An exchange line as the engine writes it; fields overridden or added by extra.
nlohmann::json Exchange(const char* request, nlohmann::json status,
                        nlohmann::json extra = nlohmann::json::object()) {
    nlohmann::json line = {
        {"time", "2024-05-01T09:30:12.345Z"},
        {"event", "exchange"},
        {"host", kHost},
        {"request", request},
        {"status", status},
        {"responses", status.is_null() ? nlohmann::json::array() : nlohmann::json::array({status})},
        {"resends", 0},
        {"answer", "<ok/>"},
        {"answer_bytes", 5}};
    line.update(extra);
    return line;
}

std::string Lines(const std::vector<nlohmann::json>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line.dump() + "\n";
    }
    return text;
}

std::shared_ptr<CReplayScript> Read(const std::string& text, std::optional<int> job = {}) {
    std::string error;
    auto script = CReplayScript::FromText(text, job, error);
    EXPECT_TRUE(script) << error;
    return script;
}

std::string ErrorOf(const std::string& text, std::optional<int> job = {}) {
    std::string error;
    EXPECT_FALSE(CReplayScript::FromText(text, job, error));
    return error;
}

}  // namespace

TEST(ReplayScript, ReadsEveryRoundTripOfTheTraceInOrder) {
    // An answer that is no UTF-8 comes in base64, in place of the text.
    nlohmann::json binary =
        Exchange("GetInformation", 200, {{"answer_base64", "/wA8Pg=="}, {"answer_bytes", 4}});
    binary.erase("answer");
    auto script = Read(Lines({Job(),
                              Exchange("priming", 200),
                              {{"event", "probe"}, {"host", kHost}, {"probe", 1}},
                              Exchange("GetInformation", 502, {{"probe", 1}, {"answer", ""}}),
                              Exchange("Update", nullptr,
                                       {{"part", "WriteNewRootfs"},
                                        {"part_number", 8},
                                        {"curl_code", 52},
                                        {"error", "Empty reply from server"}}),
                              binary,
                              // The excerpt of a long answer is padded back to its length.
                              Exchange("GetInformation", 200, {{"answer_bytes", 2000000}})}));
    ASSERT_TRUE(script);
    EXPECT_EQ(script->Host(), kHost);
    const auto& steps = script->Steps();
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps[0].kind, RequestKind::Priming);
    EXPECT_EQ(steps[0].line, 2u);
    EXPECT_EQ(steps[1].probe, 1);
    EXPECT_EQ(steps[1].status, 502);
    EXPECT_EQ(steps[2].kind, RequestKind::Update);
    EXPECT_EQ(steps[2].partNumber, 8);
    EXPECT_FALSE(steps[2].status);
    EXPECT_EQ(steps[3].body, std::string("\xFF\x00<>", 4));
    EXPECT_EQ(steps[4].body.size(), 2000000u);
    EXPECT_EQ(steps[4].body.substr(0, 5), "<ok/>");
}

TEST(ReplayScript, TakesOneJobOrAllAndRefusesWhatNoTraceHolds) {
    const std::string twoJobs = Lines({Job(), Exchange("GetInformation", 200), Job(),
                                       Exchange("priming", 200), Exchange("ChangeMode", 200)});
    EXPECT_EQ(Read(twoJobs)->Steps().size(), 3u);
    EXPECT_EQ(Read(twoJobs, 2)->Steps().size(), 2u);
    EXPECT_EQ(Read(twoJobs, 1)->Steps().front().kind, RequestKind::GetInformation);
    EXPECT_NE(ErrorOf(twoJobs, 3).find("2 job(s)"), std::string::npos);

    // A run killed while writing leaves its last line cut: that one is left out, no other.
    const std::string whole = Lines({Job(), Exchange("GetInformation", 200)});
    EXPECT_EQ(Read(whole + R"({"time":"2024-05-01T09:3)")->Steps().size(), 1u);
    EXPECT_NE(ErrorOf(R"({"time":)"
                      "\n" +
                      whole)
                  .find("trace line 1"),
              std::string::npos);

    nlohmann::json other = Exchange("GetInformation", 200);
    other["host"] = "other.invalid";
    EXPECT_NE(ErrorOf(Lines({Job(), Exchange("priming", 200), other})).find("one device"),
              std::string::npos);
    EXPECT_NE(ErrorOf(Lines({Job()})).find("no exchange"), std::string::npos);
    EXPECT_NE(ErrorOf(Lines({Exchange("Reboot", 200)})).find("unknown request"), std::string::npos);
    nlohmann::json noStatus = Exchange("priming", 200);
    noStatus.erase("status");
    EXPECT_NE(ErrorOf(Lines({noStatus})).find("\"status\""), std::string::npos);
    EXPECT_NE(ErrorOf(Lines({Exchange("priming", 999)})).find("out of range"), std::string::npos);
}

TEST(ReplayScript, AnswersInOrderAndNeverSkipsAheadOfTheClient) {
    auto script = Read(Lines({Exchange("priming", 200), Exchange("GetInformation", 502)}));
    ReplayAnswer answer = script->Take(RequestKind::GetInformation, true);
    EXPECT_EQ(answer.outcome, Outcome::Diverged);
    EXPECT_NE(answer.note.find("trace line 1 holds priming"), std::string::npos) << answer.note;
    EXPECT_EQ(script->Served(), 0u);
    EXPECT_EQ(script->Take(RequestKind::Priming, false).outcome, Outcome::Answer);
    answer = script->Take(RequestKind::GetInformation, true);
    EXPECT_EQ(answer.outcome, Outcome::Answer);
    EXPECT_EQ(answer.status, 502);
    EXPECT_EQ(answer.line, 2u);
    EXPECT_EQ(script->Take(RequestKind::Priming, false).outcome, Outcome::Exhausted);
    EXPECT_EQ(script->Served(), 2u);
}

TEST(ReplayScript, DropsTheConnectionsThatDiedUnderARequestBeforeItsAnswer) {
    // Two resends, one of them the authentication round (a 401 answer): one connection died.
    auto script = Read(Lines({Exchange("Update", 200, {{"resends", 2}, {"responses", {401, 200}}}),
                              Exchange("priming", 200)}));
    ASSERT_EQ(script->Steps()[0].dropsBefore, 1);
    EXPECT_EQ(script->Peek(RequestKind::Update, true), Outcome::Drop);
    EXPECT_EQ(script->Take(RequestKind::Update, true).outcome, Outcome::Drop);
    const ReplayAnswer answer = script->Take(RequestKind::Update, false);
    EXPECT_EQ(answer.outcome, Outcome::Answer);
    EXPECT_EQ(answer.body, "<ok/>");
    EXPECT_EQ(script->Take(RequestKind::Priming, false).outcome, Outcome::Answer);
}

TEST(ReplayScript, AbsorbsTheClientsOwnResendAfterADropOnAReusedConnection) {
    const std::string trace = Lines({Exchange("Update", nullptr), Exchange("priming", 200)});
    // Closed on a reused connection, the request comes once more on a new one, unrecorded.
    auto reused = Read(trace);
    EXPECT_EQ(reused->Take(RequestKind::Update, true).outcome, Outcome::Drop);
    EXPECT_EQ(reused->Take(RequestKind::Update, false).outcome, Outcome::Drop);
    EXPECT_EQ(reused->Served(), 1u);
    EXPECT_EQ(reused->Take(RequestKind::Priming, false).outcome, Outcome::Answer);
    // On a new connection the client gives up at once: the next request is the next line's.
    auto fresh = Read(trace);
    EXPECT_EQ(fresh->Take(RequestKind::Update, false).outcome, Outcome::Drop);
    EXPECT_EQ(fresh->Take(RequestKind::Update, false).outcome, Outcome::Diverged);
    EXPECT_EQ(fresh->Take(RequestKind::Priming, false).outcome, Outcome::Answer);
}
