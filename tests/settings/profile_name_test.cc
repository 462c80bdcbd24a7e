#include "settings/profile_name.h"

#include <gtest/gtest.h>

namespace ferrybox {
namespace {

TEST(ProfileNameFromSource, ReplacesSeparatorsAndColonsOnly) {
  EXPECT_EQ(ProfileNameFromSource("/home/ann/allfiles"), "_home_ann_allfiles");
  EXPECT_EQ(ProfileNameFromSource("/mnt/x:y z.prf/"), "_mnt_x_y z.prf_");
  EXPECT_EQ(ProfileNameFromSource(" a\\b "), " a\\b ");
  EXPECT_EQ(ProfileNameFromSource(""), "");
}

TEST(IsPlainProfileName, RefusesNamesThatLeaveTheProfilesFolder) {
  for (const char* name :
       {"work", "", "x.prf", "...", ".hidden", " . ", "a\\b", "c:"})
    EXPECT_TRUE(IsPlainProfileName(name)) << name;
  for (const char* name : {"/", "../escape", "a/b", ".", "..", "/etc/passwd"})
    EXPECT_FALSE(IsPlainProfileName(name)) << name;
}

}  // namespace
}  // namespace ferrybox
