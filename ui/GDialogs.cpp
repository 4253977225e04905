#include "ui/GDialogs.h"

#include "common/FolderProbe.h"
#include "common/u_PathUtil.h"
#include "framework/Application.h"
#include "framework/Control.h"
#include "framework/Form.h"
#include "framework/WinHandles.h"

#include <array>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

bool IsNT4OrLater() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExA(&info)) return true;
#pragma GCC diagnostic pop
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 4;
}

// Width of Text in the control's own font; 0 when it cannot be measured.
int MeasuredWidth(HDC Dc, const std::string& Text) {
    SIZE size{};
    if (!::GetTextExtentPoint32A(Dc, Text.c_str(), static_cast<int>(Text.size()), &size)) return 0;
    return size.cx;
}

int ControlWidth(HWND Control) {
    RECT r{};
    ::GetWindowRect(Control, &r);
    return r.right - r.left;
}

// A device context of the control with the control's font selected, for the lifetime
// of the object.
class TControlDc {
public:
    explicit TControlDc(HWND Control)
        : dc_(Control),
          font_(dc_ ? dc_.get() : nullptr,
                dc_ ? reinterpret_cast<HGDIOBJ>(::SendMessageW(Control, WM_GETFONT, 0, 0))
                    : nullptr) {}
    HDC get() const { return dc_.get(); }

private:
    fw::ScopedGetDC dc_;
    fw::ScopedSelectObject font_;
};

BOOL CALLBACK FindStatusChild(HWND Child, LPARAM Data) {
    if (::GetDlgCtrlID(Child) != BrowseStatusControlId) return TRUE;
    *reinterpret_cast<HWND*>(Data) = Child;
    return FALSE;
}

HWND FindStatusControl(HWND Browser) {
    HWND found = nullptr;
    ::EnumChildWindows(Browser, FindStatusChild, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The text that BFFM_SETSELECTIONA gets for a selection: a bare drive gets its root
// separator, any other folder loses one trailing separator.
std::string NormalisedSelection(std::string Text) {
    if (Text.empty()) return Text;
    if (Text.size() < 4 && Text.size() >= 2 && Text[1] == ':') {
        if (Text.size() == 2) Text += '\\';
        return Text;
    }
    if (Text.back() == '\\' && Text != "\\") Text.pop_back();
    return Text;
}

}  // namespace

int RootFolderId(TRootID Root, bool NT4OrLater) {
    static constexpr std::array<int, 24> ids = {
        CSIDL_DESKTOP,
        CSIDL_INTERNET,
        CSIDL_PROGRAMS,
        CSIDL_CONTROLS,
        CSIDL_PRINTERS,
        CSIDL_PERSONAL,
        CSIDL_FAVORITES,
        CSIDL_STARTUP,
        CSIDL_RECENT,
        CSIDL_SENDTO,
        CSIDL_BITBUCKET,
        CSIDL_STARTMENU,
        CSIDL_DESKTOPDIRECTORY,
        CSIDL_DRIVES,
        CSIDL_NETWORK,
        CSIDL_NETHOOD,
        CSIDL_FONTS,
        CSIDL_TEMPLATES,
        CSIDL_COMMON_STARTMENU,
        CSIDL_COMMON_PROGRAMS,
        CSIDL_COMMON_STARTUP,
        CSIDL_COMMON_DESKTOPDIRECTORY,
        CSIDL_APPDATA,
        CSIDL_PRINTHOOD,
    };
    if (!NT4OrLater) {
        switch (Root) {
            case TRootID::idCommonStartMenu:
                return CSIDL_STARTMENU;
            case TRootID::idCommonPrograms:
                return CSIDL_PROGRAMS;
            case TRootID::idCommonStartup:
                return CSIDL_STARTUP;
            case TRootID::idCommonDesktopDirectory:
                return CSIDL_DESKTOPDIRECTORY;
            default:
                break;
        }
    }
    const auto i = static_cast<size_t>(Root);
    return i < ids.size() ? ids[i] : CSIDL_DESKTOP;
}

int RootFolderId(TRootID Root) { return RootFolderId(Root, IsNT4OrLater()); }

UINT BrowseInfoFlags(TBrowseFlags Options) {
    static constexpr std::array<UINT, 11> flags = {
        BIF_RETURNONLYFSDIRS, BIF_DONTGOBELOWDOMAIN,  BIF_RETURNFSANCESTORS, BIF_BROWSEFORCOMPUTER,
        BIF_BROWSEFORPRINTER, BIF_BROWSEINCLUDEFILES, BIF_EDITBOX,           BIF_BROWSEINCLUDEURLS,
        BIF_NEWDIALOGSTYLE,   BIF_SHAREABLE,          BIF_USENEWUI,
    };
    UINT result = 0;
    for (size_t i = 0; i < flags.size(); ++i)
        if (Options & (1u << i)) result |= flags[i];
    return result;
}

// ---------------------------------------------------------------------------

TGBrowseDialog::TGBrowseDialog(fw::Component* Owner) : fw::Component(Owner) {
    if (dynamic_cast<fw::WinControl*>(Owner))
        windowedOwner_ = Owner;
    else if (fw::Application::Exists()) {
        fw::Form* main = fw::App().MainForm();
        if (main && main->HandleAllocated()) constructionParent_ = main->Handle();
    }
    ::SHGetMalloc(malloc_.GetAddressOf());
}

TGBrowseDialog::~TGBrowseDialog() = default;

HWND TGBrowseDialog::ParentWindow() const {
    // The owner outlives this component, so its window can be asked for late: a form's
    // window may not exist yet when its components are made.
    if (windowedOwner_) return static_cast<fw::WinControl*>(windowedOwner_)->Handle();
    if (constructionParent_ && ::IsWindow(constructionParent_)) return constructionParent_;
    if (fw::Application::Exists()) {
        fw::Form* main = fw::App().MainForm();
        if (main) return main->Handle();
    }
    return nullptr;
}

void TGBrowseDialog::SetSelection(const std::string& Value) {
    if (Value == selection_) return;
    selection_ = Value;
    if (!selection_.empty() && selection_.back() != '\\' && IsExistingFolder(selection_))
        selection_ += '\\';
    if (selection_.empty()) item_.reset();
    if (displaySelection_) statusText_ = selection_;
    if (window_) ApplySelection();
}

void TGBrowseDialog::SetOptions(TBrowseFlags Value) {
    if (Value == options_) return;
    options_ = Value;
    if (options_ & bfIncludeURLs) options_ |= bfIncludeFiles | bfUseNewUI;
    if (options_ & bfShareable) options_ |= bfUseNewUI;
    if (options_ & bfUseNewUI) options_ |= bfEditBox | bfNewDialogStyle;
}

void TGBrowseDialog::SetStatusText(const std::string& Value) {
    if (displaySelection_ || Value == statusText_) return;
    statusText_ = Value;
    if (window_) SendStatusText();
}

void TGBrowseDialog::SetFitStatusText(bool Value) {
    if (Value == fitStatusText_) return;
    fitStatusText_ = Value;
    if (window_) SendStatusText();
}

std::string TGBrowseDialog::Title() const {
    if (!window_) return title_;
    char text[256] = {};
    ::SendMessageA(window_, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    return text;
}

void TGBrowseDialog::SetTitle(const std::string& Value) {
    title_ = Value;
    if (window_) ::SendMessageA(window_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title_.c_str()));
}

void TGBrowseDialog::SetDisplaySelection(bool Value) {
    if (Value == displaySelection_) return;
    displaySelection_ = Value;
    if (displaySelection_) statusText_ = selection_;
}

void TGBrowseDialog::SendStatusText() {
    const std::string text = FittedStatusText();
    ::SendMessageA(window_, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string TGBrowseDialog::FittedStatusText() const {
    if (!fitStatusText_ || statusText_.empty() || !window_) return statusText_;
    const HWND status = FindStatusControl(window_);
    if (!status) return statusText_;
    return IsExistingFolder(statusText_) ? CompactPath(status, statusText_)
                                         : TruncateText(status, statusText_);
}

bool TGBrowseDialog::Browse(HWND Parent, UINT Flags, std::string& Path, IdList& Returned) {
    char* buffer = malloc_ ? static_cast<char*>(malloc_->Alloc(MAX_PATH)) : nullptr;
    if (!buffer) return false;
    bool confirmed = false;
    buffer[0] = '\0';
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    ITEMIDLIST* root = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(Parent, RootFolderId(Root), &root))) root = nullptr;

    BROWSEINFOA info{};
    info.hwndOwner = Parent;
    info.pidlRoot = root;
    info.pszDisplayName = buffer;
    info.lpszTitle = PromptText.c_str();
    info.ulFlags = Flags;
    info.lpfn = &TGBrowseDialog::BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(this);
    {
        TNoCriticalErrorBoxes quiet;
        Returned.reset(::SHBrowseForFolderA(&info));
    }
    if (Returned) {
        if (options_ & bfComputers) {
            Path = std::string("\\\\") + buffer;
            std::string fsPath;
            if (PathFromIdList(Returned.get(), fsPath)) Path = fsPath;
            confirmed = true;
        } else {
            // An item without a whole file-system path (a virtual folder, or a path
            // the system cannot hand over whole) is not a folder to keep.
            confirmed = PathFromIdList(Returned.get(), Path);
        }
    }
    if (root) malloc_->Free(root);
    malloc_->Free(buffer);
    return confirmed;
}

bool TGBrowseDialog::Execute() {
    const HWND parent = ParentWindow();
    const std::string savedSelection = selection_;
    IdList savedItem(item_ ? ::ILClone(item_.get()) : nullptr);

    UINT flags = BrowseInfoFlags(options_);
    if (options_ & bfEditBox) flags |= BIF_VALIDATE;
    if (!statusText_.empty() || displaySelection_) flags |= BIF_STATUSTEXT;

    std::string path;
    IdList returned;
    const bool confirmed = Browse(parent, flags, path, returned);
    if (confirmed) {
        selection_ = path;
        item_ = std::move(returned);
    } else {
        selection_ = savedSelection;
        item_ = std::move(savedItem);
    }
    auto alive = AliveToken();
    if (OnClose && !Destroying()) {
        auto h = OnClose;
        h();
    }
    if (!alive.expired()) window_ = nullptr;
    return confirmed;
}

int CALLBACK TGBrowseDialog::BrowseCallback(HWND Window, UINT Message, LPARAM Param, LPARAM Data) {
    auto* self = reinterpret_cast<TGBrowseDialog*>(Data);
    if (!self) return 0;
    switch (Message) {
        case BFFM_INITIALIZED:
            self->DoInitialized(Window);
            return 0;
        case BFFM_SELCHANGED:
            self->DoSelectionChanged(reinterpret_cast<PCIDLIST_ABSOLUTE>(Param));
            return 0;
        case BFFM_VALIDATEFAILEDA: {
            bool cancel = false;
            self->DoValidateFailed(Param ? reinterpret_cast<const char*>(Param) : "", cancel);
            return cancel ? 0 : 1;
        }
        default:
            return 0;
    }
}

void TGBrowseDialog::DoInitialized(HWND Window) {
    window_ = Window;
    if (Center) {
        RECT r{};
        ::GetWindowRect(Window, &r);
        const int x = (::GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
        const int y = (::GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
        ::SetWindowPos(Window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (!title_.empty())
        ::SendMessageA(Window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title_.c_str()));
    if (!statusText_.empty()) SendStatusText();
    if (OnShow && !Destroying()) {
        auto h = OnShow;
        h();
    }
    if (window_ && (!selection_.empty() || item_)) ApplySelection();
}

void TGBrowseDialog::ApplySelection() {
    if (selection_.empty() && item_) {
        std::string path;
        selection_ = PathFromIdList(item_.get(), path) ? path : std::string();
        ::SendMessageA(window_, BFFM_SETSELECTIONA, FALSE, reinterpret_cast<LPARAM>(item_.get()));
        return;
    }
    ComPtr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.GetAddressOf()))) return;
    // The whole text: a start folder cut short would open the browser somewhere else.
    std::wstring wide = AnsiToWide(selection_);
    ITEMIDLIST* parsed = nullptr;
    ULONG eaten = 0;
    if (FAILED(
            desktop->ParseDisplayName(window_, nullptr, wide.data(), &eaten, &parsed, nullptr)) ||
        !parsed)
        return;
    item_.reset(parsed);
    if (selection_.starts_with("\\\\")) {
        ::SendMessageA(window_, BFFM_SETSELECTIONA, FALSE, reinterpret_cast<LPARAM>(item_.get()));
        return;
    }
    const std::string text = NormalisedSelection(selection_);
    ::SendMessageA(window_, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

void TGBrowseDialog::DoSelectionChanged(PCIDLIST_ABSOLUTE Item) {
    std::string path;
    if (Item) PathFromIdList(Item, path);
    if (!window_) return;
    selection_ = path;
    item_.reset(Item ? ::ILClone(Item) : nullptr);
    if (displaySelection_) {
        statusText_ = selection_;
        SendStatusText();
    }
    if (OnSelectionChange && !Destroying()) {
        auto h = OnSelectionChange;
        h();
    }
}

void TGBrowseDialog::DoValidateFailed(const std::string& Path, bool& Cancel) {
    if (OnValidateFail && !Destroying()) {
        auto h = OnValidateFail;
        h(this, Path, Cancel);
    }
}

// ---------------------------------------------------------------------------

bool PathFromIdList(PCIDLIST_ABSOLUTE Item, std::string& Path) {
    Path.clear();
    if (!Item) return false;
    // The plain call stops at MAX_PATH (and some systems then cut the path short
    // without saying so); ask with room for the longest path there is.
    std::vector<wchar_t> buffer(32768, L'\0');
    if (!::SHGetPathFromIDListEx(Item, buffer.data(), static_cast<DWORD>(buffer.size()),
                                 GPFIDL_DEFAULT))
        return false;
    const std::wstring wide(buffer.data());
    if (wide.empty() || wide.size() + 1 >= buffer.size()) return false;
    Path = WideToAnsi(wide);
    return true;
}

bool IsExistingFolder(const std::string& Text) {
    TNoCriticalErrorBoxes quiet;
    if (Text.size() == 3 && Text[1] == ':' && Text[2] == '\\') {
        char letter = Text[0];
        if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
        const int bit = letter - 'A';
        return bit >= 0 && bit < 32 && (::GetLogicalDrives() & (1u << bit)) != 0;
    }
    std::string name = Text;
    if (!name.empty() && name.back() == '\\') name.pop_back();
    // Wildcards would let the search find some other entry.
    if (name.empty() || name.find_first_of("*?") != std::string::npos) return false;
    WIN32_FIND_DATAW data{};
    DWORD error = ERROR_SUCCESS;
    fw::FindHandle find =
        FindFirstEntry(ExtendedPath(AnsiToWide(name)), FindExSearchLimitToDirectories, data, error);
    return find && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string ShortenFolderPart(std::string Dir) {
    if (Dir == "\\") return {};
    const bool leading = !Dir.empty() && Dir.front() == '\\';
    if (leading) Dir.erase(0, 1);
    if (!Dir.empty() && Dir.front() == '.') Dir.erase(0, 4);
    const size_t sep = Dir.find('\\');
    if (sep != std::string::npos)
        Dir = "...\\" + Dir.substr(sep + 1);
    else
        Dir.clear();
    if (leading) Dir.insert(0, 1, '\\');
    return Dir;
}

std::string CompactPath(HWND Control, const std::string& Text) {
    TControlDc dc(Control);
    if (!dc.get()) return Text;
    const int width = ControlWidth(Control);

    std::string result = Text;
    const size_t split = Text.find_last_of("\\:");
    std::string dir = split == std::string::npos ? std::string() : Text.substr(0, split + 1);
    const std::string name = split == std::string::npos ? Text : Text.substr(split + 1);
    std::string drive;
    if (dir.size() >= 2 && dir[1] == ':') {
        drive = dir.substr(0, 2);
        dir.erase(0, 2);
    }
    while ((!drive.empty() || !dir.empty()) && MeasuredWidth(dc.get(), result) > width) {
        if (dir == "\\...\\") {
            drive.clear();
            dir = "...\\";
        } else if (dir.empty()) {
            drive.clear();
        } else {
            dir = ShortenFolderPart(dir);
        }
        result = drive + dir + name;
    }
    return result;
}

std::string TruncateText(HWND Control, const std::string& Text) {
    TControlDc dc(Control);
    if (!dc.get()) return Text;
    const int width = ControlWidth(Control);
    std::string result = Text;
    std::string copy = Text;
    while (!copy.empty() && MeasuredWidth(dc.get(), result) > width) {
        copy.pop_back();
        result = copy + "...";
    }
    return result;
}
