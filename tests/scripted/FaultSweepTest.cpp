// Every installer call of an add, a configure, a rename and a remove refused
// in turn through the scripted stand-in: the request fails, and nothing
// stored is lost but what the refused call itself would have written.
#include "../dialog/DialogDriver.h"
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "StandinInstaller.h"
#include "resource.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <functional>

using namespace bktest;

namespace {

using Keys = std::map<std::string, std::string>;
using Sections = std::map<std::string, Keys>;
const char* const kKeys[] = {"DBQ", "MaxColSupport", "ShortenNames", "StandardMode", "DictionaryMode",
                             "DatabaseType"};

struct Operation {
    const char* label;
    Sections before, after;   // the stored sections before, and after the unrefused request
    std::vector<std::string> filesBefore;   // data sources with a file DSN before
    std::function<BOOL(const SetupModule&)> run;
    // The sweep starts at the first call that begins so (empty: at the first
    // call); the dialog's own questions before OK are not swept.
    std::string firstRefused;
    // Refusals after which the request may still succeed: the new entry is
    // complete and only the old name's removal was refused.
    std::function<bool(const std::string& call)> afterCompletion;
};

std::string FunctionOf(const std::string& call) { return call.substr(0, call.find('(')); }

class FaultSweep : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(standin.loaded()); }

    void Arrange(const Operation& op)
    {
        standin.Reset();
        for (const auto& [section, keys] : op.before)
            for (const auto& [key, value] : keys) standin.SetProfile(section.c_str(), key.c_str(), value.c_str());
        for (const auto& file : FilesUnder(dir.folder())) DeleteFileA((dir.folder() + "\\" + file).c_str());
        for (const auto& dsn : op.filesBefore) WriteFileBytes(dir.FileFor(dsn), "[ODBC]\r\nDSN=" + dsn + "\r\n");
    }

    Sections Stored(const Operation& op) const
    {
        Sections stored;
        for (const auto* sections : {&op.before, &op.after})
            for (const auto& section : *sections)
                for (const char* key : kKeys)
                    if (auto value = standin.Profile(section.first.c_str(), key)) stored[section.first][key] = *value;
        return stored;
    }

    // The refused call, its section and key when it is a key write.
    void Check(const Operation& op, const std::string& refused, BOOL result)
    {
        SCOPED_TRACE(std::string(op.label) + ", refused " + refused);
        if (!op.afterCompletion(refused)) {
            EXPECT_EQ(result, FALSE);
        }
        std::string writtenSection, writtenKey;
        if (FunctionOf(refused) == "SQLWritePrivateProfileString") {
            const std::string args = refused.substr(refused.find('(') + 1);
            writtenSection = args.substr(0, args.find(','));
            const std::string rest = args.substr(args.find(',') + 1);
            writtenKey = rest.substr(0, rest.find(','));
        }
        const Sections stored = Stored(op);
        const auto value = [](const Sections& s, const std::string& section, const std::string& key) {
            auto sec = s.find(section);
            if (sec == s.end()) return std::optional<std::string>();
            auto k = sec->second.find(key);
            return k == sec->second.end() ? std::optional<std::string>() : std::make_optional(k->second);
        };
        for (const auto* sections : {&op.before, &op.after})
            for (const auto& [section, keys] : *sections)
                for (const auto& [key, unused] : keys) {
                    (void)unused;
                    const auto now = value(stored, section, key), was = value(op.before, section, key),
                               will = value(op.after, section, key);
                    const bool prevented = section == writtenSection && key == writtenKey;
                    // A stored key survives; a key that a refused key write's
                    // request writes is written, all but the refused one.
                    if ((was || (!writtenSection.empty() && section == writtenSection && will)) && !prevented) {
                        EXPECT_TRUE(now) << section << "." << key << " lost";
                    }
                    if (now) {
                        EXPECT_TRUE(now == was || now == will) << section << "." << key << " = " << *now;
                    }
                }
        // A file DSN of a stored entry stays: no refused request removes it;
        // a refused request writes none.
        for (const auto& dsn : op.filesBefore) EXPECT_TRUE(FileExists(dir.FileFor(dsn))) << dsn;
        if (op.afterCompletion(refused)) return;
        for (const auto& section : op.after) {
            if (!op.before.count(section.first)) {
                EXPECT_FALSE(FileExists(dir.FileFor(section.first))) << section.first;
            }
        }
    }

    void Sweep(const Operation& op)
    {
        Arrange(op);
        ASSERT_EQ(op.run(module), TRUE) << op.label;
        ASSERT_EQ(Stored(op), op.after) << op.label;
        const std::vector<std::string> calls = standin.Calls();
        ASSERT_FALSE(calls.empty());
        std::map<std::string, int> seen;
        bool sweeping = op.firstRefused.empty();
        for (const auto& call : calls) {
            const std::string function = FunctionOf(call);
            const int nth = ++seen[function];
            sweeping = sweeping || call.rfind(op.firstRefused, 0) == 0;
            if (!sweeping) continue;
            Arrange(op);
            // A lookup refuses with a negative answer, every other call with FALSE.
            standin.SetResult(function.c_str(), nth, function == "SQLGetPrivateProfileString" ? -1 : FALSE);
            Check(op, call, op.run(module));
        }
    }

    StandinInstaller standin;   // in place before the module binds the installer
    SetupModule module;
    ScopedDefaultDsnDir dir;
};

TEST_F(FaultSweep, EachRefusedCallFailsTheRequestAndLosesNoStoredKey)
{
    const Keys sales{{"DBQ", "C:\\Old"}, {"MaxColSupport", "255"}, {"DatabaseType", "2"}};
    Keys configured = sales;
    configured["MaxColSupport"] = "1536";
    configured["ShortenNames"] = "1";
    const Keys renamed{{"DBQ", "C:\\Old"}, {"MaxColSupport", "255"}, {"ShortenNames", "0"},
                       {"StandardMode", "0"}, {"DictionaryMode", "0"}, {"DatabaseType", "2"}};
    const auto never = [](const std::string&) { return false; };
    const Operation operations[] = {
        {"add", {}, {{"Sales", {{"DBQ", "C:\\New"}, {"ShortenNames", "1"}}}}, {},
         [](const SetupModule& m) { return m.ConfigDSN(ODBC_ADD_DSN, {"DSN=Sales", "DBQ=C:\\New", "ShortenNames=1"}); },
         "", never},
        {"configure", {{"Sales", sales}}, {{"Sales", configured}}, {"Sales"},
         [](const SetupModule& m) { return m.ConfigDSN(ODBC_CONFIG_DSN, {"DSN=Sales", "MaxColSupport=1536", "ShortenNames=1"}); },
         "", never},
        {"remove", {{"Sales", sales}}, {}, {"Sales"},
         [](const SetupModule& m) { return m.ConfigDSN(ODBC_REMOVE_DSN, {"DSN=Sales"}); },
         "", never},
        {"rename through the dialog", {{"Sales", sales}}, {{"Revenue", renamed}}, {"Sales"},
         [](const SetupModule& m) {
             return dlgtest::RunDialog(m, AttributeList({"DSN=Sales"}), [](dlgtest::DialogDriver& d) {
                        d.SetText(IDC_DSN_NAME, "Revenue");
                        d.Click(IDOK);
                        d.WaitClosed();
                    }).result;
         },
         "SQLWriteDSNToIni(Revenue",
         [](const std::string& call) {
             return call == "SQLValidDSN(Sales)" || call == "SQLRemoveDSNFromIni(Sales)";
         }},
    };
    for (const Operation& op : operations) Sweep(op);
}

} // namespace
