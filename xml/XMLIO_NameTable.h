// Element and attribute names of the document being read, each decoded once:
// expat reports the same few names again and again, and handlers receive the
// stored copy instead of a fresh string per event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "xml/XMLIO_Encoding.h"

class XMLIO_NameTable {
 public:
  // Distinct names kept per document; names beyond them are decoded per
  // event, so a document of ever new names still reads in bounded memory.
  static constexpr size_t kDefaultCapacity = 4096;

  explicit XMLIO_NameTable(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  // The decoded form of the zero-terminated `raw` (through `transcoder` when
  // it is open), stored the first time it is met; null when the table is full
  // and `raw` is not in it. Stored names stay put until clear().
  const std::string* intern(const char* raw, XMLIO_Transcoder& transcoder) {
    // FNV-1a over the name; the same pass finds its end.
    uint64_t hash = 1469598103934665603ull;
    const char* end = raw;
    for (; *end; ++end) hash = (hash ^ static_cast<unsigned char>(*end)) * 1099511628211ull;
    const size_t length = static_cast<size_t>(end - raw);
    if (!slots_.empty()) {
      const size_t mask = slots_.size() - 1;
      for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (!slot.entry) break;
        if (slot.hash == hash && slot.entry->raw.size() == length && sameBytes(slot.entry->raw.data(), raw, length))
          return &slot.entry->decoded;
      }
    }
    return add(raw, length, hash, transcoder);
  }
  // Forgets every name: the next document may decode the same bytes otherwise.
  void clear();
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string raw;
    std::string decoded;
  };
  struct Slot {
    uint64_t hash = 0;
    const Entry* entry = nullptr;  // null: empty
  };
  static bool sameBytes(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
      if (a[i] != b[i]) return false;
    return true;
  }
  // Stores a name not met before; null when the table is full.
  const std::string* add(const char* raw, size_t length, uint64_t hash, XMLIO_Transcoder& transcoder);
  void place(uint64_t hash, const Entry* entry);
  void grow();

  size_t capacity_;
  std::deque<Entry> entries_;  // stable addresses for the decoded names
  std::vector<Slot> slots_;    // open addressing over the entries
};
