// The busy token: model changes refuse while it is out; a job takes it on one thread and gives
// it back on another.

#include <gtest/gtest.h>

#include <thread>

#include "engine/model/CUpdateModel.h"
#include "tests/engine/model/ModelTestFiles.h"

namespace talbo::tesk::vorta {
namespace {

TEST(UpdateModelBusyTest, ChangesAreRefusedWhileTheTokenIsOut) {
    vorta_test::ScopedTempDir dir;
    const std::wstring list = dir.Write("list.txt", "listed\n");
    CUpdateModel model;
    CUpdateModelExport& host = model;
    ASSERT_TRUE(host.AddDevice(L"dev"));

    ASSERT_TRUE(model.TryBeginBusy());
    EXPECT_FALSE(model.TryBeginBusy());
    EXPECT_FALSE(host.AddDevice(L"other"));
    EXPECT_FALSE(host.ImportDeviceList(list.c_str()));
    EXPECT_FALSE(host.SetUpdateTarget(L"dev", false));
    EXPECT_FALSE(
        host.LoadUpdateImage(dir.Write("image.rcx", vorta_test::MakeTwoStepImage()).c_str()));
    // Reading and the job's own writes go on.
    EXPECT_EQ(host.GetProgress(L"dev"), 0);
    EXPECT_TRUE(model.SetDeviceValue(L"dev", L"progress", L"10"));
    EXPECT_EQ(host.GetProgress(L"dev"), 10);
    EXPECT_NE(host.GetHostNameIterator().Current(), nullptr);

    ASSERT_TRUE(model.EndBusy());
    EXPECT_TRUE(host.SetUpdateTarget(L"dev", false));
    EXPECT_TRUE(host.AddDevice(L"other"));
    EXPECT_TRUE(host.ImportDeviceList(list.c_str()));
    // The changes gave the token back.
    EXPECT_TRUE(model.TryBeginBusy());
    EXPECT_TRUE(model.EndBusy());
}

TEST(UpdateModelBusyTest, TokenTakenOnOneThreadIsGivenBackOnAnother) {
    CUpdateModel model;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(model.TryBeginBusy());
        bool released = false;
        std::thread worker([&] { released = model.EndBusy(); });
        worker.join();
        EXPECT_TRUE(released);
        EXPECT_TRUE(static_cast<CUpdateModelExport&>(model).AddDevice(L"dev"));
    }
}

TEST(UpdateModelBusyTest, GivingBackATokenThatIsNotOutFails) {
    CUpdateModel model;
    EXPECT_FALSE(model.EndBusy());
    ASSERT_TRUE(model.TryBeginBusy());
    EXPECT_TRUE(model.EndBusy());
    EXPECT_FALSE(model.EndBusy());
    // Still a single token: the refused give-backs did not add a second one.
    ASSERT_TRUE(model.TryBeginBusy());
    EXPECT_FALSE(model.TryBeginBusy());
    EXPECT_TRUE(model.EndBusy());
}

}  // namespace
}  // namespace talbo::tesk::vorta
