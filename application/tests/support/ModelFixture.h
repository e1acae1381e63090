#pragma once
// A fixture with fresh settings, the preferences and the document model, for tests of the
// panels and strips that read both. A derived fixture deletes its widgets before calling
// TearDown, since they may still talk to the model while they go.

#include "document/GmModel.h"
#include "document/KsAppPreferences.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

class ModelFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().clear();
        m_preferences = std::make_unique<KsAppPreferences>();
        m_model = GmModel::instance();
    }
    void TearDown() override
    {
        GmModel::destroy();
        m_model = nullptr;
        m_preferences.reset();
        QSettings().clear();
    }

    std::unique_ptr<KsAppPreferences> m_preferences;
    GmModel* m_model = nullptr;
};

} // namespace testsupport
