#include "runtime/class_registry.h"

#include "runtime/dictionary.h"
#include "runtime/platform.h"
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

}  // namespace
}  // namespace kvt
