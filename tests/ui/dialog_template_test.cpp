#include "ui/ui.h"
#include <gtest/gtest.h>
#include <cstddef>
#include <string>

namespace {

TEST(BlankDialog, TemplateFields)
{
    BlankDialogTemplate dialog;
    FillBlankDialogTemplate(dialog, std::wstring(100, L't').c_str());
    EXPECT_EQ(dialog.header.style, 0x90800A00u);
    EXPECT_EQ(dialog.header.cdit, 0);
    EXPECT_EQ(dialog.menu, 0);
    EXPECT_EQ(dialog.windowClass, 0);
    EXPECT_EQ(std::wstring(dialog.title), std::wstring(79, L't'));
    EXPECT_EQ(offsetof(BlankDialogTemplate, title), 22u);
    FillBlankDialogTemplate(dialog, nullptr);
    EXPECT_EQ(std::wstring(dialog.title), std::wstring(applicationTitle));
}

} // namespace
