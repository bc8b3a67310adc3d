// The build's own checks of the sources. scripts/check-layers, run on the
// source tree and on small trees made for the test: it passes includes that
// point down or sideways and fails, naming the file, on one that points up.
// The viewer's embedding: a script that reads a status.json member the
// document's table does not name does not compile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace {

using testing_support::CopyExecutable;
using testing_support::ProcessResult;
using testing_support::RunTool;
using testing_support::TempDir;

constexpr const char* kClean = "Every include points at its own layer or one below.\n";

class CheckLayersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ENVIRONMENT("VESK_SOURCE_DIR");
    const char* source = std::getenv("VESK_SOURCE_DIR");
    script_ = std::string(source) + "/scripts/check-layers";
  }

  std::string script_;
};

TEST_F(CheckLayersTest, TheSourceTreeKeepsItsLayers) {
  const ProcessResult result = RunTool(script_, {});
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_EQ(result.out, kClean);
}

// Each row is one file of a fake src/ and the include it has; the script,
// copied beside it, judges that tree alone.
TEST_F(CheckLayersTest, UpwardIncludesFailAndOthersPass) {
  struct Row {
    std::string file;
    std::string include;
    std::string complaint;  // empty: the tree passes
  };
  const std::vector<Row> rows = {
      {"platform/Files.cpp", "platform/Other.h", ""},
      {"picture/Bitmap.cpp", "platform/Files.h", ""},
      {"zub32/Config.h", "picture/Bitmap.h", ""},
      {"nowcast/Motion.cpp", "picture/RgbaImage.h", ""},
      {"refresh/Run.cpp", "nowcast/Nowcast.h", ""},
      {"nowcast/Motion.h", "zub32/Config.h",
       "src/nowcast/Motion.h: includes a header of zub32, a layer above nowcast\n"},
      {"overlay/Ring.cpp", "picture/Bitmap.h", ""},
      {"refresh/Run.cpp", "overlay/Ring.h", ""},
      {"platform/Files.cpp", "picture/Bitmap.h",
       "src/platform/Files.cpp: includes a header of picture, a layer above platform\n"},
      {"picture/Bitmap.h", "zub32/Config.h",
       "src/picture/Bitmap.h: includes a header of zub32, a layer above picture\n"},
      {"http/Client.h", "refresh/Run.h",
       "src/http/Client.h: includes a header of refresh, a layer above http\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file + " includes " + row.include);
    const TempDir tree;
    std::filesystem::create_directories(tree.File("scripts"));
    CopyExecutable(script_, tree.File("scripts/check-layers"));
    std::filesystem::create_directories(
        std::filesystem::path(tree.File("src/" + row.file)).parent_path());
    tree.Write("src/" + row.file, "#include <string>\n\n#include \"" + row.include + "\"\n");
    const ProcessResult result = RunTool(tree.File("scripts/check-layers"), {});
    EXPECT_EQ(result.exit_code, row.complaint.empty() ? 0 : 1) << result.err;
    EXPECT_EQ(result.out, row.complaint.empty() ? kClean : row.complaint);
  }
}

// The viewer script is embedded as the build does it, then compiled: the
// real script passes, one that also reads a member the table lacks fails
// with the member named.
TEST(ViewerEmbeddingTest, AMemberTheTableDoesNotNameStopsTheBuild) {
  REQUIRE_ENVIRONMENT("VESK_SOURCE_DIR");
  const std::string source = std::getenv("VESK_SOURCE_DIR");
  const std::string script = source + "/src/site/viewer/viewer.js";
  for (const bool foreign : {false, true}) {
    SCOPED_TRACE(foreign ? "a foreign member" : "the script as it is");
    const TempDir tree;
    std::ifstream in(script, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty()) << script;
    if (foreign) text += "\nconst lost = status[kMember.frames_lost];\n";
    tree.Write("viewer.js", text);
    const ProcessResult embedded =
        RunTool(VESK_CMAKE, {"-DOUTPUT=" + tree.File("Files.cpp"), "-DHEADER=site/ViewerFiles.h",
                             "-DNAMESPACE=site", "-DFILES=kViewerScript=" + tree.File("viewer.js"),
                             "-DMEMBERS_FROM=" + tree.File("viewer.js"), "-P",
                             source + "/cmake/VeskEmbed.cmake"});
    ASSERT_EQ(embedded.exit_code, 0) << embedded.out << embedded.err;
    const ProcessResult compiled =
        RunTool(VESK_CXX_COMPILER,
                {"-std=c++20", "-fsyntax-only", "-I" + source + "/src", tree.File("Files.cpp")});
    EXPECT_EQ(compiled.exit_code, foreign ? 1 : 0) << compiled.err;
    EXPECT_EQ(compiled.err.find("reads kMember.frames_lost") != std::string::npos, foreign)
        << compiled.err;
  }
}

}  // namespace
