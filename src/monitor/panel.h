// The display panel and the LEDs, drawn from the status model.
#pragma once

#include <cstdint>
#include <string>

// Background of the display panel (COLORREF 0x00BBGGRR).
constexpr std::uint32_t kDisplayColourOn = 0x7F1E05;   // RGB(5,30,127)
constexpr std::uint32_t kDisplayColourOff = 0x050505;  // RGB(5,5,5)

// A new background for the display panel; the brush it replaces is deleted
// once the panel no longer paints with it.
void ReplaceDisplayBrush(std::uint32_t colour);
void ReleaseDisplayBrush();

// Line 1: mode and beam word (or the extra text, the elapsed motor counter);
// line 2: the frequency display. The lines are separated by one carriage return.
void RefreshDisplayPanel(const std::string& extra);

// Shows a bitmap on one of the panel's image controls, or holds it while an
// ImageHold lasts.
void ShowImage(int controlId, int bitmapId);

// The bitmap one of the panel's image controls shows, or is to show once the
// images held are shown: the last one chosen for it, else the one it was made
// with; 0 for a control that shows none.
int ChosenImage(int controlId);

// The bitmap a control of the panel was made with; 0 for a control that shows none.
int MadeWithImage(int controlId);

// Holds the panel's images from its making to its end, then shows on each
// control the last image chosen for it. One read can carry hundreds of
// frequency reports, each choosing nine images; what stays on the panel is the
// last report's, and each image shown costs a repaint.
class ImageHold {
  public:
    ImageHold();
    ~ImageHold();
    ImageHold(const ImageHold&) = delete;
    ImageHold& operator=(const ImageHold&) = delete;
};

// Shows the images held so far and holds none from its making to its end,
// when the holds there were go on: for a message box opened by a message of a
// read, under which the panel shows the read as far as it has come and what
// runs in the box's loop shows at once.
class ImageHoldPause {
  public:
    ImageHoldPause();
    ~ImageHoldPause();
    ImageHoldPause(const ImageHoldPause&) = delete;
    ImageHoldPause& operator=(const ImageHoldPause&) = delete;

  private:
    int holds_;
};

// The LED of the beam mode, dark on the blink phase.
void RefreshBeamLeds();

// The LED that a beam mode lights, or 0 for a mode that lights none.
int BeamModeLed(std::uint8_t beamMode);

// Lights the LED of one band key (0 to 7) and darkens the other seven; any
// other key darkens all eight.
void RefreshBandLeds(int litKey);
