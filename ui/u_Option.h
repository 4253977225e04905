// The save-folder dialog: the folders for still pictures and for recordings, typed or
// picked with the shell's folder browser. It changes ImagePath and MoviePath only when
// the user accepts; storing them is the caller's work.
#pragma once

#include "framework/ExtControls.h"
#include "framework/Form.h"
#include "framework/StdControls.h"
#include "ui/GDialogs.h"

class Tfrm_Option : public fw::Form {
public:
    explicit Tfrm_Option(fw::Component* Owner);

    fw::Label* lblSavePath;
    fw::Bevel* bvSetting;
    fw::Label* lblImagePath;
    fw::Edit* edImagePath;
    fw::Button* btnImageFolder;
    fw::Label* lblMoviePath;
    fw::Button* btnMovieFolder;
    fw::Edit* edMoviePath;
    fw::Button* btnOk;
    fw::Button* btnCancel;
    TGBrowseDialog* GBD1;

    void FormCreate();
    void FormShow();
    void FormClose(fw::CloseAction& Action);
    void edImagePathExit();
    void edMoviePathExit();
    void btnImageFolderClick();
    void btnMovieFolderClick();
    void btnOkClick();
    void btnCancelClick();
};

// Shows the dialog modally: 1 when the user accepted, 2 when the user cancelled or
// closed it.
int ShowOptionForm();
