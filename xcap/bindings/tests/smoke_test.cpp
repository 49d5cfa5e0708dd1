#include <gtest/gtest.h>
#include "bindings/resource-lists.hxx"
TEST(Smoke, Builds) { SUCCEED(); }
