#include "xml/XMLIO_NameTable.h"

const std::string* XMLIO_NameTable::add(const char* raw, size_t length, uint64_t hash, XMLIO_Transcoder& transcoder) {
  if (entries_.size() >= capacity_) return nullptr;
  if ((entries_.size() + 1) * 2 > slots_.size()) grow();
  std::string decoded = transcoder.isOpen() ? transcoder.convert(raw, length) : std::string(raw, length);
  entries_.push_back(Entry{std::string(raw, length), std::move(decoded)});
  place(hash, &entries_.back());
  return &entries_.back().decoded;
}

void XMLIO_NameTable::place(uint64_t hash, const Entry* entry) {
  const size_t mask = slots_.size() - 1;
  size_t i = static_cast<size_t>(hash) & mask;
  while (slots_[i].entry) i = (i + 1) & mask;
  slots_[i] = Slot{hash, entry};
}

void XMLIO_NameTable::grow() {
  std::vector<Slot> old(slots_.empty() ? 64 : slots_.size() * 2);
  old.swap(slots_);
  for (const Slot& slot : old)
    if (slot.entry) place(slot.hash, slot.entry);
}

void XMLIO_NameTable::clear() {
  entries_.clear();
  slots_.clear();
}
