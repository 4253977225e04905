// TGBrowseDialog: the shell's folder browser as a component with properties: a start
// selection, a prompt, a root, options, a centred window with its own caption and a
// status line that shows a text or the current selection, shortened to fit. Texts are
// in the system code page (the browser's ANSI interface).
#pragma once

#include "framework/Component.h"
#include "framework/Types.h"

#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

enum class TRootID {
    idDesktop,
    idInternet,
    idPrograms,
    idControlPanel,
    idPrinters,
    idPersonal,
    idFavorites,
    idStartup,
    idRecent,
    idSendTo,
    idRecycleBin,
    idStartMenu,
    idDesktopDirectory,
    idDrives,
    idNetwork,
    idNetHood,
    idFonts,
    idTemplates,
    idCommonStartMenu,
    idCommonPrograms,
    idCommonStartup,
    idCommonDesktopDirectory,
    idAppData,
    idPrintHood,
};

// The shell's special-folder id (CSIDL_) for a root. Systems before the NT family's
// version 4 have no common (all users) folders; the per-user ones stand in for them.
int RootFolderId(TRootID Root, bool NT4OrLater);
// The same for the running system.
int RootFolderId(TRootID Root);

// A set of browse options, one bit per option in declaration order.
using TBrowseFlags = uint32_t;
enum TBrowseFlag : uint32_t {
    bfDirectoriesOnly = 1u << 0,
    bfDomainOnly = 1u << 1,
    bfAncestors = 1u << 2,
    bfComputers = 1u << 3,
    bfPrinters = 1u << 4,
    bfIncludeFiles = 1u << 5,
    bfEditBox = 1u << 6,
    bfIncludeURLs = 1u << 7,
    bfNewDialogStyle = 1u << 8,
    bfShareable = 1u << 9,
    bfUseNewUI = 1u << 10,
};
// The browser's BIF_ flags for a set of options.
UINT BrowseInfoFlags(TBrowseFlags Options);

// Control id of the status line in the shell's browser window.
inline constexpr int BrowseStatusControlId = 14147;

class TGBrowseDialog;
using TOnValidateFail =
    std::function<void(TGBrowseDialog* Sender, const std::string& Path, bool& Cancel)>;

class TGBrowseDialog : public fw::Component {
public:
    explicit TGBrowseDialog(fw::Component* Owner);
    ~TGBrowseDialog() override;

    const std::string& Selection() const { return selection_; }
    void SetSelection(const std::string& Value);
    std::string PromptText;
    TRootID Root = TRootID::idDesktop;
    TBrowseFlags Options() const { return options_; }
    void SetOptions(TBrowseFlags Value);
    bool Center = true;
    const std::string& StatusText() const { return statusText_; }
    void SetStatusText(const std::string& Value);
    bool FitStatusText() const { return fitStatusText_; }
    void SetFitStatusText(bool Value);
    std::string Title() const;
    void SetTitle(const std::string& Value);
    bool DisplaySelection() const { return displaySelection_; }
    void SetDisplaySelection(bool Value);

    fw::NotifyEvent OnShow;
    fw::NotifyEvent OnClose;
    fw::NotifyEvent OnSelectionChange;
    TOnValidateFail OnValidateFail;

    // Shows the browser modally; true when the user confirmed a folder, which is then
    // the Selection. Otherwise the Selection is what it was before.
    virtual bool Execute();

    // The open browser window; null while none is open.
    HWND BrowserWindow() const { return window_; }
    // The status text as it is sent to the browser: shortened to fit its status line
    // when FitStatusText is on.
    std::string FittedStatusText() const;

    static int CALLBACK BrowseCallback(HWND Window, UINT Message, LPARAM Param, LPARAM Data);

protected:
    virtual void DoInitialized(HWND Window);
    virtual void DoSelectionChanged(PCIDLIST_ABSOLUTE Item);
    virtual void DoValidateFailed(const std::string& Path, bool& Cancel);

private:
    struct TIdListFree {
        void operator()(ITEMIDLIST* p) const { ::CoTaskMemFree(p); }
    };
    using IdList = std::unique_ptr<ITEMIDLIST, TIdListFree>;

    void ApplySelection();
    void SendStatusText();
    HWND ParentWindow() const;
    // Shows the system's folder browser; true with the chosen folder's path and item.
    bool Browse(HWND Parent, UINT Flags, std::string& Path, IdList& Returned);

    std::string selection_;
    TBrowseFlags options_ = bfDirectoriesOnly;
    std::string statusText_;
    bool fitStatusText_ = true;
    std::string title_;
    bool displaySelection_ = false;

    HWND window_ = nullptr;
    HWND constructionParent_ = nullptr;
    fw::Component* windowedOwner_ = nullptr;
    IdList item_;
    Microsoft::WRL::ComPtr<IMalloc> malloc_;
};

// The file-system path of a shell item, however long; false when it has none.
bool PathFromIdList(PCIDLIST_ABSOLUTE Item, std::string& Path);

// True when Text names an existing folder or drive; no error box appears for drives
// without media.
bool IsExistingFolder(const std::string& Text);

// The shorteners of the status line. Both measure in the given control with its own
// font and shorten the text until it fits the control's width.
// CompactPath drops leading folders ("C:\...\Documents\My Pictures"), down to the bare
// name; TruncateText drops trailing characters and ends the text in "...".
std::string CompactPath(HWND Control, const std::string& Text);
std::string TruncateText(HWND Control, const std::string& Text);
// One step of CompactPath on a directory part: "\a\b\c\" gives "\...\b\c\".
std::string ShortenFolderPart(std::string Dir);
