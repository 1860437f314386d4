// Records of the tip renderer: the style record, tag ids, link areas,
// animated icon-list states, line records, measured tables and image tag
// attributes.
#pragma once

#include <string>
#include <vector>

#include "HtmlTypes.h"

namespace orvane {

enum HtmlTagId : int {
    TagNone = 0, TagBold = 1, TagItalic = 2, TagUnderline = 3, TagStrikeout = 4, TagFont = 5,
    TagHorzLine = 6, TagNewLine = 7, TagTab = 8, TagLeft = 9, TagCenter = 10, TagRight = 11,
    TagJustify = 12, TagBaseline = 13, TagTop = 14, TagVCenter = 15, TagBottom = 16, TagBitmap = 17,
    TagIcon = 18, TagIconList = 19, TagString = 20, TagStyle = 21, TagSpan = 22, TagLink = 23,
};

struct HtmlStyle {
    std::u16string styleName;
    int fontSize = 16;
    int fontWeight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
    bool overline = false;
    std::u16string fontFace = u"Verdana";
    Colorref textColor = 0;
    Colorref backColor = 0xFFFFFF;
    Colorref borderColorLight = 0;
    Colorref borderColorDark = 0;
    Colorref backMidColor = 0xFFFFFF;
    Colorref backEndColor = 0xFFFFFF;
    int backMode = 1;      // 1 transparent, 2 opaque
    int backEffect = -1;
    std::u16string backImage;
    int horzAlign = 0;     // 0 left, 1 center, 2 right, 3 justify
    int vertAlign = 3;     // 0 top, 1 middle, 2 bottom, 3 baseline
    int borderStyle = 0;   // 0 none, 1 solid, 2 dashed, 3 dotted, 6 double
    int borderWidth = 0;
    int width = 0;
    int height = 0;
    int textTransform = 0; // 0 none, 1 upper, 2 lower, 3 capitalize
    int margin = 2;        // also the cell padding of tables
    int padding = 0;       // also the cell spacing of tables
    int linkKind = 0;      // 0 none, 1 opens the target, 2 reports the target
    std::u16string linkTarget;
};

struct HtmlTagInfo {
    HtmlTagId id = TagNone;
    std::u16string styleName;
};

struct LinkArea {
    HtmlRect area;
    int linkKind = 0;
    int linkIndex = 0;
    std::u16string linkTarget;
};

struct IconListState {
    int currentFrame = 0;
    int frameCount = 0;
    int tickCounter = 0;
    int speed = 0;
};

// One line of the measuring pass, replayed by the drawing pass.
struct HtmlLine {
    int width = 0;
    int height = 0;        // the greatest ascent while the line is built
    int descent = 0;
    int hrPercent = 0;
    int horzAlign = 0;
};

struct TableCell {
    int colspan = 0;       // -1: covered by another cell's span
    int rowspan = 0;
    int contentWidth = 0;
    int contentHeight = 0;
    int width = 0;
    int height = 0;
    int fixed = 0;
};

struct TableLayout {
    std::vector<std::vector<TableCell>> grid;
    std::vector<int> columnWidths;
    std::vector<int> rowHeights;
    std::vector<int> fixedColumns;
    int Columns() const { return static_cast<int>(columnWidths.size()); }
    int Rows() const { return static_cast<int>(rowHeights.size()); }
};

struct HtmlImageAttributes {
    int index = 0;
    int idres = 0;
    int iddll = 0;
    int handle = 0;
    int cx = 0;
    int cy = 0;
    int width = 100;
    int height = 100;
    int speed = 0;
    unsigned style = 0;
    unsigned hotStyle = 0;
    bool useMask = false;
    bool widthPercent = true;
    bool heightPercent = true;
    Colorref maskColor = 0xFF00FF;
    std::u16string file;
    std::u16string srcdll;
};

}  // namespace orvane
