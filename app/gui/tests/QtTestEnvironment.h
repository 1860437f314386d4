// The QApplication of a GUI test executable lives between gtest's set-up and
// tear-down, inside main.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

namespace orvane::testing {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "gui_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

}  // namespace orvane::testing
