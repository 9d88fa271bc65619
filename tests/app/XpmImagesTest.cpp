// Checks the XPM images: sizes, at most 16 colours of the classic 16-colour
// palette, the toolbar's light grey ground, that each toolbar image is drawn
// in its own 16-pixel cell with its telling colour, and that Qt reads them all.
#include <gtest/gtest.h>

#include <QImage>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/ProgramResources.h"
#include "app/Resource.h"

using namespace win;

namespace {

struct Xpm {
    int width = 0, height = 0;
    std::map<char, std::string> colours;  // "#RRGGBB" or "None"
    std::vector<std::string> rows;
};

Xpm Parse(XpmData data) {
    Xpm x;
    int ncolours = 0, cpp = 0;
    std::istringstream(data[0]) >> x.width >> x.height >> ncolours >> cpp;
    EXPECT_EQ(cpp, 1);
    for (int i = 0; i < ncolours; ++i) {
        const std::string line = data[1 + i];
        EXPECT_EQ(line.substr(1, 3), " c ") << line;
        EXPECT_TRUE(x.colours.emplace(line[0], line.substr(4)).second) << "duplicate key " << line;
    }
    for (int y = 0; y < x.height; ++y) x.rows.emplace_back(data[1 + ncolours + y]);
    return x;
}

const std::set<std::string> kClassicPalette = {
    "#000000", "#800000", "#008000", "#808000", "#000080", "#800080", "#008080", "#C0C0C0",
    "#808080", "#FF0000", "#00FF00", "#FFFF00", "#0000FF", "#FF00FF", "#00FFFF", "#FFFFFF",
};

void ExpectWellFormed(const Xpm& x, int width, int height) {
    EXPECT_EQ(x.width, width);
    EXPECT_EQ(x.height, height);
    EXPECT_LE(x.colours.size(), 16u);
    for (const auto& [key, colour] : x.colours)
        EXPECT_TRUE(colour == "None" || kClassicPalette.count(colour)) << key << " " << colour;
    ASSERT_EQ(static_cast<int>(x.rows.size()), height);
    for (const std::string& row : x.rows) {
        ASSERT_EQ(static_cast<int>(row.size()), width) << row;
        for (char c : row) EXPECT_TRUE(x.colours.count(c)) << "undefined pixel '" << c << "'";
    }
}

// Counts the pixels of the given colour in toolbar cell index (16 wide).
int CountInCell(const Xpm& x, int cell, const std::string& colour) {
    int n = 0;
    for (const std::string& row : x.rows)
        for (int col = cell * 16; col < cell * 16 + 16; ++col)
            if (x.colours.at(row[col]) == colour) ++n;
    return n;
}

}  // namespace

TEST(ToolbarBitmap, ElevenCellsOnLightGreyInSixteenColours) {
    const Xpm x = Parse(ProgramBitmaps()[0].xpm);
    ExpectWellFormed(x, 176, 15);
    for (int cell = 0; cell < 11; ++cell) {
        SCOPED_TRACE(cell);
        // Corners are ground and every cell holds a picture.
        EXPECT_EQ(x.colours.at(x.rows[0][cell * 16]), "#C0C0C0");
        EXPECT_EQ(x.colours.at(x.rows[14][cell * 16 + 15]), "#C0C0C0");
        EXPECT_LT(CountInCell(x, cell, "#C0C0C0"), 16 * 15 - 20);
    }
    for (const auto& [key, colour] : x.colours) EXPECT_NE(colour, "None");
}

TEST(ToolbarBitmap, ImagesCarryTheirColours) {
    const Xpm x = Parse(ProgramBitmaps()[0].xpm);
    struct Case {
        int cell;
        const char* what;
        const char* colour;
        int atLeast;
    };
    const Case cases[] = {
        {0, "start triangle", "#00FF00", 20}, {1, "stop square", "#00FF00", 50}, {2, "clear dots", "#00FF00", 15},
        {3, "blank page", "#FFFFFF", 60},     {4, "folder", "#808000", 20},      {5, "diskette", "#808000", 20},
        {6, "scissors", "#000000", 10},       {7, "two pages", "#FFFFFF", 40},   {8, "clipboard", "#808000", 15},
        {9, "printer", "#000000", 20},        {10, "question mark", "#FFFF00", 20},
    };
    for (const Case& c : cases) EXPECT_GE(CountInCell(x, c.cell, c.colour), c.atLeast) << c.what;
    // A blank page is blank: no text lines on the New image.
    EXPECT_EQ(CountInCell(x, 3, "#000080"), 0);
    EXPECT_GT(CountInCell(x, 1, "#00FF00"), CountInCell(x, 0, "#00FF00"));
}

TEST(Icons, BothGroupsHaveLargeAndSmallImages) {
    auto icons = ProgramIcons();
    ASSERT_EQ(icons.size(), 2u);
    EXPECT_EQ(icons[0].id, IDR_MAINFRAME);
    EXPECT_EQ(icons[1].id, IDR_PACKETTYPE);
    for (const IconResource& icon : icons) {
        SCOPED_TRACE(icon.id);
        ExpectWellFormed(Parse(icon.large), 32, 32);
        ExpectWellFormed(Parse(icon.small), 16, 16);
    }
}

TEST(Images, QtReadsEveryImageAtItsSize) {
    struct Case {
        XpmData xpm;
        int w, h;
    };
    std::vector<Case> cases = {{ProgramBitmaps()[0].xpm, 176, 15}};
    for (const IconResource& icon : ProgramIcons()) {
        cases.push_back({icon.large, 32, 32});
        cases.push_back({icon.small, 16, 16});
    }
    for (const Case& c : cases) {
        const QImage image(c.xpm);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), c.w);
        EXPECT_EQ(image.height(), c.h);
    }
    const QImage toolbar(ProgramBitmaps()[0].xpm);
    EXPECT_EQ(toolbar.pixel(0, 0), qRgb(192, 192, 192));
    EXPECT_EQ(toolbar.pixel(175, 14), qRgb(192, 192, 192));
}
