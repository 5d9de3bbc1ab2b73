// The emulator's --storage folder: made when missing and said so, refused
// when the path is something else.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "qvemu/options.h"

namespace {

namespace fs = std::filesystem;

TEST(QvemuStorageFolder, AMissingFolderIsMadeAndSaidSoAnythingElseIsRefused) {
  std::string pattern = (fs::temp_directory_path() / "qvemu-storage-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  std::string note;
  std::string error;

  const fs::path missing = root / "new" / "S1";
  ASSERT_TRUE(qvemu::prepare_storage_folder(missing.string(), note, error)) << error;
  EXPECT_TRUE(fs::is_directory(missing));
  EXPECT_EQ(note, "storage folder " + missing.string() + " made");

  note.clear();
  EXPECT_TRUE(qvemu::prepare_storage_folder(missing.string(), note, error));
  EXPECT_EQ(note, "");  // a folder that is there is used as it is, without a word

  const fs::path file = root / "file";
  std::ofstream(file) << "x";
  EXPECT_FALSE(qvemu::prepare_storage_folder(file.string(), note, error));
  EXPECT_EQ(error, "--storage " + file.string() + ": not a folder");
  EXPECT_FALSE(qvemu::prepare_storage_folder((file / "below").string(), note, error));
  EXPECT_NE(error.find("cannot be made"), std::string::npos) << error;
  fs::remove_all(root);
}

}  // namespace
