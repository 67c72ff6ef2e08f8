// The attributes of an element: name to value, both byte strings, each name
// at most once, in byte order of the names. Read and built like a std::map,
// but kept in one flat array whose strings are reused: the document fills
// the same store for every element it reads, so the steady state allocates
// nothing.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class XMLIO_Attributes {
 public:
  using key_type = std::string;
  using mapped_type = std::string;
  // Changing `first` through an iterator breaks the order; values may change.
  using value_type = std::pair<std::string, std::string>;
  using iterator = value_type*;
  using const_iterator = const value_type*;
  using size_type = size_t;

  XMLIO_Attributes() = default;
  // As a map's: of repeated names the first is kept.
  XMLIO_Attributes(std::initializer_list<value_type> entries);
  XMLIO_Attributes(const XMLIO_Attributes& other);
  XMLIO_Attributes(XMLIO_Attributes&& other) noexcept;
  XMLIO_Attributes& operator=(const XMLIO_Attributes& other);
  XMLIO_Attributes& operator=(XMLIO_Attributes&& other) noexcept;

  iterator begin() { return items_.data(); }
  iterator end() { return items_.data() + count_; }
  const_iterator begin() const { return items_.data(); }
  const_iterator end() const { return items_.data() + count_; }
  const_iterator cbegin() const { return begin(); }
  const_iterator cend() const { return end(); }
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Empties the store; its strings stay for the next entries.
  void clear() { count_ = 0; }

  iterator find(const std::string& key) { return find(key.data(), key.size()); }
  const_iterator find(const std::string& key) const { return const_cast<XMLIO_Attributes*>(this)->find(key); }
  iterator find(const char* key);
  const_iterator find(const char* key) const { return const_cast<XMLIO_Attributes*>(this)->find(key); }
  size_t count(const std::string& key) const { return find(key) != end() ? 1 : 0; }
  // Throws std::out_of_range when absent, as a map's does.
  std::string& at(const std::string& key);
  const std::string& at(const std::string& key) const { return const_cast<XMLIO_Attributes*>(this)->at(key); }
  // The value of `key`, added empty when absent.
  std::string& operator[](const std::string& key);
  // Adds the entry unless its name is present; the entry and whether it was added.
  std::pair<iterator, bool> insert(const value_type& entry);
  std::pair<iterator, bool> emplace(const std::string& key, const std::string& value) { return insert({key, value}); }
  size_t erase(const std::string& key);
  iterator erase(const_iterator position);

  bool operator==(const XMLIO_Attributes& other) const;
  bool operator!=(const XMLIO_Attributes& other) const { return !(*this == other); }

 private:
  friend class XMLIO_Document;
  iterator find(const char* key, size_t length);
  // Where `key` is or would go.
  size_t lowerBound(const char* key, size_t length) const;
  // A new last entry, reusing a spare one's strings; the caller fills it and
  // calls settle() once all are in.
  value_type& appendUnsorted() {
    if (count_ == items_.size()) items_.emplace_back();
    return items_[count_++];
  }
  // Sorts the entries by name; of repeated names the last one added stays.
  void settle() {
    if (count_ > 1) sortByName();
  }
  void sortByName();
  // Opens a place at `at`, reusing a spare entry.
  value_type& insertAt(size_t at);

  std::vector<value_type> items_;  // live entries first, then spares
  size_t count_ = 0;
};
