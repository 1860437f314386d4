#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Document.h"
#include "Node.h"

using orvane::xml::Document;
using orvane::xml::Node;
using orvane::xml::NodeType;

namespace {

const char* const kDeviceTree =
    "<devices><device address=\"3\"><configuration bConfigurationValue=\"1\" strConfiguration=\"09 02 \">"
    "<interface bInterfaceNumber=\"0\"><endpoint bEndpointAddress=\"129\"/></interface>"
    "<interface bInterfaceNumber=\"1\"><endpoint bEndpointAddress=\"2\"/><endpoint bEndpointAddress=\"130\"/>"
    "</interface></configuration></device><device address=\"5\"/></devices>";

Document loaded(const std::string& text)
{
    Document doc;
    EXPECT_TRUE(doc.loadXML(text)) << doc.lastError();
    return doc;
}

std::string readAll(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(XmlLoad, MalformedTextFailsAndKeepsPreviousContent)
{
    const char* const bad[] = {
        "", "   ", "<a>", "<a></b>", "<a x=1/>", "<a x=\"1\" x=\"2\"/>", "<a/><b/>", "text<a/>", "<a/>tail",
        "<!-- comment only -->", "<a>&bogus;</a>", "<a>a & b</a>", "<a>&amp</a>", "<a x=\"<\"/>", "<a x=\"&lt\"/>",
        "<a>&#0;</a>", "<a>&#xD800;</a>", "<a>&#x110000;</a>", "<a>&#12a;</a>", "<a>&#x;</a>", "<a>&#X41;</a>",
    };
    for (const char* text : bad) {
        Document doc = loaded("<keep v=\"1\"/>");
        EXPECT_FALSE(doc.loadXML(text)) << text;
        EXPECT_NE(doc.lastError().find("line"), std::string::npos) << text << ": " << doc.lastError();
        EXPECT_EQ(doc.xml(), "<keep v=\"1\"/>") << text;
    }
    Document doc;
    EXPECT_FALSE(doc.loadXML("<a/>\n<b/>"));
    EXPECT_NE(doc.lastError().find("line 2, column 2"), std::string::npos) << doc.lastError();
    EXPECT_TRUE(doc.loadXML("<?xml version=\"1.0\"?>\n<!-- note -->\n<new/>") && doc.lastError().empty());
}

TEST(XmlLoad, ReferencesAreDecoded)
{
    struct Case {
        const char *xml, *text, *attr;
    };
    const Case cases[] = {
        {"<a v=\"&lt;&gt;&amp;&apos;&quot;\">&lt;&gt;&amp;&apos;&quot;</a>", "<>&'\"", "<>&'\""},
        {"<a v=\"&#x4E2D;&#25991;\">&#x4e2d;&#25991;&#x1F600;</a>", "中文\xF0\x9F\x98\x80", "中文"},
        {"<a v=\"x&#10;y&#9;z\">&amp;amp;</a>", "&amp;", "x\ny\tz"},
        {"<a v=\"x\ny\">a<![CDATA[&lt;]]>b</a>", "a&lt;b", "x y"},
    };
    for (const Case& c : cases) {
        Document doc = loaded(c.xml);
        EXPECT_EQ(doc.documentElement().text(), c.text) << c.xml;
        EXPECT_EQ(doc.documentElement().attribute("v"), c.attr) << c.xml;
    }
}

TEST(XmlLoad, DeepNestingDoesNotExhaustTheStack)
{
    const int depth = 100000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<d>";
    text += "x";
    for (int i = 0; i < depth; ++i) text += "</d>";
    Document doc = loaded(text);
    EXPECT_EQ(doc.node().text(), "x");
    EXPECT_EQ(doc.selectNodes("//d").size(), static_cast<size_t>(depth));
    EXPECT_EQ(doc.xml(), text);
}

TEST(XmlFile, SaveAndLoadRoundTrip)
{
    const auto dir = std::filesystem::temp_directory_path() / "orvane_xml_test";
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "p.usb").string();

    // A whole document kept as an element's text, as the project file keeps the device tree.
    Document doc = loaded("<Orvane><Setup>中文 &amp; &lt;x&gt;</Setup><m><b/> y <c> z</c></m><Configuration/></Orvane>");
    ASSERT_TRUE(doc.selectSingleNode("Orvane/Configuration").setText(kDeviceTree));
    ASSERT_TRUE(doc.save(file)) << doc.lastError();
    const std::string bytes = readAll(file);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_NE(bytes.find("中文"), std::string::npos);   // UTF-8, not character references

    Document back;
    ASSERT_TRUE(back.load(file)) << back.lastError();
    EXPECT_EQ(back.xml(), doc.xml());
    EXPECT_EQ(back.selectSingleNode("Orvane/Configuration").text(), kDeviceTree);

    // Failures: an unwritable path, a broken file (the content stays), nothing to save.
    EXPECT_FALSE(back.save((dir / "no/such/dir/x.xml").string()));
    EXPECT_FALSE(back.lastError().empty());
    std::ofstream(dir / "bad.xml") << "<a>\n<b>\n</a>";
    EXPECT_FALSE(back.load((dir / "bad.xml").string()));
    EXPECT_NE(back.lastError().find("line 3"), std::string::npos) << back.lastError();
    EXPECT_EQ(back.xml(), doc.xml());
    EXPECT_FALSE(Document().save(file));
    std::filesystem::remove_all(dir);
}

TEST(XmlFile, OnlyRegularFilesWithinTheBoundLoad)
{
    char folder[] = "/tmp/orvane-xml-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(folder);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder");
    std::ofstream(dir / "ten.xml") << "<a>12</a>\n";  // ten bytes

    // A folder fails on read, /dev/zero never ends, a pipe blocks the open: none is read.
    const std::pair<std::string, uint64_t> refused[] = {
        {(dir / "folder").string(), UINT64_MAX}, {"/dev/zero", UINT64_MAX}, {(dir / "pipe").string(), UINT64_MAX},
        {(dir / "ten.xml").string(), 9},         {(dir / "none.xml").string(), UINT64_MAX}};
    for (const auto& [path, bound] : refused) {
        Document doc = loaded("<keep/>");
        EXPECT_FALSE(doc.load(path, bound)) << path;
        EXPECT_FALSE(doc.lastError().empty()) << path;
        EXPECT_EQ(doc.xml(), "<keep/>") << path;
    }
    Document doc;
    EXPECT_TRUE(doc.load((dir / "ten.xml").string(), 10)) << doc.lastError();
    std::filesystem::remove_all(dir);
}

TEST(XmlText, MarkupCharactersRoundTrip)
{
    const char* const texts[] = {"a < b && c > d", "\"q\" 's'", "]]> end", "<groups/>", "节点被隐藏而无法显示！",
                                 "l1\nl2\tt", "  padded  ", "&amp;", "\x01"};
    for (const char* t : texts) {
        Document doc = loaded("<r/>");
        ASSERT_TRUE(doc.documentElement().setAttribute("v", t));
        ASSERT_TRUE(doc.documentElement().appendChild(doc.createElement("c")).setText(t));
        Document back = loaded(doc.xml());
        EXPECT_EQ(back.documentElement().attribute("v"), t) << doc.xml();
        EXPECT_EQ(back.selectSingleNode("r/c").text(), t) << doc.xml();
    }
}

TEST(XmlText, SetTextReplacesChildrenAndKeepsTheirHandles)
{
    Document doc = loaded("<a>one<b>two<c>three</c></b><![CDATA[<four>]]><!--no--></a>");
    Node a = doc.documentElement(), b = a.selectSingleNode("b");
    EXPECT_EQ(doc.node().text(), "onetwothree<four>");
    ASSERT_TRUE(a.setText("new"));
    EXPECT_EQ(doc.xml(), "<a>new</a>");
    EXPECT_TRUE(b.parent().isNull());
    EXPECT_EQ(b.text(), "twothree");
    ASSERT_TRUE(a.setText(""));
    EXPECT_EQ(doc.xml(), "<a/>");
}

TEST(XmlXPath, SelectsNodesInDocumentOrderAndReportsBadExpressions)
{
    const std::pair<const char*, int> cases[] = {   // -1: a bad expression, or one not selecting nodes
        {"devices/device", 2}, {"/devices/device[@address=\"3\"]", 1}, {"devices/device[@address='9']", 0},
        {"//endpoint", 3}, {"//interface[@bInterfaceNumber=\"1\"]/endpoint", 2}, {"/*", 1}, {"//configuration/..", 1},
        {"", -1}, {"devices/device[", -1}, {"//", -1}, {"count(//device)", -1}, {"//device/@address", -1},
        {"nosuch(1)", -1}, {"$var", -1}, {"devices]]", -1}, {"'text'", -1},
    };
    Document doc = loaded(kDeviceTree);
    for (const auto& [xpath, count] : cases) {
        std::string error = "stale", singleError;
        EXPECT_EQ(doc.selectNodes(xpath, &error).size(), size_t(std::max(count, 0))) << xpath;
        EXPECT_EQ(error.empty(), count >= 0) << xpath << ": " << error;
        EXPECT_EQ(doc.selectSingleNode(xpath, &singleError).isNull(), count <= 0) << xpath;
        EXPECT_EQ(singleError.empty(), count >= 0) << xpath;
    }
    Node device = doc.selectSingleNode("devices/device[@address='3']");
    std::vector<std::string> seen;
    for (Node ep : device.selectNodes(".//endpoint")) seen.push_back(*ep.attribute("bEndpointAddress"));
    for (Node n : doc.selectSingleNode("//endpoint").selectNodes("ancestor::*")) seen.push_back(n.name());
    EXPECT_EQ(seen, (std::vector<std::string>{"129", "2", "130", "devices", "device", "configuration", "interface"}));
}

TEST(XmlTree, CreateMoveRemoveAndEditAttributes)
{
    Document doc = loaded("<marks><mark p=\"1\"/><mark p=\"2\"/><mark p=\"3\"/></marks>");
    Node marks = doc.documentElement();
    Node item = doc.createElement("item");
    EXPECT_TRUE(item.parent().isNull());
    EXPECT_EQ(doc.selectNodes("//item").size(), 0u) << "detached nodes are not in the tree";
    EXPECT_EQ(marks.appendChild(item), item);   // the handle keeps its identity
    item.appendChild(doc.createNode(NodeType::Text, "x<y"));
    EXPECT_TRUE(item.setAttribute("bits", "8"));
    EXPECT_TRUE(item.setAttribute("bits", "9"));   // replaced, not duplicated
    EXPECT_TRUE(item.setAttribute("empty", ""));
    EXPECT_TRUE(item.removeAttribute("empty"));
    EXPECT_FALSE(item.removeAttribute("empty"));
    EXPECT_EQ(item.xml(), "<item bits=\"9\">x&lt;y</item>");

    Node second = doc.selectSingleNode("marks/mark[@p='2']");
    EXPECT_TRUE(second.removeChild(marks).isNull());   // not a child
    EXPECT_EQ(marks.removeChild(second), second);
    EXPECT_TRUE(marks.removeChild(second).isNull());   // already gone
    EXPECT_EQ(marks.appendChild(second), second);
    marks.appendChild(marks.firstChild());   // a move, not a copy
    EXPECT_EQ(doc.xml(), "<marks><mark p=\"3\"/><item bits=\"9\">x&lt;y</item><mark p=\"2\"/><mark p=\"1\"/></marks>");
    // Deleted, not kept detached: gone from the tree and from detached searches.
    EXPECT_FALSE(item.deleteChild(second));   // not a child
    EXPECT_TRUE(marks.deleteChild(second));
    EXPECT_EQ(doc.xml(), "<marks><mark p=\"3\"/><item bits=\"9\">x&lt;y</item><mark p=\"1\"/></marks>");
    EXPECT_EQ(doc.createElement("probe").selectNodes("//mark").size(), 2u);

    ASSERT_FALSE(doc.removeChild(marks).isNull());
    EXPECT_EQ(doc.xml(), "");
    EXPECT_FALSE(doc.appendChild(doc.createElement("fresh")).isNull());
    EXPECT_EQ(doc.xml(), "<fresh/>");
}

TEST(XmlTree, InvalidStructureAndNamesAreRefused)
{
    Document doc = loaded("<a><b><c/></b></a>");
    Node a = doc.documentElement(), b = a.firstChild(), c = b.firstChild();
    EXPECT_TRUE(c.appendChild(a).isNull());
    EXPECT_TRUE(b.appendChild(b).isNull());
    EXPECT_TRUE(doc.appendChild(doc.createElement("second")).isNull());
    EXPECT_TRUE(doc.appendChild(doc.createTextNode("t")).isNull());
    EXPECT_TRUE(a.appendChild(doc.node()).isNull());
    EXPECT_TRUE(doc.createTextNode("t").appendChild(doc.createElement("x")).isNull());
    EXPECT_FALSE(doc.createTextNode("t").setAttribute("a", "b"));
    EXPECT_FALSE(doc.node().setAttribute("a", "b"));
    EXPECT_EQ(doc.xml(), "<a><b><c/></b></a>");
    for (const char* name : {"", "1x", "a b", "a<b", "a\"", "-x", "a/b"}) {
        EXPECT_TRUE(doc.createElement(name).isNull()) << name;
        EXPECT_FALSE(a.setAttribute(name, "v")) << name;
    }
    EXPECT_FALSE(doc.createElement("设备").isNull() || doc.createElement("ns:x-1.y_z").isNull());
    EXPECT_TRUE(doc.createNode(NodeType::Comment, "c").isNull());
}

TEST(XmlTree, CloneIsIndependentAndCrossesDocuments)
{
    Document tree = loaded(kDeviceTree);
    Node config = tree.selectSingleNode("//configuration");
    Node deep = config.cloneNode(true), shallow = config.cloneNode(false);
    EXPECT_EQ(deep.xml(), config.xml());
    EXPECT_EQ(deep.selectNodes(".//endpoint").size(), 3u);   // XPath works on a detached copy
    deep.setAttribute("name", "mine");
    EXPECT_FALSE(config.attribute("name").has_value());
    EXPECT_EQ(shallow.attributes(), config.attributes());
    EXPECT_TRUE(shallow.childNodes().empty());

    Document settings = loaded("<settings><configurations/></settings>");
    EXPECT_NE(settings.selectSingleNode("//configurations").appendChild(deep), deep);   // copied in
    EXPECT_EQ(settings.selectSingleNode("//configuration").attribute("name"), "mine");
    EXPECT_EQ(settings.selectNodes("//configuration//endpoint").size(), 3u);
}

TEST(XmlNull, NullHandlesAndMovedFromDocumentsAreHarmless)
{
    Node null;
    EXPECT_EQ(null.type(), NodeType::Null);
    EXPECT_EQ(null.name() + null.text() + null.xml(), "");
    EXPECT_FALSE(null.setText("x") || null.setAttribute("a", "b"));
    EXPECT_TRUE(null.parent().isNull() && null.firstChild().isNull() && null.cloneNode(true).isNull());
    std::string error;
    EXPECT_TRUE(null.selectNodes("//a", &error).empty());
    EXPECT_FALSE(error.empty());

    Document doc = loaded("<a/>");
    Document taken = std::move(doc);
    EXPECT_EQ(taken.xml(), "<a/>");
    EXPECT_FALSE(doc.loadXML("<b/>"));   // NOLINT(bugprone-use-after-move): must stay harmless
    EXPECT_EQ(doc.xml(), "");
    EXPECT_TRUE(doc.createElement("x").isNull());
}
