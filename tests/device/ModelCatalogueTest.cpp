#include "device/ModelCatalogue.h"

#include <gtest/gtest.h>

#include <string>

namespace mvx {
namespace {

TEST(ModelCatalogue, KnownModelsHaveClassAndName) {
    EXPECT_EQ(classify(13), Sensor);
    EXPECT_STREQ(displayName(13), "LT-P1");
    EXPECT_STREQ(displayName(12), "LT-50+");
    EXPECT_STREQ(displayName(106), "PW-900");
    for (int model : {6, 10, 12, 28, 64, 106, 113, 116, 117}) {
        EXPECT_EQ(classify(model), Actuator) << model;
        EXPECT_STRNE(displayName(model), "Unknown") << model;
    }
}

TEST(ModelCatalogue, OtherNumbersAreUnknownWithoutMasking) {
    for (int model : {0, 255, 118, 65535, 268, -1}) {
        EXPECT_EQ(classify(model), UnknownModel) << model;
        EXPECT_STREQ(displayName(model), "Unknown") << model;
    }
}

TEST(ModelCatalogue, ClassTexts) {
    EXPECT_STREQ(classText(Actuator), "Actuator");
    EXPECT_STREQ(classText(Sensor), "Sensor");
    EXPECT_STREQ(classText(UnknownModel), "Unknown");
    EXPECT_STREQ(classText(classify(255)), "Unknown");
}

}  // namespace
}  // namespace mvx
