#include "runtime/class_registry.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "runtime/dictionary.h"
#include "runtime/platform.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvt {
namespace {

using testing::CaptureError;
using testing::ErrorIs;

const Uuid kTestClsid = *Uuid::Parse("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");

TEST(UuidTest, ParsesAndPrintsTheBracedForm) {
  EXPECT_EQ(kTestClsid.ToString(), "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
  EXPECT_EQ(Uuid::Parse("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"), kTestClsid);
  EXPECT_FALSE(Uuid::Parse("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F}").has_value());
  EXPECT_FALSE(Uuid::Parse("0F1E2D3C+4B5A-6978-8796-A5B4C3D2E1F0").has_value());
}

TEST(ClassRegistryTest, CreatesByProgIdOrClassId) {
  ScopedRegistration reg(
      "Test.Dictionary", [] { return Dictionary::Create(); }, kTestClsid);
  EXPECT_EQ(CreateObject("test.DICTIONARY")->Class().Name(), "Dictionary");
  EXPECT_EQ(CreateObject(kTestClsid.ToString())->Class().Name(), "Dictionary");
  EXPECT_EQ(ClassRegistry::Instance().ClassIdOf("Test.Dictionary"), kTestClsid);
}

TEST(ClassRegistryTest, UnknownIdentifiersAreNamedInTheError) {
  EXPECT_THAT(CaptureError([] { CreateObject("kvtNothing.Here"); }),
              ErrorIs(ErrorCode::kCannotCreateObject, "'kvtNothing.Here'"));
  EXPECT_THAT(CaptureError([] { CreateObject(kTestClsid.ToString()); }),
              ErrorIs(ErrorCode::kCannotCreateObject, kTestClsid.ToString()));
}

TEST(ClassRegistryTest, AScopedRegistrationPutsThePreviousClassBack) {
  int made_by = 0;
  ScopedRegistration outer("Test.Swap", [&] {
    made_by = 1;
    return Dictionary::Create();
  });
  {
    ScopedRegistration inner("Test.Swap", [&] {
      made_by = 2;
      return Dictionary::Create();
    });
    CreateObject("Test.Swap");
    EXPECT_EQ(made_by, 2);
  }
  CreateObject("Test.Swap");
  EXPECT_EQ(made_by, 1);
}

TEST(PlatformTest, TheDefaultRecordsAndCannotMakeWindows) {
  auto recording = std::make_shared<RecordingPlatform>();
  ScopedPlatform scope(recording);
  EXPECT_EQ(CurrentPlatform().MsgBox("Ciao", kMsgBoxOkOnly, ""), kMsgBoxAnswerOk);
  CurrentPlatform().SendTab();
  ASSERT_EQ(recording->Messages().size(), 1u);
  EXPECT_EQ(recording->Messages()[0].prompt, "Ciao");
  EXPECT_EQ(recording->TabsSent(), 1);
  EXPECT_THAT(CaptureError([] { CurrentPlatform().CreateWindow("frmFieldViewer"); }),
              ErrorIs(ErrorCode::kCannotCreateObject, "frmFieldViewer"));
}

TEST(UserRegistryTest, BadLinesAreSkippedAndReportedAndWindowsLineEndsRead) {
  const std::string text =
      "# comment\r\n"
      "A.Uno\t{00000000-0000-0000-0000-000000000001}\t/lib/uno.so\r\n"
      "rotta\n"
      "B.Due\tnon-un-uuid\t/lib/due.so\n"
      "\t{00000000-0000-0000-0000-000000000003}\t/lib/tre.so\n"
      "C.Quattro\t{00000000-0000-0000-0000-000000000004}\t/lib/quattro.so";
  std::vector<std::string> problems;
  const auto entries = ParseUserRegistry(text, "classes.tsv", &problems);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].library, "/lib/uno.so");  // no "\r" left behind
  EXPECT_EQ(entries[1].prog_id, "C.Quattro");
  EXPECT_EQ(problems.size(), 3u);
  EXPECT_THAT(problems[0], ::testing::StartsWith("classes.tsv:3:"));
}

TEST(UserRegistryTest, TwoProcessesRegisteringAtOnceLoseNothing) {
  testing::TempDir dir;
  setenv("KVT_CLASS_REGISTRY", dir.File("classes.tsv").c_str(), 1);
  {
    std::ofstream(dir.File("classes.tsv")) << "rotta\n";  // repaired by the first change
  }
  constexpr int kEach = 40;
  auto add = [](int process) {
    for (int i = 0; i < kEach; ++i) {
      UpdateUserRegistry([&](std::vector<UserClassEntry>& entries) {
        char id[64];
        std::snprintf(id, sizeof id, "{%08d-0000-0000-0000-%012d}", process, i);
        entries.push_back({"P" + std::to_string(process) + "." + std::to_string(i),
                           *Uuid::Parse(id), "/lib/x.so"});
      });
    }
  };
  const pid_t child = fork();
  if (child == 0) {
    add(2);
    _exit(0);
  }
  add(1);
  int status = 0;
  waitpid(child, &status, 0);
  std::vector<std::string> problems;
  EXPECT_EQ(ReadUserRegistry(&problems).size(), 2u * kEach);
  EXPECT_TRUE(problems.empty());
  unsetenv("KVT_CLASS_REGISTRY");
}

}  // namespace
}  // namespace kvt
