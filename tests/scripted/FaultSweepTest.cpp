// Every installer call of an add, a configure, a rename and a remove refused
// in turn through the scripted stand-in: the request fails, and nothing
// stored is lost but what the refused call itself would have written. Then
// the process ended at each call in turn (nothing from that call on
// applies): every key holds its old or its new value, and a renamed entry
// stays whole until the new one is complete.
#include "DialogDriver.h"
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "StandinInstaller.h"
#include "resource.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <algorithm>
#include <functional>
#include <set>

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
    // Whether the end of the process is swept too: not for a data source
    // registered with another library, whose registration must be written
    // again and may empty the section first.
    bool sweepEnded = true;
};

enum class Fault { Refused, Ended };

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

    // The six keys and every other key the operation names (the registration's).
    Sections Stored(const Operation& op) const
    {
        Sections stored;
        for (const auto* sections : {&op.before, &op.after})
            for (const auto& [section, named] : *sections) {
                std::set<std::string> keys(std::begin(kKeys), std::end(kKeys));
                for (const auto* other : {&op.before, &op.after})
                    if (auto it = other->find(section); it != other->end())
                        for (const auto& key : it->second) keys.insert(key.first);
                for (const auto& key : keys)
                    if (auto value = standin.Profile(section.c_str(), key.c_str())) stored[section][key] = *value;
            }
        return stored;
    }

    static std::optional<std::string> ValueIn(const Sections& s, const std::string& section, const std::string& key)
    {
        auto sec = s.find(section);
        if (sec == s.end()) return std::nullopt;
        auto k = sec->second.find(key);
        return k == sec->second.end() ? std::nullopt : std::make_optional(k->second);
    }

    // The process ended at `ended`: each key holds its old or its new value
    // (absent counting as one), and a section the operation removes is whole
    // while a section it adds is not complete.
    void CheckEnded(const Operation& op, const std::string& ended)
    {
        SCOPED_TRACE(std::string(op.label) + ", ended at " + ended);
        const Sections stored = Stored(op);
        bool addedComplete = true;
        for (const auto* sections : {&op.before, &op.after})
            for (const auto& [section, keys] : *sections)
                for (const auto& key : keys) {
                    const auto now = ValueIn(stored, section, key.first), was = ValueIn(op.before, section, key.first),
                               will = ValueIn(op.after, section, key.first);
                    EXPECT_TRUE(now == was || now == will)
                        << section << "." << key.first << " = " << now.value_or("(none)");
                    if (!op.before.count(section) && now != will) addedComplete = false;
                }
        if (addedComplete) return;
        for (const auto& [section, keys] : op.before) {
            if (op.after.count(section)) continue;
            for (const auto& key : keys) {
                EXPECT_EQ(ValueIn(stored, section, key.first), key.second)
                    << section << "." << key.first << " gone before its new entry was complete";
            }
        }
        for (const auto& dsn : op.filesBefore) EXPECT_TRUE(FileExists(dir.FileFor(dsn))) << dsn;
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
        const auto& value = ValueIn;
        for (const auto* sections : {&op.before, &op.after})
            for (const auto& [section, keys] : *sections)
                for (const auto& [key, unused] : keys) {
                    (void)unused;
                    const auto now = value(stored, section, key), was = value(op.before, section, key),
                               will = value(op.after, section, key);
                    const bool prevented = section == writtenSection && key == writtenKey;
                    // A stored key survives; a key that a refused key write's
                    // request writes is written, all but the refused one.
                    const bool ownKey = std::find(std::begin(kKeys), std::end(kKeys), key) != std::end(kKeys);
                    if (ownKey && (was || (!writtenSection.empty() && section == writtenSection && will)) &&
                        !prevented) {
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

    void Sweep(const Operation& op, Fault fault)
    {
        Arrange(op);
        ASSERT_EQ(op.run(module), TRUE) << op.label;
        ASSERT_EQ(Stored(op), op.after) << op.label;
        const std::vector<std::string> calls = standin.Calls();
        ASSERT_FALSE(calls.empty());
        std::map<std::string, int> seen;
        bool sweeping = op.firstRefused.empty();
        for (size_t at = 0; at < calls.size(); ++at) {
            const std::string& call = calls[at];
            const std::string function = FunctionOf(call);
            const int nth = ++seen[function];
            sweeping = sweeping || call.rfind(op.firstRefused, 0) == 0;
            if (!sweeping) continue;
            Arrange(op);
            if (fault == Fault::Ended) {
                standin.EndAt(static_cast<int>(at + 1));
                op.run(module);   // a process ended there has no answer to check
                CheckEnded(op, call);
                continue;
            }
            // A lookup refuses with a negative answer, every other call with FALSE.
            standin.SetResult(function.c_str(), nth, function == "SQLGetPrivateProfileString" ? -1 : FALSE);
            Check(op, call, op.run(module));
        }
    }

    StandinInstaller standin;   // in place before the module binds the installer
    SetupModule module;
    ScopedDefaultDsnDir dir;
};

// The operations swept: an add, a configure of a data source this driver
// registered and of one registered with another library, a remove, and a
// rename through the dialog.
std::vector<Operation> Operations()
{
    const Keys sales{{"DBQ", "C:\\Old"}, {"MaxColSupport", "255"}, {"DatabaseType", "2"}};
    Keys configured = sales;
    configured["MaxColSupport"] = "1536";
    configured["ShortenNames"] = "1";
    const Keys renamed{{"DBQ", "C:\\Old"}, {"MaxColSupport", "255"}, {"ShortenNames", "0"},
                       {"StandardMode", "0"}, {"DictionaryMode", "0"}, {"DatabaseType", "2"}};
    // A registration as the installer keeps it (the stand-in's profile does
    // not tell files apart, so the driver's library is a section of its own).
    const std::string library = "C:\\Drivers\\bkODBCsu.dll";
    const Sections registered{{"ODBC Data Sources", {{"Sales", kDriver}}}, {kDriver, {{"Driver", library}}}};
    const auto withRegistration = [&](Sections sections, const std::string& stored) {
        sections.insert(registered.begin(), registered.end());
        sections["Sales"]["Driver"] = stored;
        return sections;
    };
    const auto never = [](const std::string&) { return false; };
    const auto configure = [](const SetupModule& m) {
        return m.ConfigDSN(ODBC_CONFIG_DSN, {"DSN=Sales", "MaxColSupport=1536", "ShortenNames=1"});
    };
    Operation elsewhere{"configure, registered with another library",
                        withRegistration({{"Sales", sales}}, "C:\\Old\\bkODBCsu.dll"), {}, {"Sales"}, configure, "",
                        never};
    // Registered again: the stand-in's registration empties the section, its library too.
    elsewhere.after = withRegistration({{"Sales", configured}}, "C:\\Old\\bkODBCsu.dll");
    elsewhere.after["Sales"].erase("Driver");
    elsewhere.sweepEnded = false;
    return {
        {"add", {}, {{"Sales", {{"DBQ", "C:\\New"}, {"ShortenNames", "1"}}}}, {},
         [](const SetupModule& m) { return m.ConfigDSN(ODBC_ADD_DSN, {"DSN=Sales", "DBQ=C:\\New", "ShortenNames=1"}); },
         "", never},
        {"configure", withRegistration({{"Sales", sales}}, library), withRegistration({{"Sales", configured}}, library),
         {"Sales"}, configure, "", never},
        elsewhere,
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
}

TEST_F(FaultSweep, EachRefusedCallFailsTheRequestAndLosesNoStoredKey)
{
    for (const Operation& op : Operations()) Sweep(op, Fault::Refused);
}

TEST_F(FaultSweep, AProcessEndedAtAnyCallLeavesEachKeyOldOrNew)
{
    for (const Operation& op : Operations())
        if (op.sweepEnded) Sweep(op, Fault::Ended);
}

} // namespace
