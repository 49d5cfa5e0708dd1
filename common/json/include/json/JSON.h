// JSON values over nlohmann-json: a value tree the callers build and read, a parser and a
// compact encoder. No operation throws: a read of a missing member or of a value of another
// type gives the default or the converted empty value.
//
// Threads: a value is used by one thread at a time (no internal locking); distinct values
// may be used on distinct threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Json {

enum ValueType {
  nullValue = 0,  // the null default of get
  intValue,       // signed 64-bit integer
  uintValue,      // unsigned 64-bit integer (kept unsigned when encoded)
  realValue,      // double
  stringValue,
  booleanValue,
  arrayValue,
  objectValue
};

class JSONValue {
 public:
  // The empty value of a type: null, 0, 0u, 0.0, "", false, [] or {}.
  JSONValue(ValueType type = nullValue);
  JSONValue(int value);
  JSONValue(unsigned int value);
  JSONValue(long value);
  JSONValue(unsigned long value);
  JSONValue(long long value);
  JSONValue(unsigned long long value);
  JSONValue(double value);
  JSONValue(bool value);
  JSONValue(const char* value);  // a string (null pointer gives "")
  JSONValue(const std::string& value);
  JSONValue(const JSONValue& other);
  JSONValue(JSONValue&& other) noexcept;
  JSONValue& operator=(const JSONValue& other);
  JSONValue& operator=(JSONValue&& other) noexcept;
  ~JSONValue();

  ValueType type() const { return type_; }
  bool isNull() const { return type_ == nullValue; }
  bool isBool() const { return type_ == booleanValue; }
  bool isIntegral() const { return type_ == intValue || type_ == uintValue; }
  bool isDouble() const { return type_ == realValue; }
  bool isNumeric() const { return isIntegral() || isDouble(); }
  bool isString() const { return type_ == stringValue; }
  bool isArray() const { return type_ == arrayValue; }
  bool isObject() const { return type_ == objectValue; }

  // Members of an object or elements of an array; 0 for anything else.
  unsigned size() const;
  // True for null, "", [] and {}.
  bool empty() const;

  // Object member, created (null) when absent. A value that is not an object becomes an
  // empty object first.
  JSONValue& operator[](const std::string& name);
  JSONValue& operator[](const char* name) { return operator[](std::string(name ? name : "")); }
  // Array element; a value that is not an array becomes an empty array first, and the array
  // grows with nulls up to index.
  JSONValue& operator[](unsigned index);
  JSONValue& operator[](int index) { return operator[](static_cast<unsigned>(index < 0 ? 0 : index)); }

  // Appends to an array (a value that is not an array becomes an empty array first); gives
  // the new element.
  JSONValue& append(const JSONValue& value);

  // Empties an array or object (the type stays); any other value becomes null.
  void clear();

  // The member (a copy), or dflt when this is not an object or has no such member. Pass
  // JSONValue(Json::nullValue) for a default that reads as "", 0, false and 0.0 (an int 0
  // default would read as "0" through asString).
  JSONValue get(const std::string& name, const JSONValue& dflt) const;
  JSONValue get(const char* name, const JSONValue& dflt) const {
    return get(std::string(name ? name : ""), dflt);
  }
  // The element (a copy), or dflt when this is not an array or index is past its end.
  JSONValue get(unsigned index, const JSONValue& dflt) const;
  JSONValue get(int index, const JSONValue& dflt) const {
    return index < 0 ? dflt : get(static_cast<unsigned>(index), dflt);
  }

  bool isMember(const std::string& name) const;
  bool removeMember(const std::string& name);
  // Member names of an object in byte order; empty for anything else.
  std::vector<std::string> getMemberNames() const;

  // Conversions; none throws.
  //  asString: the string; integers in decimal; reals in the shortest form that reads back;
  //            "true"/"false"; "" for null, arrays and objects.
  //  asInt/asInt64/asUInt/asUInt64: integers (clamped to the target's range); reals truncated
  //            toward zero (clamped); a string holding a number is parsed; true gives 1;
  //            anything else 0.
  //  asDouble: as asInt, keeping the fraction.
  //  asBool:   the bool; a number other than 0; the string "true" (any case) or a numeric
  //            string other than 0; anything else false.
  std::string asString() const;
  int asInt() const;
  unsigned int asUInt() const;
  int64_t asInt64() const;
  uint64_t asUInt64() const;
  double asDouble() const;
  bool asBool() const;

  // Compact JSON text of this value (object members in byte order of their names). Strings
  // are expected in UTF-8; an ill-formed byte is written as U+FFFD.
  std::string toJSON() const;

  // Same type and same contents (an int and a uint of one value compare equal).
  bool operator==(const JSONValue& other) const;
  bool operator!=(const JSONValue& other) const { return !(*this == other); }

 private:
  using Members = std::map<std::string, JSONValue>;
  using Elements = std::vector<JSONValue>;

  void reset(ValueType type);
  void copyFrom(const JSONValue& other);

  ValueType type_;
  union {
    int64_t i_;
    uint64_t u_;
    double d_;
    bool b_;
  };
  std::string str_;                  // stringValue
  std::unique_ptr<Members> members_;  // objectValue
  std::unique_ptr<Elements> elements_;  // arrayValue
};

// An empty array; the flag is kept for the callers' form JSONArray(false) and has no effect.
class JSONArray : public JSONValue {
 public:
  explicit JSONArray(bool reserved = false);
};

// An object that decodes from and encodes to JSON text.
class JSONObject : public JSONValue {
 public:
  // Nesting deeper than this makes decode fail (bounds the parser's and destructor's recursion).
  static const int MAX_DEPTH = 256;

  JSONObject();
  // Decodes text; an empty, invalid or non-object text leaves an empty object.
  explicit JSONObject(const std::string& text);

  // Parses text from byte position on (the whole rest must be one JSON object). True and the
  // object replaced by the parsed one on success; false for invalid text, a top level that is
  // not an object, a position outside the text or nesting deeper than MAX_DEPTH, and then
  // the object is left empty.
  bool decode(const std::string& text, int position = 0);

  // Compact JSON text, members in byte order of their names.
  std::string encode() const;
};

}  // namespace Json
