#include "switcher/msgbox/msgbox.h"

#include "common/log.h"

#include <windowsx.h>

#include <cstring>
#include <cwchar>

ButtonTextTable g_ButtonTextTable = {};

namespace {

constexpr wchar_t BACKGROUND_CLASS[] = L"DualOSBkgnd_Class";
constexpr wchar_t MSGBOX_CLASS[] = L"DualOSMsgBox_Class";

constexpr BYTE BACKGROUND_ALPHA = 76;
constexpr int ICON_SIZE = 32;

constexpr UINT CAPTION_MEASURE_FORMAT = DT_SINGLELINE | DT_END_ELLIPSIS | DT_CALCRECT;
constexpr UINT CAPTION_FORMAT = DT_SINGLELINE | DT_END_ELLIPSIS;
constexpr UINT TEXT_FORMAT = DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS;
constexpr UINT BUTTON_FORMAT = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS;

static_assert(sizeof(NONCLIENTMETRICSW) == 504, "the metrics are read in their full Windows Vista+ size");

// A device context from GetDC, given back to its window.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDc()
    {
        if (m_dc) {
            obrin::PreserveLastError keep;
            ReleaseDC(m_window, m_dc);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    [[nodiscard]] HDC get() const noexcept { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// Selects a GDI object for one scope; a null object selects nothing, so the
// device context's own default stays in use.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_previous(object ? SelectObject(dc, object) : nullptr) {}
    ~ScopedSelection()
    {
        if (m_previous)
            SelectObject(m_dc, m_previous);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

RECT ToRect(const LayoutRect& r) noexcept
{
    return {r.Left, r.Top, r.Right, r.Bottom};
}

const wchar_t* OrEmpty(const wchar_t* text) noexcept
{
    return text ? text : L"";
}

void FillOpaque(HDC dc, const RECT& rect, COLORREF colour) noexcept
{
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

void Repaint(HWND window) noexcept
{
    InvalidateRect(window, nullptr, TRUE);
}

// Closing goes through the message queue so the current message finishes
// first; the background's WM_DESTROY then ends the loop.
void Close(const MsgBoxState& state) noexcept
{
    PostMessageW(state.MsgBoxWindow, WM_CLOSE, 0, 0);
    PostMessageW(state.BackgroundWindow, WM_CLOSE, 0, 0);
}

// Only the high bit tells whether a key is down now; the low bit reports an
// earlier press and would swallow the next mouse click after any Enter.
bool SpaceOrEnterDown() noexcept
{
    return ((GetAsyncKeyState(VK_SPACE) | GetAsyncKeyState(VK_RETURN)) & 0x8000) != 0;
}

bool LeftButtonDown() noexcept
{
    return (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0;
}

void PlaceButtons(MsgBoxState& state, int width, int height) noexcept
{
    for (int i = 0; i < state.ButtonCount; ++i)
        state.Buttons[i].Rect = ToRect(ButtonRect(i, state.ButtonCount, width, height, state.BandHeight));
}

void FillButtons(MsgBoxState& state) noexcept
{
    const ButtonSet set = ButtonSetForType(state.Type);
    const HMODULE user32 = GetModuleHandleW(L"User32.dll");
    state.ButtonCount = set.Count;
    for (int i = 0; i < set.Count; ++i) {
        MsgBoxButton& button = state.Buttons[i];
        button.Id = set.Buttons[i].Id;
        if (state.ButtonTexts.Available) {
            wcsncpy(button.Text, state.ButtonTexts.Texts[set.Buttons[i].TextIndex], BUTTON_TEXT_CHARS - 1);
            button.Text[BUTTON_TEXT_CHARS - 1] = L'\0';
        } else if (user32) {
            LoadStringW(user32, set.Buttons[i].User32StringId, button.Text, BUTTON_TEXT_CHARS);
        }
    }
}

void LoadTypeIcon(MsgBoxState& state) noexcept
{
    const int iconId = IconIdForType(state.Type);
    if (iconId == 0)
        return;
    HANDLE icon = LoadImageW(state.Instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, ICON_SIZE, ICON_SIZE, LR_SHARED);
    if (!icon)
        icon = LoadImageW(nullptr, MAKEINTRESOURCEW(iconId), IMAGE_ICON, ICON_SIZE, ICON_SIZE, LR_SHARED);
    if (!icon)
        return;
    state.Icon = static_cast<HICON>(icon);
    state.IconWidth = ICON_SIZE;
    state.IconHeight = ICON_SIZE;
    if (state.MsgBoxWindow)
        Repaint(state.MsgBoxWindow);
}

int MeasureHeight(HDC dc, HFONT font, const wchar_t* text, RECT rect, UINT format) noexcept
{
    ScopedSelection selectFont(dc, font);
    DrawTextW(dc, OrEmpty(text), -1, &rect, format | DT_CALCRECT);
    return rect.bottom - rect.top;
}

void LayOut(MsgBoxState& state, HWND window, int width, int height) noexcept
{
    WindowDc dc(window);
    const RECT measure = ToRect(MeasureRect(width, state.IconHeight));
    const int captionHeight = MeasureHeight(dc.get(), state.CaptionFont.get(), state.Caption, measure, CAPTION_FORMAT);
    const int textHeight = MeasureHeight(dc.get(), state.TextFont.get(), state.Text, measure, TEXT_FORMAT);
    state.BandHeight = BandHeight(captionHeight, textHeight, state.IconHeight);
    PlaceButtons(state, width, height);
    if (state.Timeout >= 0)
        SetTimer(window, MSGBOX_TIMER_ID, TimeoutPeriodMs(state.Timeout), nullptr);
}

void DrawButtons(const MsgBoxState& state, HWND window, HDC dc) noexcept
{
    POINT cursor = {};
    GetCursorPos(&cursor);
    MapWindowPoints(nullptr, window, &cursor, 1);
    ScopedSelection selectFont(dc, state.TextFont.get());
    for (int i = 0; i < MSGBOX_MAX_BUTTONS; ++i) {
        const MsgBoxButton& button = state.Buttons[i];
        if (IsRectEmpty(&button.Rect))
            continue;
        FillOpaque(dc, button.Rect, RGB(255, 255, 255));
        RECT inner = button.Rect;
        InflateRect(&inner, -2, -2);
        const bool pressed = i == state.PressedIndex;
        COLORREF fill = state.ButtonColour;
        if (pressed)
            fill = state.PressedColour;
        else if (state.PressedIndex == -1 && PtInRect(&button.Rect, cursor))
            fill = state.HoverColour;
        FillOpaque(dc, inner, fill);
        if (state.ShowFocus && i == state.FocusIndex) {
            RECT focus = inner;
            InflateRect(&focus, -2, -2);
            DrawFocusRect(dc, &focus);
        }
        SetTextColor(dc, pressed ? (~state.TextColour & 0x00FFFFFF) : state.TextColour);
        DrawTextW(dc, button.Text, -1, &inner, BUTTON_FORMAT);
    }
}

// Draws the whole band off screen and copies it in one piece, so the band
// never flickers while the cursor moves over the buttons.
void Paint(MsgBoxState& state, HWND window) noexcept
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!dc)
        return;
    // The geometry comes from the window, not the update region: the system
    // may ask for a part of the window only, and the band must not move then.
    RECT client = {};
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const int bandTop = BandTop(height, state.BandHeight);
    const RECT band = {client.left, bandTop, client.left + width, bandTop + state.BandHeight};
    PlaceButtons(state, width, height);

    obrin::UniqueMemoryDc memory(CreateCompatibleDC(dc));
    obrin::UniqueBitmap bitmap(memory ? CreateCompatibleBitmap(dc, width, height) : nullptr);
    if (bitmap) {
        ScopedSelection selectBitmap(memory.get(), bitmap.get());
        HDC mem = memory.get();
        // A mirrored (right-to-left) window copies a bitmap from a DC of the
        // other layout flipped, text included; drawn in the same layout, the
        // band arrives as drawn.
        SetLayout(mem, GetLayout(dc));
        FillOpaque(mem, band, state.BandColour);
        SetBkMode(mem, TRANSPARENT);
        SetTextColor(mem, state.TextColour);

        const LayoutRect area = TextArea(width, height, state.BandHeight, state.ButtonCount);
        RECT caption = ToRect(area);
        {
            ScopedSelection selectFont(mem, state.CaptionFont.get());
            DrawTextW(mem, OrEmpty(state.Caption), -1, &caption, CAPTION_MEASURE_FORMAT);
            DrawTextW(mem, OrEmpty(state.Caption), -1, &caption, CAPTION_FORMAT);
        }
        if (state.Icon) {
            DrawIconEx(mem, width / 4 - state.IconWidth - 20, caption.bottom + 5, state.Icon, state.IconWidth,
                       state.IconHeight, 0, nullptr, DI_NORMAL | DI_COMPAT);
        }
        RECT text = {area.Left, caption.bottom + 10, area.Right, area.Bottom};
        {
            ScopedSelection selectFont(mem, state.TextFont.get());
            DrawTextW(mem, OrEmpty(state.Text), -1, &text, TEXT_FORMAT);
        }
        DrawButtons(state, window, mem);
        BitBlt(dc, band.left, band.top, width, state.BandHeight, mem, band.left, band.top, SRCCOPY);
    }
    EndPaint(window, &paint);
}

void OnKeyDown(MsgBoxState& state, HWND window, WPARAM key) noexcept
{
    switch (key) {
    case VK_TAB:
        state.FocusIndex = (state.FocusIndex + 1) % state.ButtonCount;
        state.ShowFocus = TRUE;
        state.PressedIndex = -1;
        Repaint(window);
        break;
    case VK_RETURN:
    case VK_SPACE:
        state.PressedIndex = state.FocusIndex;
        Repaint(window);
        break;
    case VK_ESCAPE:
        if (!EscapeAppliesToType(state.Type))
            break;
        if (state.PressedIndex != -1) {
            state.PressedIndex = -1;
            Repaint(window);
        } else {
            state.Result = IDCANCEL;
            Close(state);
        }
        break;
    default:
        break;
    }
}

void OnKeyUp(MsgBoxState& state, WPARAM key) noexcept
{
    if ((key == VK_RETURN || key == VK_SPACE) && state.PressedIndex != -1) {
        state.Result = state.Buttons[state.FocusIndex].Id;
        Close(state);
    }
}

void OnLeftButtonDown(MsgBoxState& state, HWND window, POINT point) noexcept
{
    for (int i = 0; i < state.ButtonCount; ++i) {
        if (PtInRect(&state.Buttons[i].Rect, point)) {
            state.FocusIndex = i;
            state.PressedIndex = i;
            state.ShowFocus = FALSE;
            break;
        }
    }
    Repaint(window);
}

void OnLeftButtonUp(MsgBoxState& state, HWND window, POINT point) noexcept
{
    if (state.PressedIndex == -1)
        return;
    const MsgBoxButton& button = state.Buttons[state.PressedIndex];
    state.PressedIndex = -1;
    if (PtInRect(&button.Rect, point)) {
        state.Result = button.Id;
        Close(state);
    } else {
        Repaint(window);
    }
}

void OnDisplayChange(const MsgBoxState& state, HWND window) noexcept
{
    if (!state.BackgroundWindow)
        return;
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_HIDEWINDOW);
    ShowWindow(window, SW_SHOW);
    SetWindowPos(state.BackgroundWindow, HWND_TOPMOST, 0, 0, width, height, SWP_SHOWWINDOW);
}

POINT PointFrom(LPARAM lParam) noexcept
{
    return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}

LRESULT CALLBACK MsgBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* state = static_cast<MsgBoxState*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        state->MsgBoxWindow = window;
        LayOut(*state, window, create->cx, create->cy);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    auto* state = reinterpret_cast<MsgBoxState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!state)
        return DefWindowProcW(window, message, wParam, lParam);

    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        Paint(*state, window);
        return 0;
    case WM_KEYDOWN:
        OnKeyDown(*state, window, wParam);
        return 0;
    case WM_KEYUP:
        OnKeyUp(*state, wParam);
        return 0;
    case WM_TIMER:
        if (wParam != MSGBOX_TIMER_ID)
            break;
        state->Result = IDOK;
        KillTimer(window, MSGBOX_TIMER_ID);
        Close(*state);
        return 0;
    case WM_MOUSEMOVE:
        if (SpaceOrEnterDown())
            return 0;
        if (!LeftButtonDown())
            state->PressedIndex = -1;
        Repaint(window);
        return 0;
    case WM_LBUTTONDOWN:
        if (!SpaceOrEnterDown())
            OnLeftButtonDown(*state, window, PointFrom(lParam));
        return 0;
    case WM_LBUTTONUP:
        if (!SpaceOrEnterDown())
            OnLeftButtonUp(*state, window, PointFrom(lParam));
        return 0;
    case WM_DISPLAYCHANGE:
        OnDisplayChange(*state, window);
        return 0;
    case WM_NCDESTROY:
        state->MsgBoxWindow = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK BackgroundProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* state = static_cast<MsgBoxState*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        state->BackgroundWindow = window;
        const DWORD exStyle = state->RightToLeft ? (WS_EX_TOPMOST | WS_EX_LAYOUTRTL) : WS_EX_TOPMOST;
        const HWND msgBox = CreateWindowExW(exStyle, MSGBOX_CLASS, state->Caption,
                                            WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                                            create->cx, create->cy, window, nullptr, state->Instance, state);
        if (!msgBox)
            return FALSE;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        if (auto* state = reinterpret_cast<MsgBoxState*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            state->BackgroundWindow = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

ATOM RegisterBoxClass(HINSTANCE instance, const wchar_t* name, UINT style, WNDPROC procedure,
                      HBRUSH background) noexcept
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    return RegisterClassExW(&windowClass);
}

void UnregisterClasses(MsgBoxState& state) noexcept
{
    if (state.MsgBoxClass)
        UnregisterClassW(MSGBOX_CLASS, state.Instance);
    if (state.BackgroundClass)
        UnregisterClassW(BACKGROUND_CLASS, state.Instance);
    state.MsgBoxClass = 0;
    state.BackgroundClass = 0;
}

HFONT CreateScaledFont(LOGFONTW font, int points, int dpi) noexcept
{
    font.lfHeight = font.lfHeight < 0 ? -MulDiv(points, dpi, 72) : points;
    return CreateFontIndirectW(&font);
}

// When something else ended the loop (a WM_QUIT meant for an outer loop), the
// windows are still there: take them down without leaving our own quit
// message behind, and hand the outer one on.
void DestroyLeftoverWindows(MsgBoxState& state, bool quitReceived, WPARAM quitCode) noexcept
{
    if (!state.BackgroundWindow)
        return;
    DestroyWindow(state.BackgroundWindow);
    MSG ownQuit;
    PeekMessageW(&ownQuit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    if (quitReceived)
        PostQuitMessage(static_cast<int>(quitCode));
}

void RunLoop(MsgBoxState& state) noexcept
{
    MSG message = {};
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
        if (state.MsgBoxWindow) {
            SetWindowPos(state.MsgBoxWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            if (GetForegroundWindow() != state.MsgBoxWindow)
                BringWindowToTop(state.MsgBoxWindow);
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyLeftoverWindows(state, got == 0, message.wParam);
}

}  // namespace

void FillButtonTextTable(const LangStrings& strings, ButtonTextTable& table) noexcept
{
    table = {};
    table.Available = strings.Found ? 1 : 0;
    for (const ButtonTextSource& source : BUTTON_TEXT_SOURCES) {
        if (const wchar_t* text = strings.Strings[source.Slot])
            wcsncpy(table.Texts[source.Field], text, BUTTON_TEXT_CHARS - 1);
    }
}

MsgBoxState::MsgBoxState() noexcept : Instance(GetModuleHandleW(nullptr)), ButtonTexts(g_ButtonTextTable) {}

bool IsRightToLeftLanguage(LANGID language) noexcept
{
    wchar_t signature[16] = {};
    if (!GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_FONTSIGNATURE, signature, 16))
        return false;
    uint32_t unicodeSubsets[4];
    std::memcpy(unicodeSubsets, signature, sizeof(unicodeSubsets));
    return FontSignatureIsRightToLeft(unicodeSubsets);
}

int ShowMsgBox(MsgBoxState& state, const wchar_t* text, const wchar_t* caption, UINT type,
               int timeoutSeconds) noexcept
{
    state.BackgroundClass = RegisterBoxClass(state.Instance, BACKGROUND_CLASS, CS_NOCLOSE, BackgroundProc,
                                             static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    if (!state.BackgroundClass)
        return -1;
    state.MsgBoxClass = RegisterBoxClass(state.Instance, MSGBOX_CLASS, CS_NOCLOSE | CS_DBLCLKS, MsgBoxProc,
                                         reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    if (!state.MsgBoxClass) {
        UnregisterClasses(state);
        return -1;
    }

    state.RightToLeft = IsRightToLeftLanguage(GetThreadUILanguage()) ? TRUE : FALSE;

    int dpi = 96;
    {
        WindowDc screen(nullptr);
        if (screen.get())
            dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    }
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);

    state.CaptionFont.reset(CreateScaledFont(metrics.lfCaptionFont, 20, dpi));
    if (!state.CaptionFont) {
        UnregisterClasses(state);
        return -1;
    }
    state.TextFont.reset(CreateScaledFont(metrics.lfMessageFont, 12, dpi));

    state.Text = text;
    state.Timeout = timeoutSeconds;
    state.Caption = caption;
    state.Type = type;
    state.ShowFocus = FALSE;
    state.ButtonCount = 1;
    state.BandHeight = 0;
    state.Result = IDOK;

    std::memset(state.Buttons, 0, sizeof(state.Buttons));
    state.FocusIndex = 0;
    state.PressedIndex = -1;
    FillButtons(state);
    LoadTypeIcon(state);

    const DWORD exStyle = state.RightToLeft
                              ? (WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_LAYOUTRTL | WS_EX_RTLREADING)
                              : (WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_LAYERED);
    const HWND background = CreateWindowExW(exStyle, BACKGROUND_CLASS, nullptr,
                                            WS_POPUP | WS_VISIBLE | WS_DISABLED | WS_CLIPSIBLINGS, 0, 0,
                                            GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                                            nullptr, state.Instance, &state);
    int result;
    if (background) {
        SetLayeredWindowAttributes(background, 0, BACKGROUND_ALPHA, LWA_ALPHA);
        UpdateWindow(background);
        ShowWindow(background, SW_SHOWNORMAL);
        RunLoop(state);
        result = state.Result;
    } else {
        // Without its windows nothing could ever end the loop.
        GetLog().Print(LOG_ERROR, "ShowMsgBox", __LINE__, L"Create message box window failed [Err=%u].\n",
                       GetLastError());
        result = -1;
    }

    state.Icon = nullptr;
    state.TextFont.reset();
    state.CaptionFont.reset();
    UnregisterClasses(state);
    return result;
}
