#pragma once
// An ordered list of storage ids, as a record set keeps its stores. A catalogue's records
// are mostly 0, 1, 2, ... n-1 in order; that list is held as its length alone (no memory,
// nothing to copy). Any other list is an array shared between copies: copying a list, as
// show-all and copying rows into a result list do, costs nothing until one copy changes.
// Reading an id is one branch and one load either way.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class row_list {
  public:
    row_list() = default;
    // Takes the ids as they are.
    explicit row_list(std::vector<std::uint32_t>&& ids)
        : ids_(std::make_shared<std::vector<std::uint32_t>>(std::move(ids))) {}

    std::size_t size() const { return ids_ ? ids_->size() : count_; }
    bool empty() const { return size() == 0; }
    std::uint32_t operator[](std::size_t i) const {
        return ids_ ? (*ids_)[i] : static_cast<std::uint32_t>(i);
    }
    // True while the list is 0, 1, ... size()-1.
    bool is_identity() const { return !ids_; }

    void clear() {
        ids_.reset();
        count_ = 0;
    }
    void push_back(std::uint32_t id) {
        if (!ids_ && id == count_) {
            ++count_;
            return;
        }
        writable().push_back(id);
    }
    void reserve(std::size_t n) {
        if (ids_) writable().reserve(n);
    }
    // Ids [b, e) of this list, sharing its array when the slice is all of it.
    row_list slice(std::size_t b, std::size_t e) const {
        if (b == 0 && e == size()) return *this;
        row_list out;
        if (!ids_ && b == 0) {
            out.count_ = static_cast<std::uint32_t>(e);
            return out;
        }
        std::vector<std::uint32_t> ids(e - b);
        for (std::size_t i = b; i < e; ++i) ids[i - b] = (*this)[i];
        return row_list(std::move(ids));
    }
    // `other` after this list's ids.
    void append(const row_list& other) {
        if (empty()) {
            *this = other;
            return;
        }
        std::vector<std::uint32_t>& ids = writable();
        ids.reserve(ids.size() + other.size());
        for (std::size_t i = 0; i < other.size(); ++i) ids.push_back(other[i]);
    }
    // The ids as an array of this list's own, made so first when it is the identity or
    // shared with another list.
    std::vector<std::uint32_t>& writable() {
        if (!ids_) {
            auto ids = std::make_shared<std::vector<std::uint32_t>>(count_);
            for (std::uint32_t i = 0; i < count_; ++i) (*ids)[i] = i;
            ids_ = std::move(ids);
            count_ = 0;
        } else if (ids_.use_count() > 1) {
            ids_ = std::make_shared<std::vector<std::uint32_t>>(*ids_);
        }
        return *ids_;
    }

  private:
    std::uint32_t count_ = 0;                         // the identity's length
    std::shared_ptr<std::vector<std::uint32_t>> ids_; // null: the identity
};
