#include "app/RootArgument.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fstream>

namespace {

TEST(RootFromArgument, FolderFileAndMissingPath) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString();
  std::ofstream(folder + "/a.txt") << "x";

  struct Case {
    std::string argument, root;
  };
  const Case cases[] = {
      {folder, folder},                     // a folder as given
      {folder + "/", folder + "/"},         // trailing separator kept
      {folder + "/a.txt", folder + "/"},    // a file gives its folder with "/"
      {folder + "/nosuch", ""},             // nothing there
      {folder + "/a.txt/", ""},             // a file is no folder
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    EXPECT_EQ(c.root, RootFromArgument(c.argument));
  }
}

// A bare file name once gave an empty root, which the start button then refused.
TEST(RootFromArgument, BareFileNameGivesTheWorkingFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  std::ofstream("a.txt") << "x";
  EXPECT_EQ("./", RootFromArgument("a.txt"));
  QDir::setCurrent(previous);
}

}  // namespace
