// The wizard's tests run with a real QApplication, offscreen unless told otherwise, and the
// tool's English interface texts.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tool/app/CUIStringTable.h"

int main(int argc, char** argv) {
    // Test discovery runs the program at build time, without the test's environment.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);

    namespace tv = talbo::tesk::vorta;
    const std::filesystem::path resources =
        std::filesystem::path(VORTA_SOURCE_DIR) / "tool" / "resources";
    tv::CUIStringTable& table = tv::CUIStringTable::GetInstance();
    table.LoadDefaults();
    table.LoadFile(resources / "en" / "ui.lng");
    table.LoadLicenceText(resources / "en" / "eula.txt",
                          tv::CUIStringTable::LicenceEncoding::Ascii);
    return RUN_ALL_TESTS();
}
