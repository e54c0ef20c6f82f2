// The status bar with its panels.
#pragma once

#include "Controls.h"

#include <memory>
#include <string>
#include <vector>

class TStatusBar;

class TStatusPanel {
public:
    TStatusPanel(TStatusBar& bar, int index) : bar_(bar), index_(index) {}
    const std::string& Text() const { return text_; }
    void SetText(const std::string& text);
    int Width() const { return width_; }
    void SetWidth(int width);

private:
    TStatusBar& bar_;
    int index_;
    std::string text_;
    int width_ = 50;
};

class TStatusBar : public TWinControl {
public:
    explicit TStatusBar(TComponent* owner);

    TStatusPanel* AddPanel();
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    TStatusPanel& Panels(int index) { return *panels_.at(index); }

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;

private:
    friend class TStatusPanel;
    void UpdatePanels();
    std::vector<std::unique_ptr<TStatusPanel>> panels_;
};
