// The window layout check: the toolkit's saved layouts pass, and damaged ones
// (a dock area's position out of range, data cut short, unknown sections,
// endless nesting) are turned down before the toolkit indexes anything with them.
#include <gtest/gtest.h>

#include <string>

#include "WindowLayout.h"

using namespace orvane::app;

namespace {

std::string FromHex(const char* hex) {
    std::string bytes;
    for (const char* at = hex; at[0] && at[1]; at += 2) bytes += char(std::stoi(std::string(at, 2), nullptr, 16));
    return bytes;
}

// The window's own layout as Qt 6.4 saved it: the device pane on the left, the
// detail pane on the right, the "Standard" toolbar on top.
const std::string kSaved = FromHex(
    "000000ff00000000fd00000002000000000000010400000" "27afc0200000001fb0000001000500061006e0065003400"
    "3000300030010000003b0000027a0000007800ffffff00000001000001400000027afc0200000001fb000000100050006"
    "1006e00650034003000300032010000003b0000027a0000005900ffffff000002b00000027a0000000400000004000000"
    "0800000008fc00000001000000020000000100000010005300740061006e00640061007200640100000000ffffffff000"
    "0000000000000");
constexpr size_t kToolBarSection = 149;  // where the dock areas end and the toolbars begin

std::string With(std::string bytes, size_t at, char value) {
    bytes[at] = value;
    return bytes;
}

}  // namespace

TEST(WindowLayoutTest, SavedLayoutsPass) {
    ASSERT_EQ(kSaved.size(), 199u);
    std::string error;
    EXPECT_TRUE(CheckWindowLayout(kSaved, &error)) << error;
    EXPECT_TRUE(CheckWindowLayout(kSaved.substr(0, 8))) << "the header alone: nothing to restore";
    EXPECT_TRUE(CheckWindowLayout(kSaved.substr(0, kToolBarSection))) << "no toolbars";
    EXPECT_TRUE(CheckWindowLayout(kSaved.substr(0, 8) + kSaved.substr(kToolBarSection))) << "no panes";
}

TEST(WindowLayoutTest, DamagedLayoutsAreTurnedDownWithAReason) {
    std::string error;
    // One byte of the first dock area's position: the toolkit wrote far outside its four areas.
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, 15, char(0x7f)), &error));
    EXPECT_NE(error.find("position 32512"), std::string::npos) << error;
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, 16, char(4)), &error));
    EXPECT_NE(error.find("position 4"), std::string::npos) << error;
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, 16, char(0xff)), &error)) << "negative";
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, kToolBarSection + 8, char(4)), &error)) << "a toolbar line's area";

    EXPECT_FALSE(CheckWindowLayout("", &error));
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, 3, char(0xfe)), &error)) << "marker";
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, 7, char(1)), &error)) << "version";
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, 8, char(0x42)), &error)) << "unknown section";
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, 25, char(0x42)), &error)) << "an area without its marker";
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, 31, char(0x42)), &error)) << "a pane without its marker";
    EXPECT_FALSE(CheckWindowLayout(With(kSaved, 140, char(3)), &error)) << "a corner of no area";
    for (size_t size = 9; size < kSaved.size(); ++size) {
        if (size == kToolBarSection) continue;  // a whole layout without toolbars
        EXPECT_FALSE(CheckWindowLayout(kSaved.substr(0, size))) << "cut at " << size;
    }
}

TEST(WindowLayoutTest, AreasNestedWithoutEndAreTurnedDown) {
    // One dock area on the left, each level of it an area of one entry, itself an
    // area: the toolkit would recurse once per level.
    std::string nested = kSaved.substr(0, 13) + std::string(12, '\0');
    const std::string level = FromHex("fc0200000001fc") + std::string(16, '\0');
    for (int i = 0; i < 10000; ++i) nested += level;
    std::string error;
    EXPECT_FALSE(CheckWindowLayout(nested, &error));
    EXPECT_NE(error.find("nested"), std::string::npos) << error;
}
