// The device and frame-size dialog: the user picks the size of the live picture and the
// video and audio capture devices. The choice goes back through four working values;
// the dialog itself changes nothing in the capture.
#pragma once

#include "framework/Form.h"
#include "framework/StdControls.h"

#include <cstdint>
#include <string>
#include <vector>

class TTntGButton;

// The working values that carry the choice between the caller and the dialog.
extern int32_t SelWidth;
extern int32_t SelHeight;
extern int32_t SelVideoIndex;
extern int32_t SelAudioIndex;

class Tfrm_SelectForm : public fw::Form {
public:
    explicit Tfrm_SelectForm(fw::Component* Owner);

    fw::Label* lblResolution;
    fw::ComboBox* cbResolution;
    fw::Label* lblVideoDevice;
    fw::ComboBox* cbVideo;
    fw::Label* lblAudioDevice;
    fw::ComboBox* cbAudio;
    TTntGButton* gbOk;
    TTntGButton* gbCancel;
    fw::Button* btnOk;
    fw::Button* btnCancel;

    void FormCreate();
    // The frame sizes the open video device offers, as resolution texts ("640 x 480"):
    // the dialog offers those it takes, or two common ones when there are none.
    void SetFrameSizes(std::vector<std::string> Sizes);
    void FormShow();
    void FormKeyPress(wchar_t& Key);
    void FormClose(fw::CloseAction& Action);
    void btnOkClick();
    void btnCancelClick();

private:
    void LoadDialogGlyphs();
    // Escape went to an open drop-down list: it closes only the list, and the character
    // it makes is no cancel of the dialog.
    bool escapeClosesList_ = false;
};

// Shows the dialog with the device names and the open device's frame sizes (in the system
// code page) and the current choice; writes the working values back into the four
// variables, whether the user accepted or cancelled.
void ShowSelectForm(std::vector<std::string> VideoNames, std::vector<std::string> AudioNames,
                    std::vector<std::string> FrameSizes, int32_t& Width, int32_t& Height,
                    int32_t& VideoIndex, int32_t& AudioIndex);

// "640 x 480" gives 640 and 480. False, outputs untouched, without " x "; a side that
// is not a number gives 352 (width) or 288 (height).
bool ParseResolution(const std::string& Text, int32_t& Width, int32_t& Height);
// -1, 0 or 1 by the widths of two resolution texts; heights are not compared.
int CompareResolutionWidth(const std::string& A, const std::string& B);
// The sizes the dialog offers from a device's list: 352 wide or at least 640, by width.
std::vector<std::string> OfferedResolutions(std::vector<std::string> Sizes);
