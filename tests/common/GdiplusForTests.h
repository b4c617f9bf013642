#pragma once
// The program runs its pages and image controls with GDI+ started; so does a
// test program that includes this header (once, in one of its files).
#include <gtest/gtest.h>

#include <memory>

#include "util/Images.h"

namespace testenv {

class GdiplusForTests : public ::testing::Environment {
public:
    void SetUp() override { session_ = std::make_unique<GdiplusSession>(); }
    void TearDown() override { session_.reset(); }

private:
    std::unique_ptr<GdiplusSession> session_;
};

inline const auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusForTests);

}  // namespace testenv
