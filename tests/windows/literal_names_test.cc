// Names the classic Win32 path form would change (trailing dots and spaces, device names such as
// "nul") must be walked and shredded as they are: otherwise a walk skips them, or hits a sibling.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/unit/real_tree.h"

namespace morvenit {
namespace {

// Creates `name` in `folder` through the extended-length form, which keeps the name literally.
void CreateLiteral(const Text& folder, const Text& name, const std::string& data) {
  const Text path = L"\\\\?\\" + folder + L"\\" + name;
  ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid()) << "cannot create a test file: " << ::GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(
      ::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
}

bool ExistsLiteral(const Text& folder, const Text& name) {
  const Text path = L"\\\\?\\" + folder + L"\\" + name;
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(LiteralNames, TrailingDotsSpacesAndDeviceNamesAreShreddedAsTheyAre) {
  RealRun r;
  const Text folder = ToText(r.tree.Folder("odd"));
  const Text names[] = {L"trail.", L"space ", L"nul", L"con.txt", L"trail"};
  for (const Text& name : names) CreateLiteral(folder, name, "secret " + Narrow(name));

  ProcessItems(r.run, {folder});

  for (const Text& name : names) EXPECT_FALSE(ExistsLiteral(folder, name)) << Narrow(name);
  EXPECT_FALSE(r.AnyFileFailed()) << "every file was found as it is named";
  EXPECT_TRUE(ExistsLiteral(folder, L""));
}

}  // namespace
}  // namespace morvenit
