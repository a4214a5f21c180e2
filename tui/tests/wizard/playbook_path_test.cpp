#include "wizard/playbook_path.hpp"

#include <gtest/gtest.h>

TEST(ProjectRoot, IsTheFifthParentOfTheExecutable) {
  const struct {
    const char* executable;
    const char* root;  // nullptr: no fifth parent
  } cases[] = {
      {"/home/u/tervane/tui/build/release/bin/tervane-wizard", "/home/u/tervane"},
      {"/a/b/c/d/wizard", "/"},  // five ancestors
      {"/a/b/c/wizard", nullptr},
      {"/a/b/wizard", nullptr},
      // Doubled slashes, "." and a trailing slash make no components.
      {"/a//b/./c/d/e/f/wizard", "/a/b"},
      {"/a/b/c/d/e/f/", "/a"},
  };
  for (const auto& c : cases) {
    auto root = project_root_from_path(c.executable);
    if (c.root) {
      ASSERT_TRUE(root.has_value()) << c.executable << ": " << root.error().message();
      EXPECT_EQ(*root, c.root) << c.executable;
    } else {
      ASSERT_FALSE(root.has_value()) << c.executable << " gave " << *root;
      EXPECT_EQ(root.error().message(), "Cannot resolve project root from binary path") << c.executable;
      EXPECT_TRUE(root.error().causes().empty());
    }
  }
}
