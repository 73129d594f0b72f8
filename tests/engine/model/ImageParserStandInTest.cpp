#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <numeric>
#include <string>

#include "engine/model/CBasicRCXFileParser.h"
#include "tests/engine/model/ImageParserTestSupport.h"

namespace tv = talbo::tesk::vorta;

namespace {

std::string ReadWholeFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The image the build carries: the generated stand-in or the one given to the build.
TEST(CarriedImage, ParsesToTheElevenPartsOfTheUpdatePlan) {
    const std::string file = ReadWholeFile(VORTA_CARRIED_IMAGE);
    ASSERT_FALSE(file.empty()) << VORTA_CARRIED_IMAGE;
    ASSERT_EQ(file.find('\xFF'), 769U) << "header length";

    tv::CBasicRCXFileParser parser;
    tv::CUpdateImagePartList parts;
    ASSERT_EQ(parser.Parse(vorta_test::Widen(VORTA_CARRIED_IMAGE), parts), 0);
    ASSERT_EQ(parts.size(), 11U);

    EXPECT_EQ(parts[0]->GetName(), L"BackupSettingValue");
    EXPECT_EQ(parts[1]->GetName(), L"ReChangeMode");
    EXPECT_EQ(parts[5]->GetName(), L"ReChangeMode");
    EXPECT_EQ(parts[10]->GetName(), L"WriteNewBootStrap");

    // Each block sits right after the previous block's marker; its digest is checked against
    // the file's own bytes at that place.
    std::size_t offset = 770;
    std::size_t total = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(i);
        const tv::CUpdateImagePart& part = *parts[i];
        EXPECT_EQ(part.GetNumber(), std::to_wstring(i + 1));
        EXPECT_EQ(part.GetAfterVersion(), L"Ver.3.01TC");
        const std::size_t size = part.GetData().size();
        ASSERT_LE(offset + size, file.size());
        EXPECT_EQ(part.GetDigest(),
                  vorta_test::Widen(vorta_test::IndependentMd5(
                      reinterpret_cast<const unsigned char*>(file.data()) + offset, size)));
        EXPECT_EQ(file.compare(offset + size, vorta_test::kMarker.size(), vorta_test::kMarker), 0);
        offset += size + vorta_test::kMarker.size();
        total += size;
    }
    EXPECT_EQ(total, 110778720U);
    EXPECT_EQ(offset, file.size());
}

}  // namespace
