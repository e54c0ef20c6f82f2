// The toolbar: a dockable window that shows the sub-items of its own root item through a
// toolbar view, with a chevron for the items that do not fit.
#pragma once

#include "DkDock.h"
#include "DkItem.h"
#include "DkToolbarSizes.h"
#include "DkView.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using TDkShortCutEvent = std::function<void(TObject* sender, MSG& msg, bool& handled)>;

class TDkCustomToolbar : public TDkCustomDockableWindow {
public:
    explicit TDkCustomToolbar(TComponent* owner);
    ~TDkCustomToolbar() override;

    TDkRootItem* Items() const { return items_; }
    TDkChevronItem* ChevronItem() const { return chevronItem_; }
    TDkToolbarView* View() const { return view_; }

    TCustomImageList* Images() const;
    void SetImages(TCustomImageList* images);
    TDkCustomItem* LinkSubitems() const;
    void SetLinkSubitems(TDkCustomItem* item);
    TDkItemOptions Options() const;
    void SetOptions(TDkItemOptions options);

    std::string ChevronHint() const;
    void SetChevronHint(const std::string& hint);
    bool ChevronMoveItems() const { return chevronMoveItems_; }
    void SetChevronMoveItems(bool value);
    int FloatingWidth() const { return floatingWidth_; }
    void SetFloatingWidth(int value);
    bool MenuBar() const { return menuBar_; }
    void SetMenuBar(bool value);
    bool ProcessShortCuts() const { return processShortCuts_; }
    void SetProcessShortCuts(bool value);
    TDkShrinkMode ShrinkMode() const { return shrinkMode_; }
    void SetShrinkMode(TDkShrinkMode value);
    bool SystemFont() const { return systemFont_; }
    void SetSystemFont(bool value);
    // Kept as the published property; the toolkit runs no idle updates of actions, and the
    // shortcut search updates the levels it passes whatever this says.
    bool UpdateActions = true;

    // A control among the items: a control item owned by the toolbar's owner, inserted
    // into the root at `index`.
    TDkControlItem* CreateWrapper(int index, TControl* control);
    // Opens an item by its accelerator (0: the menu key alone); false when nothing opened.
    bool KeyboardOpen(char key, bool requirePrimaryAccel);
    // The shortcut search of the toolbar's tree; true when an item took the key.
    bool IsShortCut(MSG& msg);
    // The hint of the viewer at `point` (client coordinates): its bounds and its item's hint
    // as shown; false, with an empty hint, over no viewer.
    bool GetHintInfo(POINT point, RECT& rect, std::string& hint);
    // The sizes a floating toolbar can take (client sizes, the unwrapped one first).
    std::vector<TDkFloatingSize> FloatingSizes();

    TDkShortCutEvent OnShortCut;

    void WndProc(TMessage& message) override;

    // Dockable window refinements.
    POINT GetBaseSize() override;
    int GetMinimumLength() override;
    TDkShrinkMode GetShrinkMode() override { return shrinkMode_; }
    POINT DoArrange(bool canMoveControls, TDkDock* newDock) override;
    void GetMinMaxSize(int& minWidth, int& minHeight, int& maxWidth, int& maxHeight) override;
    void SizingBegins(int edge) override;
    void SizingEnds(bool applied) override;
    void AdjustSizingRect(RECT& rect, int edge) override;
    void ReadPositionData(const TDkPositionReadIntProc& read) override;
    void WritePositionData(const TDkPositionWriteIntProc& write) override;

protected:
    void Notification(TComponent* component, TOperation operation) override;
    void Loaded() override;
    void Paint() override;
    void FontChanged() override;
    bool SetCursorFor(int hitCode) override;

private:
    class TOwnView;
    struct TResizeData;

    // What the view's layout gets where the toolbar stands (`dock` nullptr: floating, or
    // on its form when it neither floats nor docks).
    TDkShrinkFacts ShrinkFactsFor(TDkDock* dock);
    // The view laid out again where the toolbar stands; the dock or the form learns of a
    // new size.
    void ViewChanged();
    void WrapControls();
    void UpdateHint();
    // The menu loop of the toolbar's view and what follows it.
    void RunLoop(bool startWithMouseDown, bool keyboardMode);
    void UpdateMainWindowHook();
    // The form the toolbar belongs to (the one it floats for), nullptr when none.
    TCustomForm* FormOfToolbar();
    int CheckedFloatingWidth(int width);
    SIZE FloatingFrameExtra();
    static bool MainWindowHook(TMessage& message);
    static void GetMessageHook(TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam);

    TDkRootItem* items_ = nullptr;
    TDkChevronItem* chevronItem_ = nullptr;
    TDkToolbarView* view_ = nullptr;
    bool chevronMoveItems_ = true;
    int disableAlignArrange_ = 0;
    int floatingWidth_ = 0;
    bool ignoreMouseLeave_ = false;
    bool mouseLeaveRequested_ = false;
    int lastWrappedLines_ = 0;
    bool menuBar_ = false;
    bool processShortCuts_ = false;
    bool mainWindowHookInstalled_ = false;
    TDkShrinkMode shrinkMode_ = dksmChevron;
    bool systemFont_ = true;
    POINT baseSize_ = {0, 0};
    std::unique_ptr<TResizeData> resizeData_;
    // Expires with the toolbar: code after a loop knows whether the toolbar outlived it.
    std::shared_ptr<int> life_ = std::make_shared<int>(0);
};

class TDkToolbar : public TDkCustomToolbar {
public:
    using TDkCustomToolbar::TDkCustomToolbar;
};
