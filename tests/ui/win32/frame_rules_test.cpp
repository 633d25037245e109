#include "tester/ui/win32/frame_rules.h"

#include <gtest/gtest.h>

#include <string>

TEST(MenuHelpLine, ShowsTheFirstLineOnly) {
    EXPECT_EQ(MenuHelpLine("Quit the application; prompts to save documents\nExit"),
              "Quit the application; prompts to save documents");
    EXPECT_EQ(MenuHelpLine("Show or hide the status bar\nToggle StatusBar"),
              "Show or hide the status bar");
    EXPECT_EQ(MenuHelpLine("Set Half-Duplex Slave mode for  selected ports"),
              "Set Half-Duplex Slave mode for  selected ports");
    EXPECT_EQ(MenuHelpLine("\nonly a tip"), "");
    EXPECT_EQ(MenuHelpLine(""), "");
    EXPECT_EQ(MenuHelpLine(nullptr), "");
}

TEST(MenuHelpLine, KeepsAtMost255Characters) {
    const std::string longer(300, 'x');
    EXPECT_EQ(MenuHelpLine(longer.c_str()), std::string(255, 'x'));
    const std::string exact(255, 'y');
    EXPECT_EQ(MenuHelpLine((exact + "\nmore").c_str()), exact);
}

TEST(SystemMenuHelpId, MapsEachSystemCommandToItsString) {
    // SC_SIZE, SC_MOVE, SC_MINIMIZE, SC_MAXIMIZE, SC_NEXTWINDOW,
    // SC_PREVWINDOW, SC_CLOSE, SC_RESTORE, SC_TASKLIST.
    EXPECT_EQ(SystemMenuHelpId(0xF000), 0xEF00u);
    EXPECT_EQ(SystemMenuHelpId(0xF010), 0xEF01u);
    EXPECT_EQ(SystemMenuHelpId(0xF020), 0xEF02u);
    EXPECT_EQ(SystemMenuHelpId(0xF030), 0xEF03u);
    EXPECT_EQ(SystemMenuHelpId(0xF040), 0xEF04u);
    EXPECT_EQ(SystemMenuHelpId(0xF050), 0xEF05u);
    EXPECT_EQ(SystemMenuHelpId(0xF060), 0xEF06u);
    EXPECT_EQ(SystemMenuHelpId(0xF120), 0xEF12u);
    EXPECT_EQ(SystemMenuHelpId(0xF130), 0xEF13u);
}

TEST(SystemMenuHelpId, IgnoresTheSystemsLowBitsAndRejectsOtherCommands) {
    // The system sets the low four bits, e.g. SC_MOVE from the keyboard.
    EXPECT_EQ(SystemMenuHelpId(0xF012), 0xEF01u);
    EXPECT_EQ(SystemMenuHelpId(0xF06F), 0xEF06u);
    EXPECT_EQ(SystemMenuHelpId(0), 0u);
    EXPECT_EQ(SystemMenuHelpId(32771), 0u);  // a menu command of ours
    EXPECT_EQ(SystemMenuHelpId(0xEFFF), 0u);
    EXPECT_EQ(SystemMenuHelpId(0xF1F0), 0u);
}

TEST(EnlargedFontHeight, GrowsTheMagnitudeByFour) {
    EXPECT_EQ(EnlargedFontHeight(-11), -15);  // character height, the usual GUI font
    EXPECT_EQ(EnlargedFontHeight(13), 17);    // cell height
    EXPECT_EQ(EnlargedFontHeight(0), -4);     // "default size" becomes 4 larger too
}

TEST(KeepXInWorkArea, MovesXToTheNearEdgeOnly) {
    EXPECT_EQ(KeepXInWorkArea(-50, 0, 1280), 0);
    EXPECT_EQ(KeepXInWorkArea(1280, 0, 1280), 1279);
    EXPECT_EQ(KeepXInWorkArea(5000, 0, 1280), 1279);
    EXPECT_EQ(KeepXInWorkArea(640, 0, 1280), 640);
    // A second monitor to the left of the primary one.
    EXPECT_EQ(KeepXInWorkArea(-3000, -1920, 0), -1920);
    EXPECT_EQ(KeepXInWorkArea(10, -1920, 0), -1);
}

TEST(PlacementFromEdges, GivesOriginAndSize) {
    WindowPlacement p = PlacementFromEdges(100, 100, 699, 499);  // the defaults
    EXPECT_EQ(p.x, 100);
    EXPECT_EQ(p.y, 100);
    EXPECT_EQ(p.width, 599);
    EXPECT_EQ(p.height, 399);
    p = PlacementFromEdges(-1500, -20, -700, 580);  // left of the primary screen
    EXPECT_EQ(p.x, -1500);
    EXPECT_EQ(p.width, 800);
    EXPECT_EQ(p.height, 600);
}

TEST(PlacementFromEdges, EdgesFromAnEditedFileDoNotWrap) {
    WindowPlacement p = PlacementFromEdges(INT32_MIN, 0, INT32_MAX, 10);
    EXPECT_EQ(p.width, INT32_MAX);
    p = PlacementFromEdges(INT32_MAX, 10, INT32_MIN, 0);
    EXPECT_EQ(p.width, INT32_MIN);
    EXPECT_EQ(p.height, -10);
}

TEST(CenteredOrigin, CentresOverTheOwner) {
    ScreenRect work{0, 0, 1280, 1000};
    ScreenPoint at = CenteredOrigin(200, 100, {100, 100, 700, 500}, work);
    EXPECT_EQ(at.x, 300);
    EXPECT_EQ(at.y, 250);
}

TEST(CenteredOrigin, StaysInsideTheWorkArea) {
    ScreenRect work{0, 0, 1280, 1000};
    // Owner hanging over the right and bottom edges.
    ScreenPoint at = CenteredOrigin(400, 300, {1100, 900, 1500, 1200}, work);
    EXPECT_EQ(at.x, 880);
    EXPECT_EQ(at.y, 700);
    // Owner off the left and top.
    at = CenteredOrigin(400, 300, {-600, -500, -100, -100}, work);
    EXPECT_EQ(at.x, 0);
    EXPECT_EQ(at.y, 0);
    // A window larger than the work area shows its top left corner.
    at = CenteredOrigin(2000, 1500, {0, 0, 1280, 1000}, work);
    EXPECT_EQ(at.x, 0);
    EXPECT_EQ(at.y, 0);
}
