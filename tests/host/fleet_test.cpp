// A fleet of machines drawn from one seed. On each, quillset runs against the
// stand-in, to its end or cut at any message, and what an administrator sees
// of it (qscapture's outcome and event, qscheck --verify) must agree with what
// the machine's registry and controller really hold. QUILLSET_FLEET_MACHINES
// and QUILLSET_FLEET_SEED choose another fleet, QUILLSET_FLEET_FIRST where it
// starts; a failure prints the machine.
#include <stdlib.h>

#include <algorithm>
#include <sstream>

#include "job_test.h"
#include "outcome.h"
#include "verdict.h"

namespace {

fake::World &w = fake::world;

// splitmix64, so that a seed gives the same fleet everywhere.
struct Draw {
    uint64_t state;
    unsigned Below(unsigned n)
    {
        uint64_t z = state += 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return (z ^ (z >> 31)) % n;
    }
    bool OneIn(unsigned n) { return Below(n) == 0; }
};

enum Disabler { NoDisabler, OtherGlobal, OtherInProfile, EarlierRun };

struct Machine {
    std::ostringstream dimensions;
    bool fileSays = false;   // an ID '2' entry that quillset reads
    DWORD want[2] = {};      // what the file says for SMEnable and SDSwitch
    bool driver = true;      // the kvcard service key
    bool keyCause = false;   // the Parameters key is denied or never comes
    Disabler disabler = NoDisabler;
    int controller = -1;     // the first matching device
    size_t cutAfter = 0;     // messages before the process ends, 0: none
};

// Nine skipped bytes: colons, IDs and CR LF among them start nothing.
std::string Skipped(Draw &d, bool lineEndFirst)
{
    const char *const pieces[] = {" ", "=", ":", "1", "2", "a", "\r\n"};
    std::string skipped = lineEndFirst ? "\r\n" : "";
    while (skipped.size() < 9) {
        std::string piece = pieces[d.Below(7)];
        if (skipped.size() + piece.size() <= 9)
            skipped += piece;
    }
    return skipped;
}

// A comment that puts the next entry's ID at the end of one of msvcrt's
// buffer fills, give or take a byte: fills of 4096 bytes from the start, and
// after a seek one of 512 bytes, then 4096 again, where a reader that seeks
// to every value (as the text-mode one did) has them.
void EdgePadding(Draw &d, std::string &bytes, long long seekedTo)
{
    long long edge = seekedTo < 0 ? 4096 : seekedTo + 512;
    while (edge < static_cast<long long>(bytes.size()) + 9)
        edge += 4096;
    long long colon = edge - 4 + d.Below(3);
    bytes += "; ";
    bytes.append(colon - 2 - bytes.size(), 'x');
    bytes += "\r\n";
}

// Entries among comments whose colons start none, and what they say: the
// last ID '1' value before the first ID '2' entry, and that entry's.
std::string SettingsBytes(Draw &d, Machine &m)
{
    const char *const comments[] = {"; kvinst settings: card reader", "rem 12:30 ::x", "# http://host/", ":", ""};
    std::string bytes;
    long long seekedTo = -1;
    char sm = 0, sd = 0;
    for (int entries = 1 + d.Below(4); entries > 0; entries--) {
        if (d.OneIn(2))
            bytes += comments[d.Below(5)] + std::string("\r\n");
        bool edge = d.OneIn(seekedTo < 0 ? 64 : 4);
        if (edge)
            EdgePadding(d, bytes, seekedTo);
        char id = "1112x"[d.Below(5)];
        bytes += std::string(":") + id;
        if (id == 'x') {
            bytes += " other\r\n";
            continue;
        }
        seekedTo = bytes.size() + 9;
        char value = id == '1' ? "01x"[d.Below(3)] : "012349"[d.Below(6)];
        bytes += Skipped(d, edge && d.OneIn(2)) + value + "\r\n";
        if (m.fileSays)
            continue;
        (id == '1' ? sm : sd) = value;
        m.fileSays = id == '2';
        // Ended inside the entry: the value is the end-of-file marker.
        if (m.fileSays && entries == 1 && d.OneIn(8)) {
            bytes.resize(seekedTo - 9 + d.Below(9));
            sd = 0;
        }
    }
    m.want[0] = SmEnableFromChar(sm);
    m.want[1] = SdSwitchFromChar(sd);
    m.dimensions << "file " << (m.fileSays ? "says " : "has no ID 2 ") << m.want[0] << "," << m.want[1] << " in "
                 << bytes.size() << " bytes";
    return bytes;
}

void DrawFile(Draw &d, Machine &m)
{
    std::string bytes = SettingsBytes(d, m);
    const char *const unreadable[] = {", no kvinst folder", ", missing", ", UTF-16", ", a bare LF", ", a Ctrl-Z"};
    unsigned kind = d.Below(24);
    if (kind == 0)
        w.directories.clear();
    else if (kind == 2)
        bytes = "\xFF\xFE" + bytes;
    else if (kind == 3)
        bytes += "x\n";   // after a CR the file may end with, too
    else if (kind == 4)
        bytes.insert(d.Below(bytes.size()), "\x1A");
    if (kind > 1)
        w.files[fake::SettingsPath] = bytes;
    if (kind < 5) {
        m.fileSays = false;
        m.dimensions << unreadable[kind];
    }
}

void DrawKey(Draw &d, Machine &m)
{
    unsigned kind = d.Below(10);
    if (kind < 2) {
        unsigned late = 1 + d.Below(12000);
        w.keyMadeAt = w.now + late * 10000ull;
        m.dimensions << "; key " << late << " ms late";
        return;
    }
    if (kind == 3) {
        m.keyCause = true, w.keyExists = false, w.serviceKeyExists = m.driver = d.OneIn(2);
        m.dimensions << "; no key, " << (m.driver ? "the service key" : "no driver");
        return;
    }
    if (kind == 2) {
        m.keyCause = true, w.keyGrants = d.OneIn(2) ? KEY_QUERY_VALUE : 0;
        m.dimensions << "; key denied" << (w.keyGrants ? " but readable" : "");
    } else {
        m.dimensions << "; key";
    }
    for (int k = 0; k < 2; k++) {
        const char *name = k ? "SDSwitch" : "SMEnable";
        DWORD data = d.OneIn(2) ? m.want[k] : 0xDEADBEEF;
        unsigned how = d.Below(4);
        if (how > 1)
            w.values[name] = {REG_DWORD, std::string(reinterpret_cast<char *>(&data), 4)};
        else if (how == 1)
            w.values[name] = {1, "1"};   // REG_SZ
        m.dimensions << ", " << name << (how > 1 ? "=" + std::to_string(data) : how ? " a string" : " missing");
    }
}

void DrawDevices(Draw &d, Machine &m)
{
    int others = d.Below(3), twins = d.Below(5) ? 1 + d.OneIn(5) : 0;
    for (int i = 0; i < others + twins; i++) {
        fake::Device device;
        device.hasProperty = i >= others || d.OneIn(2);
        device.hardwareIds = Ids(i < others ? "ROOT\\LEGACY_BEEP" : ControllerId());
        w.devices.insert(w.devices.begin() + d.Below(w.devices.size() + 1), device);
    }
    for (size_t i = 0; i < w.devices.size() && m.controller < 0; i++)
        if (w.devices[i].hasProperty && w.devices[i].hardwareIds == Ids(ControllerId()))
            m.controller = i;
    m.dimensions << "; " << others << " other devices, " << twins << " controllers";
    if (m.controller < 0)
        return;
    fake::Device &c = w.devices[m.controller];
    m.disabler = static_cast<Disabler>(d.Below(10) < 7 ? 0 : 1 + d.Below(3));
    c.disabledGlobally = m.disabler == OtherGlobal;
    c.disabledInProfile = m.disabler == OtherInProfile;
    const char *const disablers[] = {"", ", disabled by someone in all profiles", ", disabled by someone",
                                     ", disabled by an earlier run"};
    m.dimensions << disablers[m.disabler];
    switch (d.Below(10)) {
    case 0: c.status = DN_HAS_PROBLEM, c.problem = CM_PROB_FAILED_START, m.dimensions << ", problem 10"; break;
    case 1: c.status = DN_HAS_PROBLEM, c.problem = CM_PROB_NEED_RESTART, m.dimensions << ", problem 14"; break;
    case 2: w.installFlags = DI_NEEDREBOOT, m.dimensions << ", changes need a reboot"; break;
    case 3:
        // Where the state cannot be read, nothing tells of someone else's disable.
        if (m.disabler != OtherGlobal)
            c.statusStub = true, m.dimensions << ", state unreadable";
    }
    if (d.OneIn(8))
        w.failing.insert("SetupDiCallClassInstaller#1"), m.dimensions << ", disable refused";
    int refusals = d.OneIn(6) ? 1 + d.Below(3) : 0;
    for (int i = 1; i <= refusals; i++)
        w.failing.insert("SetupDiCallClassInstaller#" + std::to_string(i + 1));
    if (refusals)
        m.dimensions << ", enable refused " << refusals << " times";
}

// The run as a process: quillset's variables start at zero, and it ends
// after cutAfter messages, at the message cutAt, or at the job's end. What
// the job did after that never reaches the world, which goes back to how it
// stood then. The end closes the process's handles, the lock's with them.
Log Run(size_t cutAfter, const char *cutAt = nullptr)
{
    static size_t count, after;
    static const char *at;
    static bool cut;
    static fake::World atCut;
    count = 0, after = cutAfter, at = cutAt, cut = false;
    w.afterMessage = [] {
        if (!cut && (++count == after || (at && w.log.back() == at)))
            atCut = w, cut = true;
    };
    w.log.clear(), w.calls.clear(), w.callCounts.clear(), w.stateChanges.clear(), w.classInstallParams.clear();
    w.currentDirectory = "C:\\users\\admin";
    SmEnableChar = SdHostChar = 0;
    SmEnableValue = SdSwitchValue = 0;
    ConfigureDevice();
    if (cut)
        w = atCut;
    w.afterMessage = nullptr;
    w.openKeys = w.openSets = w.liveBuffers = w.openFiles = w.openHandles = w.lockOwned = 0;
    w.lockExists = false;
    return fake::Messages();
}

Machine Generate(uint64_t seed)
{
    fake::Reset();
    Draw d = {seed};
    Machine m;
    DrawFile(d, m);
    DrawKey(d, m);
    DrawDevices(d, m);
    if (m.disabler == EarlierRun) {
        std::set<std::string> failing;
        std::swap(w.failing, failing);
        Run(0, MsgDisablePassEnded);   // killed between its disable and its enable
        std::swap(w.failing, failing);
    }
    if (d.OneIn(2))
        m.cutAfter = 1 + d.Below(45), m.dimensions << "; cut after message " << m.cutAfter;
    return m;
}

// qscheck --verify on the world the run left, its real readings.
int Verify(std::wstring *line)
{
    VerifyReadings readings;
    ReadVerifyReadings(L"C:\\windows\\kvinst\\kvconfig.txt", &readings);
    wchar_t verdict[VerdictLineChars + 1];
    int exitCode = ComposeVerdict(&readings, verdict);
    *line = verdict;
    return exitCode;
}

// A restart of Windows, five minutes on: a change that waits for it is
// made; a disable stays.
void Reboot()
{
    w.now += 300 * 10000000ull;
    w.uptimeMs = 60000;
    for (fake::Device &device : w.devices)
        if (device.problem == CM_PROB_NEED_RESTART)
            device.status = DN_DRIVER_LOADED | DN_STARTED, device.problem = 0;
    w.installFlags = 0;
}

bool Holds(const Machine &m, int k, const std::map<std::string, fake::Value> &values)
{
    auto value = values.find(k ? "SDSwitch" : "SMEnable");
    return m.fileSays && value != values.end() && value->second.type == REG_DWORD &&
           value->second.data == std::string(reinterpret_cast<const char *>(&m.want[k]), 4);
}

// Runs the machine; returns what disagrees, and the run's messages.
std::string Check(Machine &m)
{
    std::ostringstream failures;
    auto expect = [&](bool holds, const char *invariant) {
        if (!holds)
            failures << "  violated: " << invariant << "\n";
    };
    std::map<std::string, fake::Value> before = w.values;
    Log messages = Run(m.cutAfter);
    w.failing.clear();

    OutcomeState state;
    StartOutcome(&state);
    for (const std::string &message : messages)
        NoteOutcomeMessage(&state, message.c_str());
    Outcome outcome = FinalOutcome(&state);
    char text[160];
    DescribeOutcome(&state, outcome, 0, text, sizeof text);
    // The outcome table's event type: an error for every outcome but 0, 3, 7 and 3010.
    bool error = outcome != OutcomeRestarted && outcome != OutcomeRebootPending && outcome != OutcomeNotRestarted &&
                 outcome != OutcomeLeftAlone;
    bool success = outcome == OutcomeRestarted || outcome == OutcomeRebootPending;

    // The truth: the values, the controller and what the run did to it.
    bool holds[2], wrote[2];
    for (int k = 0; k < 2; k++)
        holds[k] = Holds(m, k, w.values), wrote[k] = holds[k] && !Holds(m, k, before);
    const fake::Device *c = m.controller >= 0 ? &w.devices[m.controller] : nullptr;
    bool off = c && (c->disabledGlobally || c->disabledInProfile);
    bool runs = c && !off && !(c->status & DN_HAS_PROBLEM);
    bool waits = c && !off && (c->problem == CM_PROB_NEED_RESTART || (w.installFlags & DI_NEEDREBOOT));
    DWORD lastChange = 0;
    bool runDisabled = false;
    for (const auto &change : w.stateChanges)
        if (static_cast<int>(change.first) == m.controller)
            lastChange = change.second, runDisabled |= change.second == DICS_DISABLE;
    // Where quillset did not read the state after its last change (it cannot,
    // or it ended first), the class installer's word counts.
    auto last = std::find_if(w.calls.rbegin(), w.calls.rend(), [](const std::string &call) {
        return call.compare(0, 25, "SetupDiCallClassInstaller") == 0 || call.compare(0, 21, "CM_Get_DevNode_Status") == 0;
    });
    bool unread = c && (c->statusStub || last == w.calls.rend() || last->compare(0, 2, "CM") != 0);
    // Off by quillset's hand: disabled by the run, or enabled by it and not running.
    bool leftOff = (runDisabled && off) || (lastChange == DICS_ENABLE && !off && !runs && !waits && !unread);
    bool quillsetDisabled = c && c->disabledInProfile &&
                            (lastChange == DICS_DISABLE || (!lastChange && m.disabler == EarlierRun));

    for (int k = 0; k < 2; k++) {
        // The words name each value, or say "values written" of both.
        const char *name = k ? "SDSwitch" : "SMEnable";
        bool says = strstr(text, (std::string(name) + " written").c_str()) ||
                    (!strstr(text, name) && strstr(text, "values written"));
        expect(!says || holds[k], "1: the outcome says a value was written that the key does not hold");
        expect(says || !wrote[k], "1: the outcome says a value was not written that the run wrote");
    }
    expect(!success || (c && !off && (runs || waits || unread)),
           "2: outcome 0 or 3010, but the controller is not enabled and running or waiting for a reboot");
    expect(!(runDisabled && off) || outcome == OutcomeLeftDisabled,
           "3: the run disabled the controller and it is disabled, but the outcome is not 5");
    // Ended inside the disable, which may have taken: outcome 5 errs on the safe side.
    bool inDisable = !messages.empty() && messages.back() == MsgFound &&
                     std::find(messages.begin(), messages.end(), MsgDisablePassEnded) == messages.end();
    expect(!(!holds[0] || !holds[1] || leftOff) || error, "6: a failure in the world without an error event");
    expect(!(wrote[0] && wrote[1] && !leftOff && !inDisable) || !error,
           "6: an error event for a run that did all it should");

    if (outcome == OutcomeRebootPending)
        Reboot();
    std::wstring line, lineAgain;
    int verified = Verify(&line), verifiedAgain = -1;
    expect(verified == VerifyNoIssue || (m.driver && !(success && (runs || !unread))),
           "4: --verify is not 0 after outcome 0, 3010 or without the driver");
    expect(verified == VerifyIssue || !m.driver || !m.fileSays || (holds[0] && holds[1]),
           "4: --verify is 0, but the values differ from what the file says");
    expect(verified == VerifyIssue || !quillsetDisabled || c->statusStub,
           "4: --verify is 0, but quillset left the controller disabled");

    // Later, after a reboot, with a class installer that takes every change.
    bool outside = !m.driver || !m.fileSays || m.keyCause || m.disabler == OtherGlobal ||
                   m.disabler == OtherInProfile || (c && c->problem == CM_PROB_FAILED_START);
    if (!outside) {
        Reboot();
        Run(0);
        verifiedAgain = Verify(&lineAgain);
        expect(verifiedAgain == VerifyNoIssue, "5: a second run does not bring --verify in line");
    }

    if (failures.str().empty())
        return "";
    failures << "  outcome " << outcome << ": " << text << (error ? ", an error" : "") << "\n  --verify " << verified
             << ": " << std::string(line.begin(), line.end()) << "\n  second run's --verify " << verifiedAgain
             << ": " << std::string(lineAgain.begin(), lineAgain.end()) << "\n  messages:\n";
    for (const std::string &message : messages)
        failures << "    " << testing::PrintToString(message) << "\n";
    return failures.str();
}

uint64_t Setting(const char *name, uint64_t fallback)
{
    const char *text = getenv(name);
    return text != NULL && *text ? strtoull(text, NULL, 0) : fallback;
}

TEST_F(JobTest, FleetAgreesWithItsMachines)
{
    uint64_t seed = Setting("QUILLSET_FLEET_SEED", 31), count = Setting("QUILLSET_FLEET_MACHINES", 10000);
    uint64_t first = Setting("QUILLSET_FLEET_FIRST", 0);   // to replay one machine
    printf("fleet of %llu machines from machine %llu, seed %llu\n", static_cast<unsigned long long>(count),
           static_cast<unsigned long long>(first), static_cast<unsigned long long>(seed));
    int failing = 0;
    for (uint64_t i = first; i < first + count; i++) {
        Machine m = Generate(seed * 1000003 + i);
        std::string failure = Check(m);
        if (!failure.empty() && ++failing <= 20)
            ADD_FAILURE() << "machine " << i << ": " << m.dimensions.str() << "\n" << failure;
    }
    EXPECT_EQ(failing, 0) << "machines that disagree, of " << count;
    fake::Reset();
}

} // namespace
