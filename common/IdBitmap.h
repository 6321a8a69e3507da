#pragma once
// Allocator of small ids (ACL ids, range ids, key ids, rewrite ids). Bit 0 is set at creation,
// so id 0 is never handed out and always means "none".

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace VyrNat {

class IdBitmap {
public:
    explicit IdBitmap(uint32_t size = 0) : size_(size), words_((size + 63) / 64) {
        if (size_ > 0) {
            set(0);
        }
    }

    uint32_t size() const { return size_; }
    bool test(uint32_t id) const { return id < size_ && (words_[id / 64] >> (id % 64)) & 1u; }
    void set(uint32_t id) {
        if (id < size_) {
            words_[id / 64] |= uint64_t(1) << (id % 64);
        }
    }
    void clear(uint32_t id) {
        if (id < size_) {
            words_[id / 64] &= ~(uint64_t(1) << (id % 64));
            firstFreeWord_ = std::min<std::size_t>(firstFreeWord_, id / 64);
        }
    }
    // The lowest clear id, now set; 0 when every id is taken.
    uint32_t allocate() {
        for (std::size_t w = firstFreeWord_; w < words_.size(); ++w) {
            firstFreeWord_ = w;
            if (~words_[w] != 0) {
                uint32_t id = uint32_t(w * 64 + std::countr_one(words_[w]));
                if (id >= size_) {
                    return 0;
                }
                set(id);
                return id;
            }
        }
        return 0;
    }
    uint32_t countSet() const {
        uint32_t n = 0;
        for (uint64_t w : words_) {
            n += uint32_t(std::popcount(w));
        }
        return n;
    }

private:
    uint32_t size_;
    std::vector<uint64_t> words_;
    std::size_t firstFreeWord_ = 0; // no clear bit below this word
};

} // namespace VyrNat
