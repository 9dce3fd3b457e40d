// Output that could not be written is a failure: the command says why on
// stderr and exits with 1, even when its work (a delete) was done.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/cli/RunTool.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

TEST(FailedOutput, AFullStdoutOrStderrEndsEveryCommandWithExitOne) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    test::TempDir dir;
    const std::string root = dir.File("t"), db = dir.File("s.mdb");
    std::filesystem::create_directory(root);
    test::WriteFile(root + "/f", "123");
    ASSERT_EQ(test::RunTool({"snapshot", root, "--db", db, "--files"}).ExitCode, 0);

    const test::ToolRedirect fullStdout{.StdoutPath = "/dev/full"};
    const std::string why = "corvina: cannot write output: No space left on device\n";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"list", "--db", db},
             {"list", "--db", db, "--path", root},
             {"info", "latest", "--db", db},
             {"info", "latest", "--db", db, "--json"},
             {"check", "--db", db},
             {"analyse", "directory-details", "--db", db},
             {"analyse", "files-in-tree", "--db", db, "--format", "csv"},
             {"--help"},
             {"delete", "latest", "--db", db}}) {
        auto run = test::RunTool(args, false, fullStdout);
        EXPECT_EQ(run.ExitCode, 1) << args[0];
        EXPECT_EQ(run.Err, why) << args[0];
    }
    // The delete itself happened; only its confirmation was lost.
    EXPECT_EQ(test::RunTool({"list", "--db", db, "--path", root}).Out, "");

    // The snapshot is taken, but its progress lines went nowhere.
    auto run = test::RunTool({"snapshot", root, "--db", db}, false, {.StderrPath = "/dev/full"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Out.find("\t" + root + "\t"), std::string::npos) << run.Out;
}

}  // namespace
}  // namespace corvina
