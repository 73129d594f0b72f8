// The HTTP response sink driven as the client drives it: header lines, body pieces, resends and
// new exchanges in any order. Input: the first byte picks the mode; then records of an op byte
// and, for lines and body pieces, a length byte and that many bytes. A body piece repeats
// (op >> 2) * 256 + 1 times, so that short inputs reach the body cap.

#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "engine/protocol/CHttpResponseSink.h"

namespace tv = talbo::tesk::vorta;
using vorta_fuzz::Require;
using Sink = tv::CHttpResponseSink;

namespace {

enum Op { kHeaderLine, kBodyPiece, kResend, kRestart };

Sink::Mode ModeOf(std::uint8_t bits) {
    return (bits & 1) != 0 ? Sink::Mode::kDiscard : Sink::Mode::kCollect;
}

void CheckInvariants(Sink& sink, Sink::Mode mode) {
    Require(sink.Body().size() <= Sink::kMaxBodySize, "the body is capped");
    Require(sink.Status() >= 0 && sink.Status() <= 999, "a status has three digits");
    Require(!sink.HeadComplete() || sink.Status() >= 200, "only a final response completes a head");
    Require(mode == Sink::Mode::kCollect || sink.Body().empty(),
            "a discarded answer keeps no body");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Sink sink;
    Sink::Mode mode = ModeOf(data[0]);
    sink.Start(mode);
    std::size_t pos = 1;
    while (pos < size) {
        const std::uint8_t op = data[pos++];
        switch (op % 4) {
            case kHeaderLine:
            case kBodyPiece: {
                std::size_t length = pos < size ? data[pos++] : 0;
                length = length < size - pos ? length : size - pos;
                const char* bytes = reinterpret_cast<const char*>(data + pos);
                pos += length;
                if (op % 4 == kHeaderLine) {
                    sink.OnHeaderLine(bytes, length);
                    break;
                }
                const std::size_t repeats = static_cast<std::size_t>(op >> 2) * 256 + 1;
                for (std::size_t i = 0; i < repeats; ++i) {
                    if (!sink.OnBodyBytes(bytes, length)) {
                        // The flags stay set until the next exchange; the client stops at the
                        // first refusal, but the sink must stay sound if it did not.
                        const bool collecting200 =
                            mode == Sink::Mode::kCollect && sink.Status() == 200;
                        Require(collecting200 || mode == Sink::Mode::kDiscard ? sink.BodyTooLarge()
                                                                              : sink.BodyRefused(),
                                "a body stops at the cap, or for a status other than 200");
                        break;
                    }
                    Require(mode == Sink::Mode::kDiscard || sink.Status() == 200,
                            "only a 200 body is collected");
                }
                break;
            }
            case kResend:
                sink.OnResend();
                Require(sink.Status() == 0 && !sink.HeadComplete(), "a resend voids the head");
                break;
            case kRestart:
                mode = ModeOf(op >> 2);
                sink.Start(mode);
                Require(sink.Status() == 0 && !sink.BodyTooLarge() && !sink.BodyRefused() &&
                            sink.Body().empty(),
                        "a new exchange starts clean");
                break;
        }
        CheckInvariants(sink, mode);
    }
    return 0;
}
