#pragma once

#include <string>
#include <string_view>

namespace talbo::tesk::vorta::common {

// Whether the update job rewrites a device, judged from its firmware version against the
// image's. Every decision of "newer" and "same" is taken here: the engine's, and the tool's
// forecast of what a rollout would do.
class CVersionDecision {
public:
    // Whether the device's firmware is newer than the image's. The major numbers (the first run
    // of digits of each text, leading zeros ignored) compare as integers of any length; only
    // when they are equal do the remaining digits compare, the shorter padded with '0' on the
    // right, as text ("Ver.3.1" is newer than "Ver.3.01TC", "Ver.10.00TC" too). A text
    // without digits has the major 0; an empty device version is never newer.
    static bool IsDeviceNewer(std::wstring_view imageVersion, std::wstring_view deviceVersion);

    // Whether the downgrade decision (skip, rewrite anyway, or ask) applies to the device: it
    // is idle, as its test found it, and runs newer firmware than the image. A device that
    // reports an unfinished update is resumed whatever version it reports: leaving it would
    // leave it half rewritten.
    static bool IsDowngrade(std::wstring_view testedStatus, std::wstring_view imageVersion,
                            std::wstring_view deviceVersion);

    // Whether the device already runs exactly the image's version and can be left alone: the
    // policy is "skip" or "inquiry", the test found the device idle (no unfinished update to
    // resume), and both versions, without surrounding white space, are the same non-empty
    // text. Under "update" every device is rewritten.
    static bool IsAlreadyCurrent(std::wstring_view policy, std::wstring_view testedStatus,
                                 std::wstring_view imageVersion, std::wstring_view deviceVersion);
};

}  // namespace talbo::tesk::vorta::common
