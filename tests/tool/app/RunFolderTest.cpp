// Run folders: a finished run leaves nothing, a killed run's folder is removed by a later start,
// and nothing else is ever touched.
#include "tool/app/RunFolder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace tv = talbo::tesk::vorta;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

class RunFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = fs::temp_directory_path() / ("vorta-runfolders-" + std::to_string(::getpid()));
        elsewhere = base.string() + "-elsewhere";
        fs::remove_all(base);
        fs::remove_all(elsewhere);
        fs::create_directories(base);
        fs::create_directories(elsewhere);
    }
    void TearDown() override {
        fs::remove_all(base);
        fs::remove_all(elsewhere);
    }

    // The folder of a run in a child process that is killed once it has written a file.
    static fs::path KilledRun(const fs::path& where) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return {};
        }
        const pid_t child = ::fork();
        if (child == 0) {
            tv::RunFolder folder({where});
            std::ofstream(folder.Path() / "VortaFWUpdateModule.so") << "engine";
            const std::string path = folder.Path().string() + "\n";
            (void)!::write(ready[1], path.data(), path.size());
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        std::string path;
        char c = 0;
        while (::read(ready[0], &c, 1) == 1 && c != '\n') {
            path.push_back(c);
        }
        ::close(ready[0]);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        return path;
    }

    fs::path base;
    fs::path elsewhere;
};

}  // namespace

TEST_F(RunFolderTest, FinishedRunLeavesNothingAndALeftFileWaitsForTheNextStart) {
    fs::path path;
    {
        tv::RunFolder folder({base});
        path = folder.Path();
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_all);
        EXPECT_TRUE(fs::is_regular_file(path / tv::RunFolder::kLockName));
        EXPECT_EQ(tv::RunFolder::RemoveAbandoned(base), 0);  // held by this run
    }
    EXPECT_FALSE(fs::exists(path));
    {
        tv::RunFolder folder({base});
        path = folder.Path();
        std::ofstream(path / "updateimages.rcx") << "left behind";
    }
    EXPECT_TRUE(fs::exists(path / tv::RunFolder::kLockName));
    EXPECT_EQ(tv::RunFolder::RemoveAbandoned(base), 1);
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(RunFolderTest, OnlyAbandonedFoldersOfThisUserAreRemoved) {
    const fs::path killed = KilledRun(base);
    ASSERT_TRUE(fs::exists(killed / tv::RunFolder::kLockName));
    const tv::RunFolder live({base});

    const fs::path noLock = base / "VorNoLock";
    fs::create_directory(noLock);
    std::ofstream(noLock / "keep") << "not ours";

    // A link under a run folder's name to an abandoned folder elsewhere: neither is touched.
    const fs::path target = KilledRun(elsewhere);
    const fs::path link = base / "VorLinked";
    fs::create_directory_symlink(target, link);

    // A lock file that is a link, and a folder holding a subfolder: not only ours.
    const fs::path linkedLock = base / "VorLnLock";
    fs::create_directory(linkedLock);
    fs::create_symlink(killed / tv::RunFolder::kLockName, linkedLock / tv::RunFolder::kLockName);
    const fs::path withSubfolder = KilledRun(base);
    fs::create_directory(withSubfolder / "sub");

    fs::path foreign;
    if (::geteuid() == 0) {
        foreign = KilledRun(base);
        for (const fs::path& p : {foreign, foreign / tv::RunFolder::kLockName}) {
            ASSERT_EQ(::chown(p.c_str(), kNobody, kNobody), 0);
        }
    }

    EXPECT_EQ(tv::RunFolder::RemoveAbandoned(base), 1);
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_TRUE(fs::exists(live.Path() / tv::RunFolder::kLockName));
    EXPECT_TRUE(fs::exists(noLock / "keep"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::exists(target / "VortaFWUpdateModule.so"));
    EXPECT_TRUE(fs::exists(linkedLock));
    EXPECT_TRUE(fs::exists(withSubfolder / tv::RunFolder::kLockName));
    if (!foreign.empty()) {
        EXPECT_TRUE(fs::exists(foreign / tv::RunFolder::kLockName));
    }
}

TEST_F(RunFolderTest, FolderThatCannotBeMadeSaysWhyAndTheNextBaseIsTried) {
    const tv::RunFolder none({base / "missing"});
    EXPECT_TRUE(none.Path().empty());
    EXPECT_EQ(none.Error(), ENOENT);
    const tv::RunFolder fallback({base / "missing", base});
    EXPECT_EQ(fallback.Path().parent_path(), base);
    EXPECT_EQ(fallback.Error(), 0);
}
