// ReadStoredVersion on real files, parsed by the real tinyxml2, in a scratch
// working directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <cstddef>
#include <string>

#include "stored_version.h"

namespace fs = std::filesystem;

namespace {

const char kRecord[] = "<win32_app_new_version>1.0.4.0</win32_app_new_version>";

// `body` and the record under a root element: two tags besides the body's.
std::string UnderRoot(const std::string& body, const std::string& record = kRecord) {
  return "<r>" + body + record + "</r>";
}

std::string Repeat(const std::string& text, std::size_t times) {
  std::string repeated;
  for (std::size_t i = 0; i < times; ++i) repeated += text;
  return repeated;
}

// The longest version a download folder's name holds: kMaxStoredVersionBytes.
const std::string kLongestVersion = "1.0.4" + Repeat(".0", 120);

// The key holding `version`.
std::string Key(const std::string& version) {
  return "<win32_app_new_version>" + version + "</win32_app_new_version>";
}

// `count` attributes, named `prefix` and a number of two digits or more.
std::string Attributes(std::size_t count, const std::string& prefix = "a") {
  std::string attributes;
  for (std::size_t i = 0; i < count; ++i) {
    attributes += " " + prefix + (i < 10 ? "0" : "") + std::to_string(i) + "=\"\"";
  }
  return attributes;
}

// An element of `count` attributes.
std::string WithAttributes(std::size_t count) { return "<e" + Attributes(count) + "/>"; }

// An element whose start and end tags have `count` attributes each.
std::string WithEndTagAttributes(std::size_t count) {
  return "<e" + Attributes(count) + "></e" + Attributes(count) + ">";
}

// Attributes whose names the parser compares exactly
// kMaxAttributeNameComparisonBytes in all (plus `more`): the k-th of an
// element costs k - 1 times the bytes from the previous value's closing quote
// to its own opening quote. 64 attributes sharing a long prefix (and a
// number, ' ', '=' and the quote), then the rest on a second attribute.
std::string NamesComparedToTheLimit(std::size_t more) {
  const std::size_t pairs = 64 * 63 / 2;
  const std::size_t prefix = kMaxAttributeNameComparisonBytes / pairs - 5;
  const std::size_t rest = kMaxAttributeNameComparisonBytes - pairs * (prefix + 5);
  return "<e" + Attributes(64, std::string(prefix, 'p')) + "/><f a='' " +
         std::string(rest - 3 + more, 'q') + "=''/>";
}

// `count` character references that the parser searches to the end of
// their text for a ';': 3 * count * (count + 1) / 2 bytes.
std::string UnendedReferences(std::size_t count) { return Repeat("&#1", count); }

// The most such references within kMaxReferenceSearchBytes.
std::size_t MostUnendedReferences() {
  std::size_t count = 0;
  while (3 * (count + 1) * (count + 2) / 2 <= kMaxReferenceSearchBytes) ++count;
  return count;
}

// References the parser searches exactly kMaxReferenceSearchBytes for in all
// (plus `more`), the last of them to the end of the file, past the root; a
// text without references before the root.
std::string ReferencesSearchedToTheLimit(std::size_t more) {
  const std::size_t count = MostUnendedReferences();
  const std::size_t rest = kMaxReferenceSearchBytes - 3 * count * (count + 1) / 2;
  return "\n" + UnderRoot("<k>" + UnendedReferences(count) + "</k>") + "&#" +
         std::string(rest - 2 + more, ' ');
}

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
  // Random, so that two runs of the suite at once never share a folder.
  static unsigned Unique() { return std::random_device()(); }

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
  // Without the ';' these would search past the limit.
  const std::string half = UnendedReferences(MostUnendedReferences() * 2 / 3);
  const std::string halves = half + "x;" + half;
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
      {"markup up to its limit", UnderRoot(Repeat("<k/>", kMaxSettingsMarkup - 2)), "1.0.4.0"},
      {"attributes count as markup, up to its limit",
       UnderRoot(Repeat(WithAttributes(1), (kMaxSettingsMarkup - 2) / 2)), "1.0.4.0"},
      {"markup in comments, CDATA, declarations and attribute values counts once",
       "<?xml version=\"1.0\"?><?pi " + Repeat("<k/>", 100) + "?><!DOCTYPE r><r>" +
           Repeat("<k/>", kMaxSettingsMarkup - 10) +
           "<!--" + Repeat("<k/>", 100) + "--><![CDATA[" + Repeat("<k/>", 100) + "]]>"
           "<a b='" + Repeat("<k/>\">", 100) + "' c=\"" + Repeat("'<k/>", 100) + "\"/>" +
           kRecord + "</r>", "1.0.4.0"},
      {"attributes up to their limit on one element",
       UnderRoot(WithAttributes(kMaxAttributesPerElement)), "1.0.4.0"},
      {"character references up to their limit",
       UnderRoot("<k>" + UnendedReferences(MostUnendedReferences()) + "</k>"), "1.0.4.0"},
      {"references in an attribute value up to their limit",
       UnderRoot("<e a='" + UnendedReferences(MostUnendedReferences()) + "'/>"), "1.0.4.0"},
      {"'&' and '#' apart are no references", UnderRoot("<k>" + Repeat("& #", 7000) + "</k>"),
       "1.0.4.0"},
      {"a million references, each ended by its ';'", UnderRoot("<k>" + Repeat("&#52;", 1 << 20) +
                                                                "</k>"), "1.0.4.0"},
      {"a ';' ends the search of the references before it", UnderRoot("<k>" + halves + "</k>"),
       "1.0.4.0"},
      {"a value's closing quote ends the search of its references",
       UnderRoot("<e a=\"" + half + "\"></e b='" + half + "'>"),
       "1.0.4.0"},
      {"the longest version a folder name holds", UnderRoot("", Key(kLongestVersion)),
       kLongestVersion},
      {"end-tag attributes up to the limit on one element",
       UnderRoot(WithEndTagAttributes(kMaxAttributesPerElement)), "1.0.4.0"},
      {"end-tag attributes count as markup, up to its limit",
       UnderRoot(Repeat("<e></e a=''>", (kMaxSettingsMarkup - 2) / 2)), "1.0.4.0"},
      {"attribute names compared up to their limit", UnderRoot(NamesComparedToTheLimit(0)),
       "1.0.4.0"},
      {"nested as deep as the parser reads", UnderRoot(Repeat("<a>", 97) + Repeat("</a>", 97)),
       "1.0.4.0"},
      {"what follows a NUL is not read, nor counted",
       UnderRoot("") + std::string(1, '\0') + Repeat("<k/>", kMaxSettingsMarkup), "1.0.4.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write("UserDefault.xml", c.file);
    EXPECT_EQ(ReadStoredVersion().version, c.version);
  }
}

// No record, and why not, for the trace.
TEST_F(StoredVersionTest, GivesNothingWithoutAUsableRecord) {
  struct Case {
    const char* name;
    std::string file;
    const char* why;  // the start of the reason
  };
  const std::string parse_error = "UserDefault.xml cannot be parsed (XML_ERROR_";
  const std::string no_key = "UserDefault.xml has no win32_app_new_version under its root";
  const std::string no_text = "win32_app_new_version holds no text";
  const std::string too_large = "UserDefault.xml is larger than 16 MiB, so it is not read";
  const std::string too_much_markup = "UserDefault.xml holds more than " +
                                      std::to_string(kMaxSettingsMarkup) +
                                      " tags, attributes and other markup, so it is not read";
  const std::string too_many_attributes = "UserDefault.xml has an element with more than " +
                                          std::to_string(kMaxAttributesPerElement) +
                                          " attributes, so it is not read";
  const std::string too_many_references = "UserDefault.xml has character references (&#)";
  const std::string record = "<r><win32_app_new_version>1.0.4.0</win32_app_new_version></r>";
  const Case cases[] = {
      {"empty file", "", "UserDefault.xml cannot be parsed (XML_ERROR_EMPTY_DOCUMENT at line 0)"},
      {"white space only", " \r\n ", parse_error.c_str()},
      {"not XML", "win32_app_new_version=1.0.4.0", parse_error.c_str()},
      {"unclosed", "<r><win32_app_new_version>1.0.4.0</win32_app_new_version>",
       parse_error.c_str()},
      {"a value without its closing quote", "<r><e a='1.0.4.0", parse_error.c_str()},
      {"a tag without a name", "<r><>" + record.substr(3), parse_error.c_str()},
      {"mismatched", "<r><win32_app_new_version>1.0.4.0</r></win32_app_new_version>",
       "UserDefault.xml cannot be parsed (XML_ERROR_MISMATCHED_ELEMENT at line 1)"},
      {"binary", std::string("\x00\xFF\xFE<r>\x01", 7), parse_error.c_str()},
      {"no root element", "<?xml version=\"1.0\"?><!-- nothing -->", no_key.c_str()},
      {"key is the root", "<win32_app_new_version>1.0.4.0</win32_app_new_version>",
       no_key.c_str()},
      {"key only as a grandchild",
       "<r><g><win32_app_new_version>1.0.4.0</win32_app_new_version></g></r>", no_key.c_str()},
      {"two root elements", "<a/><r><win32_app_new_version>1</win32_app_new_version></r>",
       no_key.c_str()},
      {"name is case-sensitive", "<r><Win32_App_New_Version>1.0.4.0</Win32_App_New_Version></r>",
       no_key.c_str()},
      {"empty key", "<r><win32_app_new_version/></r>", no_text.c_str()},
      {"white space only in the key", "<r><win32_app_new_version>  \n </win32_app_new_version></r>",
       no_text.c_str()},
      {"element before the text", "<r><win32_app_new_version><b/>1.0.4.0</win32_app_new_version></r>",
       no_text.c_str()},
      {"empty CDATA", "<r><win32_app_new_version><![CDATA[]]></win32_app_new_version></r>",
       no_text.c_str()},
      {"only a comment", "<r><win32_app_new_version><!-- 1.0.4.0 --></win32_app_new_version></r>",
       no_text.c_str()},
      {"a byte over the limit", record + std::string(kMaxSettingsBytes + 1 - record.size(), ' '),
       too_large.c_str()},
      {"markup past its limit", UnderRoot(Repeat("<k/>", kMaxSettingsMarkup - 1)),
       too_much_markup.c_str()},
      {"attributes past the markup limit",
       UnderRoot(Repeat(WithAttributes(1), (kMaxSettingsMarkup - 2) / 2) + "<k/>"),
       too_much_markup.c_str()},
      {"comments past the markup limit", UnderRoot(Repeat("<!---->", kMaxSettingsMarkup - 1)),
       too_much_markup.c_str()},
      {"declarations past the markup limit", Repeat("<?p?>", kMaxSettingsMarkup - 1) + record,
       too_much_markup.c_str()},
      {"an attribute past the limit on one element",
       UnderRoot(WithAttributes(kMaxAttributesPerElement + 1)), too_many_attributes.c_str()},
      {"character references past their limit",
       UnderRoot("<k>" + UnendedReferences(MostUnendedReferences() + 1) + "</k>"),
       too_many_references.c_str()},
      {"a quote in a comment, CDATA, instruction or declaration quotes nothing",
       "<!-- ' --><![CDATA[ ' ]]><?p ' ?><!x '>" + UnderRoot(Repeat("<k/>", kMaxSettingsMarkup)),
       too_much_markup.c_str()},
      {"an attribute past the limit on an end tag",
       UnderRoot("<e></e" + Attributes(kMaxAttributesPerElement + 1) + ">"),
       too_many_attributes.c_str()},
      {"end-tag attributes past the markup limit",
       UnderRoot(Repeat("<e></e a=''>", (kMaxSettingsMarkup - 2) / 2 - 1) + "<e></e a='' b=''>"),
       too_much_markup.c_str()},
      {"attribute names compared past their limit", UnderRoot(NamesComparedToTheLimit(1)),
       "UserDefault.xml has attributes whose names take more than 64 MiB of comparisons"},
      {"references searched exactly to their limit, to the end of the file",
       ReferencesSearchedToTheLimit(0), parse_error.c_str()},
      {"references searched a byte further", ReferencesSearchedToTheLimit(1),
       too_many_references.c_str()},
      {"references in an attribute value past their limit",
       UnderRoot("<e a='" + UnendedReferences(MostUnendedReferences() + 1) + "'/>"),
       too_many_references.c_str()},
      {"a version longer than a folder name holds",
       UnderRoot("", Key(kLongestVersion + "0")),
       "win32_app_new_version holds more than 245 bytes, more than a download folder's name"},
      {"nested deeper than the parser reads", UnderRoot(Repeat("<a>", 98) + Repeat("</a>", 98)),
       "UserDefault.xml cannot be parsed (XML_ELEMENT_DEPTH_EXCEEDED at line 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write("UserDefault.xml", c.file);
    const StoredRecord stored = ReadStoredVersion();
    EXPECT_EQ(stored.version, "");
    EXPECT_EQ(stored.why_none.substr(0, std::string(c.why).size()), c.why);
  }
  // Beyond what a 32-bit file size holds (sparse: its size is what counts).
  fs::resize_file("UserDefault.xml", 5ull << 30);
  EXPECT_EQ(ReadStoredVersion().why_none, too_large);
}

TEST_F(StoredVersionTest, ReadsOnlyFromTheWorkingDirectory) {
  const std::string record = "<r><win32_app_new_version>1.0.4.0</win32_app_new_version></r>";
  fs::create_directory("exe");
  Write("exe/UserDefault.xml", record);
  EXPECT_EQ(ReadStoredVersion().why_none, "no UserDefault.xml in the working directory");

  fs::create_directory("UserDefault.xml");  // a folder of that name is no file
  EXPECT_EQ(ReadStoredVersion().version, "");
  fs::remove("UserDefault.xml");

  Write("UserDefault.xml", record);
  EXPECT_EQ(ReadStoredVersion().version, "1.0.4.0");
}

// Up to the limit, however many other settings come first: 4 MiB of keys as
// the game writes them, one element each.
TEST_F(StoredVersionTest, FindsTheKeyAfterManyOtherSettings) {
  std::string file = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<userDefaultRoot>\n";
  for (int i = 0; file.size() < (4u << 20); ++i) {
    file += "    <setting_" + std::to_string(i) + ">value &amp; " + std::to_string(i * 7) +
            "</setting_" + std::to_string(i) + ">\n";
  }
  file += "    <nested><win32_app_new_version>0.0.0.1</win32_app_new_version></nested>\n";
  file += "    <win32_app_new_version>1.0.42.0</win32_app_new_version>\n</userDefaultRoot>";
  Write("UserDefault.xml", file);
  EXPECT_EQ(ReadStoredVersion().version, "1.0.42.0");

  // Exactly at the limit: the file is still read.
  file.insert(file.rfind("</userDefaultRoot>"), std::string(kMaxSettingsBytes - file.size(), '\n'));
  Write("UserDefault.xml", file);
  EXPECT_EQ(ReadStoredVersion().version, "1.0.42.0");
}

}  // namespace
