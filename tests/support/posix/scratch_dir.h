// A fresh folder for each test of files, removed with everything in it.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <set>
#include <string>

#include "tests/support/files.h"

namespace testsupport {

class ScratchDirTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/agg-files-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { (void)!std::system(("rm -rf '" + dir + "'").c_str()); }
  // What the folder holds, hidden names included.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
      while (const dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }
  // Whether an output's temporary is there.
  bool TemporaryPresent() const {
    for (const std::string& n : Entries())
      if (n.rfind(".agg-", 0) == 0) return true;
    return false;
  }
  std::string dir;
};

}  // namespace testsupport
