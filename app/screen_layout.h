// Where things are on the viewer's 240 x 320 screen: the picture area, the minimap, the buttons,
// the pack menu's cards and panels, and the pixel buffer the viewer draws into. Every screen
// position in app/ is named here, so a layout change is made in one place.
#pragma once
#include <cstdint>

#include "pack/pack_format.h"

// The picture area: rows and columns 0 .. PICTURE_EDGE - 1 at the top of the screen. The pen
// counts as inside it up to PICTURE_LAST; the zoom target of Return and of auto mode is the
// pixel just above and left of the centre.
constexpr int PICTURE_LAST = PICTURE_EDGE - 1;                // 239
constexpr int PICTURE_HALF = PICTURE_EDGE / 2;                // 120
constexpr int RETURN_TARGET = PICTURE_HALF - 1;               // 119
constexpr int AUTO_TARGET = PICTURE_HALF - 2;                 // 118

// The minimap: the surface at a third of its size in the bottom-right corner.
constexpr int MINIMAP_LEFT = 160, MINIMAP_TOP = 240, MINIMAP_SIZE = 80;
constexpr int MINIMAP_SCALE = PICTURE_EDGE / MINIMAP_SIZE;    // 3

// Buttons: 56 x 24 sprites, by their centres.
constexpr int BUTTON_WIDTH = 56, BUTTON_HEIGHT = 24;
constexpr int EXIT_BUTTON_X = 120, EXIT_BUTTON_Y = 308;
constexpr int AUTO_BUTTON_X = 40, AUTO_BUTTON_Y = 308;
constexpr int SPEED_BUTTON_X = 40, SPEED_BUTTON_Y = 282;
constexpr int SURFACE_BUTTON_X = 120, SURFACE_BUTTON_Y = 282;
constexpr int TITLE_X = 50, TITLE_Y = 254;

// The viewed percentage beside the title: sprite centres on row DIGIT_CENTRE_Y, the % sign at
// PERCENT_SIGN_X and the units, tens and hundreds each DIGIT_PITCH further left.
constexpr int PERCENT_SIGN_X = 150, DIGIT_CENTRE_Y = 254, DIGIT_PITCH = 13;

// Pack menu cards: two columns of four rows, each card 110 x 43 with a 40 x 40 icon inset by
// 2 pixels and four text lines 10 pixels apart to the right of it.
constexpr int CARD_LEFT_COLUMN = 5, CARD_RIGHT_COLUMN = 125;
constexpr int CARD_WIDTH = 110, CARD_HEIGHT = 43;
constexpr int CARD_FIRST_TOP = 90, CARD_ROW_PITCH = 60;
constexpr int CARD_ICON_INSET = 2;
constexpr int CARD_TEXT_LEFT = 43, CARD_TEXT_TOP = 3, CARD_LINE_PITCH = 10;
constexpr int CARD_TEXT_RIGHT_MARGIN = 2;
constexpr int16_t CARD_TEXT_NO_WRAP = 30000;  // a line box's right edge no card text reaches
// A card line wider than this is cut short with "...", keeping a blank column before the frame.
constexpr int CARD_TEXT_ROOM = CARD_WIDTH - CARD_TEXT_LEFT - CARD_TEXT_RIGHT_MARGIN;  // 65

// The start choice: a panel with the two-part choice sprite centred on it.
constexpr int START_PANEL_LEFT = 40, START_PANEL_TOP = 120;
constexpr int START_PANEL_RIGHT = 200, START_PANEL_BOTTOM = 200;
constexpr int START_CHOICE_X = 120, START_CHOICE_Y = 160;

// The no-pack message: a lightened box and its text.
constexpr int MESSAGE_BOX_LEFT = 50, MESSAGE_BOX_TOP = 150;
constexpr int MESSAGE_BOX_RIGHT = 190, MESSAGE_BOX_BOTTOM = 250;
constexpr int MESSAGE_TEXT_LEFT = 60, MESSAGE_TEXT_TOP = 160;
constexpr int MESSAGE_TEXT_RIGHT = 180, MESSAGE_TEXT_BOTTOM = 260;

// A pack that cannot be opened: a wider panel for its file name and what is wrong.
constexpr int ERROR_BOX_LEFT = 20, ERROR_BOX_TOP = 110, ERROR_BOX_RIGHT = 220, ERROR_BOX_BOTTOM = 230;

// The font slot of the built-in font sheet (assets/font_sheet.gif), the font of every message
// and of the pack cards; the screens load it with font_from_gif before writing.
constexpr int FONT_SHEET = 5;

// The pack build over the no-pack screen: a panel with the title and count above a progress bar,
// and the failure message in the same panel.
constexpr int BUILD_PANEL_LEFT = 20, BUILD_PANEL_TOP = 130, BUILD_PANEL_RIGHT = 220, BUILD_PANEL_BOTTOM = 214;
constexpr int BUILD_BAR_LEFT = 30, BUILD_BAR_TOP = 186, BUILD_BAR_RIGHT = 210, BUILD_BAR_BOTTOM = 200;
constexpr int BUILD_TEXT_LEFT = BUILD_PANEL_LEFT + 8, BUILD_TEXT_TOP = BUILD_PANEL_TOP + 6;
constexpr int BUILD_TEXT_RIGHT = BUILD_PANEL_RIGHT - 6, BUILD_TEXT_BOTTOM = BUILD_BAR_TOP - 2;
// The verdict of a finished build, over most of the picture area.
constexpr int SUMMARY_PANEL_LEFT = 12, SUMMARY_PANEL_TOP = 40, SUMMARY_PANEL_RIGHT = 228, SUMMARY_PANEL_BOTTOM = 226;

// The pixel buffer the viewer draws into, SCREEN_WIDTH pixels per row and screen_height rows:
// the pixels of background layer 15 during the menus, the Framebuffer while viewing.
extern uint16_t* draw_target;
