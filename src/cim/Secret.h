// Buffers for secrets (a password, the `user:password` text, an
// Authorization header, a request that carries one): whatever they held is
// overwritten before the memory is given back, on every way out of their
// scope, an exception included. explicit_bzero does the overwriting: unlike
// a plain store to memory about to be freed, the compiler cannot drop it.
#pragma once

#include <string.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace cim {

// Overwrites a block before it is released. A container using it leaves no
// copy of its contents behind, not even the old block of a reallocation.
template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        explicit_bzero(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

using WipedString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// Overwrites the whole storage of a plain string, its spare capacity and
// its inline buffer included (a short text lives inside the object).
inline void wipe(std::string& text) noexcept { explicit_bzero(text.data(), text.capacity() + 1); }

// A text holding a secret. Its heap storage is wiped when released (by the
// allocator) and its inline storage when the object is destroyed.
class Secret {
public:
    Secret() = default;
    explicit Secret(std::string_view text) : text_(text) {}
    // Takes a plain string's contents and wipes the plain string.
    explicit Secret(std::string&& text) : text_(text.data(), text.size()) { wipe(text); }
    Secret(const Secret&) = default;
    Secret& operator=(const Secret&) = default;
    ~Secret() { explicit_bzero(text_.data(), text_.capacity() + 1); }

    Secret& operator=(std::string_view text) {
        text_.assign(text);
        return *this;
    }
    Secret& append(std::string_view text) {
        text_.append(text);
        return *this;
    }
    void reserve(std::size_t size) { text_.reserve(size); }
    void resize(std::size_t size) { text_.resize(size); }
    void clear() { explicit_bzero(text_.data(), text_.capacity() + 1), text_.clear(); }
    char* data() { return text_.data(); }
    const char* c_str() const { return text_.c_str(); }
    std::size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }
    std::string_view view() const { return {text_.data(), text_.size()}; }

private:
    WipedString text_;
};

// A plain string holding a secret, for an interface that takes a plain
// string (CIMClient::connect's password): wiped when destroyed. Made once at
// its full size, it leaves no reallocated copy behind.
struct PlainSecret : std::string {
    using std::string::string;
    PlainSecret(const PlainSecret&) = delete;
    PlainSecret& operator=(const PlainSecret&) = delete;
    ~PlainSecret() { wipe(*this); }
};

}  // namespace cim
