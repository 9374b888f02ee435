#include "numeric/symbol_table.h"

#include <algorithm>

#include "base/exception.h"

namespace sq {

size_t TSymbolTable::LowerBound(std::string_view name) const {
  // std::string comparison is byte-wise (char_traits<char>::compare is memcmp), which
  // is the ordering the table promises.
  auto it = std::lower_bound(entries_.begin(), entries_.end(), name, [](const auto& entry, std::string_view key) {
    return std::string_view(entry.first) < key;
  });
  return static_cast<size_t>(it - entries_.begin());
}

int TSymbolTable::IndexOf(std::string_view name) const {
  const size_t index = LowerBound(name);
  if (index < entries_.size() && entries_[index].first == name) return static_cast<int>(index);
  return -1;
}

int TSymbolTable::Add(std::string_view name, std::shared_ptr<TSymbol> symbol) {
  const size_t index = LowerBound(name);
  if (index < entries_.size() && entries_[index].first == name) {
    entries_[index].second = std::move(symbol);
  } else {
    entries_.emplace(entries_.begin() + static_cast<std::ptrdiff_t>(index), std::string(name), std::move(symbol));
  }
  return static_cast<int>(index);
}

void TSymbolTable::Replace(int index, std::shared_ptr<TSymbol> symbol) {
  entries_.at(static_cast<size_t>(index)).second = std::move(symbol);
}

void TSymbolTable::Remove(std::string_view name) {
  const int index = IndexOf(name);
  if (index < 0) throw Exception("Symbol not found");
  entries_.erase(entries_.begin() + index);
}

TSymbol* TSymbolTable::Lookup(std::string_view name) const {
  const int index = IndexOf(name);
  return index < 0 ? nullptr : entries_[static_cast<size_t>(index)].second.get();
}

std::shared_ptr<TSymbol> TSymbolTable::LookupShared(std::string_view name) const {
  const int index = IndexOf(name);
  return index < 0 ? nullptr : entries_[static_cast<size_t>(index)].second;
}

TSymbolValue* TSymbolTable::SetValue(std::string_view name, long double value) {
  auto symbol = std::make_shared<TSymbolValue>(value);
  TSymbolValue* result = symbol.get();
  Add(name, std::move(symbol));
  return result;
}

TScopedSymbolValue::TScopedSymbolValue(TSymbolTable& table, std::string name, long double value)
    : table_(table), name_(std::move(name)), symbol_(std::make_shared<TSymbolValue>(value)) {
  previous_ = table_.LookupShared(name_);
  table_.Add(name_, symbol_);
}

TScopedSymbolValue::~TScopedSymbolValue() {
  const int index = table_.IndexOf(name_);
  if (previous_) {
    if (index >= 0)
      table_.Replace(index, std::move(previous_));
    else
      table_.Add(name_, std::move(previous_));
  } else if (index >= 0) {
    table_.Remove(name_);
  }
}

void TScopedSymbolValue::SetValue(long double value) {
  symbol_->Value = value;
  const int index = table_.IndexOf(name_);
  if (index < 0)
    table_.Add(name_, symbol_);
  else if (table_.Symbol(index) != symbol_.get())
    table_.Replace(index, symbol_);
}

}  // namespace sq
