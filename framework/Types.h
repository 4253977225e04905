// Small value types shared by the framework: colours, events, mouse and key state.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

namespace fw {

class Component;

// A colour is an RGB value (red in the lowest byte) or a system colour written as
// 0x80000000 plus the GetSysColor index.
using TColor = std::uint32_t;

constexpr TColor SystemColor(int index) { return 0x80000000u | static_cast<std::uint32_t>(index); }

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = SystemColor(COLOR_BTNFACE);
constexpr TColor clBtnShadow = SystemColor(COLOR_BTNSHADOW);
constexpr TColor clBtnHighlight = SystemColor(COLOR_BTNHIGHLIGHT);
constexpr TColor clBtnText = SystemColor(COLOR_BTNTEXT);
constexpr TColor clWindow = SystemColor(COLOR_WINDOW);
constexpr TColor clWindowText = SystemColor(COLOR_WINDOWTEXT);
constexpr TColor clGrayText = SystemColor(COLOR_GRAYTEXT);
constexpr TColor clInfoBk = SystemColor(COLOR_INFOBK);
constexpr TColor clInfoText = SystemColor(COLOR_INFOTEXT);

// System colours become RGB through the system's colour table.
COLORREF ColorToRGB(TColor c);

using NotifyEvent = std::function<void()>;

// Shift state of mouse and key events (bit set).
using ShiftState = unsigned;
constexpr ShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32,
                     ssDouble = 64;
// Shift state from a mouse message's wParam (MK_ flags) plus the Alt key.
ShiftState ShiftFromMouseKeys(WPARAM keys);
ShiftState ShiftFromKeyboard();

enum class MouseButton { Left, Right, Middle };

using MouseEvent = std::function<void(MouseButton button, ShiftState shift, int x, int y)>;
using MouseMoveEvent = std::function<void(ShiftState shift, int x, int y)>;
using KeyEvent = std::function<void(WORD& key, ShiftState shift)>;
using KeyPressEvent = std::function<void(wchar_t& key)>;

// Modal results (a form's ModalResult and a button's ModalResult).
using ModalResult = int;
constexpr ModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5,
                      mrYes = 6, mrNo = 7;

inline RECT MakeRect(int left, int top, int width, int height) {
    return RECT{left, top, left + width, top + height};
}

}  // namespace fw
