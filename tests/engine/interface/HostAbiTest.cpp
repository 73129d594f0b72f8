// A host that knows only its own copy of the exported declarations loads the built library
// and drives the model through them. The library is loaded once per test process.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/engine/interface/HostInterfaces.h"
#include "tests/engine/model/ModelTestFiles.h"

namespace {

using talbo::tesk::vorta::CDevInfoIF;
using talbo::tesk::vorta::CHostNameIterator;
using talbo::tesk::vorta::CUpdateModelExport;
using talbo::tesk::vorta::GetVortaUpdateModelFn;
using vorta_test::ImageStep;
using vorta_test::MakeImage;

struct LoadedModule {
    LoadedModule() {
        handle = ::dlopen(VORTA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) {
            getModel =
                reinterpret_cast<GetVortaUpdateModelFn>(::dlsym(handle, "getVortaUpdateModel"));
        }
    }
    void* handle = nullptr;
    GetVortaUpdateModelFn getModel = nullptr;
};

LoadedModule& Module() {
    static LoadedModule module;
    return module;
}

class HostAbiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Module().handle, nullptr) << ::dlerror();
        ASSERT_NE(Module().getModel, nullptr);
        model = Module().getModel();
        ASSERT_NE(model, nullptr) << "refused: another process keeps the engine library loaded";
    }

    static std::vector<std::wstring> HostNames(CUpdateModelExport& model) {
        std::vector<std::wstring> names;
        for (CHostNameIterator it = model.GetHostNameIterator(); it->Current() != nullptr;
             it->Next()) {
            names.emplace_back(it->Current());
        }
        return names;
    }

    CUpdateModelExport* model = nullptr;
    vorta_test::ScopedTempDir dir;
};

TEST_F(HostAbiTest, EntryPointsGiveTheSameObjectsEveryCall) {
    EXPECT_EQ(Module().getModel(), model);
    EXPECT_EQ(Module().getModel(), model);
    using talbo::tesk::vorta::GetVortaUpdateControllerFn;
    const auto getController = reinterpret_cast<GetVortaUpdateControllerFn>(
        ::dlsym(Module().handle, "getVortaUpdateController"));
    ASSERT_NE(getController, nullptr);
    auto* controller = getController();
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(getController(), controller);
    // Calls through the host's own declarations reach the right slots.
    EXPECT_FALSE(controller->StartUpdate(L"Skip"));
    EXPECT_FALSE(controller->AnswerInquiry(L"update"));
    EXPECT_EQ(::dlsym(Module().handle, "CUpdateModel"), nullptr);

    using talbo::tesk::vorta::GetVortaUpdateSettingsFn;
    const auto getSettings = reinterpret_cast<GetVortaUpdateSettingsFn>(
        ::dlsym(Module().handle, "getVortaUpdateSettings"));
    ASSERT_NE(getSettings, nullptr);
    auto* settings = getSettings();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(getSettings(), settings);
    const int before = settings->GetDevicesAtATime();
    EXPECT_FALSE(settings->SetDevicesAtATime(65));
    EXPECT_TRUE(settings->SetDevicesAtATime(7));
    EXPECT_EQ(settings->GetDevicesAtATime(), 7);
    EXPECT_TRUE(settings->SetDevicesAtATime(before));
    EXPECT_EQ(settings->GetJobState(), talbo::tesk::vorta::EJobState::Idle);
    EXPECT_FALSE(settings->StopStartingDevices());  // no job runs
    EXPECT_FALSE(settings->SetStopAfterFailures(-1));
    EXPECT_TRUE(settings->SetStopAfterFailures(3));
    EXPECT_EQ(settings->GetStopAfterFailures(), 3);
    EXPECT_TRUE(settings->SetStopAfterFailures(0));
    EXPECT_EQ(settings->GetCountedFailures(), 0);
}

TEST_F(HostAbiTest, RegistersListsAndReadsDevices) {
    ASSERT_TRUE(model->AddDevice(L"abi-first"));
    ASSERT_TRUE(model->AddDevice(L"abi-second"));
    EXPECT_TRUE(model->AddDevice(L"abi-first"));
    EXPECT_FALSE(model->AddDevice(L"abi_bad"));
    EXPECT_FALSE(model->AddDevice(nullptr));

    const std::vector<std::wstring> names = HostNames(*model);
    const auto first = std::find(names.begin(), names.end(), L"abi-first");
    ASSERT_NE(first, names.end());
    ASSERT_NE(first + 1, names.end());
    EXPECT_EQ(*(first + 1), L"abi-second");
    EXPECT_EQ(std::count(names.begin(), names.end(), L"abi-first"), 1);

    CDevInfoIF* info = model->GetDeviceInfo(L"abi-second");
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->GetValue(L"hostname"), L"abi-second");
    EXPECT_STREQ(info->GetValue(L"update"), L"true");
    EXPECT_NE(info->GetValue(L"rebootfirstwait"), nullptr);
    EXPECT_EQ(info->GetValue(L"modelname"), nullptr);
    EXPECT_EQ(info->GetValue(nullptr), nullptr);
    EXPECT_EQ(model->GetDeviceInfo(L"abi-unknown"), nullptr);
    EXPECT_EQ(model->GetDeviceInfo(nullptr), nullptr);

    EXPECT_EQ(model->GetProgress(L"abi-second"), 0);
    EXPECT_EQ(model->GetProgress(L"abi-unknown"), -1);
    EXPECT_EQ(model->GetProgress(nullptr), -1);

    EXPECT_TRUE(model->SetUpdateTarget(L"abi-second", false));
    EXPECT_STREQ(info->GetValue(L"update"), L"false");
    EXPECT_FALSE(model->SetUpdateTarget(L"abi-unknown", false));
}

TEST_F(HostAbiTest, IteratorCopiesCloneInsideTheLibrary) {
    ASSERT_TRUE(model->AddDevice(L"abi-iter1"));
    ASSERT_TRUE(model->AddDevice(L"abi-iter2"));
    CHostNameIterator it = model->GetHostNameIterator();
    while (it->Current() != nullptr && std::wstring(it->Current()) != L"abi-iter1") {
        it->Next();
    }
    ASSERT_NE(it->Current(), nullptr);
    const CHostNameIterator copy = it;  // Clone through the library
    it->Next();
    EXPECT_STREQ(copy->Current(), L"abi-iter1");
    EXPECT_STREQ(it->Current(), L"abi-iter2");
}

TEST_F(HostAbiTest, ImportsADeviceList) {
    EXPECT_TRUE(
        model->ImportDeviceList(dir.Write("list.txt", "abi-list1\r\n\r\nabi-list2\r\n").c_str()));
    EXPECT_NE(model->GetDeviceInfo(L"abi-list1"), nullptr);
    EXPECT_NE(model->GetDeviceInfo(L"abi-list2"), nullptr);
    EXPECT_FALSE(model->ImportDeviceList(dir.Write("bad.txt", "abi-list3\nbad name\n").c_str()));
    EXPECT_EQ(model->GetDeviceInfo(L"abi-list3"), nullptr);
    EXPECT_FALSE(model->ImportDeviceList(nullptr));
}

// Every way an image can be broken; each must be refused.
std::vector<std::pair<std::string, std::string>> CorruptedImages() {
    const std::string good =
        MakeImage("Ver.1.00", {{"Alpha", 1, {"abcdef"}}, {"Beta", 2, {"xyz"}}});
    const std::size_t separator = good.find('\xFF');
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string image = good;
        image.replace(image.find(from), from.size(), to);
        return image;
    };
    std::string noSeparator = good;
    noSeparator.erase(separator, 1);
    std::string shiftedMarker = good;
    shiftedMarker.insert(separator + 1, "X");
    std::string noMarker = good;
    noMarker.erase(noMarker.size() - std::string(vorta_test::kImageMarker).size());
    return {
        {"line 1 with a trailing space", replaced("RCX\r\n", "RCX \r\n")},
        {"line 2 one character off", replaced("TalboNet Form", "TalboNet Farm")},
        {"no version", MakeImage("", {{"Alpha", 1, {"abcdef"}}})},
        {"no steps", MakeImage("Ver.1.00", {})},
        {"step number 0", MakeImage("Ver.1.00", {{"Alpha", 0, {"abcdef"}}})},
        {"step without sizes", MakeImage("Ver.1.00", {{"Alpha", 1, {}}})},
        {"no separator", noSeparator},
        {"marker misplaced", shiftedMarker},
        {"last marker missing", noMarker},
        {"cut inside a block", good.substr(0, separator + 4)},
        {"cut inside a marker", good.substr(0, good.size() - 5)},
        {"total one too high", MakeImage("Ver.1.00", {{"Alpha", 1, {"abcdef"}}}, 1)},
        {"total one too low", MakeImage("Ver.1.00", {{"Alpha", 1, {"abcdef"}}}, -1)},
    };
}

TEST_F(HostAbiTest, CorruptedImagesAreRefused) {
    for (const auto& [what, bytes] : CorruptedImages()) {
        EXPECT_FALSE(model->LoadUpdateImage(dir.Write("bad.rcx", bytes).c_str())) << what;
    }
    EXPECT_FALSE(model->LoadUpdateImage(nullptr));
    EXPECT_FALSE(model->LoadUpdateImage(L""));
    EXPECT_FALSE(model->LoadUpdateImage((dir.Path() / "absent.rcx").wstring().c_str()));
}

TEST_F(HostAbiTest, ValidImageLoadsWithParser) {
    const std::wstring path = dir.Write("good.rcx", vorta_test::MakeTwoStepImage());
    EXPECT_TRUE(model->LoadUpdateImage(path.c_str()));
    std::filesystem::remove(path);  // the library keeps everything in memory
    EXPECT_FALSE(
        model->LoadUpdateImage(dir.Write("bad.rcx", CorruptedImages().front().second).c_str()));
    EXPECT_TRUE(
        model->LoadUpdateImage(dir.Write("again.rcx", vorta_test::MakeTwoStepImage()).c_str()));
}

#ifdef VORTA_CARRIED_IMAGE_PATH
TEST_F(HostAbiTest, CarriedImageLoadsWithParser) {
    ASSERT_TRUE(std::filesystem::exists(VORTA_CARRIED_IMAGE_PATH)) << VORTA_CARRIED_IMAGE_PATH;
    EXPECT_TRUE(
        model->LoadUpdateImage(std::filesystem::path(VORTA_CARRIED_IMAGE_PATH).wstring().c_str()));
}
#endif

}  // namespace
