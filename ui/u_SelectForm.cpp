#include "ui/u_SelectForm.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Accessible.h"
#include "framework/Application.h"
#include "ui/TntGButton.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

int32_t SelWidth = 0;
int32_t SelHeight = 0;
int32_t SelVideoIndex = -1;
int32_t SelAudioIndex = -1;

namespace {

// A decimal integer, blanks allowed in front only.
bool ToInt(const std::string& Text, int32_t& Value) {
    const size_t start = Text.find_first_not_of(' ');
    if (start == std::string::npos) return false;
    const char* begin = Text.c_str() + start;
    if (!std::isdigit(static_cast<unsigned char>(*begin)) && *begin != '-' && *begin != '+')
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (end == begin || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return false;
    Value = static_cast<int32_t>(v);
    return true;
}

// An empty list shows its state in the box itself: disabled, with a free text.
void ShowEmptyList(fw::ComboBox* Box, const std::wstring& Text) {
    Box->SetEnabled(false);
    Box->SetStyle(fw::ComboStyle::Simple);
    Box->SetText(Text);
}

void SelectDevice(fw::ComboBox* Box, int32_t Index) {
    if (Box->ItemCount() == 0) {
        ShowEmptyList(Box, GetText("T_NO_DEVICE"));
        return;
    }
    Box->SetItemIndex(Index < 0 || Index >= Box->ItemCount() ? 0 : Index);
    Box->SetEnabled(true);
}

// The two decorative buttons keep a new button's look (transparent frame, one image,
// caption shown) and size themselves to their glyph.
void SetDecoration(TTntGButton* Button) {
    Button->SetAutoSize(asGlyph);
    Button->ShowHint = true;
}

// The form's controls, in its one column of labels and lists above the buttons' row.
fw::Label* AddLabel(fw::Form* Form, int Top) {
    auto* l = new fw::Label(Form);
    l->SetParent(Form);
    l->SetBounds(30, Top, 250, 16);
    return l;
}

fw::ComboBox* AddList(fw::Form* Form, int Top, int Tab) {
    auto* c = new fw::ComboBox(Form);
    c->SetParent(Form);
    c->SetStyle(fw::ComboStyle::DropDownList);
    c->SetBounds(30, Top, 250, 24);
    c->TabOrder = Tab;
    return c;
}

TTntGButton* AddDecoration(fw::Form* Form, int Left) {
    auto* g = new TTntGButton(Form);
    g->SetParent(Form);
    g->SetBounds(Left, 190, 60, 26);
    SetDecoration(g);
    return g;
}

fw::Button* AddButton(fw::Form* Form, int Left, int Tab) {
    auto* b = new fw::Button(Form);
    b->SetParent(Form);
    b->SetFont(fw::Font::OfCharHeight(12));
    b->SetBounds(Left, 190, 65, 30);
    b->TabOrder = Tab;
    return b;
}

}  // namespace

bool ParseResolution(const std::string& Text, int32_t& Width, int32_t& Height) {
    const size_t x = Text.find(" x ");
    if (x == std::string::npos) return false;
    if (!ToInt(Text.substr(0, x), Width)) Width = 352;
    if (!ToInt(Text.substr(x + 3), Height)) Height = 288;
    return true;
}

int CompareResolutionWidth(const std::string& A, const std::string& B) {
    int32_t wa = 0, ha = 0, wb = 0, hb = 0;
    if (!ParseResolution(A, wa, ha) || !ParseResolution(B, wb, hb)) return 0;
    return wa < wb ? -1 : wa > wb ? 1 : 0;
}

std::vector<std::string> OfferedResolutions(std::vector<std::string> Sizes) {
    // Only texts that parse take part in the sort: a text that compares equal to every
    // other one would leave the order undefined.
    std::vector<std::string> offered;
    for (std::string& s : Sizes) {
        int32_t w = 0, h = 0;
        if (ParseResolution(s, w, h) && (w >= 640 || w == 352)) offered.push_back(std::move(s));
    }
    std::stable_sort(offered.begin(), offered.end(),
                     [](const std::string& A, const std::string& B) {
                         return CompareResolutionWidth(A, B) < 0;
                     });
    return offered;
}

Tfrm_SelectForm::Tfrm_SelectForm(fw::Component* Owner) : fw::Form(Owner) {
    BorderStyle = fw::BorderStyle::Single;
    BorderIcons = fw::biSystemMenu;
    FormStyle = fw::FormStyle::StayOnTop;
    Position = fw::FormPosition::ScreenCenter;
    KeyPreview = true;
    SetFont(fw::Font::OfCharHeight(13));
    SetClientSize(312, 233);

    lblResolution = AddLabel(this, 15);
    cbResolution = AddList(this, 35, 0);
    lblVideoDevice = AddLabel(this, 70);
    cbVideo = AddList(this, 90, 1);
    lblAudioDevice = AddLabel(this, 125);
    cbAudio = AddList(this, 145, 2);
    // Decoration only: the push buttons are windows and so stay in front of them.
    gbOk = AddDecoration(this, 80);
    gbCancel = AddDecoration(this, 170);
    btnOk = AddButton(this, 80, 3);
    btnCancel = AddButton(this, 170, 4);

    OnCreate = [this] { FormCreate(); };
    OnShow = [this] { FormShow(); };
    OnKeyPress = [this](wchar_t& K) { FormKeyPress(K); };
    OnKeyDown = [this](WORD& Key, fw::ShiftState) {
        if (Key != VK_ESCAPE) return;
        escapeClosesList_ = false;
        for (fw::ComboBox* c : {cbResolution, cbVideo, cbAudio})
            if (c->HandleAllocated() && SendMessageW(c->Handle(), CB_GETDROPPEDSTATE, 0, 0))
                escapeClosesList_ = true;
    };
    OnClose = [this](fw::CloseAction& A) { FormClose(A); };
    btnOk->OnClick = [this] { btnOkClick(); };
    btnCancel->OnClick = [this] { btnCancelClick(); };
}

void Tfrm_SelectForm::FormCreate() { LoadDialogGlyphs(); }

void Tfrm_SelectForm::LoadDialogGlyphs() {
    const std::string folder = IncludeTrailingSeparator(AppPath + "images");
    // A missing or unreadable file leaves the button without its picture.
    if (LoadGlyphFile(gbOk->Glyphs().Glyph(), folder + "gbOk.bmp")) gbOk->Invalidate();
    if (LoadGlyphFile(gbCancel->Glyphs().Glyph(), folder + "gbCancel.bmp")) gbCancel->Invalidate();
}

void Tfrm_SelectForm::SetFrameSizes(std::vector<std::string> Sizes) {
    cbResolution->ClearItems();
    if (Sizes.empty()) {
        cbResolution->AddItem(L"352 x 288");
        cbResolution->AddItem(L"640 x 480");
        return;
    }
    for (const std::string& s : OfferedResolutions(std::move(Sizes)))
        cbResolution->AddItem(AnsiToWide(s));
}

void Tfrm_SelectForm::FormShow() {
    SetCaption(GetText("T_VIDEOFORMAT"));
    lblResolution->SetCaption(GetText("T_RESOLUTION"));
    lblVideoDevice->SetCaption(GetText("T_VIDEODEVICE"));
    lblAudioDevice->SetCaption(GetText("T_AUDIODEVICE"));
    // The labels have no windows: each list is named by its label for screen readers.
    cbResolution->AccessibleName = fw::NameFromCaption(lblResolution->Caption());
    cbVideo->AccessibleName = fw::NameFromCaption(lblVideoDevice->Caption());
    cbAudio->AccessibleName = fw::NameFromCaption(lblAudioDevice->Caption());
    btnOk->SetCaption(GetText("T_OK"));
    btnCancel->SetCaption(GetText("T_CANCEL"));

    if (cbResolution->ItemCount() == 0)
        ShowEmptyList(cbResolution, L"NONE");
    else
        cbResolution->SetItemIndex(
            cbResolution->IndexOf(std::to_wstring(SelWidth) + L" x " + std::to_wstring(SelHeight)));
    SelectDevice(cbVideo, SelVideoIndex);
    SelectDevice(cbAudio, SelAudioIndex);
}

void Tfrm_SelectForm::btnOkClick() {
    int32_t w = 0, h = 0;
    if (ParseResolution(WideToAnsi(cbResolution->Text()), w, h)) {
        SelWidth = w;
        SelHeight = h;
    }
    SelVideoIndex = cbVideo->ItemIndex();
    SelAudioIndex = cbAudio->ItemIndex();
    ModalResult = fw::mrOk;
}

void Tfrm_SelectForm::btnCancelClick() { ModalResult = fw::mrCancel; }

void Tfrm_SelectForm::FormKeyPress(wchar_t& Key) {
    if (Key == 27) {
        Key = 0;
        if (std::exchange(escapeClosesList_, false)) return;
        btnCancelClick();
    }
}

void Tfrm_SelectForm::FormClose(fw::CloseAction& Action) { Action = fw::CloseAction::Free; }

void ShowSelectForm(std::vector<std::string> VideoNames, std::vector<std::string> AudioNames,
                    std::vector<std::string> FrameSizes, int32_t& Width, int32_t& Height,
                    int32_t& VideoIndex, int32_t& AudioIndex) {
    SelWidth = Width;
    SelHeight = Height;
    SelVideoIndex = VideoIndex;
    SelAudioIndex = AudioIndex;
    {
        auto* form = fw::NewForm<Tfrm_SelectForm>(&fw::App());
        for (const std::string& name : VideoNames) form->cbVideo->AddItem(AnsiToWide(name));
        for (const std::string& name : AudioNames) form->cbAudio->AddItem(AnsiToWide(name));
        form->SetFrameSizes(std::move(FrameSizes));
        form->ShowModal();
    }
    VideoNames.clear();
    AudioNames.clear();
    Width = SelWidth;
    Height = SelHeight;
    VideoIndex = SelVideoIndex;
    AudioIndex = SelAudioIndex;
}
