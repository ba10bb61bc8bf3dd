// HTML Help that cannot be bound at all: this program runs with hhctrl.ocx
// disabled, so neither the registered path nor the bare name loads.
#include "HelpSupport.h"

#include <gtest/gtest.h>

using namespace bktest;
using namespace helptest;

namespace {

TEST(HtmlHelpUnbound, WhenNothingLoadsHelpShowsNothingAndNoLoadIsTriedAgain)
{
    EventLog log;
    std::optional<ScopedHelpControlRegistration> registration;
    registration.emplace(ScopedHelpControlRegistration::Unregistered{});
    std::optional<SetupModule> module;
    module.emplace();
    WithDialog(*module, [&](dlgtest::DialogDriver& d) {
        d.Click(IDHELP);
        // A loadable library registered now is not tried: the failure is final.
        registration.reset();
        registration.emplace(REG_SZ, FullStandinDir() + "\\hhctrl-sz.ocx" + '\0');
        d.Click(IDHELP);
        EXPECT_TRUE(IsWindowEnabled(d.dialog()));
        EXPECT_TRUE(d.Enabled(IDOK));
    });
    EXPECT_EQ(log.Lines(), std::vector<std::string>{});

    // The same registration binds in a fresh load of the module.
    module.reset();
    module.emplace();
    WithDialog(*module, [](dlgtest::DialogDriver& d) { d.Click(IDHELP); });
    EXPECT_EQ(HelpCalls(log.Lines()).size(), 2u);
}

} // namespace
