#include <gtest/gtest.h>

#include "CDecodeResultWriter.h"
#include "Document.h"

using namespace orvane;

namespace {

TEST(DecodeResultWriter, GroupsAndItemsInOrderWithEscapedTexts)
{
    CDecodeResultWriter writer;
    xml::Document fresh;
    ASSERT_TRUE(fresh.loadXML(writer.Text()));
    EXPECT_EQ(fresh.documentElement().name(), "groups");
    EXPECT_TRUE(fresh.documentElement().childNodes().empty());

    const xml::Node ack = writer.AddGroup("ACK packet");
    writer.AddItem(ack, "PID", "ACK", "ACK", 0, 8);
    writer.AddGroup("Empty");
    writer.AddItem(xml::Node(), "lost", "", "", 0, 0);
    const xml::Node quoted = writer.AddGroup("A & B");
    writer.AddItem(quoted, "n<1>", "\"v\" & 'w'", "", -1, 0);

    xml::Document parsed;
    ASSERT_TRUE(parsed.loadXML(writer.Text()));
    const auto groups = parsed.selectNodes("/groups/group");
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].attribute("name"), "ACK packet");
    const auto item = groups[0].firstChild();
    EXPECT_EQ(item.name(), "item");
    const std::vector<std::pair<std::string, std::string>> attributes = {
        {"name", "PID"}, {"value", "ACK"}, {"tip", "ACK"}, {"offset", "0"}, {"bits", "8"}};
    EXPECT_EQ(item.attributes(), attributes);
    EXPECT_TRUE(groups[1].childNodes().empty());
    EXPECT_EQ(groups[1].attribute("name"), "Empty");
    EXPECT_EQ(groups[2].attribute("name"), "A & B");
    EXPECT_EQ(groups[2].firstChild().attribute("value"), "\"v\" & 'w'");
    EXPECT_EQ(groups[2].firstChild().attribute("offset"), "-1");
}

}  // namespace
