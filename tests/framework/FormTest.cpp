#include "framework/Form.h"
#include "framework/StdControls.h"
#include "framework/Timer.h"

#include "FrameworkTest.h"

#include <functional>
#include <memory>

using FormTest = FrameworkTest;

namespace {

// A form that reports its own destruction.
class TrackedForm : public fw::Form {
public:
    TrackedForm(fw::Component* owner, bool* freed) : Form(owner), freed_(freed) {}
    ~TrackedForm() override {
        if (freed_) *freed_ = true;
    }

private:
    bool* freed_;
};

}  // namespace

TEST_F(FormTest, ClientSizeBorderAndCentredPlacement) {
    auto* f = fw::NewForm<fw::Form>(&app);
    f->Position = fw::FormPosition::ScreenCenter;
    f->SetClientSize(372, 213);
    f->Show();
    RECT rc;
    ::GetClientRect(f->Handle(), &rc);
    EXPECT_EQ(rc.right, 372);
    EXPECT_EQ(rc.bottom, 213);
    EXPECT_EQ(f->ClientWidth(), 372);
    const LONG style = ::GetWindowLongW(f->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    const int sw = ::GetSystemMetrics(SM_CXSCREEN), sh = ::GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(f->Left(), sw / 2 - f->Width() / 2);
    EXPECT_EQ(f->Top(), sh / 2 - f->Height() / 2);

    // Growing the client area keeps the frame.
    f->SetClientHeight(300);
    ::GetClientRect(f->Handle(), &rc);
    EXPECT_EQ(rc.bottom, 300);
    EXPECT_EQ(rc.right, 372);
}

TEST_F(FormTest, CreateRunsOnceAndShowRunsBeforeTheWindowAppears) {
    int created = 0, shown = 0;
    bool visibleDuringShow = true;
    struct F : fw::Form {
        F(fw::Component* o, int* c) : Form(o) {
            OnCreate = [c] { ++*c; };
        }
    };
    auto* f = fw::NewForm<F>(&app, &created);
    EXPECT_EQ(created, 1);
    f->OnShow = [&] {
        ++shown;
        visibleDuringShow = ::IsWindowVisible(f->Handle()) != 0;
        f->SetCaption(L"Shown caption");
    };
    f->AfterConstruction();  // a second call does nothing
    EXPECT_EQ(created, 1);
    f->Show();
    f->Show();  // already visible
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(visibleDuringShow);
    EXPECT_TRUE(::IsWindowVisible(f->Handle()));
    wchar_t text[64] = {};
    ::GetWindowTextW(f->Handle(), text, 64);
    EXPECT_STREQ(text, L"Shown caption");
}

TEST_F(FormTest, ShowModalReturnsTheResultOfTheClickedButton) {
    auto* main = fw::NewForm<fw::Form>(&app);
    app.SetMainForm(main);
    main->Show();
    auto* dlg = fw::NewForm<fw::Form>(&app);
    auto* ok = new fw::Button(dlg);
    ok->SetParent(dlg);
    ok->SetBounds(10, 10, 75, 25);
    ok->ModalResult = fw::mrOk;
    int clicks = 0;
    ok->OnClick = [&] { ++clicks; };

    bool mainDisabledWhileModal = false;
    fw::Timer t(nullptr);
    t.SetInterval(30);
    t.OnTimer = [&] {
        t.SetEnabled(false);
        mainDisabledWhileModal = !::IsWindowEnabled(main->Handle());
        ::PostMessageW(ok->Handle(), BM_CLICK, 0, 0);
    };
    t.SetEnabled(true);
    const fw::ModalResult r = dlg->ShowModal();
    EXPECT_EQ(r, fw::mrOk);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(mainDisabledWhileModal);
    EXPECT_TRUE(::IsWindowEnabled(main->Handle()));
    EXPECT_FALSE(dlg->Visible());
    EXPECT_FALSE(::IsWindowVisible(dlg->Handle()));
    EXPECT_FALSE(dlg->Modal());
    app.SetMainForm(nullptr);
}

TEST_F(FormTest, ModalCloseBoxGivesCancelAndCloseQueryCanRefuse) {
    auto* dlg = fw::NewForm<fw::Form>(&app);
    int queries = 0, closes = 0;
    dlg->OnCloseQuery = [&](bool& can) { can = ++queries > 1; };
    dlg->OnClose = [&](fw::CloseAction&) { ++closes; };
    fw::Timer t(nullptr);
    t.SetInterval(20);
    int ticks = 0;
    t.OnTimer = [&] {
        ++ticks;
        if (ticks >= 2) t.SetEnabled(false);
        ::PostMessageW(dlg->Handle(), WM_CLOSE, 0, 0);  // the window's close box
    };
    t.SetEnabled(true);
    EXPECT_EQ(dlg->ShowModal(), fw::mrCancel);
    EXPECT_EQ(queries, 2);  // the first close was refused, the dialog stayed
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(ticks, 2);
}

TEST_F(FormTest, ModalResultSetByCodeEndsTheLoop) {
    auto* dlg = fw::NewForm<fw::Form>(&app);
    fw::Timer t(nullptr);
    t.SetInterval(20);
    t.OnTimer = [&] {
        t.SetEnabled(false);
        dlg->ModalResult = 7;
    };
    t.SetEnabled(true);
    EXPECT_EQ(dlg->ShowModal(), 7);
}

TEST_F(FormTest, ModalFormWithCloseActionFreeIsGoneAfterTheQueueIsServiced) {
    bool freed = false;
    auto* dlg = fw::NewForm<TrackedForm>(&app, &freed);
    dlg->OnClose = [](fw::CloseAction& a) { a = fw::CloseAction::Free; };
    fw::Timer t(nullptr);
    t.SetInterval(20);
    t.OnTimer = [&] {
        t.SetEnabled(false);
        dlg->ModalResult = fw::mrOk;
    };
    t.SetEnabled(true);
    const int before = app.ComponentCount();
    EXPECT_EQ(dlg->ShowModal(), fw::mrOk);
    EXPECT_FALSE(freed);  // still there for the caller to read
    EXPECT_EQ(dlg->ModalResult, fw::mrOk);
    ASSERT_TRUE(PumpUntil([&] { return freed; }));
    EXPECT_EQ(app.ComponentCount(), before - 1);
}

TEST_F(FormTest, FormThatFreesItselfOnCloseIsGone) {
    bool freed = false;
    auto* f = fw::NewForm<TrackedForm>(&app, &freed);
    auto* edit = new fw::Edit(f);
    edit->SetParent(f);
    f->OnClose = [](fw::CloseAction& a) { a = fw::CloseAction::Free; };
    f->Show();
    HWND h = f->Handle();
    HWND eh = edit->Handle();
    const int before = app.ComponentCount();
    ::PostMessageW(h, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return freed; }));
    EXPECT_FALSE(::IsWindow(h));
    EXPECT_FALSE(::IsWindow(eh));
    EXPECT_EQ(app.ComponentCount(), before - 1);
}

TEST_F(FormTest, CloseActionsHideAndNone) {
    auto* f = fw::NewForm<fw::Form>(&app);
    fw::CloseAction next = fw::CloseAction::None;
    f->OnClose = [&](fw::CloseAction& a) { a = next; };
    f->Show();
    f->Close();
    EXPECT_TRUE(f->Visible());
    next = fw::CloseAction::Hide;
    f->Close();
    EXPECT_FALSE(f->Visible());
    EXPECT_FALSE(::IsWindowVisible(f->Handle()));
    ASSERT_TRUE(PumpPostedRoundTrip());
    EXPECT_EQ(app.ComponentCount(), 1);  // hidden, not freed
}

TEST_F(FormTest, ClosingTheMainFormEndsTheApplicationUnlessRefused) {
    auto* f = fw::NewForm<fw::Form>(&app);
    app.SetMainForm(f);
    bool allow = false;
    f->OnCloseQuery = [&](bool& can) { can = allow; };
    f->Show();
    f->Close();
    EXPECT_FALSE(app.Terminated());
    allow = true;
    bool safetyFired = false;
    fw::Timer safety(nullptr);  // keeps a broken close from hanging the run
    safety.SetInterval(5000);
    safety.OnTimer = [&] {
        safetyFired = true;
        app.Terminate();
    };
    safety.SetEnabled(true);
    ::PostMessageW(f->Handle(), WM_CLOSE, 0, 0);
    app.Run();  // returns once the main form has closed
    EXPECT_TRUE(app.Terminated());
    EXPECT_FALSE(safetyFired);
}

TEST_F(FormTest, ReleasedFormsOwningEachOtherAreFreedOnce) {
    bool outerFreed = false, innerFreed = false;
    auto* outer = fw::NewForm<TrackedForm>(&app, &outerFreed);
    auto* inner = fw::NewForm<TrackedForm>(outer, &innerFreed);
    inner->Release();
    outer->Release();  // frees inner too; the pending release of inner must not run again
    ASSERT_TRUE(PumpUntil([&] { return outerFreed; }));
    EXPECT_TRUE(innerFreed);
    // A second free of inner, still pending, would run before this comes round.
    ASSERT_TRUE(PumpPostedRoundTrip());
}

namespace {

UINT TestMessage() {
    static const UINT id = ::RegisterWindowMessageW(L"OrvixFw.Test");
    return id;
}

class HookedForm : public fw::Form {
public:
    using Form::Form;
    int registeredSeen = 0;
    int positions = 0;
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        const LRESULT r = Form::WndProc(msg, wParam, lParam);
        if (msg == TestMessage()) {
            ++registeredSeen;
            return 1;
        }
        return r;
    }

protected:
    void CreateParams(fw::CreateParams& p) override {
        Form::CreateParams(p);
        p.ExStyle |= WS_EX_TOOLWINDOW;
    }
    void WMWindowPosChanging(WINDOWPOS& wp) override {
        ++positions;
        if (!(wp.flags & SWP_NOMOVE) && wp.y < 0) wp.y = 0;  // keep the top on the screen
        Form::WMWindowPosChanging(wp);
    }
};

}  // namespace

TEST_F(FormTest, DerivedFormHooksWindowProcedureCreateParamsAndPositionChanges) {
    auto* f = fw::NewForm<HookedForm>(&app);
    f->Show();
    EXPECT_TRUE(::GetWindowLongW(f->Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(::SendMessageW(f->Handle(), TestMessage(), 0, 0), 1);
    EXPECT_EQ(f->registeredSeen, 1);
    f->SetBounds(50, -40, 300, 200);
    EXPECT_GT(f->positions, 0);
    EXPECT_EQ(f->Top(), 0);
    EXPECT_EQ(f->Left(), 50);
}

TEST_F(FormTest, CanResizeHookSeesAndCanRefuseNewSizes) {
    auto* f = fw::NewForm<fw::Form>(&app);
    f->SetBounds(10, 10, 300, 200);
    f->Show();
    std::vector<std::pair<int, int>> seen;
    bool allow = false;
    f->OnCanResize = [&](int& w, int& h, bool& resize) {
        seen.emplace_back(w, h);
        resize = allow;
    };
    f->SetBounds(10, 10, 400, 250);
    EXPECT_EQ(f->Width(), 300);
    EXPECT_EQ(f->Height(), 200);
    allow = true;
    f->SetBounds(10, 10, 400, 250);
    EXPECT_EQ(f->Width(), 400);
    EXPECT_EQ(f->Height(), 250);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.back(), std::make_pair(400, 250));
}

TEST_F(FormTest, ClientAlignedControlFollowsTheForm) {
    auto* f = fw::NewForm<fw::Form>(&app);
    auto* e = new fw::Edit(f);
    e->SetParent(f);
    e->SetAlign(fw::Align::Client);
    f->SetClientSize(200, 100);
    f->Show();
    EXPECT_EQ(e->Width(), 200);
    EXPECT_EQ(e->Height(), 100);
    f->SetClientSize(260, 120);
    EXPECT_EQ(e->Width(), 260);
    EXPECT_EQ(e->Height(), 120);
    EXPECT_EQ(e->Left(), 0);
}

TEST_F(FormTest, FreeingAFormFreesItsControlsWithoutRaisingTheirEvents) {
    bool exitRaised = false, clicked = false;
    auto* f = fw::NewForm<fw::Form>(&app);
    auto* e = new fw::Edit(f);
    e->SetParent(f);
    auto* b = new fw::Button(f);
    b->SetParent(f);
    b->SetTop(40);
    f->Show();
    e->SetFocus();
    e->OnExit = [&] { exitRaised = true; };
    b->OnClick = [&] { clicked = true; };
    delete f;
    EXPECT_FALSE(exitRaised);
    EXPECT_FALSE(clicked);
    EXPECT_EQ(app.ComponentCount(), 0);
}

namespace {
// What a handler that replaces itself sees of its own captures; kept outside the
// handler, since touching a destroyed handler's captures would itself be the fault.
std::weak_ptr<int> g_capture;
int g_alive = 0, g_calls = 0;

// A handler that drops itself first, then checks that what it captured still exists.
template <typename... A>
std::function<void(A...)> SelfReplacing(std::function<void(A...)>* slot) {
    auto token = std::make_shared<int>(1);
    g_capture = token;
    return [slot, t = std::move(token)](A...) {
        *slot = nullptr;
        ++g_calls;
        if (!g_capture.expired()) ++g_alive;
    };
}
}  // namespace

TEST_F(FormTest, HandlersThatReplaceThemselvesKeepTheirCapturesForTheCall) {
    auto* f = fw::NewForm<fw::Form>(&app);
    g_alive = g_calls = 0;
    f->OnShow = SelfReplacing<>(&f->OnShow);
    f->Show();
    f->OnCloseQuery = SelfReplacing<bool&>(&f->OnCloseQuery);
    f->Close();
    f->Show();
    f->OnClose = SelfReplacing<fw::CloseAction&>(&f->OnClose);
    f->Close();
    f->Show();
    f->OnHide = SelfReplacing<>(&f->OnHide);
    f->Hide();
    f->OnCanResize = SelfReplacing<int&, int&, bool&>(&f->OnCanResize);
    f->SetBounds(f->Left(), f->Top(), f->Width() + 10, f->Height());
    EXPECT_EQ(g_calls, 5);
    EXPECT_EQ(g_alive, 5);
    delete f;
}
