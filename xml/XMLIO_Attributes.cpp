#include "xml/XMLIO_Attributes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {
// Byte order, as std::string compares.
int CompareKey(const std::string& a, const char* key, size_t length) {
  const size_t n = std::min(a.size(), length);
  const int c = n ? std::memcmp(a.data(), key, n) : 0;
  if (c != 0) return c;
  return a.size() < length ? -1 : a.size() > length ? 1 : 0;
}
}  // namespace

XMLIO_Attributes::XMLIO_Attributes(std::initializer_list<value_type> entries) {
  for (const value_type& entry : entries) insert(entry);
}

XMLIO_Attributes::XMLIO_Attributes(const XMLIO_Attributes& other)
    : items_(other.begin(), other.end()), count_(other.count_) {}

XMLIO_Attributes::XMLIO_Attributes(XMLIO_Attributes&& other) noexcept
    : items_(std::move(other.items_)), count_(other.count_) {
  other.items_.clear();
  other.count_ = 0;
}

XMLIO_Attributes& XMLIO_Attributes::operator=(const XMLIO_Attributes& other) {
  if (this == &other) return *this;
  if (items_.size() < other.count_) items_.resize(other.count_);
  std::copy(other.begin(), other.end(), items_.begin());
  count_ = other.count_;
  return *this;
}

XMLIO_Attributes& XMLIO_Attributes::operator=(XMLIO_Attributes&& other) noexcept {
  if (this == &other) return *this;
  items_ = std::move(other.items_);
  count_ = other.count_;
  other.items_.clear();
  other.count_ = 0;
  return *this;
}

size_t XMLIO_Attributes::lowerBound(const char* key, size_t length) const {
  size_t low = 0, high = count_;
  while (low < high) {
    const size_t mid = low + (high - low) / 2;
    if (CompareKey(items_[mid].first, key, length) < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return low;
}

XMLIO_Attributes::iterator XMLIO_Attributes::find(const char* key, size_t length) {
  const size_t at = lowerBound(key, length);
  return at < count_ && CompareKey(items_[at].first, key, length) == 0 ? begin() + at : end();
}

XMLIO_Attributes::iterator XMLIO_Attributes::find(const char* key) { return find(key, std::strlen(key)); }

std::string& XMLIO_Attributes::at(const std::string& key) {
  iterator it = find(key);
  if (it == end()) throw std::out_of_range("XMLIO_Attributes::at: no attribute " + key);
  return it->second;
}

XMLIO_Attributes::value_type& XMLIO_Attributes::insertAt(size_t at) {
  if (count_ == items_.size()) items_.emplace_back();
  // The spare entry just past the live ones moves down to `at`.
  std::rotate(items_.begin() + static_cast<std::ptrdiff_t>(at), items_.begin() + static_cast<std::ptrdiff_t>(count_),
              items_.begin() + static_cast<std::ptrdiff_t>(count_ + 1));
  ++count_;
  return items_[at];
}

std::string& XMLIO_Attributes::operator[](const std::string& key) {
  const size_t at = lowerBound(key.data(), key.size());
  if (at < count_ && items_[at].first == key) return items_[at].second;
  value_type& entry = insertAt(at);
  entry.first = key;
  entry.second.clear();
  return entry.second;
}

std::pair<XMLIO_Attributes::iterator, bool> XMLIO_Attributes::insert(const value_type& entry) {
  const size_t at = lowerBound(entry.first.data(), entry.first.size());
  if (at < count_ && items_[at].first == entry.first) return {begin() + at, false};
  value_type& added = insertAt(at);
  added.first = entry.first;
  added.second = entry.second;
  return {begin() + at, true};
}

size_t XMLIO_Attributes::erase(const std::string& key) {
  iterator it = find(key);
  if (it == end()) return 0;
  erase(it);
  return 1;
}

XMLIO_Attributes::iterator XMLIO_Attributes::erase(const_iterator position) {
  const size_t at = static_cast<size_t>(position - begin());
  // The erased entry becomes the first spare.
  std::rotate(items_.begin() + static_cast<std::ptrdiff_t>(at), items_.begin() + static_cast<std::ptrdiff_t>(at + 1),
              items_.begin() + static_cast<std::ptrdiff_t>(count_));
  --count_;
  return begin() + at;
}

bool XMLIO_Attributes::operator==(const XMLIO_Attributes& other) const {
  return count_ == other.count_ && std::equal(begin(), end(), other.begin());
}

void XMLIO_Attributes::sortByName() {
  auto byName = [](const value_type& a, const value_type& b) { return a.first < b.first; };
  // Elements carry a few attributes: an insertion sort is stable and needs no
  // buffer; long lists take the library's stable sort.
  if (count_ <= 32) {
    for (size_t i = 1; i < count_; ++i)
      for (size_t j = i; j > 0 && byName(items_[j], items_[j - 1]); --j) items_[j].swap(items_[j - 1]);
  } else {
    std::stable_sort(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(count_), byName);
  }
  // Repeated names sit together in the order they came: the last one stays.
  size_t kept = 0;
  for (size_t i = 0; i < count_; ++i) {
    if (kept > 0 && items_[kept - 1].first == items_[i].first) {
      items_[kept - 1].second.swap(items_[i].second);
    } else {
      if (kept != i) items_[kept].swap(items_[i]);
      ++kept;
    }
  }
  count_ = kept;
}
