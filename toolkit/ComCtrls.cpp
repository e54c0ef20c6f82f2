#include "ComCtrls.h"

#include <commctrl.h>

void TStatusPanel::SetText(const std::string& text)
{
    text_ = text;
    if (bar_.HandleAllocated())
        SendMessageA(bar_.Handle(), SB_SETTEXTA, index_, reinterpret_cast<LPARAM>(text_.c_str()));
}

void TStatusPanel::SetWidth(int width)
{
    width_ = width;
    bar_.UpdatePanels();
}

TStatusBar::TStatusBar(TComponent* owner) : TWinControl(owner)
{
    height_ = 19;
    align_ = alBottom;
}

void TStatusBar::CreateParams(TCreateParams& params)
{
    TWinControl::CreateParams(params);
    params.ClassName = STATUSCLASSNAMEA;
    params.Style |= CCS_NOPARENTALIGN | CCS_NORESIZE | SBARS_SIZEGRIP;
}

void TStatusBar::CreateWnd()
{
    TWinControl::CreateWnd();
    UpdatePanels();
}

TStatusPanel* TStatusBar::AddPanel()
{
    panels_.push_back(std::make_unique<TStatusPanel>(*this, PanelCount()));
    UpdatePanels();
    return panels_.back().get();
}

void TStatusBar::UpdatePanels()
{
    if (!handle_) return;
    std::vector<int> edges;
    int right = 0;
    for (size_t i = 0; i < panels_.size(); ++i) {
        right += panels_[i]->Width();
        // The last panel takes what is left.
        edges.push_back(i + 1 == panels_.size() ? -1 : right);
    }
    if (edges.empty()) edges.push_back(-1);
    SendMessageA(handle_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
    for (size_t i = 0; i < panels_.size(); ++i)
        SendMessageA(handle_, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(panels_[i]->Text().c_str()));
}
