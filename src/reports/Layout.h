// Fixed-capacity texts for the report records, and the blank-filled lines
// that rows and machine-readable lines are built in. A layout is data: a
// list of fields (first column, width, the text to put there), written in
// order by one routine.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "cim/Client.h"

namespace cmplxview {

// A record text of at most N characters; a longer text is cut to N.
template <std::size_t N>
class FixedText {
public:
    FixedText() = default;
    FixedText(std::string_view text) { assign(text); }  // NOLINT: implicit, like assigning a literal
    FixedText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    void assign(std::string_view text) {
        length_ = text.size() < N ? text.size() : N;
        if (length_) std::memcpy(data_, text.data(), length_);
        data_[length_] = '\0';
    }
    void append(std::string_view text) {
        std::size_t room = N - length_;
        std::size_t n = text.size() < room ? text.size() : room;
        if (n) std::memcpy(data_ + length_, text.data(), n);
        length_ += n;
        data_[length_] = '\0';
    }
    void clear() { assign({}); }
    std::string_view view() const { return {data_, length_}; }
    operator std::string_view() const { return view(); }  // NOLINT
    const char* c_str() const { return data_; }
    std::size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }
    static constexpr std::size_t capacity = N;
    friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }

private:
    char data_[N + 1] = {};
    std::size_t length_ = 0;
};

inline constexpr std::size_t uncut = static_cast<std::size_t>(-1);

// A line of blanks of a fixed width. A text may run on past that width up
// to the line's limit (by default the width itself), and is cut there: a
// line never grows beyond its limit.
class Line {
public:
    explicit Line(std::size_t width, std::size_t limit = 0) : text_(width, ' '), limit_(limit > width ? limit : width) {}
    // Writes text from column on, cut to width characters (uncut: as far as
    // the line may go), over whatever was there.
    void place(std::size_t column, std::string_view text, std::size_t width = uncut) {
        if (column >= limit_) return;
        std::size_t n = text.size();
        if (width != uncut && n > width) n = width;
        if (n > limit_ - column) n = limit_ - column;
        if (column + n > text_.size()) text_.resize(column + n, ' ');
        text_.replace(column, n, text.data(), n);
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::size_t limit_;
};

// One field of a layout: the text a record gives for it, written from
// column, cut to width (uncut: not cut). An empty text writes nothing.
template <class Record>
struct Field {
    std::size_t column;
    std::size_t width;
    std::string_view (*text)(const Record&);
};

// Builds a line of lineWidth blanks and writes the fields in layout order,
// so a field written later overwrites what an earlier uncut one left. A
// lineLimit above lineWidth lets the last fields run on up to that length.
template <class Record>
std::string renderLine(std::span<const Field<Record>> layout, const Record& record, std::size_t lineWidth,
                       std::size_t lineLimit = 0) {
    Line line(lineWidth, lineLimit);
    for (const auto& field : layout) line.place(field.column, field.text(record), field.width);
    return line.text();
}

// Writes a line and its line break to standard output. A failed write is
// not looked at here: the program checks standard output once, at its end.
// A signal that ends the run stops a report before its next line.
inline void writeLine(std::string_view line) {
    cim::throwIfInterrupted();
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace cmplxview
