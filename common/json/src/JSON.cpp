#include "json/JSON.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace Json {

namespace {

using njson = nlohmann::json;

// A text holding exactly one number (integer or real).
bool parseNumber(const std::string& s, bool& integral, int64_t& i, uint64_t& u, bool& isNeg,
                 double& d) {
  if (s.empty()) return false;
  const char* begin = s.c_str();
  char* end = nullptr;
  errno = 0;
  if (s.find_first_of(".eEnN") == std::string::npos) {  // no fraction, exponent, nan or inf
    std::string::size_type first = s.find_first_not_of(" \t");
    isNeg = first != std::string::npos && s[first] == '-';
    if (isNeg) {
      long long v = std::strtoll(begin, &end, 10);
      if (errno == 0 && end != begin && *end == '\0') {
        integral = true;
        i = v;
        return true;
      }
    } else {
      unsigned long long v = std::strtoull(begin, &end, 10);
      if (errno == 0 && end != begin && *end == '\0') {
        integral = true;
        u = v;
        return true;
      }
    }
  }
  errno = 0;
  double v = std::strtod(begin, &end);
  if (end == begin || *end != '\0' || std::isnan(v)) return false;
  integral = false;
  d = v;
  return true;
}

template <typename T>
T clampDouble(double d) {
  if (std::isnan(d)) return 0;
  if (d <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (d >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(d);
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

njson toNlohmann(const JSONValue& v) {
  switch (v.type()) {
    case intValue: return njson(v.asInt64());
    case uintValue: return njson(v.asUInt64());
    case realValue: return njson(v.asDouble());
    case stringValue: return njson(v.asString());
    case booleanValue: return njson(v.asBool());
    case arrayValue: {
      njson a = njson::array();
      for (unsigned k = 0; k < v.size(); ++k) a.push_back(toNlohmann(v.get(k, JSONValue())));
      return a;
    }
    case objectValue: {
      njson o = njson::object();
      for (const std::string& name : v.getMemberNames()) o[name] = toNlohmann(v.get(name, JSONValue()));
      return o;
    }
    case nullValue:
    default: return njson();
  }
}

// Builds a JSONValue tree from the parser's events; refuses nesting deeper than maxDepth.
class TreeBuilder : public nlohmann::json_sax<njson> {
 public:
  explicit TreeBuilder(size_t maxDepth) : maxDepth_(maxDepth) {}

  JSONValue root;
  bool failed = false;

  bool null() override { return put(JSONValue()); }
  bool boolean(bool v) override { return put(JSONValue(v)); }
  bool number_integer(number_integer_t v) override { return put(JSONValue(static_cast<long long>(v))); }
  bool number_unsigned(number_unsigned_t v) override {
    if (v <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
      return put(JSONValue(static_cast<long long>(v)));
    return put(JSONValue(static_cast<unsigned long long>(v)));
  }
  bool number_float(number_float_t v, const string_t&) override { return put(JSONValue(v)); }
  bool string(string_t& v) override { return put(JSONValue(v)); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return open(JSONValue(objectValue)); }
  bool key(string_t& k) override {
    key_ = k;
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(JSONValue(arrayValue)); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    failed = true;
    return false;
  }

 private:
  // Places a value where the parser stands; gives its address for containers.
  JSONValue* place(const JSONValue& v) {
    if (stack_.empty()) {
      root = v;
      return &root;
    }
    JSONValue* top = stack_.back();
    if (top->isArray()) return &top->append(v);
    JSONValue& slot = (*top)[key_];
    slot = v;
    return &slot;
  }
  bool put(const JSONValue& v) {
    place(v);
    return true;
  }
  bool open(const JSONValue& v) {
    if (stack_.size() >= maxDepth_) {
      failed = true;
      return false;
    }
    stack_.push_back(place(v));
    return true;
  }
  bool close() {
    if (!stack_.empty()) stack_.pop_back();
    return true;
  }

  size_t maxDepth_;
  std::vector<JSONValue*> stack_;  // open containers, outermost first
  std::string key_;                // member name of the next value in an object
};

}  // namespace

// ---- JSONValue --------------------------------------------------------------------------

JSONValue::JSONValue(ValueType type) : type_(nullValue), u_(0) { reset(type); }
JSONValue::JSONValue(int value) : type_(intValue), i_(value) {}
JSONValue::JSONValue(unsigned int value) : type_(uintValue), u_(value) {}
JSONValue::JSONValue(long value) : type_(intValue), i_(value) {}
JSONValue::JSONValue(unsigned long value) : type_(uintValue), u_(value) {}
JSONValue::JSONValue(long long value) : type_(intValue), i_(value) {}
JSONValue::JSONValue(unsigned long long value) : type_(uintValue), u_(value) {}
JSONValue::JSONValue(double value) : type_(realValue), d_(value) {}
JSONValue::JSONValue(bool value) : type_(booleanValue), u_(0) { b_ = value; }
JSONValue::JSONValue(const char* value) : type_(stringValue), u_(0), str_(value ? value : "") {}
JSONValue::JSONValue(const std::string& value) : type_(stringValue), u_(0), str_(value) {}
JSONValue::JSONValue(const JSONValue& other) : type_(nullValue), u_(0) { copyFrom(other); }
JSONValue::JSONValue(JSONValue&& other) noexcept
    : type_(other.type_), u_(other.u_), str_(std::move(other.str_)),
      members_(std::move(other.members_)), elements_(std::move(other.elements_)) {
  other.type_ = nullValue;
  other.u_ = 0;
}
JSONValue::~JSONValue() {}

JSONValue& JSONValue::operator=(const JSONValue& other) {
  if (this != &other) {
    JSONValue copy(other);  // other may live inside this value
    *this = std::move(copy);
  }
  return *this;
}

JSONValue& JSONValue::operator=(JSONValue&& other) noexcept {
  if (this != &other) {
    // Keep the old contents alive until other (which may be one of them) has been moved out.
    std::unique_ptr<Members> oldMembers = std::move(members_);
    std::unique_ptr<Elements> oldElements = std::move(elements_);
    type_ = other.type_;
    u_ = other.u_;
    str_ = std::move(other.str_);
    members_ = std::move(other.members_);
    elements_ = std::move(other.elements_);
    other.type_ = nullValue;
    other.u_ = 0;
  }
  return *this;
}

void JSONValue::reset(ValueType type) {
  type_ = type;
  u_ = 0;
  if (type == realValue) d_ = 0.0;
  str_.clear();
  members_.reset(type == objectValue ? new Members : nullptr);
  elements_.reset(type == arrayValue ? new Elements : nullptr);
}

void JSONValue::copyFrom(const JSONValue& other) {
  type_ = other.type_;
  u_ = other.u_;
  str_ = other.str_;
  members_.reset(other.members_ ? new Members(*other.members_) : nullptr);
  elements_.reset(other.elements_ ? new Elements(*other.elements_) : nullptr);
}

unsigned JSONValue::size() const {
  if (type_ == objectValue) return static_cast<unsigned>(members_->size());
  if (type_ == arrayValue) return static_cast<unsigned>(elements_->size());
  return 0;
}

bool JSONValue::empty() const {
  switch (type_) {
    case nullValue: return true;
    case stringValue: return str_.empty();
    case arrayValue:
    case objectValue: return size() == 0;
    default: return false;
  }
}

JSONValue& JSONValue::operator[](const std::string& name) {
  if (type_ != objectValue) reset(objectValue);
  return (*members_)[name];
}

JSONValue& JSONValue::operator[](unsigned index) {
  if (type_ != arrayValue) reset(arrayValue);
  if (index >= elements_->size()) elements_->resize(static_cast<size_t>(index) + 1);
  return (*elements_)[index];
}

JSONValue& JSONValue::append(const JSONValue& value) {
  JSONValue copy(value);  // value may live inside this array
  if (type_ != arrayValue) reset(arrayValue);
  elements_->push_back(std::move(copy));
  return elements_->back();
}

void JSONValue::clear() {
  if (type_ == objectValue) members_->clear();
  else if (type_ == arrayValue) elements_->clear();
  else reset(nullValue);
}

JSONValue JSONValue::get(const std::string& name, const JSONValue& dflt) const {
  if (type_ != objectValue) return dflt;
  Members::const_iterator it = members_->find(name);
  return it == members_->end() ? dflt : it->second;
}

JSONValue JSONValue::get(unsigned index, const JSONValue& dflt) const {
  if (type_ != arrayValue || index >= elements_->size()) return dflt;
  return (*elements_)[index];
}

bool JSONValue::isMember(const std::string& name) const {
  return type_ == objectValue && members_->count(name) > 0;
}

bool JSONValue::removeMember(const std::string& name) {
  return type_ == objectValue && members_->erase(name) > 0;
}

std::vector<std::string> JSONValue::getMemberNames() const {
  std::vector<std::string> names;
  if (type_ == objectValue)
    for (const auto& m : *members_) names.push_back(m.first);
  return names;
}

std::string JSONValue::asString() const {
  switch (type_) {
    case stringValue: return str_;
    case intValue: return std::to_string(i_);
    case uintValue: return std::to_string(u_);
    case realValue: return std::isfinite(d_) ? njson(d_).dump() : std::string();
    case booleanValue: return b_ ? "true" : "false";
    default: return std::string();
  }
}

int64_t JSONValue::asInt64() const {
  switch (type_) {
    case intValue: return i_;
    case uintValue:
      return u_ > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                 ? std::numeric_limits<int64_t>::max()
                 : static_cast<int64_t>(u_);
    case realValue: return clampDouble<int64_t>(d_);
    case booleanValue: return b_ ? 1 : 0;
    case stringValue: {
      bool integral = false, neg = false;
      int64_t i = 0;
      uint64_t u = 0;
      double d = 0;
      if (!parseNumber(str_, integral, i, u, neg, d)) return 0;
      if (!integral) return clampDouble<int64_t>(d);
      if (neg) return i;
      return JSONValue(static_cast<unsigned long long>(u)).asInt64();
    }
    default: return 0;
  }
}

uint64_t JSONValue::asUInt64() const {
  switch (type_) {
    case intValue: return i_ < 0 ? 0 : static_cast<uint64_t>(i_);
    case uintValue: return u_;
    case realValue: return clampDouble<uint64_t>(d_);
    case booleanValue: return b_ ? 1 : 0;
    case stringValue: {
      bool integral = false, neg = false;
      int64_t i = 0;
      uint64_t u = 0;
      double d = 0;
      if (!parseNumber(str_, integral, i, u, neg, d)) return 0;
      if (!integral) return clampDouble<uint64_t>(d);
      return neg ? 0 : u;
    }
    default: return 0;
  }
}

int JSONValue::asInt() const {
  if (type_ == realValue) return clampDouble<int>(d_);
  if (type_ == uintValue || (type_ == stringValue && asDouble() > 0)) {
    uint64_t u = asUInt64();
    return u > static_cast<uint64_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                      : static_cast<int>(u);
  }
  int64_t i = asInt64();
  if (i < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  if (i > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(i);
}

unsigned int JSONValue::asUInt() const {
  uint64_t u = asUInt64();
  return u > std::numeric_limits<unsigned int>::max() ? std::numeric_limits<unsigned int>::max()
                                                      : static_cast<unsigned int>(u);
}

double JSONValue::asDouble() const {
  switch (type_) {
    case intValue: return static_cast<double>(i_);
    case uintValue: return static_cast<double>(u_);
    case realValue: return d_;
    case booleanValue: return b_ ? 1.0 : 0.0;
    case stringValue: {
      bool integral = false, neg = false;
      int64_t i = 0;
      uint64_t u = 0;
      double d = 0;
      if (!parseNumber(str_, integral, i, u, neg, d)) return 0.0;
      if (!integral) return d;
      return neg ? static_cast<double>(i) : static_cast<double>(u);
    }
    default: return 0.0;
  }
}

bool JSONValue::asBool() const {
  switch (type_) {
    case booleanValue: return b_;
    case intValue: return i_ != 0;
    case uintValue: return u_ != 0;
    case realValue: return d_ != 0.0 && !std::isnan(d_);
    case stringValue: return lower(str_) == "true" || asDouble() != 0.0;
    default: return false;
  }
}

std::string JSONValue::toJSON() const {
  try {
    return toNlohmann(*this).dump(-1, ' ', false, njson::error_handler_t::replace);
  } catch (const std::exception&) {
    return std::string();  // allocation failure; nothing else throws here
  }
}

bool JSONValue::operator==(const JSONValue& other) const {
  if (isIntegral() && other.isIntegral()) {
    bool neg = type_ == intValue && i_ < 0;
    bool otherNeg = other.type_ == intValue && other.i_ < 0;
    if (neg || otherNeg) return neg && otherNeg && i_ == other.i_;
    return asUInt64() == other.asUInt64();
  }
  if (type_ != other.type_) return false;
  switch (type_) {
    case nullValue: return true;
    case realValue: return d_ == other.d_;
    case booleanValue: return b_ == other.b_;
    case stringValue: return str_ == other.str_;
    case arrayValue: return *elements_ == *other.elements_;
    case objectValue: return *members_ == *other.members_;
    default: return false;
  }
}

// ---- JSONArray, JSONObject ----------------------------------------------------------------

JSONArray::JSONArray(bool) : JSONValue(arrayValue) {}

JSONObject::JSONObject() : JSONValue(objectValue) {}

JSONObject::JSONObject(const std::string& text) : JSONValue(objectValue) { decode(text); }

bool JSONObject::decode(const std::string& text, int position) {
  JSONValue& self = *this;
  // The parser takes a NUL byte for the end of the input; a text holding one is not JSON.
  if (position < 0 || static_cast<size_t>(position) > text.size() ||
      text.find('\0', static_cast<size_t>(position < 0 ? 0 : position)) != std::string::npos) {
    self = JSONValue(objectValue);
    return false;
  }
  TreeBuilder builder(MAX_DEPTH);
  bool ok = false;
  try {
    ok = njson::sax_parse(text.begin() + position, text.end(), &builder,
                          njson::input_format_t::json, true);
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok || builder.failed || !builder.root.isObject()) {
    self = JSONValue(objectValue);
    return false;
  }
  self = std::move(builder.root);
  return true;
}

std::string JSONObject::encode() const { return toJSON(); }

}  // namespace Json
