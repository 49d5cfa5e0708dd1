#include "http/NameValueCollection.h"

#include <cctype>

namespace http {

NameValueCollection::NameValueCollection() {}
NameValueCollection::~NameValueCollection() {}

bool NameValueCollection::equalsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

void NameValueCollection::set(const std::string& name, const std::string& value) {
  bool placed = false;
  for (std::vector<Entry>::iterator it = entries_.begin(); it != entries_.end();) {
    if (equalsIgnoreCase(it->first, name)) {
      if (!placed) {
        it->first = name;
        it->second = value;
        placed = true;
        ++it;
      } else {
        it = entries_.erase(it);
      }
    } else {
      ++it;
    }
  }
  if (!placed) entries_.push_back(Entry(name, value));
}

void NameValueCollection::add(const std::string& name, const std::string& value) {
  entries_.push_back(Entry(name, value));
}

std::string NameValueCollection::get(const std::string& name) const {
  return get(name, std::string());
}

std::string NameValueCollection::get(const std::string& name, const std::string& defaultValue) const {
  for (const Entry& e : entries_)
    if (equalsIgnoreCase(e.first, name)) return e.second;
  return defaultValue;
}

void NameValueCollection::getAll(const std::string& name, std::vector<std::string>& out) const {
  for (const Entry& e : entries_)
    if (equalsIgnoreCase(e.first, name)) out.push_back(e.second);
}

bool NameValueCollection::has(const std::string& name) const {
  for (const Entry& e : entries_)
    if (equalsIgnoreCase(e.first, name)) return true;
  return false;
}

void NameValueCollection::erase(const std::string& name) {
  for (std::vector<Entry>::iterator it = entries_.begin(); it != entries_.end();) {
    if (equalsIgnoreCase(it->first, name))
      it = entries_.erase(it);
    else
      ++it;
  }
}

void NameValueCollection::clear() { entries_.clear(); }
bool NameValueCollection::empty() const { return entries_.empty(); }
size_t NameValueCollection::size() const { return entries_.size(); }
NameValueCollection::ConstIterator NameValueCollection::begin() const { return entries_.begin(); }
NameValueCollection::ConstIterator NameValueCollection::end() const { return entries_.end(); }

}  // namespace http
