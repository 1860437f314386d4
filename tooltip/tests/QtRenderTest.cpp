#include <gtest/gtest.h>
TEST(QtRender, Placeholder) {}
