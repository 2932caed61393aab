// ReadStoredVersion on real files, parsed by the real tinyxml2, in a scratch
// working directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "stored_version.h"

namespace fs = std::filesystem;

namespace {

class StoredVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = fs::current_path();
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = fs::temp_directory_path() /
               (std::string("pelterin-") + test->name() + "-" + std::to_string(Unique()));
    fs::create_directories(scratch_);
    fs::current_path(scratch_);
  }
  void TearDown() override {
    fs::current_path(original_);
    fs::remove_all(scratch_);
  }
  static void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static int Unique() {
    static int counter = 0;
    return ++counter;
  }

  fs::path original_;
  fs::path scratch_;
};

TEST_F(StoredVersionTest, ReadsTheTextAsTheParserDecodesIt) {
  struct Case {
    const char* name;
    std::string file;
    std::string version;
  };
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const Case cases[] = {
      {"plain", head + "<userDefaultRoot><win32_app_new_version>1.0.4.0</win32_app_new_version>"
                       "</userDefaultRoot>", "1.0.4.0"},
      {"any root name, no declaration",
       "<x><win32_app_new_version>1.0.4.0</win32_app_new_version></x>", "1.0.4.0"},
      {"first of two keys",
       "<r><win32_app_new_version>1.0.4.0</win32_app_new_version>"
       "<win32_app_new_version>9.9.9.9</win32_app_new_version></r>", "1.0.4.0"},
      {"comments before the text",
       "<r><win32_app_new_version><!-- a --><!-- b -->1.0.4.0</win32_app_new_version></r>",
       "1.0.4.0"},
      {"white space kept", "<r><win32_app_new_version> 1.0.4.0 \t</win32_app_new_version></r>",
       " 1.0.4.0 \t"},
      {"entities decoded",
       "<r><win32_app_new_version>1.0.&#52;.0&amp;&lt;x&gt;</win32_app_new_version></r>",
       "1.0.4.0&<x>"},
      {"CDATA", "<r><win32_app_new_version><![CDATA[1.0.4.0&amp;]]></win32_app_new_version></r>",
       "1.0.4.0&amp;"},
      {"line ends become LF",
       "<r><win32_app_new_version>a\r\nb\rc\n\rd</win32_app_new_version></r>", "a\nb\nc\nd"},
      {"byte-order mark", "\xEF\xBB\xBF" + head +
                              "<r><win32_app_new_version>1.0.4.0</win32_app_new_version></r>",
       "1.0.4.0"},
      {"attributes ignored",
       "<r><win32_app_new_version v=\"2.0.0.0\">1.0.4.0</win32_app_new_version></r>", "1.0.4.0"},
      {"non-ASCII kept as UTF-8", "<r><win32_app_new_version>1.0.4.0-\xE6\xB5\x8B</win32_app_new_version></r>",
       "1.0.4.0-\xE6\xB5\x8B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write("UserDefault.xml", c.file);
    EXPECT_EQ(ReadStoredVersion(), c.version);
  }
}

TEST_F(StoredVersionTest, GivesNothingWithoutAUsableRecord) {
  struct Case {
    const char* name;
    std::string file;
  };
  const Case cases[] = {
      {"empty file", ""},
      {"white space only", " \r\n "},
      {"not XML", "win32_app_new_version=1.0.4.0"},
      {"unclosed", "<r><win32_app_new_version>1.0.4.0</win32_app_new_version>"},
      {"mismatched", "<r><win32_app_new_version>1.0.4.0</r></win32_app_new_version>"},
      {"binary", std::string("\x00\xFF\xFE<r>\x01", 7)},
      {"no root element", "<?xml version=\"1.0\"?><!-- nothing -->"},
      {"key is the root", "<win32_app_new_version>1.0.4.0</win32_app_new_version>"},
      {"key only as a grandchild",
       "<r><g><win32_app_new_version>1.0.4.0</win32_app_new_version></g></r>"},
      {"two root elements", "<a/><r><win32_app_new_version>1</win32_app_new_version></r>"},
      {"name is case-sensitive", "<r><Win32_App_New_Version>1.0.4.0</Win32_App_New_Version></r>"},
      {"empty key", "<r><win32_app_new_version/></r>"},
      {"white space only in the key", "<r><win32_app_new_version>  \n </win32_app_new_version></r>"},
      {"element before the text", "<r><win32_app_new_version><b/>1.0.4.0</win32_app_new_version></r>"},
      {"only a comment", "<r><win32_app_new_version><!-- 1.0.4.0 --></win32_app_new_version></r>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write("UserDefault.xml", c.file);
    EXPECT_EQ(ReadStoredVersion(), "");
  }
}

TEST_F(StoredVersionTest, ReadsOnlyFromTheWorkingDirectory) {
  const std::string record = "<r><win32_app_new_version>1.0.4.0</win32_app_new_version></r>";
  fs::create_directory("exe");
  Write("exe/UserDefault.xml", record);
  EXPECT_EQ(ReadStoredVersion(), "");

  fs::create_directory("UserDefault.xml");  // a folder of that name is no file
  EXPECT_EQ(ReadStoredVersion(), "");
  fs::remove("UserDefault.xml");

  Write("UserDefault.xml", record);
  EXPECT_EQ(ReadStoredVersion(), "1.0.4.0");
}

TEST_F(StoredVersionTest, FindsTheKeyAfterManyOtherSettings) {
  std::string file = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<userDefaultRoot>\n";
  for (int i = 0; i < 20000; ++i) {
    file += "    <setting_" + std::to_string(i) + ">value &amp; " + std::to_string(i * 7) +
            "</setting_" + std::to_string(i) + ">\n";
  }
  file += "    <nested><win32_app_new_version>0.0.0.1</win32_app_new_version></nested>\n";
  file += "    <win32_app_new_version>1.0.42.0</win32_app_new_version>\n</userDefaultRoot>\n";
  Write("UserDefault.xml", file);
  EXPECT_EQ(ReadStoredVersion(), "1.0.42.0");
}

}  // namespace
