// Every fixed text quillset writes to the debugger, byte for byte. Other
// programs recognise runs by them (qscapture's outcome table) and the
// message reference, docs/messages.md, explains each, so a text is changed
// here or nowhere. Texts with values in them (paths, characters) stay beside
// their format.
#ifndef QUILLSET_MESSAGES_H
#define QUILLSET_MESSAGES_H

// X(name, text) for each message, in the order a run meets them, so that a
// test can walk them all.
#define QUILLSET_MESSAGES(X)                                                                            \
    X(MsgLockWait, "Another quillset is running: waiting for it to end \n")                             \
    X(MsgLockUnusable, "The lock Global\\quillset was made by another program or cannot be used: "      \
                       "going on without waiting \n")                                                   \
    X(MsgInstallPending, "DeviceInstallInProgress() \n")                                                \
    X(MsgNoSetupapi, "Cannot get setupapi DLL\n")                                                       \
    X(MsgNoInstallProbe, "OS to suppress autorun when appropriate\n")                                   \
                                                                                                        \
    X(MsgNoWindowsDirectory, "Error getting WindowsDirectory \n")                                       \
    X(MsgNoSettingsDirectory, "Set CurrentDirectory failed! \n")                                        \
    X(MsgFileNotOpened, "The file 'kvconfig.txt' could not be opened \n")                               \
    X(MsgFileOpened, "The file 'kvconfig.txt' was opened sucessfully \n")                               \
    X(MsgFileUtf16, "The file 'kvconfig.txt' is UTF-16 text: save it as ANSI text \n")                  \
    X(MsgFileBareLf, "The file 'kvconfig.txt' has a line end without CR: save it with CR LF line ends \n") \
    X(MsgFileCtrlZ, "The file 'kvconfig.txt' holds a Ctrl-Z byte: remove it \n")                        \
    X(MsgFileUnreadable, "Error reading the file 'kvconfig.txt' \n")                                    \
    X(MsgFileClosed, "The file 'kvconfig.txt' was closed successfully! \n")                             \
    X(MsgFileNotClosed, "The file 'kvconfig.txt' could not be closed \n")                               \
                                                                                                        \
    X(MsgSettingsRead, "Always config Params \n")                                                       \
    X(MsgKeyMissing, "Reg key does not exist yet, wait 1s. ")                                           \
    X(MsgKeyDenied, "Access to the kvcard Parameters key was denied: run quillset as administrator ")   \
    X(MsgKeyOpened, "Registry Key Exists and was opened successfully! ")                                \
    X(MsgSmEnableSet, "SMEnable value Set!")                                                            \
    X(MsgSmEnableNotSet, "Error setting SMEnable registry value!")                                      \
    X(MsgSdKeyOpened, "RegOpenKeyEx SDHost sucessful!")                                                 \
    X(MsgSdKeyPresent, "SD Registry Key present")                                                       \
    X(MsgSdSwitchSet, "SdHost reg key value set correctly!")                                            \
    X(MsgSdSwitchNotSet, "Error setting the registry value!")                                           \
    X(MsgSdKeyNotOpened, "RegOpenKeyEx SDHost Failed!")                                                 \
    X(MsgParametersFailed, "Error Waiting or Updating parameters \n")                                   \
                                                                                                        \
    X(MsgWow64, "quillset is 32-bit on 64-bit Windows and cannot restart the controller: "              \
                "use the 64-bit build \n")                                                              \
    X(MsgNoDeviceList, " GetClassDevs(All Present Devices) Invalid Handle \n")                          \
    X(MsgNoHardwareIds, "GetDeviceRegistryProperty ERROR_INVALID_DATA \n")                              \
    X(MsgDeviceGone, "GetDeviceRegistryProperty ERROR_NO_SUCH_DEVINST \n")                              \
    X(MsgHardwareIdsUnreadable, "GetDeviceRegistryProperty Unknown failure\n")                          \
    X(MsgHardwareIdsChanging, "GetDeviceRegistryProperty size keeps changing \n")                       \
    X(MsgHardwareIdsNoMemory, "GetDeviceRegistryProperty out of memory \n")                             \
    X(MsgFound, "Found it! \n")                                                                         \
    X(MsgDisabledLeftAlone, "The controller is disabled: quillset leaves it so; the settings apply "       \
                            "when it is enabled \n")                                                    \
    X(MsgOwnDisableFound, "The controller is still disabled by an earlier quillset run: enabling it \n")  \
    X(MsgRecordNotWritten, "The record under HKLM\\SOFTWARE\\quillset cannot be written: going on "      \
                           "without it \n")                                                             \
    X(MsgGlobalParamsFailed, "SetClassInstallParams Failed!!")                                          \
    X(MsgStateChanged, "Changed State on Device ID \n")                                                 \
    X(MsgRebootPending, "The controller restarts at the next reboot \n")                                \
    X(MsgControllerRuns, "The controller runs again \n")                                                \
    X(MsgControllerStateUnknown, "The controller's state cannot be read \n")                            \
    X(MsgStateNotChanged, "CallClassInstaller(REMOVE) failed\n")                                        \
    X(MsgDisablePassEnded, "Device Disabled from RestartDevice \n")                                     \
    X(MsgEnableRetry, "Enabling the controller failed, trying again in 1s \n")                          \
    X(MsgLeftDisabled, "The controller could not be enabled again: enable it in Device Manager \n")     \
    X(MsgRestartEnded, "Device Re-Enabled from RestartDevice \n")

#define QUILLSET_MESSAGE_CONSTANT(name, text) inline constexpr char name[] = text;
QUILLSET_MESSAGES(QUILLSET_MESSAGE_CONSTANT)
#undef QUILLSET_MESSAGE_CONSTANT

// After an enable the class installer took, in place of MsgControllerRuns:
// "The controller does not run (problem code N) \n", N in decimal, 0 when it
// reports no problem but has not started. qscapture reads N back.
#define QUILLSET_NOT_RUNNING_HEAD "The controller does not run (problem code "
#define QUILLSET_NOT_RUNNING_TAIL ") \n"
inline constexpr char MsgNotRunningHead[] = QUILLSET_NOT_RUNNING_HEAD;
inline constexpr char MsgNotRunningTail[] = QUILLSET_NOT_RUNNING_TAIL;
inline constexpr char MsgNotRunningFormat[] = QUILLSET_NOT_RUNNING_HEAD "%lu" QUILLSET_NOT_RUNNING_TAIL;

#endif
