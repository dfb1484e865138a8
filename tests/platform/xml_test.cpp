#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/file_url.h"
#include "platform/text.h"
#include "platform/xml.h"
#include "support/temp_home.h"

namespace {

std::wstring Load(const std::string& path, bool* loaded) {
  std::wstring error;
  XmlDocumentPtr document = LoadXmlDocument(Utf8ToWide(path), &error);
  *loaded = document != nullptr;
  return error;
}

}  // namespace

TEST(FileUrl, LocalUrlsBecomePathsAndOtherComputersFilesNone) {
  EXPECT_EQ(FileUrlToPath(L"file://localhost/m/a%20b.mp3"), L"/m/a b.mp3");
  EXPECT_EQ(FileUrlToPath(L"FILE:///m/a%20b.mp3"), L"/m/a b.mp3");
  EXPECT_EQ(FileUrlToPath(L"file://LocalHost/m/x%C3%A9.mp3"), L"/m/x\u00e9.mp3");
  EXPECT_EQ(FileUrlToPath(L"file:///m/100%zz/%4"), L"/m/100%zz/%4");  // no escape: kept as written
  EXPECT_EQ(FileUrlToPath(L"file:///m/a\\b.mp3"), L"/m/a\\b.mp3");    // a Linux name may hold '\'
  EXPECT_EQ(FileUrlToPath(L"/m/plain%20path.mp3"), L"/m/plain path.mp3");
  // Another host, a drive letter, a network path, a NUL byte, nothing at all.
  for (const wchar_t* url : {L"file://nas/music/a.mp3", L"file:////nas/music/a.mp3", L"file://localhost/C:/M/a.mp3",
                             L"file:///c|/M/a.mp3", L"file:///m/a%00.mp3", L"file://localhost", L""})
    EXPECT_EQ(FileUrlToPath(url), L"") << WideToUtf8(url);
}

TEST(FileUrl, PathsBecomeLocalhostUrlsThatReadBack) {
  EXPECT_EQ(PathToFileUrl(L"/m/A B.mp3"), L"file://localhost/m/A%20B.mp3");
  EXPECT_EQ(PathToFileUrl(L"/m/50%#?[x]\u00e9.mp3"), L"file://localhost/m/50%25%23%3F%5Bx%5D%C3%A9.mp3");
  EXPECT_EQ(PathToFileUrl(L"/m/-_.~:!$&'()*+,;=@"), L"file://localhost/m/-_.~:!$&'()*+,;=@");
  const std::wstring odd = L"/m/a\\b %41 \U0001F3B5.flac";
  EXPECT_EQ(PathToFileUrl(odd), L"file://localhost/m/a%5Cb%20%2541%20%F0%9F%8E%B5.flac");
  EXPECT_EQ(FileUrlToPath(PathToFileUrl(odd)), odd);
}

TEST(Xml, ReadsElementsAttributesAndTextWithADoctype) {
  std::wstring error;
  XmlDocumentPtr doc = ParseXmlDocument(
      "<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<a x=\"1&amp;2\" y=\"line\none\"><!-- c --><b>t<![CDATA[<u>]]><i>v</i></b>text<c/></a>",
      &error);
  ASSERT_TRUE(doc) << WideToUtf8(error);
  const XmlNode root = XmlDocumentNode(*doc);
  std::vector<XmlNode> a = XmlSelectNodes(root, L"/a");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(XmlAttribute(a[0], "x"), L"1&2");
  EXPECT_EQ(XmlAttribute(a[0], "y"), L"line one");  // a line break inside an attribute is a space
  EXPECT_EQ(XmlAttribute(a[0], "none"), L"");
  std::vector<XmlNode> children = XmlChildElements(a[0]);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(XmlNodeName(children[0]), L"b");
  EXPECT_TRUE(XmlNameIs(children[1], "c"));
  EXPECT_EQ(XmlNodeText(children[0]), L"t<u>v");
  EXPECT_EQ(XmlNodeText(a[0]), L"t<u>vtext");
  EXPECT_TRUE(XmlSelectNodes(root, L"/a/[").empty());  // a broken query gives nothing
  EXPECT_TRUE(XmlChildElements(XmlNode{}).empty());
  EXPECT_EQ(XmlAttribute(XmlNode{}, "x"), L"");
}

TEST(Xml, HostileFilesEndQuicklyWithTheReadError) {
  TempHome home;
  const std::string dir = home.path();
  bool loaded = false;
  // Entities are never expanded: the classic expansion bomb parses at once, its entity unexpanded.
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [\n<!ENTITY a \"aaaaaaaaaa\">\n";
  for (char name = 'b'; name <= 'j'; ++name) {
    bomb += std::string("<!ENTITY ") + name + " \"";
    for (int k = 0; k < 10; ++k) bomb += std::string("&") + char(name - 1) + ";";
    bomb += "\">\n";
  }
  bomb += "]>\n<r v=\"&j;\">&j;</r>\n";
  WriteRaw(dir + "/bomb.xml", bomb);
  std::wstring error;
  XmlDocumentPtr doc = LoadXmlDocument(Utf8ToWide(dir + "/bomb.xml"), &error);
  ASSERT_TRUE(doc);
  const XmlNode r = XmlSelectNodes(XmlDocumentNode(*doc), L"/r")[0];
  EXPECT_EQ(XmlAttribute(r, "v"), L"&j;");
  EXPECT_EQ(XmlNodeText(r), L"&j;");

  // Deep nesting parses and its text is read without recursion.
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<n>";
  deep += "x";
  for (int i = 0; i < 200000; ++i) deep += "</n>";
  WriteRaw(dir + "/deep.xml", deep);
  doc = LoadXmlDocument(Utf8ToWide(dir + "/deep.xml"), &error);
  ASSERT_TRUE(doc);
  EXPECT_EQ(XmlNodeText(XmlDocumentNode(*doc)), L"x");

  WriteRaw(dir + "/cut.xml", "<a><b x=\"1\">");
  ASSERT_EQ(mkfifo((dir + "/fifo.xml").c_str(), 0600), 0);
  std::filesystem::create_directory(dir + "/folder.xml");
  for (const char* name : {"/cut.xml", "/fifo.xml", "/folder.xml", "/missing.xml"}) {
    EXPECT_EQ(Load(dir + name, &loaded), kXmlReadErrorText) << name;
    EXPECT_FALSE(loaded) << name;
  }
}
