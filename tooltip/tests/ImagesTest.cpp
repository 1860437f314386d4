// Inline images: attributes, sizes, frames of strips, animation, and what
// the text may not reach.
#include <gtest/gtest.h>

#include "HtmlTestKit.h"

namespace orvane::test {
namespace {

using Calls = std::vector<std::string>;

struct Images : Html {
    Images() {
        resources.bitmaps[1] = {20, 10};
        resources.bitmaps[3] = {64, 16};
        resources.bitmaps[4] = {48, 32};
        resources.bitmaps[5] = {0, 10};
        resources.icons[7] = true;
        resources.listCount = 3;
    }
};

TEST(HtmlImagesTest, Tags) {
    struct Row {
        std::u16string text;
        HtmlSize size;
        Calls calls;
    } rows[] = {
        {u"<bmp idres=1>", {21, 11}, {"image 1 0,0,20,10 at 0,0 20x10 style 0"}},
        {u"<bmp idres=1 width=50%>", {11, 11}, {"image 1 0,0,20,10 at 0,0 10x10 style 0"}},
        {u"<bmp idres=1 width=7 height=200%>", {8, 21}, {"image 1 0,0,20,10 at 0,0 7x20 style 0"}},
        // A shadow adds its offset to the room the image takes.
        {u"<bmp idres=1 style=s>x", {31, 14}, {"image 1 0,0,20,10 at 0,0 20x10 style 512 shadow", "text 24,0 'x' 13/400 000000"}},
        {u"<bmp idres=1 style=gdl mask=#00ff00>", {21, 11}, {"image 1 0,0,20,10 at 0,0 20x10 style 7 mask 00FF00"}},
        {u"ab<bmp idres=1>", {33, 14}, {"text 0,0 'ab' 13/400 000000", "image 1 0,0,20,10 at 12,0 20x10 style 0"}},
        {u"<bottom>ab<bmp idres=1>", {33, 14}, {"text 0,3 'ab' 13/400 000000", "image 1 0,0,20,10 at 12,3 20x10 style 0"}},
        {u"<icon idres=7>", {33, 33}, {"image 7 0,0,32,32 at 0,0 32x32 style 0"}},
        {u"<icon idres=7 width=200%>", {65, 33}, {"image 7 0,0,64,32 at 0,0 64x32 style 0"}},
        {u"<ilst idres=3 cx=16 index=2>", {17, 17}, {"image 3 32,0,48,16 at 0,0 16x16 style 0"}},
        {u"<ilst idres=3 cx=16 index=4>", {1, 1}, {}},
        {u"<ilst idres=4>", {33, 33}, {"image 4 0,0,32,32 at 0,0 32x32 style 0"}},
        {u"<ilst idres=5>", {1, 1}, {}},  // a frame size of 0 gives no frames
        {u"<ilst idres=3 cx=16 cy=0 index=1 width=50%>", {9, 17}, {"image 3 16,0,32,16 at 0,0 8x16 style 0"}},
        {u"<ilst index=1>", {17, 17}, {"image 501 0,0,16,16 at 0,0 16x16 style 0"}},
        {u"<ilst index=3>", {1, 1}, {}},
        {u"<bmp idres=2>", {1, 1}, {}},  // a missing resource leaves no trace
    };
    for (const auto& row : rows) {
        Images h;
        EXPECT_EQ(h.Prepare(row.text), row.size) << Ascii(row.text);
        EXPECT_EQ(h.Draw(), row.calls) << Ascii(row.text);
    }
}

TEST(HtmlImagesTest, NothingFromLibrariesHandlesOrOtherFolders) {
    Images h;
    h.drawer.SetImageFolder(std::filesystem::temp_directory_path());
    for (const char16_t* text : {u"<bmp iddll=1 srcdll=evil.dll>", u"<icon iddll=1 srcdll=C:\\x.dll>",
                                 u"<bmp handle=12345>", u"<ilst handle=99 cx=16>", u"<bmp file=/etc/passwd>",
                                 u"<icon file=../../etc/passwd>", u"<bmp file=\"nothing-here.bmp\">"}) {
        EXPECT_EQ(h.Prepare(text), (HtmlSize{1, 1})) << Ascii(text);
        EXPECT_TRUE(h.Draw().empty());
    }
    EXPECT_EQ(h.resources.loads, 0);
    EXPECT_TRUE(h.resources.files.empty());
}

TEST(HtmlImagesTest, LoadedOncePerPreparedText) {
    Images h;
    h.Prepare(u"<bmp idres=1><icon idres=7>");
    h.Draw();
    h.Draw();
    EXPECT_EQ(h.resources.loads, 2);
}

TEST(HtmlImagesTest, AnimatedStrip) {
    Images h;
    EXPECT_FALSE(h.drawer.OnTimer());
    h.Prepare(u"<ilst idres=3 cx=16 speed=3 index=3>");
    ASSERT_EQ(h.drawer.IconLists().size(), 1u);
    EXPECT_EQ(h.drawer.IconLists()[0].frameCount, 4);
    EXPECT_EQ(h.Draw(), (Calls{"image 3 48,0,64,16 at 0,0 16x16 style 0"}));
    EXPECT_FALSE(h.drawer.OnTimer());
    EXPECT_FALSE(h.drawer.OnTimer());
    EXPECT_TRUE(h.drawer.OnTimer());  // every third tick, wrapping to the first frame
    EXPECT_EQ(h.Draw(), (Calls{"image 3 0,0,16,16 at 0,0 16x16 style 0"}));
}

TEST(HtmlImagesTest, HoveredLinkUsesHotStyle) {
    Images h;
    h.Prepare(u"<a href=x><bmp idres=1 hotstyle=g></a>");
    EXPECT_EQ(h.Draw(), (Calls{"image 1 0,0,20,10 at 0,0 20x10 style 0"}));
    ASSERT_EQ(h.drawer.LinkAreas().size(), 1u);
    EXPECT_EQ(Box(h.drawer.LinkAreas()[0].area), "0,0,20,10");
    h.drawer.OnSetCursor(5, 5);
    EXPECT_EQ(h.Draw(), (Calls{"image 1 0,0,20,10 at 0,0 20x10 style 1"}));
}

TEST(HtmlImagesTest, BackgroundEffectNames) {
    Html h;
    struct Row {
        std::u16string value;
        int expected;
    } rows[] = {{u"metal", 15}, {u"transparent", -1}, {u"3vgradient", 6}, {u"7", 7}, {u"Metal", 0}, {u"", 4}};
    for (const auto& row : rows) EXPECT_EQ(h.drawer.ParseBackgroundEffect(row.value, 4), row.expected) << Ascii(row.value);
}

}  // namespace
}  // namespace orvane::test
