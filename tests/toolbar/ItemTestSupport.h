// Item kinds the tests need and the library does not offer: style bits that no published
// property sets (a sub-menu, a split part).
#pragma once

#include "DkItem.h"

class TStyledItem : public TDkItem {
public:
    explicit TStyledItem(TComponent* owner) : TDkItem(owner) {}
    void AddStyle(TDkItemStyle bits) { itemStyle_ |= bits; }
};

// Opens its sub-items as a menu.
class TSubmenuItem : public TStyledItem {
public:
    explicit TSubmenuItem(TComponent* owner) : TStyledItem(owner) { AddStyle(dkisSubmenu); }
};
