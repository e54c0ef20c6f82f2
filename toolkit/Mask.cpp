#include "Mask.h"

#include <cctype>

TMaskLayout::TMaskLayout(const std::string& editMask)
{
    // The last two ';' fields, when present, are the save flag and the blank.
    std::string mask = editMask;
    const size_t first = mask.find(';');
    if (first != std::string::npos) {
        const std::string rest = mask.substr(first + 1);
        mask.resize(first);
        const size_t second = rest.find(';');
        saveLiterals_ = rest.substr(0, second) != "0";
        if (second != std::string::npos && second + 1 < rest.size()) blank_ = rest[second + 1];
    }
    for (size_t i = 0; i < mask.size(); ++i) {
        const char c = mask[i];
        switch (c) {
        case '!': case '>': case '<':
            break;
        case '\\':
            if (i + 1 < mask.size()) positions_.push_back({0, mask[++i]});
            break;
        case '9': case '0': case '#': case 'L': case 'l': case 'A': case 'a': case 'C': case 'c':
            positions_.push_back({c, 0});
            break;
        default:
            positions_.push_back({0, c});
            break;
        }
    }
}

bool TMaskLayout::IsSlot(int position) const
{
    return position >= 0 && position < Length() && positions_[position].Slot != 0;
}

bool TMaskLayout::Accepts(int position, char c) const
{
    if (!IsSlot(position)) return false;
    const auto u = static_cast<unsigned char>(c);
    switch (positions_[position].Slot) {
    case '9': case '0': return std::isdigit(u) != 0;
    case '#': return std::isdigit(u) || c == '+' || c == '-';
    case 'L': case 'l': return std::isalpha(u) != 0;
    case 'A': case 'a': return std::isalnum(u) != 0;
    default: return u >= ' ';
    }
}

int TMaskLayout::NextSlot(int from) const
{
    while (from < Length() && !IsSlot(from)) ++from;
    return from;
}

int TMaskLayout::PreviousSlot(int before) const
{
    int p = before - 1;
    while (p >= 0 && !IsSlot(p)) --p;
    return p;
}

std::string TMaskLayout::Format(const std::string& text) const
{
    std::string shown(Length(), blank_);
    size_t next = 0;
    for (int p = 0; p < Length(); ++p) {
        if (!IsSlot(p)) {
            shown[p] = positions_[p].Literal;
            if (next < text.size() && text[next] == positions_[p].Literal) ++next;
            continue;
        }
        // Characters that fit nowhere are skipped; one that is the next literal waits for it.
        while (next < text.size() && !Accepts(p, text[next])) {
            bool isNextLiteral = false;
            for (int q = p + 1; q < Length(); ++q)
                if (!IsSlot(q)) {
                    isNextLiteral = text[next] == positions_[q].Literal;
                    break;
                }
            if (isNextLiteral) break;
            ++next;
        }
        if (next < text.size() && Accepts(p, text[next])) shown[p] = text[next++];
    }
    return shown;
}

std::string TMaskLayout::Read(const std::string& shown) const
{
    std::string text;
    for (int p = 0; p < Length() && p < static_cast<int>(shown.size()); ++p) {
        const char c = shown[p];
        if (IsSlot(p)) {
            if (c != blank_ && c != ' ') text += c;
        } else if (saveLiterals_) {
            text += c;
        }
    }
    return text;
}

TCustomMaskEdit::TCustomMaskEdit(TComponent* owner) : TCustomEdit(owner) {}

void TCustomMaskEdit::CreateWnd()
{
    TCustomEdit::CreateWnd();
    if (IsMasked()) SendMessageA(handle_, EM_LIMITTEXT, layout_.Length(), 0);
}

void TCustomMaskEdit::SetEditMask(const std::string& mask)
{
    const std::string value = Text();
    editMask_ = mask;
    layout_ = TMaskLayout(mask);
    if (handle_) SendMessageA(handle_, EM_LIMITTEXT, IsMasked() ? layout_.Length() : maxLength_, 0);
    SetText(value);
}

std::string TCustomMaskEdit::Text() const
{
    const std::string shown = TCustomEdit::Text();
    return IsMasked() ? layout_.Read(shown) : shown;
}

void TCustomMaskEdit::SetText(const std::string& text)
{
    TCustomEdit::SetText(IsMasked() ? layout_.Format(text) : text);
}

void TCustomMaskEdit::Show(const std::string& shown, int caret)
{
    if (shown != EditText()) TCustomEdit::SetText(shown);
    SendMessageA(handle_, EM_SETSEL, caret, caret);
}

void TCustomMaskEdit::ClearRange(int start, int end)
{
    std::string shown = EditText();
    for (int p = start; p < end && p < static_cast<int>(shown.size()); ++p)
        if (layout_.IsSlot(p)) shown[p] = layout_.Blank();
    Show(shown, start);
}

void TCustomMaskEdit::Type(char c)
{
    DWORD start = 0, end = 0;
    SendMessageA(handle_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (end > start) ClearRange(static_cast<int>(start), static_cast<int>(end));
    std::string shown = EditText();
    if (static_cast<int>(shown.size()) != layout_.Length()) shown = layout_.Format(Text());
    int p = static_cast<int>(start);
    // Typing the next literal ahead moves past it.
    for (int q = p; q < layout_.Length(); ++q)
        if (!layout_.IsSlot(q)) {
            if (layout_.LiteralAt(q) == c) {
                Show(shown, q + 1);
                return;
            }
            break;
        }
    p = layout_.NextSlot(p);
    if (p >= layout_.Length() || !layout_.Accepts(p, c)) {
        MessageBeep(0);
        return;
    }
    shown[p] = c;
    Show(shown, layout_.NextSlot(p + 1) < layout_.Length() ? p + 1 : layout_.Length());
}

void TCustomMaskEdit::Backspace()
{
    DWORD start = 0, end = 0;
    SendMessageA(handle_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (end > start) {
        ClearRange(static_cast<int>(start), static_cast<int>(end));
        return;
    }
    const int p = layout_.PreviousSlot(static_cast<int>(start));
    if (p >= 0) ClearRange(p, p + 1);
}

void TCustomMaskEdit::WndProc(TMessage& m)
{
    if (IsMasked() && !readOnly_) {
        switch (m.Msg) {
        case WM_CHAR: {
            // The key events run first; a key they clear is not typed.
            if (HandleKey(m)) return;
            const char c = static_cast<char>(m.WParam);
            if (c == VK_BACK) {
                Backspace();
                return;
            }
            if (static_cast<unsigned char>(c) >= ' ') {
                Type(c);
                return;
            }
            break;
        }
        case WM_KEYDOWN:
            if (m.WParam == VK_DELETE) {
                DWORD start = 0, end = 0;
                SendMessageA(handle_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
                const int p = static_cast<int>(start);
                ClearRange(p, end > start ? static_cast<int>(end) : layout_.NextSlot(p) + 1);
                SendMessageA(handle_, EM_SETSEL, p, p);
                m.Result = 0;
                return;
            }
            break;
        case WM_PASTE: {
            std::string text;
            if (OpenClipboard(handle_)) {
                if (HANDLE data = GetClipboardData(CF_TEXT)) {
                    if (const char* p = static_cast<const char*>(GlobalLock(data))) {
                        text = p;
                        GlobalUnlock(data);
                    }
                }
                CloseClipboard();
            }
            for (char c : text) Type(c);
            m.Result = 0;
            return;
        }
        case WM_CUT:
        case WM_CLEAR: {
            DWORD start = 0, end = 0;
            SendMessageA(handle_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
            if (m.Msg == WM_CUT) SendMessageA(handle_, WM_COPY, 0, 0);
            ClearRange(static_cast<int>(start), static_cast<int>(end));
            m.Result = 0;
            return;
        }
        }
    }
    TCustomEdit::WndProc(m);
}
