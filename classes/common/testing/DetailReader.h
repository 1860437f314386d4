// For the plug-ins' tests: an item's row and detail as a decoder describes
// them, and a decode-result document read back into its groups and items.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Document.h"
#include "IDecode.h"
#include "ItemSummary.h"

namespace orvane {

struct DetailItem {
    std::string name, value, tip;
    int64_t offset = 0, bits = 0;
};
struct DetailGroup {
    std::string name;
    std::vector<DetailItem> items;
};

// Empty when the text is no document.
inline std::vector<DetailGroup> ReadDetail(const std::string& text)
{
    std::vector<DetailGroup> groups;
    xml::Document document;
    if (!document.loadXML(text)) return groups;
    for (const xml::Node& g : document.selectNodes("/groups/group")) {
        DetailGroup group{g.attribute("name").value_or("")};
        for (const xml::Node& i : g.selectNodes("item"))
            group.items.push_back({i.attribute("name").value_or(""), i.attribute("value").value_or(""),
                                   i.attribute("tip").value_or(""), std::stoll(i.attribute("offset").value_or("0")),
                                   std::stoll(i.attribute("bits").value_or("0"))});
        groups.push_back(std::move(group));
    }
    return groups;
}

// The decoder's row of `item`; one it does not describe fails the test.
inline ItemSummary DescribedRow(IDecode& decoder, UsbItem* item)
{
    ItemSummary row;
    EXPECT_EQ(decoder.Summarize(item, &row), 1);
    return row;
}

// The decoder's detail text of `item`; likewise.
inline std::string DescribedDetail(IDecode& decoder, UsbItem* item)
{
    std::string text;
    EXPECT_EQ(decoder.GetDetail(item, text), 1);
    return text;
}

}  // namespace orvane
