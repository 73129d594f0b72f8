// The wizard's tests run with a real QApplication, offscreen unless told otherwise, the tool's
// English interface texts, and a private configuration folder for the settings the wizard
// remembers.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tool/app/CUIStringTable.h"
#include "tool/wizard/WizardText.h"

int main(int argc, char** argv) {
    // Test discovery runs the program at build time, without the test's environment.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    // Qt settings find their folder once, so it is set before anything reads it.
    std::string configTemplate = (std::filesystem::temp_directory_path() / "wizard-cfg-XXXXXX");
    if (::mkdtemp(configTemplate.data()) == nullptr) {
        return 1;
    }
    const std::filesystem::path configHome = configTemplate;
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
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
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;  // a folder left behind in the temporary area harms nothing
    std::filesystem::remove_all(configHome, ignored);
    return result;
}
