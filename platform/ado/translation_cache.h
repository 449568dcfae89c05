// TranslationCache: the translations of recently sent T-SQL texts, keyed by
// the exact text. Pages send the same texts again and again (an operator's
// poll every few seconds), and translating means tokenizing and rewriting
// the whole text, so an engine keeps its translations here. Bounded: the
// least recently used goes first, and texts longer than `max_text` (inserts
// carrying a message, rarely sent twice) are translated every time.
// Thread-safe; the translations handed out stay valid while they are held.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace zelto::ado {

template <typename Translation>
class TranslationCache {
 public:
  using Translate = Translation (*)(std::string_view tsql);

  TranslationCache(Translate translate, size_t capacity, size_t max_text)
      : translate_(translate), capacity_(capacity), max_text_(max_text) {}
  TranslationCache(const TranslationCache&) = delete;
  TranslationCache& operator=(const TranslationCache&) = delete;

  std::shared_ptr<const Translation> Get(std::string_view tsql) {
    if (tsql.size() > max_text_ || capacity_ == 0) {
      return std::make_shared<const Translation>(translate_(tsql));
    }
    {
      std::lock_guard lock(mutex_);
      auto it = index_.find(tsql);
      if (it != index_.end()) {
        order_.splice(order_.begin(), order_, it->second);
        return it->second->second;
      }
    }
    // Translated outside the lock; two threads may both translate a new
    // text, and the first to finish keeps its entry.
    auto translation = std::make_shared<const Translation>(translate_(tsql));
    std::lock_guard lock(mutex_);
    if (index_.find(tsql) == index_.end()) {
      order_.emplace_front(std::string(tsql), translation);
      index_.emplace(order_.front().first, order_.begin());
      if (order_.size() > capacity_) {
        index_.erase(order_.back().first);
        order_.pop_back();
      }
    }
    return translation;
  }

  size_t size() {
    std::lock_guard lock(mutex_);
    return order_.size();
  }

 private:
  using Entry = std::pair<std::string, std::shared_ptr<const Translation>>;

  Translate translate_;
  size_t capacity_;
  size_t max_text_;
  std::mutex mutex_;
  std::list<Entry> order_;  // most recently used first
  // Keys view the texts held in `order_`, which never move.
  std::unordered_map<std::string_view, typename std::list<Entry>::iterator> index_;
};

}  // namespace zelto::ado
