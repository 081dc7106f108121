// Linked into every host test: a test fails when it ends with a registry key
// handle still open, or when it closed a handle twice or used one after its
// close. A test that does so on purpose, to see the registry refuse it, says
// so with RecordProperty("handle_misuse", "deliberate").
#include <string.h>

#include <gtest/gtest.h>

#include "registry/registry_debug.h"

namespace {

class HandleListener : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override
    {
        misuses_ = host::HandleMisuseCount();
    }

    void OnTestEnd(const testing::TestInfo& test) override
    {
        EXPECT_EQ(host::OpenKeyCount(), 0u) << "registry key handles left open by the test";
        if (!Deliberate(*test.result())) {
            EXPECT_EQ(host::HandleMisuseCount(), misuses_)
                << "registry key handles closed twice, used after their close or never opened";
        }
    }

    static bool Deliberate(const testing::TestResult& result)
    {
        for (int i = 0; i < result.test_property_count(); ++i) {
            const testing::TestProperty& property = result.GetTestProperty(i);
            if (strcmp(property.key(), "handle_misuse") == 0 &&
                strcmp(property.value(), "deliberate") == 0)
                return true;
        }
        return false;
    }

    size_t misuses_ = 0;
};

const bool installed = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new HandleListener);
    return true;
}();

}  // namespace
