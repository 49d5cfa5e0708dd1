// Ordered name/value pairs with case-insensitive names: the headers of an
// HTTP message. Insertion order is kept and a name may occur several times.
//
// Thread rule: not synchronised; one thread at a time (const members may be
// called from several threads while nobody writes).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace http {

class NameValueCollection {
 public:
  typedef std::pair<std::string, std::string> Entry;
  typedef std::vector<Entry>::const_iterator ConstIterator;

  NameValueCollection();
  virtual ~NameValueCollection();

  // Replaces every entry of that name by one entry (at the place of the first
  // one, or at the end when the name is new).
  void set(const std::string& name, const std::string& value);
  // Appends a further entry of that name.
  void add(const std::string& name, const std::string& value);
  // The first value of that name, or "" when absent.
  std::string get(const std::string& name) const;
  // The first value of that name, or `defaultValue` when absent.
  std::string get(const std::string& name, const std::string& defaultValue) const;
  // Every value of that name, in order, appended to `out`.
  void getAll(const std::string& name, std::vector<std::string>& out) const;
  bool has(const std::string& name) const;
  // Removes every entry of that name.
  void erase(const std::string& name);
  void clear();
  bool empty() const;
  size_t size() const;

  ConstIterator begin() const;
  ConstIterator end() const;

  // Case-insensitive ASCII comparison, as header names are compared.
  static bool equalsIgnoreCase(const std::string& a, const std::string& b);

 private:
  std::vector<Entry> entries_;
};

}  // namespace http

using http::NameValueCollection;
