// An ordered list of named values with a case-insensitive index: iteration keeps the order
// in which names were added, lookup goes through the index. The index always holds, for every
// name, its pair's position; the operations below are the only ones that add, remove, rename
// or reorder pairs, so they keep it so.
#pragma once

#include "zString.h"

#include <algorithm>
#include <climits>
#include <cwctype>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qv {

// Character traits that compare without regard to case.
struct char_traitsi : std::char_traits<wchar_t> {
    static bool eq(wchar_t a, wchar_t b) noexcept { return towlower(a) == towlower(b); }
    static bool lt(wchar_t a, wchar_t b) noexcept { return towlower(a) < towlower(b); }
    static int compare(const wchar_t* a, const wchar_t* b, size_t n) noexcept
    {
        for (size_t i = 0; i < n; ++i)
            if (!eq(a[i], b[i])) return lt(a[i], b[i]) ? -1 : 1;
        return 0;
    }
    static const wchar_t* find(const wchar_t* s, size_t n, wchar_t c) noexcept
    {
        for (size_t i = 0; i < n; ++i)
            if (eq(s[i], c)) return s + i;
        return nullptr;
    }
};

// The library's string for a set of traits: zString already folds case, zStringExact does not.
template <class Traits>
struct stringx_for;
template <>
struct stringx_for<char_traitsi> {
    using type = zString;
};
template <>
struct stringx_for<std::char_traits<wchar_t>> {
    using type = zStringExact;
};
template <class Traits>
using _stringx = typename stringx_for<Traits>::type;

// Orders names as zString compares them, without regard to case.
template <class K>
struct less_i {
    bool operator()(const K& a, const K& b) const noexcept { return nocase_compare::compare(a.view(), b.view()) < 0; }
};

template <class V, class K>
using map_i = std::map<K, V, less_i<K>>;

template <class T, class Index, class K>
class _vector_map : public std::vector<std::pair<K, T>> {
public:
    using base = std::vector<std::pair<K, T>>;
    using typename base::const_iterator;
    using typename base::iterator;
    using typename base::value_type;
    using position_type = unsigned long;
    static constexpr position_type npos = ULONG_MAX;

    _vector_map() = default;

    position_type position(const K& name) const
    {
        const auto found = index_.find(name);
        return found == index_.end() ? npos : found->second;
    }
    bool contains(const K& name) const { return index_.find(name) != index_.end(); }
    iterator find(const K& name)
    {
        const position_type at = position(name);
        return at == npos ? this->end() : this->begin() + at;
    }
    const_iterator find(const K& name) const
    {
        const position_type at = position(name);
        return at == npos ? this->end() : this->begin() + at;
    }
    T* value(const K& name)
    {
        const auto found = find(name);
        return found == this->end() ? nullptr : &found->second;
    }
    const T* value(const K& name) const
    {
        const auto found = find(name);
        return found == this->end() ? nullptr : &found->second;
    }

    // An existing name answers its pair and false, unless duplicates are allowed.
    std::pair<iterator, bool> insert(const K& name, const T& value = T())
    {
        if (!allowDuplicates_) {
            const position_type at = position(name);
            if (at != npos) return {this->begin() + at, false};
        }
        base::emplace_back(name, value);
        index_[name] = static_cast<position_type>(this->size() - 1);
        return {this->end() - 1, true};
    }

    bool erase(const K& name)
    {
        const position_type at = position(name);
        if (at == npos) return false;
        erase(this->begin() + at);
        return true;
    }
    iterator erase(const_iterator where)
    {
        const auto at = static_cast<position_type>(where - this->cbegin());
        const K name = where->first;
        base::erase(where);
        if (allowDuplicates_) {
            rebuild_index();
        } else {
            index_.erase(name);
            for (auto& entry : index_)
                if (entry.second > at) --entry.second;
        }
        return this->begin() + at;
    }

    // Gives the pair at `at` a name that the index does not hold yet; false when it does.
    bool rename(position_type at, const K& name)
    {
        if (at >= this->size()) return false;
        auto& pair = (*this)[at];
        const bool same = nocase_compare::compare(pair.first.view(), name.view()) == 0;
        if (!same && !allowDuplicates_ && contains(name)) return false;
        const auto old = index_.find(pair.first);
        if (old != index_.end() && old->second == at) index_.erase(old);
        pair.first = name;
        index_[name] = at;
        return true;
    }

    // Takes the pair at `from` out and puts it back right after the pair at `after`.
    void move_after(position_type from, position_type after)
    {
        if (from >= this->size() || after >= this->size() || from == after) return;
        const auto first = this->begin();
        if (from < after) std::rotate(first + from, first + from + 1, first + after + 1);
        else std::rotate(first + after + 1, first + from, first + from + 1);
        rebuild_index();
    }

    // Names are unique, so the unstable sort gives what a stable one would.
    void sort()
    {
        std::sort(this->begin(), this->end(), [](const value_type& a, const value_type& b) {
            return less_i<K>()(a.first, b.first);
        });
        rebuild_index();
    }

    void clear() noexcept
    {
        base::clear();
        index_.clear();
    }

    // With duplicates the last pair of a name is the one the index names, as after insert.
    void rebuild_index()
    {
        index_.clear();
        for (size_t at = 0; at < this->size(); ++at) index_[(*this)[at].first] = static_cast<position_type>(at);
    }

    const Index& index() const noexcept { return index_; }
    bool allow_duplicates() const noexcept { return allowDuplicates_; }
    void set_allow_duplicates(bool allow) { allowDuplicates_ = allow; }

    // Each of these would add or drop pairs behind the index's back.
    void push_back(const value_type&) = delete;
    template <class... A>
    void emplace_back(A&&...) = delete;
    void pop_back() = delete;
    void resize(size_t) = delete;
    template <class... A>
    void assign(A&&...) = delete;

private:
    Index index_;
    bool allowDuplicates_ = false;
};

template <class T, class K>
class vector_map_i : public _vector_map<T, map_i<unsigned long, K>, K> {
};

}  // namespace qv
