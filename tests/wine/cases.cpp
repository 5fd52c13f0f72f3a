// The case table. Settings bytes are exact, CR LF included; a controller
// stand-in and a driver key holding sentinels are the default world.
#include "e2e.h"

// A string literal as a hardware-ID list of one.
#define HWID(id) id "\0"
#define CONTROLLER HWID("PCI\\VEN_1D5B&DEV_4F17&SUBSYS_00011D5B&REV_01")
#define BYTES(text) FileBytes, text, sizeof text - 1
#define NO_BYTES(kind) kind, 0, 0

#define OPENED DIRS, CD_SET, "The file 'kvconfig.txt' was opened sucessfully \n"
#define CLOSED "The file 'kvconfig.txt' was closed successfully! \n"
#define ID(c) "ID Param: " c " \n"
#define SM(c) ID("1"), "SMEnable Value: " c " \n"
#define SD(c) ID("2"), "SdHost Value: " c " \n"
#define CONFIG "Always config Params \n"
#define WRITTEN                                                                                      \
    "Registry Key Exists and was opened successfully! ", "SMEnable value Set!",                      \
        "RegOpenKeyEx SDHost sucessful!", "SD Registry Key present", "SdHost reg key value set correctly!"
#define WAIT "Reg key does not exist yet, wait 1s. ", PAUSE
#define GAVE_UP                                                                                      \
    WAIT, WAIT, WAIT, WAIT, WAIT, WAIT, WAIT, WAIT, WAIT, WAIT, "RegOpenKeyEx SDHost Failed!",       \
        "Error Waiting or Updating parameters \n"
#define REFUSED(why) OPENED, "The file 'kvconfig.txt' " why " \n", CLOSED
#define DISABLED "Device Disabled from RestartDevice \n", PAUSE
#define ENABLED "Device Re-Enabled from RestartDevice \n"
#define RESTARTED WOW64, CHANGE, DISABLED, CHANGE, ENABLED
#define NOT_FOUND WOW64, DISABLED, ENABLED

#define ORDINARY_FILE "SM card slot  :1 value = 0\r\nSD host switch :2 value = 3\r\n"
#define ORDINARY_RUN OPENED, SM("0"), SD("3"), CLOSED, CONFIG, WRITTEN

const Case Cases[] = {
    // What the settings reader makes of the file.
    {"settings.ordinary", BYTES(ORDINARY_FILE), KeyPresent, {CONTROLLER}, 0, 3, 0,
     {ORDINARY_RUN, RESTARTED}},
    {"settings.only_id_2", BYTES(":2 value = 2"), KeyPresent, {CONTROLLER}, 1, 2, 0,
     {OPENED, SD("2"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    {"settings.empty", BYTES(""), KeyPresent, {CONTROLLER}, Sentinel, Sentinel, 0, {OPENED, CLOSED}},
    {"settings.no_id_2", BYTES("SM :1 value = 0\r\n:3 value = 2\r\n"), KeyPresent, {CONTROLLER}, Sentinel, Sentinel,
     0, {OPENED, SM("0"), ID("3"), CLOSED}},
    {"settings.colon_colon", BYTES("::1 value = 0\r\n:2 value = 2\r\n"), KeyPresent, {CONTROLLER}, 1, 2, 0,
     {OPENED, ID(":"), SD("2"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    {"settings.colon_skipped", BYTES(":1 val:2 = 0\r\n:2 value = 3\r\n"), KeyPresent, {CONTROLLER}, 0, 3, 0,
     {OPENED, SM("0"), SD("3"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    {"settings.colon_value", BYTES(":1 value = :\r\n:2 value = 0\r\n"), KeyPresent, {CONTROLLER}, 1, 0, 0,
     {OPENED, SM(":"), SD("0"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    // The value is the tenth byte after the ID, the CR and LF counting as two.
    {"settings.crlf_skipped", BYTES("SM :1 v\r\nalue 0\r\nSD :2 value = 1\r\n"), KeyPresent, {CONTROLLER}, 0, 1,
     0, {OPENED, SM("0"), SD("1"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    {"settings.last_id_1_wins", BYTES(":1 value = 0\r\n:1 value = 1\r\n:2 value = 2\r\n"), KeyPresent,
     {CONTROLLER}, 1, 2, 0, {OPENED, SM("0"), SM("1"), SD("2"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    {"settings.id_2_first", BYTES(":2 value = 1\r\n:1 value = 0\r\n"), KeyPresent, {CONTROLLER}, 1, 1, 0,
     {OPENED, SD("1"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    {"settings.other_values", BYTES(":1 value = \xe9\r\n:2 value = x\r\n"), KeyPresent, {CONTROLLER}, 1, 0, 0,
     {OPENED, SM("\xe9"), SD("x"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    {"settings.colon_last", BYTES(":1 value = 0\r\n:"), KeyPresent, {CONTROLLER}, Sentinel, Sentinel, 0,
     {OPENED, SM("0"), ID("\xff"), CLOSED}},
    // A NUL ID cuts the trace, whose line feed then comes on its own.
    {"settings.nul_id", BYTES(":\0:2 value = 2"), KeyPresent, {CONTROLLER}, 1, 2, 0,
     {OPENED, "ID Param: ", "\n", SD("2"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    {"settings.id_2_value_at_end", BYTES(":1 value = 0\r\n:2 value = "), KeyPresent, {CONTROLLER}, 0, 0, 0,
     {OPENED, SM("0"), SD("\xff"), CLOSED, CONFIG, WRITTEN, RESTARTED}},
    {"settings.id_1_value_at_end", BYTES(":1 value = "), KeyPresent, {CONTROLLER}, Sentinel, Sentinel, 0,
     {OPENED, SM("\xff"), CLOSED}},
    {"settings.no_file", NO_BYTES(NoFile), KeyPresent, {CONTROLLER}, Sentinel, Sentinel, 0,
     {DIRS, CD_SET, "The file 'kvconfig.txt' could not be opened \n"}},
    {"settings.no_directory", NO_BYTES(NoDirectory), KeyPresent, {CONTROLLER}, Sentinel, Sentinel, 0,
     {DIRS, "Set CurrentDirectory failed! \n"}},

    // What the C runtime's text mode would misread is refused; the rest is read.
    {"runtime.bare_lf", BYTES("comment\nSM card slot  :1 value = 0\nSD host switch :2 value = 3\n"), KeyPresent,
     {CONTROLLER}, Sentinel, Sentinel, 0, {REFUSED("has a line end without CR: save it with CR LF line ends")}},
    {"runtime.ctrl_z_between", BYTES(":1 value = 0\r\n\x1a\r\n:2 value = 3\r\n"), KeyPresent, {CONTROLLER},
     Sentinel, Sentinel, 0, {REFUSED("holds a Ctrl-Z byte: remove it")}},
    {"runtime.ctrl_z_skipped", BYTES(":1 val\x1a = 0\r\n:2 value = 3\r\n"), KeyPresent, {CONTROLLER}, Sentinel,
     Sentinel, 0, {REFUSED("holds a Ctrl-Z byte: remove it")}},
    {"runtime.utf16", BYTES("\xff\xfe:\0" "1\0 \0v\0a\0l\0u\0e\0 \0=\0 \0" "0\0\r\0\n\0"), KeyPresent, {CONTROLLER},
     Sentinel, Sentinel, 0, {REFUSED("is UTF-16 text: save it as ANSI text")}},
    // A CR LF that the runtime's 4 KiB buffer fills split, after the ID, at the
    // end of its first fill and of its second.
    {"runtime.cr_ends_4k_fill", BYTES(":1\r\nabcdefg0Z\r\n:2 value = 2\r\n"), KeyPresent, {CONTROLLER}, 0, 2,
     0, {OPENED, SM("0"), SD("2"), CLOSED, CONFIG, WRITTEN, RESTARTED}, 4093},
    {"runtime.cr_ends_8k_fill", BYTES(":1\r\nabcdefg0Z\r\n:2 value = 2\r\n"), KeyPresent, {CONTROLLER}, 0, 2,
     0, {OPENED, SM("0"), SD("2"), CLOSED, CONFIG, WRITTEN, RESTARTED}, 8189},
    {"runtime.lone_cr", BYTES("SM card slot  :1 value = 0\rSD host switch :2 value = 3\r"), KeyPresent,
     {CONTROLLER}, 0, 3, 0, {ORDINARY_RUN, RESTARTED}},
    {"runtime.utf8_bom", BYTES("\xef\xbb\xbf" ORDINARY_FILE), KeyPresent, {CONTROLLER}, 0, 3, 0,
     {ORDINARY_RUN, RESTARTED}},

    // Waiting for the driver's key.
    {"registry.never_appears", BYTES(ORDINARY_FILE), KeyAbsent, {CONTROLLER}, NoValue, NoValue, 0,
     {OPENED, SM("0"), SD("3"), CLOSED, CONFIG, GAVE_UP}},
    {"registry.appears_late", BYTES(ORDINARY_FILE), KeyLate, {CONTROLLER}, 0, 3, 0,
     {OPENED, SM("0"), SD("3"), CLOSED, CONFIG, WAIT, WAIT, WAIT, WRITTEN, RESTARTED}},
    {"registry.write_denied", BYTES(ORDINARY_FILE), KeyDenied, {CONTROLLER}, Sentinel, Sentinel, 0,
     {OPENED, SM("0"), SD("3"), CLOSED, CONFIG,
      "Access to the kvcard Parameters key was denied: run quillset as administrator ",
      "RegOpenKeyEx SDHost Failed!", "Error Waiting or Updating parameters \n"}},
    {"registry.set_value_only", BYTES(ORDINARY_FILE), KeySetValueOnly, {CONTROLLER}, 0, 3, 0,
     {ORDINARY_RUN, RESTARTED}},

    // Finding the controller.
    {"devices.none_matching", BYTES(ORDINARY_FILE), KeyPresent,
     {HWID("PCI\\VEN_1D5B&DEV_4F18"), HWID("PCI\\VEN_1D5B&DEV_4F1"), HWID("USB\\VEN_1D5B&DEV_4F17")}, 0, 3, 0,
     {ORDINARY_RUN, NOT_FOUND}},
    {"devices.several_matching", BYTES(ORDINARY_FILE), KeyPresent, {CONTROLLER, CONTROLLER, CONTROLLER}, 0, 3, 0,
     {ORDINARY_RUN, RESTARTED}},
    {"devices.lowercase", BYTES(ORDINARY_FILE), KeyPresent, {HWID("pci\\ven_1d5b&dev_4f17")}, 0, 3, 0,
     {ORDINARY_RUN, NOT_FOUND}},
    {"devices.exact_prefix", BYTES(ORDINARY_FILE), KeyPresent, {HWID("PCI\\VEN_1D5B&DEV_4F17")}, 0, 3, 0,
     {ORDINARY_RUN, RESTARTED}},
    {"devices.second_id_only", BYTES(ORDINARY_FILE), KeyPresent,
     {"PCI\\VEN_8086&DEV_1234\0PCI\\VEN_1D5B&DEV_4F17\0"}, 0, 3, 0, {ORDINARY_RUN, NOT_FOUND}},
    {"devices.no_hardware_id_first", BYTES(ORDINARY_FILE), KeyPresent, {NO_HWID, CONTROLLER}, 0, 3, 0,
     {ORDINARY_RUN, WOW64, "GetDeviceRegistryProperty ERROR_INVALID_DATA \n", CHANGE, DISABLED,
      "GetDeviceRegistryProperty ERROR_INVALID_DATA \n", CHANGE, ENABLED}},

    // Other programs' broadcasts are not held up by quillset's window.
    {"window.broadcast", BYTES(ORDINARY_FILE), KeyPresent, {CONTROLLER}, 0, 3, Broadcasts,
     {ORDINARY_RUN, RESTARTED}},

    // Input that is not a settings file at all.
    {"input.large", NO_BYTES(LargeFile), KeyPresent, {CONTROLLER}, 0, 3, 0, {ORDINARY_RUN, RESTARTED}},
    {"input.random", NO_BYTES(RandomFile), KeyPresent, {CONTROLLER}, 0, 0, FrameOnly, {OPENED}},
};

const int CaseCount = sizeof Cases / sizeof Cases[0];

// qscapture's log lines, written out as it escapes them.
#define LOGGED_OPENED DIRS, CD_SET, "\"The file 'kvconfig.txt' was opened sucessfully \\n\""
#define LOGGED_CLOSED "\"The file 'kvconfig.txt' was closed successfully! \\n\""
#define LOGGED_READ                                                                                  \
    LOGGED_OPENED, "\"ID Param: 1 \\n\"", "\"SMEnable Value: 0 \\n\"", "\"ID Param: 2 \\n\"",          \
        "\"SdHost Value: 3 \\n\"", LOGGED_CLOSED, "\"Always config Params \\n\""
#define LOGGED_WRITTEN                                                                               \
    "\"Registry Key Exists and was opened successfully! \"", "\"SMEnable value Set!\"",                   \
        "\"RegOpenKeyEx SDHost sucessful!\"", "\"SD Registry Key present\"",                             \
        "\"SdHost reg key value set correctly!\""
#define LOGGED_ORDINARY_RUN LOGGED_READ, LOGGED_WRITTEN
#define LOGGED_WAIT "\"Reg key does not exist yet, wait 1s. \""
#define LOGGED_GAVE_UP                                                                               \
    LOGGED_WAIT, LOGGED_WAIT, LOGGED_WAIT, LOGGED_WAIT, LOGGED_WAIT, LOGGED_WAIT, LOGGED_WAIT,          \
        LOGGED_WAIT, LOGGED_WAIT, LOGGED_WAIT, "\"RegOpenKeyEx SDHost Failed!\"",                         \
        "\"Error Waiting or Updating parameters \\n\""
#define LOGGED_RESTARTED                                                                             \
    WOW64, CHANGE, "\"Device Disabled from RestartDevice \\n\"", CHANGE,                             \
        "\"Device Re-Enabled from RestartDevice \\n\""
// Wine's trace of a ReportEventW call: its type and event ID.
#define WARNING_EVENT(id) "type 0x0002, ID 0x" id
#define ERROR_EVENT(id) "type 0x0001, ID 0x" id
#define EVENT_VERSION "L\"" QUILLSET_VERSION ".0\""
// The fields of qscheck --write left as they are, then the harness.
#define HARNESS(h) nullptr, nullptr, ToolCase::AsBuilt, nullptr, nullptr, ToolCase::h
// qsstandin's scenarios: its run up to the restart, then the restart; most
// are a disable taken, then the enable pass.
#define LOGGED_TAKEN "\"Found it! \\n\"", "\"Changed State on Device ID \\n\""
#define LOGGED_REFUSED "\"Found it! \\n\"", "\"CallClassInstaller(REMOVE) failed\\n\""
#define LOGGED_RETRY "\"Enabling the controller failed, trying again in 1s \\n\""
#define LOGGED_UNTIL_WRITTEN                                                                         \
    "\"The file 'kvconfig.txt' was opened sucessfully \\n\"", LOGGED_CLOSED, "\"Always config Params \\n\"", \
        LOGGED_WRITTEN
#define STANDIN_RUN(scenario, ...)                                                                   \
    {scenario, NO_BYTES(NoDirectory), KeyAbsent, {}, NoValue, NoValue, 0,                             \
     {LOGGED_UNTIL_WRITTEN, __VA_ARGS__, "\"Device Re-Enabled from RestartDevice \\n\""}}
#define STANDIN(scenario, ...) \
    STANDIN_RUN(scenario, LOGGED_TAKEN, "\"Device Disabled from RestartDevice \\n\"", __VA_ARGS__)
// A run that ends after its disable pass.
#define STANDIN_ENDED(scenario)                                                                      \
    {scenario, NO_BYTES(NoDirectory), KeyAbsent, {}, NoValue, NoValue, 0,                             \
     {LOGGED_UNTIL_WRITTEN, LOGGED_TAKEN, "\"Device Disabled from RestartDevice \\n\""}}

// The administrator's tools. A world of a settings file alone, for qscheck.
#define FILE_ONLY(text) {"", BYTES(text), KeyAbsent, {}, NoValue, NoValue, 0, {}}
#define NOTHING "quillset would write nothing"
#define WARNED_REFUSED(why) {"warning: The file 'kvconfig.txt' " why, NOTHING}

const ToolCase ToolCases[] = {
    {"check.ordinary", Check, 0, FILE_ONLY(ORDINARY_FILE), 0, 0,
     {"line 1: ID '1', value '0'", "line 2: ID '2', value '3'", "SMEnable 0, from line 1", "SDSwitch 3, from line 2"}},
    {"check.default_file", Check, 1, FILE_ONLY("SD :2 value = 2"), 0, 0,
     {"SMEnable 1, no ID '1' entry before the ID '2' entry", "SDSwitch 2, from line 1"}},
    // Every warning of a file that is still read: what quillset writes must not change.
    {"check.warnings", Check, 0,
     FILE_ONLY("Note: x\r\n:1 value = 7\r\n:1 v\r\nalue 0\r\n:2 value = 9\r\n:1 value = 1\r\n"), 0, 0,
     {"warning: line 1: this colon starts an entry with ID ' ', which quillset skips; keep colons out of comments",
      "warning: line 2: value '7' is not 0 or 1; SMEnable becomes 1",
      "warning: line 3: a line break among the nine bytes after the ID; the value is the byte after them, '0'",
      "warning: line 5: value '9' is not 0 to 3; SDSwitch becomes 0",
      "warning: line 6: this ID '1' entry comes after the ID '2' entry and is never read",
      "warning: 2 ID '1' entries; the one on line 3 counts", "SMEnable 0, from line 3", "SDSwitch 0, from line 5"}},
    {"check.no_id_2", Check, 0, FILE_ONLY("SM :1 value = 0\r\n:3 value = 2\r\n:"), 1, 1,
     {"line 3: ID (end of file)", "warning: no ID '2' entry", NOTHING}},
    {"check.utf16", Check, 0, FILE_ONLY("\xff\xfe:\0" "2\0"), 1, 1,
     WARNED_REFUSED("is UTF-16 text: save it as ANSI text")},
    {"check.bare_lf", Check, 0, FILE_ONLY("SD host switch :2 value = 3\n"), 1, 1,
     WARNED_REFUSED("has a line end without CR: save it with CR LF line ends")},
    {"check.ctrl_z", Check, 0, FILE_ONLY(ORDINARY_FILE "\x1a"), 1, 1, WARNED_REFUSED("holds a Ctrl-Z byte: remove it")},
    {"check.no_file", Check, 0, {"", NO_BYTES(NoFile), KeyAbsent, {}, NoValue, NoValue, 0, {}}, 2, 2, {}},

// qscheck --write: the exit code, the report or the reason, the target's bytes
// and its .bak; no temporary file may be left.
#define NO_FILE_IN(kind) {"", NO_BYTES(kind), KeyAbsent, {}, NoValue, NoValue, 0, {}}
#define WRITTEN_FILE(sm, sd) \
    "SM card slot (SMEnable), 0 = off, 1 = on\r\n:1 value = " sm "\r\n" \
    "SD host switch (SDSwitch), 0 to 3\r\n:2 value = " sd "\r\n"
#define REPORT(sm, sd) \
    {"%s", "line 2: ID '1', value '" sm "'", "line 4: ID '2', value '" sd "'", "SMEnable " sm ", from line 2", \
     "SDSwitch " sd ", from line 4"}
#define NOT_WRITTEN(why) {"qscheck: cannot write %s: " why, "qscheck: nothing written"}
    {"check.write_new_folder", Check, 1, NO_FILE_IN(NoDirectory), 0, 0, REPORT("0", "3"),
     "", NULL, "--write smenable=0 SDSWITCH=3", NULL, ToolCase::AsBuilt, WRITTEN_FILE("0", "3"), NULL},
    {"check.write_backup", Check, 0, FILE_ONLY(ORDINARY_FILE), 0, 0, REPORT("1", "2"), "", NULL, "--write SDSwitch=2 SMEnable=1",
     NULL, ToolCase::AsBuilt, WRITTEN_FILE("1", "2"), ORDINARY_FILE},
    // A path outside the ANSI code page, read back for the report and printed whole.
    {"check.write_cyrillic", Check, 0, NO_FILE_IN(NoFile), 0, 0, REPORT("0", "1"), "", NULL, "--write SMEnable=0 SDSwitch=1",
     "конфиг\\kvconfig.txt", ToolCase::AsBuilt, WRITTEN_FILE("0", "1"), NULL},
    {"check.write_read_only", Check, 0, FILE_ONLY(ORDINARY_FILE), 2, 2, NOT_WRITTEN("it is read-only"),
     "", NULL, "--write SMEnable=0 SDSwitch=1", NULL, ToolCase::ReadOnly, ORDINARY_FILE, NULL},
    {"check.write_folder_in_place", Check, 0, NO_FILE_IN(NoFile), 2, 2, NOT_WRITTEN("a folder is in its place"),
     "", NULL, "--write SMEnable=0 SDSwitch=1", NULL, ToolCase::Folder, NULL, NULL},
    // A retry with the same settings leaves the file, its time and the hand-made .bak alone.
    {"check.write_same_again", Check, 0, FILE_ONLY(ORDINARY_FILE), 0, 0,
     {"qscheck: %s already holds these settings: nothing written", "%s", "SMEnable 1, from line 2",
      "SDSwitch 2, from line 4"},
     "", NULL, "--write SMEnable=1 SDSwitch=2", NULL, ToolCase::AsBuilt, WRITTEN_FILE("1", "2"), ORDINARY_FILE,
     ToolCase::WrittenTwice},

    // qscheck --verify, as a fleet tool runs it: the default file, one line,
    // nothing on stderr.
    {"check.verify_in_line", Verify, 1,
     {"", BYTES(":1 value = 3\r\n:2 value = 3\r\n"), KeyHolding, {CONTROLLER}, 1, 3, 0, {}}, 0, 1,
     {"state=in-line SMEnable=1 want=1 SDSwitch=3 want=3 controller=unknown applied=unknown file=%s"}},
    {"check.verify_drift", Verify, 1, {"", BYTES(ORDINARY_FILE), KeyHolding, {}, 1, 3, 0, {}}, 1, 1,
     {"state=drift reason=SMEnable SMEnable=1 want=0 SDSwitch=3 want=3 controller=absent applied=unknown "
      "file=%s"}},
    {"check.verify_no_driver", Verify, 1, {"", BYTES(ORDINARY_FILE), KeyAbsent, {}, NoValue, NoValue, 0, {}}, 0, 0,
     {"state=not-applicable reason=driver-not-installed SMEnable=missing want=0 SDSwitch=missing want=3 "
      "controller=absent applied=unknown file=%s"}},
    {"check.verify_no_file", Verify, 1, {"", NO_BYTES(NoFile), KeyHolding, {}, 0, 3, 0, {}}, 1, 1,
     {"state=cannot-tell reason=file-missing SMEnable=0 want=unknown SDSwitch=3 want=unknown controller=absent "
      "applied=unknown file=%s"}},
    {"check.verify_bare_lf", Verify, 1, {"", BYTES("SD host switch :2 value = 3\n"), KeyHolding, {}, 0, 3, 0, {}}, 1,
     1, {"state=cannot-tell reason=file-bare-lf SMEnable=0 want=unknown SDSwitch=3 want=unknown controller=absent "
         "applied=unknown file=%s"}},
    // After a quillset run that stored the values and could not restart the
    // controller (Wine's class installer cannot), on the same boot.
    {"check.verify_not_in_effect", Verify, 1, {"", BYTES(ORDINARY_FILE), KeyPresent, {CONTROLLER}, 0, 3, 0, {}}, 1, 1,
     {"state=drift reason=not-in-effect SMEnable=0 want=0 SDSwitch=3 want=3 controller=unknown applied=pending "
      "file=%s"},
     "", NULL, HARNESS(AfterQuillset)},

    // qscapture --outcome --log: the log holds exactly the run's messages, and
    // with --eventlog Wine traces the event's type and ID, then its strings.
    {"capture.ordinary", Capture, 0,
     {"", BYTES(ORDINARY_FILE), KeyPresent, {CONTROLLER}, 0, 3, 0, {LOGGED_ORDINARY_RUN, LOGGED_RESTARTED}}, 3, 0,
     {WARNING_EVENT("000003eb"), "L\"3\"", "L\"values written, controller not restarted\"", EVENT_VERSION},
     "--eventlog", NULL},
    {"capture.no_key", Capture, 0,
     {"", BYTES(ORDINARY_FILE), KeyAbsent, {CONTROLLER}, 0, 3, 0, {LOGGED_READ, LOGGED_GAVE_UP}}, 2, 2,
     {ERROR_EVENT("000003ea"), "L\"2\"", "L\"driver key missing or denied, nothing written\"", EVENT_VERSION},
     "--eventlog", NULL},
    {"capture.no_file", Capture, 0,
     {"", NO_BYTES(NoFile), KeyPresent, {CONTROLLER}, 0, 0, 0,
      {DIRS, CD_SET, "\"The file 'kvconfig.txt' could not be opened \\n\""}},
     1, 1, {}, "", NULL},
    {"capture.refused", Capture, 0,
     {"", BYTES("SD host switch :2 value = 3\n"), KeyPresent, {CONTROLLER}, 0, 0, 0,
      {LOGGED_OPENED, "\"The file 'kvconfig.txt' has a line end without CR: save it with CR LF line ends \\n\"",
       LOGGED_CLOSED}},
     1, 1, {}, "", NULL},
    // qscapture lets go after one second; quillset runs on, and writes the
    // values once the key appears (the values below).
    {"capture.timeout", Capture, 0,
     {"", BYTES(ORDINARY_FILE), KeyAbsent, {CONTROLLER}, 0, 3, 0, {LOGGED_READ, LOGGED_WAIT}}, 4, 4,
     {ERROR_EVENT("000003ec"), "L\"4\"", "L\"quillset still running after 1 s: it goes on without qscapture\"",
      EVENT_VERSION},
     "--eventlog --timeout 1",
     "detached (timeout), outcome 4: quillset still running after 1 s: it goes on without qscapture"},
    // Ended by a deployment tool's time-out, or stopped with Ctrl+C, qscapture
    // leaves quillset running.
    {"capture.killed", Capture, 0,
     {"", BYTES(ORDINARY_FILE), KeyAbsent, {CONTROLLER}, 0, 3, 0, {LOGGED_READ, LOGGED_WAIT}}, 9, 9, {}, "", ""},
    {"capture.ctrl_c", Capture, 0,
     {"", BYTES(ORDINARY_FILE), KeyAbsent, {CONTROLLER}, 0, 3, 0, {LOGGED_READ, LOGGED_WAIT}}, 4, 4, {}, "",
     "detached (Ctrl+C), outcome 4: quillset still running after 1 s: it goes on without qscapture"},
    // Task Scheduler's time limit ends qscapture's job, which quillset has left.
    {"capture.job_ended", Capture, 0,
     {"", BYTES(ORDINARY_FILE), KeyAbsent, {CONTROLLER}, 0, 3, 0, {LOGGED_READ, LOGGED_WAIT}}, 9, 9, {}, "", "",
     HARNESS(JobEnded)},
    // A job that forbids breakaway: quillset runs inside it, and both outputs say so.
    {"capture.job_without_breakaway", Capture, 0, {"", NO_BYTES(NoFile), KeyPresent, {CONTROLLER}, 0, 0, 0, {}},
     1, 1, {}, "", NULL, HARNESS(NoBreakaway)},
    // stdout that takes nothing for 4 s after the disable holds qscapture's
    // end, not quillset's enable; nor, never read, the time-out.
    {"capture.stdout_stalled", Capture, 0,
     {"", BYTES(ORDINARY_FILE), KeyPresent, {CONTROLLER}, 0, 3, 0, {LOGGED_ORDINARY_RUN, LOGGED_RESTARTED}}, 3, 0,
     {}, "", NULL, HARNESS(StdoutStalled)},
    {"capture.stdout_never_read", Capture, 0,
     {"", BYTES(ORDINARY_FILE), KeyAbsent, {CONTROLLER}, 0, 3, 0, {LOGGED_READ, LOGGED_WAIT, LOGGED_WAIT}}, 4, 4,
     {}, "--timeout 2",
     "detached (timeout), outcome 4: quillset still running after 2 s: it goes on without qscapture",
     HARNESS(StdoutNeverRead)},
    // A log with a second name may be any file: it is left alone.
    {"capture.log_hard_link", Capture, 0, {"", NO_BYTES(NoFile), KeyPresent, {CONTROLLER}, 0, 0, 0, {}}, 1, 1, {},
     "", NULL, HARNESS(LogHardLink)},
    // What quillset reaches only on Windows, from qsstandin in its place.
    {"capture.left_disabled", Capture, 0,
     STANDIN("left-disabled", LOGGED_REFUSED, LOGGED_RETRY, LOGGED_REFUSED, LOGGED_RETRY, LOGGED_REFUSED,
             "\"The controller could not be enabled again: enable it in Device Manager \\n\""),
     5, 5, {ERROR_EVENT("000003ed"), "L\"5\"", "L\"values written, controller left disabled\""}, "--eventlog", NULL},
    {"capture.not_running", Capture, 0,
     STANDIN("not-running", LOGGED_TAKEN, "\"The controller does not run (problem code 10) \\n\""), 6, 6,
     {ERROR_EVENT("000003ee"), "L\"6\"", "L\"values written, controller does not run (problem code 10)\""},
     "--eventlog", NULL},
    // A run that ends between its disable and its enable, by itself or in a crash.
    {"capture.ended_after_disable", Capture, 0, STANDIN_ENDED("ended-after-disable"), 5, 5,
     {ERROR_EVENT("000003ed"), "L\"5\"", "L\"values written, controller left disabled\""}, "--eventlog", NULL},
    {"capture.crashed_after_disable", Capture, 0, STANDIN_ENDED("crashed-after-disable"), 5, 5,
     {ERROR_EVENT("000003ed"), "L\"5\"",
      "L\"values written, controller left disabled; exit code 3221225477 (0xC0000005)\""},
     "--eventlog", "exit code 3221225477 (0xC0000005), outcome 5: values written, controller left disabled"},
    {"capture.reboot", Capture, 0,
     STANDIN("reboot", LOGGED_TAKEN, "\"The controller restarts at the next reboot \\n\""), 3010, 3010,
     {WARNING_EVENT("00000faa"), "L\"3010\"", "L\"values written, controller restarts at the next reboot\""},
     "--eventlog", NULL},
    // Disabled before the run, not by quillset: left so, and the package succeeds.
    {"capture.left_alone", Capture, 0,
     STANDIN_RUN("left-alone", "\"Found it! \\n\"",
                 "\"The controller is disabled: quillset leaves it so; the settings apply when it is enabled \\n\""),
     7, 7,
     {WARNING_EVENT("000003ef"), "L\"7\"",
      "L\"values written, controller disabled and left so: they apply when it is enabled\""},
     "--eventlog", NULL},
    // Two runs at once: the second waits for the first (its log starts with
    // the wait) and goes on only after the first one's last message.
    {"capture.two_runs", TwoRuns, 0,
     {"", BYTES(ORDINARY_FILE), KeyPresent, {CONTROLLER}, 0, 3, 0, {LOGGED_ORDINARY_RUN, LOGGED_RESTARTED}}, 3, 0,
     {}, "", NULL},
    {"capture.register_eventlog", Register, 0, {"", NO_BYTES(NoDirectory), KeyAbsent, {}, NoValue, NoValue, 0, {}},
     0, 0, {}, NULL, NULL},
};

const int ToolCaseCount = sizeof ToolCases / sizeof ToolCases[0];
