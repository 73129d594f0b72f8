#pragma once

namespace talbo::tesk::vorta {

// The controller as the host sees it. The slot order below is the binary contract with the tool.
class CUpdateControllerExport {
public:
    virtual ~CUpdateControllerExport() = default;  // never called by the host

    // Starts a background communication test of every target device; false when the model is
    // busy, no device is a target, or the job could not start. Returns at once.
    virtual bool StartCommunicationTest() = 0;
    // Starts a background rewrite of every target device with the policy "skip", "update" or
    // "inquiry"; false for any other policy, a busy model, no target or nothing to send.
    virtual bool StartUpdate(const wchar_t* downgradePolicy) = 0;
    // Answers a pending downgrade question with "skip" or "update".
    virtual bool AnswerInquiry(const wchar_t* answer) = 0;
};

}  // namespace talbo::tesk::vorta
