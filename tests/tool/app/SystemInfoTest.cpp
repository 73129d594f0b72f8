#include "tool/app/SystemInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tool/app/SingleInstanceLock.h"

namespace tv = talbo::tesk::vorta;

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) {
            saved = old;
            hadValue = true;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (hadValue) {
            ::setenv(name, saved.c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

private:
    const char* name;
    std::string saved;
    bool hadValue = false;
};

}  // namespace

TEST(SystemInfo, LocaleFollowsTheFirstSetVariable) {
    {
        ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr),
            lang("LANG", "ja_JP.UTF-8");
        EXPECT_EQ(tv::SystemDefaultLocale(), tv::kLocaleJapanese);
    }
    {
        ScopedEnv all("LC_ALL", "C.UTF-8"), messages("LC_MESSAGES", "ja_JP"), lang("LANG", "ja_JP");
        EXPECT_EQ(tv::SystemDefaultLocale(), tv::kLocaleEnglish);
    }
    {
        ScopedEnv all("LC_ALL", ""), messages("LC_MESSAGES", "ja"), lang("LANG", nullptr);
        EXPECT_EQ(tv::SystemDefaultLocale(), tv::kLocaleJapanese);
    }
    {
        ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", nullptr);
        EXPECT_EQ(tv::SystemDefaultLocale(), tv::kLocaleEnglish);
    }
}

TEST(SystemInfo, KernelsFrom4Point19AreSupported) {
    using V = tv::KernelVersion;
    EXPECT_FALSE(tv::IsSupportedKernel(std::nullopt));
    EXPECT_FALSE(tv::IsSupportedKernel(V{4, 18}));
    EXPECT_FALSE(tv::IsSupportedKernel(V{3, 99}));
    EXPECT_TRUE(tv::IsSupportedKernel(V{4, 19}));
    EXPECT_TRUE(tv::IsSupportedKernel(V{6, 1}));
    EXPECT_TRUE(tv::IsSupportedKernel(tv::RunningKernelVersion()));  // the machine running this
    tv::SetKernelVersionSource([] { return std::optional<V>(V{2, 6}); });
    EXPECT_FALSE(tv::IsSupportedKernel(tv::RunningKernelVersion()));
    tv::SetKernelVersionSource({});
}

TEST(SingleInstanceLock, OneHolderAtATimeAndRaiseRequestsReachIt) {
    const std::string name = "lock-test-" + std::to_string(::getpid());
    {
        tv::SingleInstanceLock first(name);
        ASSERT_TRUE(first.Acquired());
        tv::SingleInstanceLock second(name);
        EXPECT_FALSE(second.Acquired());
        EXPECT_FALSE(second.AcceptRaiseRequest());
        ASSERT_TRUE(tv::SingleInstanceLock::AskHolderToRaise(name));
        EXPECT_TRUE(first.AcceptRaiseRequest());
    }
    EXPECT_FALSE(tv::SingleInstanceLock::AskHolderToRaise(name));
    tv::SingleInstanceLock again(name);
    EXPECT_TRUE(again.Acquired());
}
