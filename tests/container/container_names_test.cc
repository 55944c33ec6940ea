#include <gtest/gtest.h>
#include "nametree/name_container.h"
TEST(Placeholder, Builds) { nametree::CNameContainer c; EXPECT_NE(c.GetID(), 0u); }
