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
        storage_.emplace_back("cmplxview");
        storage_.insert(storage_.end(), words.begin(), words.end());
        for (auto& word : storage_) pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    ArgumentVector(const ArgumentVector&) = delete;

    int count() const { return static_cast<int>(storage_.size()); }
    char** words() { return pointers_.data(); }
    std::string word(int index) const { return storage_[static_cast<std::size_t>(index)].c_str(); }

private:
    std::vector<std::string> storage_;  // never resized after the pointers are taken
    std::vector<char*> pointers_;
};

// Points a standard descriptor at `replacement` (which it closes) for the lifetime of the object.
class Redirect {
public:
    Redirect(int descriptor, int replacement) : descriptor_(descriptor), saved_(dup(descriptor)) {
        if (saved_ < 0 || replacement < 0 || dup2(replacement, descriptor) < 0) throw std::runtime_error("redirect");
        close(replacement);
    }
    ~Redirect() {
        dup2(saved_, descriptor_);
        close(saved_);
    }
    Redirect(const Redirect&) = delete;

private:
    int descriptor_, saved_;
};

// Standard input that reads `text` (from a pipe) and then ends.
class StdinText : Redirect {
public:
    explicit StdinText(const std::string& text) : Redirect(STDIN_FILENO, pipeOf(text)) {}

    // Whatever is left unread on the redirected standard input.
    static std::string rest() {
        std::string left;
        char chunk[256];
        for (ssize_t got; (got = read(STDIN_FILENO, chunk, sizeof chunk)) > 0;) left.append(chunk, static_cast<std::size_t>(got));
        return left;
    }

private:
    static int pipeOf(const std::string& text) {
        int ends[2];
        if (pipe(ends) != 0 || write(ends[1], text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            throw std::runtime_error("pipe");
        close(ends[1]);
        return ends[0];
    }
};

// Sends standard error to /dev/null (for loops over thousands of command lines).
class DiscardStderr : Redirect {
public:
    DiscardStderr() : Redirect(STDERR_FILENO, open("/dev/null", O_WRONLY)) {}
};

}  // namespace cmplxview::testing
