// Helpers shared by the driver tests: mutable argument vectors and
// temporary redirection of the standard descriptors.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace cmplxview::testing {

// An argument vector whose words can be written to, as the real one can;
// word 0 is the program name and the vector ends with a null pointer.
class ArgumentVector {
public:
    explicit ArgumentVector(const std::vector<std::string>& words) {
        storage_.push_back(toChars("cmplxview"));
        for (const std::string& word : words) storage_.push_back(toChars(word));
        for (auto& word : storage_) pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    int count() const { return static_cast<int>(storage_.size()); }
    char** words() { return pointers_.data(); }
    std::string word(int index) const { return std::string(storage_[static_cast<std::size_t>(index)].data()); }

private:
    static std::vector<char> toChars(const std::string& text) {
        std::vector<char> chars(text.begin(), text.end());
        chars.push_back('\0');
        return chars;
    }
    std::vector<std::vector<char>> storage_;
    std::vector<char*> pointers_;
};

// Points a standard descriptor somewhere else for the lifetime of the object.
class Redirect {
public:
    Redirect(int descriptor, int replacement) : descriptor_(descriptor), saved_(dup(descriptor)) {
        if (saved_ < 0 || dup2(replacement, descriptor) < 0) throw std::runtime_error("redirect failed");
    }
    ~Redirect() {
        dup2(saved_, descriptor_);
        close(saved_);
    }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;

private:
    int descriptor_;
    int saved_;
};

// Standard input that reads `text` (from a pipe) and then ends.
class StdinText {
public:
    explicit StdinText(const std::string& text) : redirect_(STDIN_FILENO, makePipe(text)) { close(readEnd_); }

    // Whatever is left unread on the redirected standard input.
    static std::string rest() {
        std::string left;
        char chunk[256];
        for (ssize_t got; (got = read(STDIN_FILENO, chunk, sizeof chunk)) > 0;) left.append(chunk, static_cast<std::size_t>(got));
        return left;
    }

private:
    int makePipe(const std::string& text) {
        int ends[2];
        if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
        if (write(ends[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            throw std::runtime_error("pipe write failed");
        }
        close(ends[1]);
        readEnd_ = ends[0];
        return readEnd_;
    }
    int readEnd_ = -1;
    Redirect redirect_;
};

// Sends standard error to /dev/null (for loops over thousands of command lines).
class DiscardStderr {
public:
    DiscardStderr() : null_(open("/dev/null", O_WRONLY)), redirect_(STDERR_FILENO, null_) {}
    ~DiscardStderr() { close(null_); }

private:
    int null_;
    Redirect redirect_;
};

}  // namespace cmplxview::testing
