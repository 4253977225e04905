#include "ui/u_Option.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Accessible.h"
#include "framework/Application.h"

namespace {

// Whether a name survives the system code page unchanged. The conversion would put
// look-alike letters or '?' in place of the others: another folder, or none.
bool FitsCodePage(const std::wstring& Text) {
    if (Text.empty()) return true;
    BOOL replaced = FALSE;
    const int n =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Text.data(),
                            static_cast<int>(Text.size()), nullptr, 0, nullptr, &replaced);
    return n > 0 && !replaced;
}

// A folder the program cannot name keeps the stored one, and the user is told.
bool KeepIfUnnamable(fw::Edit* Field, const std::wstring& Stored) {
    if (FitsCodePage(Field->Text())) return false;
    Field->SetText(Stored);
    ShowErrorBox(GetTextOr("T_FOLDER_ERR", ERROR_NO_UNICODE_TRANSLATION), GetText("T_CONFIRM"));
    return true;
}

// A typed folder that is not there gives way to the stored one.
void CheckTypedFolder(fw::Edit* Field, const std::wstring& Stored) {
    if (KeepIfUnnamable(Field, Stored)) return;
    if (!DirectoryExists(WideToAnsi(Field->Text()))) Field->SetText(Stored);
}

// The folder to keep from a field: with its trailing separator; an empty field keeps
// the stored folder.
std::wstring AcceptedFolder(fw::Edit* Field, const std::wstring& Stored) {
    KeepIfUnnamable(Field, Stored);
    const std::string text = WideToAnsi(Field->Text());
    if (text.empty()) return Stored;
    return AnsiToWide(IncludeTrailingSeparator(text));
}

// Lets the user pick a folder for Field, starting at the stored folder.
void BrowseInto(TGBrowseDialog* Browser, fw::Edit* Field, const char* PromptKey,
                const std::wstring& Stored) {
    Browser->PromptText = WideToAnsi(GetText(PromptKey));
    Browser->SetSelection(WideToAnsi(Stored));
    if (Browser->Execute()) Field->SetText(AnsiToWide(Browser->Selection()));
}

}  // namespace

Tfrm_Option::Tfrm_Option(fw::Component* Owner) : fw::Form(Owner) {
    BorderStyle = fw::BorderStyle::Single;
    BorderIcons = fw::biSystemMenu;
    Position = fw::FormPosition::ScreenCenter;
    SetFont(fw::Font::OfCharHeight(11));
    SetClientSize(372, 213);

    auto label = [this](int Left, int Top) {
        auto* l = new fw::Label(this);
        l->SetParent(this);
        l->SetFont(fw::Font::OfCharHeight(12));
        l->SetBounds(Left, Top, 100, 13);
        return l;
    };
    auto edit = [this](int Left, int Top, int Tab) {
        auto* e = new fw::Edit(this);
        e->SetParent(this);
        e->SetBounds(Left, Top, 240, 21);
        e->TabOrder = Tab;
        return e;
    };
    auto button = [this](int Left, int Top, int Width, int Height, int Tab) {
        auto* b = new fw::Button(this);
        b->SetParent(this);
        b->SetFont(fw::Font::OfCharHeight(12));
        b->SetBounds(Left, Top, Width, Height);
        b->TabOrder = Tab;
        return b;
    };

    lblSavePath = label(20, 20);
    bvSetting = new fw::Bevel(this);
    bvSetting->SetParent(this);
    bvSetting->Shape = fw::BevelShape::TopLine;
    bvSetting->SetBounds(120, 25, 220, 11);
    lblImagePath = label(20, 50);
    edImagePath = edit(30, 70, 0);
    btnImageFolder = button(280, 66, 70, 29, 1);
    lblMoviePath = label(20, 110);
    btnMovieFolder = button(280, 126, 70, 29, 2);
    edMoviePath = edit(30, 130, 3);
    btnOk = button(170, 165, 65, 30, 4);
    btnCancel = button(250, 165, 65, 30, 5);

    GBD1 = new TGBrowseDialog(this);
    GBD1->SetOptions(0);
    GBD1->SetDisplaySelection(true);

    OnCreate = [this] { FormCreate(); };
    OnShow = [this] { FormShow(); };
    OnClose = [this](fw::CloseAction& A) { FormClose(A); };
    edImagePath->OnExit = [this] { edImagePathExit(); };
    edMoviePath->OnExit = [this] { edMoviePathExit(); };
    btnImageFolder->OnClick = [this] { btnImageFolderClick(); };
    btnMovieFolder->OnClick = [this] { btnMovieFolderClick(); };
    btnOk->OnClick = [this] { btnOkClick(); };
    btnCancel->OnClick = [this] { btnCancelClick(); };
}

void Tfrm_Option::FormCreate() {
    SetCaption(GetText("T_FOLDER_SETTING"));
    edImagePath->SetText(ImagePath);
    edMoviePath->SetText(MoviePath);
    // The browser's interface takes texts in the system code page.
    GBD1->SetTitle(WideToAnsi(Caption()));
}

void Tfrm_Option::FormShow() {
    lblSavePath->SetCaption(GetText("T_SAVEFOLDER"));
    lblImagePath->SetCaption(GetText("T_IMAGE_PATH"));
    lblMoviePath->SetCaption(GetText("T_MOVIE_PATH"));
    // The labels have no windows: each field is named by its label for screen readers.
    edImagePath->AccessibleName = fw::NameFromCaption(lblImagePath->Caption());
    edMoviePath->AccessibleName = fw::NameFromCaption(lblMoviePath->Caption());
    btnImageFolder->SetCaption(GetText("T_SEARCH_PATH"));
    btnMovieFolder->SetCaption(GetText("T_SEARCH_PATH"));
    btnOk->SetCaption(GetText("T_OK"));
    btnCancel->SetCaption(GetText("T_CANCEL"));
}

void Tfrm_Option::FormClose(fw::CloseAction& Action) { Action = fw::CloseAction::Free; }

void Tfrm_Option::edImagePathExit() { CheckTypedFolder(edImagePath, ImagePath); }

void Tfrm_Option::edMoviePathExit() { CheckTypedFolder(edMoviePath, MoviePath); }

void Tfrm_Option::btnImageFolderClick() {
    BrowseInto(GBD1, edImagePath, "T_IMAGE_PATH", ImagePath);
}

void Tfrm_Option::btnMovieFolderClick() {
    BrowseInto(GBD1, edMoviePath, "T_MOVIE_PATH", MoviePath);
}

void Tfrm_Option::btnOkClick() {
    ImagePath = AcceptedFolder(edImagePath, ImagePath);
    MoviePath = AcceptedFolder(edMoviePath, MoviePath);
    ModalResult = fw::mrOk;
}

void Tfrm_Option::btnCancelClick() { ModalResult = fw::mrCancel; }

int ShowOptionForm() {
    auto* form = fw::NewForm<Tfrm_Option>(&fw::App());
    return form->ShowModal();
}
