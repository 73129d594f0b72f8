// A device replayed from a client's trace, seen from a client: the recorded answers in order,
// connections closed where the recording had none, and what happens once the client leaves it.

#include <gtest/gtest.h>

#include "DeviceClient.h"
#include "SimulatorProcess.h"

using namespace devsim_test;

namespace {

constexpr const char* kHost = "field-7.invalid";

nlohmann::json Exchange(const char* request, nlohmann::json status, const std::string& answer,
                        nlohmann::json extra = nlohmann::json::object()) {
    nlohmann::json line = {{"time", "2024-05-01T09:30:12.345Z"},
                           {"event", "exchange"},
                           {"host", kHost},
                           {"request", request},
                           {"status", status},
                           {"resends", 0},
                           {"answer", answer},
                           {"answer_bytes", answer.size()}};
    line.update(extra);
    return line;
}

}  // namespace

TEST(SimulatorReplay, AnswersAsTheTraceRecordedThenLeavesTheClientNothing) {
    TempFolder folder;
    std::string trace;
    for (const nlohmann::json& line : {
             nlohmann::json{{"event", "job"}, {"host", kHost}, {"job", "test"}},
             Exchange("priming", 200, "<primed/>"),
             Exchange("GetInformation", 200, "<information/>"),
             // A probe while the device restarted behind the proxy.
             Exchange("priming", 502, "", {{"probe", 1}}),
             Exchange("GetInformation", 502, "", {{"probe", 1}}),
             // A probe that could not connect at all: not even a challenge came back.
             Exchange("priming", nullptr, "", {{"probe", 2}, {"error", "Connection refused"}}),
             Exchange("priming", 200, "<primed/>"),
             Exchange("ChangeMode", 200, "<accepted/>"),
         }) {
        trace += line.dump() + "\n";
    }
    SimulatorProcess sim({"--replay", folder.Write("trace.jsonl", trace).string()});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    // The device is the trace's, under its host name; no other is served.
    EXPECT_EQ(DeviceClient::ViaProxy(sim.Port(), "device-1.invalid").GetInformation().status, 502);
    auto device = DeviceClient::ViaProxy(sim.Port(), kHost);

    Reply information = device.GetInformation();
    EXPECT_EQ(information.status, 200);
    EXPECT_EQ(information.body, "<information/>");
    EXPECT_EQ(device.GetInformation().status, 502);
    Reply refused = device.GetInformation();
    EXPECT_EQ(refused.curlCode, 52);  // nothing came back
    EXPECT_EQ(refused.connections, 0);
    // The client is meant to send ChangeMode now; a GetInformation leaves the trace.
    EXPECT_EQ(device.GetInformation().status, 502);
    Reply accepted = device.ChangeMode("Ver.3.01TC", std::string(2000, 'x'));
    EXPECT_EQ(accepted.status, 200);
    EXPECT_EQ(accepted.body, "<accepted/>");
    EXPECT_EQ(device.GetInformation().status, 502);

    std::vector<std::string> answers;
    for (const auto& line : sim.Requests(kHost)) {
        if (TextOf(line, "answer") != "challenge") {
            answers.push_back(TextOf(line, "answer") + "@" + line["replay_line"].dump());
        }
    }
    // Authentication rounds aside (never matched against the trace): the left-out GetInformation
    // took the priming of the ChangeMode, so that one's priming left the trace too.
    EXPECT_EQ(answers,
              (std::vector<std::string>{"replayed@2", "replayed@3", "down@4", "down@5", "dropped@6",
                                        "replayed@7", "diverged@8", "diverged@8", "replayed@8",
                                        "exhausted@null", "exhausted@null"}));
    ASSERT_EQ(sim.Stop(), 0);
    const auto events = sim.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["event"], "summary");
    EXPECT_EQ(events.back()["replayed"], 7);
    EXPECT_EQ(events.back()["recorded"], 7);
}

TEST(SimulatorReplay, RefusesTracesAndOptionsItCannotServe) {
    TempFolder folder;
    const std::string line = Exchange("priming", 200, "").dump() + "\n";
    const auto trace = folder.Write("trace.jsonl", line);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--replay", trace.string(), "--devices", "2"},
          std::vector<std::string>{"--replay", trace.string(), "--replay-job", "1"},
          std::vector<std::string>{"--replay-job", "1"},
          std::vector<std::string>{"--replay", folder.Write("cut.jsonl", "{\n" + line).string()},
          std::vector<std::string>{"--replay", (folder.Path() / "missing.jsonl").string()}}) {
        SimulatorProcess sim(arguments);
        EXPECT_FALSE(sim.Started()) << arguments[0] << " " << arguments[1];
        EXPECT_NE(sim.StandardError().find("vorta-devsim: "), std::string::npos);
    }
}
