#pragma once
// Values that many primitives hold alike (an aperture's shape, a net name) are kept once and referred to:
// copying a primitive copies a pointer, never the shape's outline or the name's bytes.
#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace corvane {

namespace detail {

// One reference-counted, heap-held value. The count is atomic: packages are read from several threads
// at once, and reading may copy primitives.
template <class T>
struct SharedBlock {
    std::atomic<std::size_t> refs{1};
    T value;

    template <class... A>
    explicit SharedBlock(A&&... args) : value(std::forward<A>(args)...) {}

    static void retain(SharedBlock* b) noexcept {
        if (b) b->refs.fetch_add(1, std::memory_order_relaxed);
    }
    static void release(SharedBlock* b) noexcept {
        if (b && b->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete b;
    }
};

// A counted reference to a block, or none: copies share the block, the last one frees it.
template <class T>
class BlockRef {
protected:
    using Block = SharedBlock<T>;

    BlockRef() noexcept = default;
    explicit BlockRef(Block* block) noexcept : block_(block) {}
    BlockRef(const BlockRef& o) noexcept : block_(o.block_) { Block::retain(block_); }
    BlockRef(BlockRef&& o) noexcept : block_(std::exchange(o.block_, nullptr)) {}
    BlockRef& operator=(const BlockRef& o) noexcept {
        Block::retain(o.block_);
        Block::release(std::exchange(block_, o.block_));
        return *this;
    }
    BlockRef& operator=(BlockRef&& o) noexcept {
        if (this != &o) Block::release(std::exchange(block_, std::exchange(o.block_, nullptr)));
        return *this;
    }
    ~BlockRef() { Block::release(block_); }

    void replace(Block* block) noexcept { Block::release(std::exchange(block_, block)); }
    // The value, first copied into a block of its own when another reference shares it.
    T& own() {
        if (block_->refs.load(std::memory_order_acquire) != 1) replace(new Block(block_->value));
        return block_->value;
    }

    Block* block_ = nullptr;
};

// A BlockRef read like std::optional: absent or present, with the const half of its interface.
template <class T>
class OptionalBlock : protected BlockRef<T> {
protected:
    using Block = typename BlockRef<T>::Block;
    using BlockRef<T>::block_;

public:
    using value_type = T;

    OptionalBlock() noexcept = default;
    OptionalBlock(std::nullopt_t) noexcept {}
    OptionalBlock(const T& v) : BlockRef<T>(new Block(v)) {}
    OptionalBlock(T&& v) : BlockRef<T>(new Block(std::move(v))) {}
    OptionalBlock(const std::optional<T>& v) : BlockRef<T>(v ? new Block(*v) : nullptr) {}
    OptionalBlock(std::optional<T>&& v) : BlockRef<T>(v ? new Block(std::move(*v)) : nullptr) {}

    bool has_value() const noexcept { return block_ != nullptr; }
    explicit operator bool() const noexcept { return block_ != nullptr; }
    const T& operator*() const noexcept { return block_->value; }
    const T* operator->() const noexcept { return &block_->value; }
    const T& value() const {
        if (!block_) throw std::bad_optional_access();
        return block_->value;
    }
    // A pointer to the value, or null when absent.
    const T* get() const noexcept { return block_ ? &block_->value : nullptr; }
    void reset() noexcept { this->replace(nullptr); }
    // Whether both refer to the very same value (or are both absent): a cheap test before comparing.
    bool sameAs(const OptionalBlock& o) const noexcept { return block_ == o.block_; }
};

} // namespace detail

// An immutable optional value held by reference: absent, or a pointer to one value that every copy
// shares. It reads like std::optional (has_value, *, ->, value_or) and compares by value, so it can stand
// wherever the model used an optional of T. Nothing reached through it can be changed; assigning a new
// value replaces the reference.
template <class T>
class Shared : public detail::OptionalBlock<T> {
    using Base = detail::OptionalBlock<T>;
    using Block = typename Base::Block;
    using Base::block_;

public:
    using Base::Base;
    // Texts also come as literals and views.
    template <class S>
        requires(std::is_same_v<T, std::string> && std::is_convertible_v<const S&, std::string_view> &&
                 !std::is_same_v<std::remove_cvref_t<S>, std::string>)
    Shared(const S& text) : Base(std::string(std::string_view(text))) {}

    template <class U>
    T value_or(U&& fallback) const {
        return block_ ? block_->value : static_cast<T>(std::forward<U>(fallback));
    }
    std::optional<T> toOptional() const { return block_ ? std::optional<T>(block_->value) : std::nullopt; }

    friend bool operator==(const Shared& a, const Shared& b) {
        if (a.block_ == b.block_) return true;
        if (!a.block_ || !b.block_) return false;
        return a.block_->value == b.block_->value;
    }
    friend bool operator==(const Shared& a, std::nullopt_t) noexcept { return !a.block_; }
    friend bool operator==(const Shared& a, const std::optional<T>& b) {
        return a.block_ ? (b && a.block_->value == *b) : !b;
    }
    friend bool operator==(const Shared& a, const T& b) { return a.block_ && a.block_->value == b; }
    // For texts.
    friend bool operator==(const Shared& a, const char* b) { return a.block_ && a.block_->value == b; }
};

// A value held by reference that is always present: the large cases of a variant live behind one, so
// that the variant stays small. Copies share it; changing it through `edit` first makes it unshared.
template <class T>
class Boxed : detail::BlockRef<T> {
    using Base = detail::BlockRef<T>;
    using Block = typename Base::Block;
    using Base::block_;

public:
    Boxed() : Base(new Block()) {}
    Boxed(const T& v) : Base(new Block(v)) {}
    Boxed(T&& v) : Base(new Block(std::move(v))) {}
    // A moved-from box stays valid: it shares the value instead of losing it.
    Boxed(Boxed&& o) noexcept : Base(static_cast<const Base&>(o)) {}
    Boxed(const Boxed&) noexcept = default;
    Boxed& operator=(const Boxed&) noexcept = default;
    Boxed& operator=(Boxed&& o) noexcept { return *this = static_cast<const Boxed&>(o); }

    const T& get() const noexcept { return block_->value; }
    T& edit() { return this->own(); }

    friend bool operator==(const Boxed& a, const Boxed& b) {
        return a.block_ == b.block_ || a.block_->value == b.block_->value;
    }
};

// An optional value that copies share until one of them is changed: reading through a const path never
// copies, and the first change through a copy that is not the only one gives that copy its own value.
// It reads like std::optional. For large values that are passed around whole but seldom changed.
template <class T>
class CopyOnWrite : public detail::OptionalBlock<T> {
    using Base = detail::OptionalBlock<T>;
    using Block = typename Base::Block;
    using Base::block_;

public:
    using Base::Base;
    using Base::operator*;
    using Base::operator->;
    using Base::value;

    T& operator*() { return this->own(); }
    T* operator->() { return &this->own(); }
    T& value() {
        if (!block_) throw std::bad_optional_access();
        return this->own();
    }
    template <class... A>
    T& emplace(A&&... args) {
        this->replace(new Block(std::forward<A>(args)...));
        return block_->value;
    }
};

// A read-only view of an optional value, wherever it is kept: a Shared, a std::optional, a plain value
// or nothing. For parameters, so that callers pass what they have without copying it.
template <class T>
class OptionalRef {
public:
    OptionalRef() noexcept = default;
    OptionalRef(std::nullopt_t) noexcept {}
    OptionalRef(const T& v) noexcept : p_(&v) {}
    OptionalRef(const Shared<T>& v) noexcept : p_(v.get()) {}
    OptionalRef(const std::optional<T>& v) noexcept : p_(v ? &*v : nullptr) {}

    bool has_value() const noexcept { return p_ != nullptr; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    const T& operator*() const noexcept { return *p_; }
    const T* operator->() const noexcept { return p_; }
    const T* get() const noexcept { return p_; }

private:
    const T* p_ = nullptr;
};

using SharedText = Shared<std::string>;

// One shared text per distinct value, for a reader that hands the same names to many primitives.
class TextInterner {
public:
    SharedText operator()(std::string_view text) {
        auto it = texts_.find(text);
        if (it == texts_.end()) {
            std::string key(text);
            SharedText shared(key);
            it = texts_.emplace(std::move(key), std::move(shared)).first;
        }
        return it->second;
    }
    SharedText operator()(const std::optional<std::string>& text) {
        return text ? (*this)(std::string_view(*text)) : SharedText();
    }
    // Points `text` at the shared copy of its value, which it becomes itself when it is the first.
    void intern(SharedText& text) {
        if (!text) return;
        auto it = texts_.find(std::string_view(*text));
        if (it == texts_.end()) texts_.emplace(*text, text);
        else text = it->second;
    }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, SharedText, Hash, std::equal_to<>> texts_;
};

} // namespace corvane

template <class T>
struct std::hash<corvane::Shared<T>> {
    std::size_t operator()(const corvane::Shared<T>& s) const noexcept { return s ? std::hash<T>{}(*s) : 0x51ed; }
};
