#include "json/JSON.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

using Json::JSONArray;
using Json::JSONObject;
using Json::JSONValue;

TEST(Json, DecodeEncodeRoundTrip) {
  // Already in the encoder's form: compact, members in byte order of their names.
  const std::string texts[] = {
      "{}",
      "{\"a\":1}",
      "{\"B\":true,\"a\":null,\"b\":[1,-2,3.5,\"x\",[],{}],\"c\":{\"d\":{\"e\":\"f\"}}}",
      "{\"big\":18446744073709551615,\"i64\":-9223372036854775808,\"n\":9007199254740993}",
      std::string("{\"name\":\"") + u8"张三 \\\"q\\\" \\\\ \\n\\t\\u0001" + "\"}",
      "{\"r\":0.1,\"s\":1e+300,\"t\":-2.5}",
  };
  for (const std::string& text : texts) {
    JSONObject obj;
    ASSERT_TRUE(obj.decode(text)) << text;
    EXPECT_EQ(text, obj.encode());
    JSONObject again;
    ASSERT_TRUE(again.decode(obj.encode()));
    EXPECT_TRUE(again == obj) << text;
  }
}

TEST(Json, EncodeSortsMembersAndKeepsNumberKinds) {
  JSONObject obj;
  obj["path"] = JSONValue("/a/b");
  obj["blocksize"] = JSONValue(4294967295u);  // unsigned stays unsigned
  obj["offset"] = JSONValue(0u);
  obj["blocktotal"] = JSONValue(-3);
  obj["Zeta"] = JSONValue(10737418240LL);     // beyond 32 bits
  JSONArray paths(false);
  paths.append(JSONValue("x"));
  paths.append(JSONValue("y"));
  obj["paths"] = paths;
  obj["none"] = JSONValue(Json::nullValue);
  EXPECT_EQ(
      "{\"Zeta\":10737418240,\"blocksize\":4294967295,\"blocktotal\":-3,\"none\":null,"
      "\"offset\":0,\"path\":\"/a/b\",\"paths\":[\"x\",\"y\"]}",
      obj.encode());
  EXPECT_EQ("{}", JSONObject().encode());
}

TEST(Json, EncodeReplacesIllFormedUtf8) {
  JSONObject obj;
  obj["k"] = JSONValue(std::string("a\xFF" "b"));
  EXPECT_EQ("{\"k\":\"a\xEF\xBF\xBD" "b\"}", obj.encode());
}

TEST(Json, InvalidTextGivesFalseAndAnEmptyObject) {
  const std::string bad[] = {
      "", " ", "{", "}", "[1,2]", "\"s\"", "42", "null", "true",
      "{\"a\":1} trailing", "{'a':1}", "{\"a\":01}", "{\"a\":1,}", "{a:1}",
      "{\"a\":\"\xFF\"}",                       // ill-formed UTF-8
      "{\"a\":1}/* comment */",
      std::string("{\"a\":1}\0", 8),
  };
  for (const std::string& text : bad) {
    JSONObject obj("{\"stale\":1}");
    ASSERT_EQ(1u, obj.size());
    EXPECT_FALSE(obj.decode(text)) << text;
    EXPECT_TRUE(obj.isObject()) << text;
    EXPECT_EQ(0u, obj.size()) << text;
  }
}

TEST(Json, DecodeBoundsNestingAndHonoursPosition) {
  auto nested = [](int depth) {
    std::string s = "{\"v\":";
    for (int i = 1; i < depth; ++i) s += "[";
    s += "0";
    for (int i = 1; i < depth; ++i) s += "]";
    return s + "}";
  };
  JSONObject obj;
  EXPECT_TRUE(obj.decode(nested(JSONObject::MAX_DEPTH)));
  EXPECT_FALSE(obj.decode(nested(JSONObject::MAX_DEPTH + 1)));
  EXPECT_FALSE(obj.decode(std::string(100000, '[')));

  EXPECT_TRUE(obj.decode("xx{\"a\":1}", 2));
  EXPECT_EQ(1, obj.get("a", JSONValue()).asInt());
  EXPECT_FALSE(obj.decode("{\"a\":1}", -1));
  EXPECT_FALSE(obj.decode("{\"a\":1}", 8));
}

TEST(Json, GetGivesDefaultsThatConvertToEmpty) {
  JSONObject obj("{\"name\":\"f.txt\",\"size\":\"12\",\"created\":{\"year\":114},\"list\":[1]}");
  const JSONValue null(Json::nullValue);
  // Missing members and members of a value that is not an object read as the null default.
  const JSONValue missing[] = {obj.get("absent", null), obj.get("name", null).get("x", null),
                               obj.get("list", null).get(5u, null), obj.get("created", null).get(0, null)};
  for (const JSONValue& v : missing) {
    EXPECT_TRUE(v.isNull());
    EXPECT_TRUE(v.empty());
    EXPECT_EQ("", v.asString());
    EXPECT_EQ(0, v.asInt());
    EXPECT_FALSE(v.asBool());
    EXPECT_EQ(0.0, v.asDouble());
  }
  EXPECT_EQ(7, obj.get("absent", JSONValue(7)).asInt());
  EXPECT_EQ("f.txt", obj.get("name", null).asString());
  EXPECT_EQ(12, obj.get("size", null).asInt());  // numeric text
  EXPECT_EQ(114, obj.get("created", null).get("year", null).asInt());
  EXPECT_EQ(0, obj.get("created", null).get("month", null).asInt());
  EXPECT_EQ(1, obj.get("list", null).get(0u, null).asInt());
  EXPECT_TRUE(obj.get("list", null).isArray());
  EXPECT_EQ(1u, obj.get("list", null).size());
}

TEST(Json, ConversionsNeverThrow) {
  struct Case {
    JSONValue v;
    const char* str;
    int i;
    bool b;
    double d;
  };
  const Case cases[] = {
      {JSONValue(42), "42", 42, true, 42.0},
      {JSONValue(-7), "-7", -7, true, -7.0},
      {JSONValue(0u), "0", 0, false, 0.0},
      {JSONValue(4294967295u), "4294967295", INT_MAX, true, 4294967295.0},
      {JSONValue(10737418240LL), "10737418240", INT_MAX, true, 10737418240.0},
      {JSONValue(-10737418240LL), "-10737418240", INT_MIN, true, -10737418240.0},
      {JSONValue(3.9), "3.9", 3, true, 3.9},
      {JSONValue(-3.9), "-3.9", -3, true, -3.9},
      {JSONValue(1e300), "1e+300", INT_MAX, true, 1e300},
      {JSONValue(true), "true", 1, true, 1.0},
      {JSONValue(false), "false", 0, false, 0.0},
      {JSONValue("123"), "123", 123, true, 123.0},
      {JSONValue("-2.5"), "-2.5", -2, true, -2.5},
      {JSONValue("TRUE"), "TRUE", 0, true, 0.0},
      {JSONValue("abc"), "abc", 0, false, 0.0},
      {JSONValue("12abc"), "12abc", 0, false, 0.0},
      {JSONValue("0"), "0", 0, false, 0.0},
      {JSONValue(""), "", 0, false, 0.0},
      {JSONValue(Json::arrayValue), "", 0, false, 0.0},
      {JSONValue(Json::objectValue), "", 0, false, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.str, c.v.asString()) << c.str;
    EXPECT_EQ(c.i, c.v.asInt()) << c.str;
    EXPECT_EQ(c.b, c.v.asBool()) << c.str;
    EXPECT_DOUBLE_EQ(c.d, c.v.asDouble()) << c.str;
  }
  EXPECT_EQ(10737418240LL, JSONValue(10737418240LL).asInt64());
  EXPECT_EQ(4294967295u, JSONValue(4294967295u).asUInt());
  EXPECT_EQ(0u, JSONValue(-1).asUInt());
}

TEST(Json, BuildingValues) {
  JSONValue v;
  EXPECT_TRUE(v.isNull());
  v["a"]["b"] = JSONValue(1);  // members are created on the way
  EXPECT_TRUE(v.isObject());
  EXPECT_EQ("{\"a\":{\"b\":1}}", v.toJSON());
  v = v["a"];                  // assigning a value's own member
  EXPECT_EQ("{\"b\":1}", v.toJSON());

  JSONArray arr;
  EXPECT_TRUE(arr.isArray());
  EXPECT_TRUE(arr.empty());
  arr.append(JSONValue("x"));
  arr.append(arr);             // appending the array to itself copies it first
  EXPECT_EQ("[\"x\",[\"x\"]]", arr.toJSON());
  arr[3] = JSONValue(true);    // grows with nulls
  EXPECT_EQ("[\"x\",[\"x\"],null,true]", arr.toJSON());
  arr.clear();
  EXPECT_TRUE(arr.isArray());
  EXPECT_EQ(0u, arr.size());

  JSONObject obj;
  obj["k"] = JSONValue("v");
  JSONObject copy = obj;
  copy["k"] = JSONValue("changed");
  EXPECT_EQ("v", obj.get("k", JSONValue()).asString());  // copies are deep
  EXPECT_TRUE(obj.removeMember("k"));
  EXPECT_TRUE(obj.empty());
  EXPECT_FALSE(JSONValue("s").empty());
  EXPECT_FALSE(JSONValue(0).empty());
}

}  // namespace
