// A seam of the library set for one case and put back as it was when the case leaves.
#pragma once

template <class T>
class swapped {
public:
    swapped(T& slot, T replacement) : slot_(slot), kept_(slot) { slot_ = replacement; }
    ~swapped() { slot_ = kept_; }
    swapped(const swapped&) = delete;
    swapped& operator=(const swapped&) = delete;

private:
    T& slot_;
    T kept_;
};
