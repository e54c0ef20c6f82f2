// Hostile variants of a small text file, the same in every run: a fixed-seed generator
// applies one or two changes to it (flipped bytes; lines cut, doubled or swapped; values
// replaced by hostile ones or given one more digit, long lines, NULs, other line breaks, a
// cut-off end).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

// Where a file keeps its values: "key=value" lines (a settings file) or every second line
// (a test file: caption, value).
enum TValueLines { vlKeyValue, vlOddLines };

class TMutator {
public:
    // `values`: what a value may be replaced with.
    TMutator(uint32_t seed, TValueLines layout, std::vector<std::string> values)
        : random_(seed), layout_(layout), values_(std::move(values))
    {
    }

    std::string Mutate(const std::string& bytes)
    {
        std::string out = bytes;
        const uint32_t changes = 1 + Below(2);
        for (uint32_t i = 0; i < changes; ++i) out = Change(out);
        return out;
    }

    // mt19937's output is fixed by the standard; the distributions are not, so none is used.
    uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(random_() % n) : 0; }

private:
    static std::vector<std::string> Lines(const std::string& bytes)
    {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t at; (at = bytes.find("\r\n", start)) != std::string::npos; start = at + 2)
            lines.push_back(bytes.substr(start, at - start));
        if (start < bytes.size()) lines.push_back(bytes.substr(start));
        return lines;
    }
    static std::string Joined(const std::vector<std::string>& lines, const std::string& lineBreak = "\r\n")
    {
        std::string bytes;
        for (const auto& line : lines) bytes += line + lineBreak;
        return bytes;
    }

    // A line that holds a value, and where in it the value starts; any line when none does.
    std::pair<size_t, size_t> ValueAt(const std::vector<std::string>& lines)
    {
        std::vector<std::pair<size_t, size_t>> places;
        for (size_t k = 0; k < lines.size(); ++k) {
            const size_t equals = lines[k].find('=');
            if (layout_ == vlOddLines ? k % 2 == 1 : equals != std::string::npos)
                places.push_back({k, layout_ == vlOddLines ? 0 : equals + 1});
        }
        if (places.empty()) return {Below(lines.size()), 0};
        return places[Below(places.size())];
    }

    std::string Change(const std::string& bytes)
    {
        std::vector<std::string> lines = Lines(bytes);
        if (lines.empty()) return values_[Below(values_.size())];
        const uint32_t k = Below(lines.size());
        const auto [v, valueAt] = ValueAt(lines);
        std::string& value = lines[v];
        switch (Below(15)) {
        case 0: {  // a flipped bit
            std::string out = bytes;
            out[Below(out.size())] ^= static_cast<char>(1u << Below(8));
            return out;
        }
        case 1:
            lines.erase(lines.begin() + k);
            return Joined(lines);
        case 2:
            lines.insert(lines.begin() + k, lines[k]);
            return Joined(lines);
        case 3:
            std::swap(lines[k], lines[Below(lines.size())]);
            return Joined(lines);
        case 4:
        case 5:
        case 6:
            value = value.substr(0, valueAt) + values_[Below(values_.size())];
            return Joined(lines);
        case 7:
        case 8: {  // one more digit, perhaps past the last place its field has
            const std::string digit(1, static_cast<char>('0' + Below(10)));
            value += value.find_first_of(".,") == std::string::npos && Below(2) ? "." + digit : digit;
            return Joined(lines);
        }
        case 9: {  // a long line: a long number, digits, blanks or letters
            const size_t length = Below(4) == 0 ? (1u << 20) : 1000 + Below(100000);
            const char* fills = "5509 a";
            std::string fill(length, fills[Below(6)]);
            if (Below(2)) fill = "12." + fill;
            value = value.substr(0, valueAt) + fill;
            return Joined(lines);
        }
        case 10: {
            std::string out = bytes;
            out.insert(out.begin() + Below(out.size() + 1), '\0');
            return out;
        }
        case 11: {
            const char* const breaks[] = {"\n", "\r", "\n\r", "\r\r\n", "\r\n\r\n"};
            return Joined(lines, breaks[Below(5)]);
        }
        case 12:
            return bytes.substr(0, Below(bytes.size()));
        default: {  // a byte of the upper half of the code page, or blanks, inside a line
            const std::string inserted = Below(2) ? std::string(1, static_cast<char>(0x80 + Below(0x80))) : "  ";
            lines[k].insert(Below(lines[k].size() + 1), inserted);
            return Joined(lines);
        }
        }
    }

    std::mt19937 random_;
    TValueLines layout_;
    std::vector<std::string> values_;
};
