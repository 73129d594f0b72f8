// Loading update images into the model. The WithParser cases need a working image parser.

#include <gtest/gtest.h>

#include <string>

#include "engine/model/CUpdateModel.h"
#include "tests/engine/model/ModelTestFiles.h"

namespace talbo::tesk::vorta {
namespace {

using vorta_test::MakeImage;
using vorta_test::MakeTwoStepImage;

TEST(UpdateModelImageTest, BadPathsFailWithoutParts) {
    vorta_test::ScopedTempDir dir;
    CUpdateModel model;
    CUpdateModelExport& host = model;
    EXPECT_FALSE(host.LoadUpdateImage(nullptr));
    EXPECT_FALSE(host.LoadUpdateImage(L""));
    EXPECT_FALSE(host.LoadUpdateImage((dir.Path() / "absent.rcx").wstring().c_str()));
    EXPECT_FALSE(host.LoadUpdateImage(dir.Write("junk.rcx", "not an image").c_str()));
    const CUpdateImagePartList* parts = model.GetImageParts();
    ASSERT_NE(parts, nullptr);
    EXPECT_TRUE(parts->empty());
    EXPECT_EQ(model.FindImagePart(L"ReChangeMode"), nullptr);
    // Every failure gave the busy token back.
    EXPECT_TRUE(model.TryBeginBusy());
    EXPECT_TRUE(model.EndBusy());
}

TEST(UpdateModelImageWithParserTest, FailedLoadKeepsThePreviousParts) {
    vorta_test::ScopedTempDir dir;
    CUpdateModel model;
    CUpdateModelExport& host = model;
    ASSERT_TRUE(host.LoadUpdateImage(dir.Write("good.rcx", MakeTwoStepImage("Ver.2.00")).c_str()));
    const CUpdateImagePartList* parts = model.GetImageParts();
    ASSERT_EQ(parts->size(), 2U);
    const CUpdateImagePart* firstPart = (*parts)[0].get();
    EXPECT_EQ(model.FindImagePart(L"BackupSettingValue"), firstPart);
    EXPECT_EQ(model.FindImagePart(L"ReChangeMode"), (*parts)[1].get());
    EXPECT_EQ(model.FindImagePart(L"rechangemode"), nullptr);

    std::string cut = MakeTwoStepImage("Ver.3.00");
    cut.pop_back();  // the last marker is incomplete
    EXPECT_FALSE(host.LoadUpdateImage(dir.Write("cut.rcx", cut).c_str()));
    EXPECT_FALSE(host.LoadUpdateImage(
        dir.Write("total.rcx", MakeImage("Ver.3.00", {{"Step", 1, {"abc"}}}, 1)).c_str()));
    EXPECT_FALSE(host.LoadUpdateImage(L""));

    EXPECT_EQ(model.GetImageParts(), parts);
    ASSERT_EQ(parts->size(), 2U);
    EXPECT_EQ((*parts)[0].get(), firstPart);
    EXPECT_EQ(firstPart->GetAfterVersion(), L"Ver.2.00");
}

TEST(UpdateModelImageWithParserTest, SuccessfulLoadReplacesAllParts) {
    vorta_test::ScopedTempDir dir;
    CUpdateModel model;
    CUpdateModelExport& host = model;
    ASSERT_TRUE(host.LoadUpdateImage(dir.Write("a.rcx", MakeTwoStepImage()).c_str()));
    ASSERT_TRUE(host.LoadUpdateImage(
        dir.Write("b.rcx", MakeImage("Ver.9", {{"Only", 7, {"xyz", "uvw"}}})).c_str()));
    const CUpdateImagePartList* parts = model.GetImageParts();
    ASSERT_EQ(parts->size(), 2U);
    EXPECT_EQ((*parts)[0]->GetName(), L"Only");
    EXPECT_EQ((*parts)[1]->GetName(), L"Only1");
    EXPECT_EQ(model.FindImagePart(L"BackupSettingValue"), nullptr);
}

}  // namespace
}  // namespace talbo::tesk::vorta
