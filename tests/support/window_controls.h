// A window's scripts reach each control through a typed member named after
// it: the member must be the control of that name and, for a button or a
// label, show its caption.
#pragma once

#include <gtest/gtest.h>
#include <QObject>
#include <QString>
#include <tuple>
#include <vector>

namespace testing_support {

inline void expectNamed(const QObject* control, const char* name) {
    ASSERT_NE(control, nullptr) << name;
    EXPECT_EQ(control->objectName(), QString::fromLatin1(name));
}

template <class Control>
void expectCaptioned(const std::vector<std::tuple<Control*, const char*, const char*>>& controls) {
    for (const auto& [control, name, caption] : controls) {
        expectNamed(control, name);
        if (control) {
            EXPECT_EQ(control->text(), QString::fromUtf8(caption)) << name;
        }
    }
}

}  // namespace testing_support
