#pragma once
// The names the server and its clients meet under on the D-Bus session bus. The interfaces are
// described in org.kvnorvale.Kvfltrs.xml beside this file.

namespace kv::bus {

// The one well-known name of the server process; the session bus starts the server for it.
inline constexpr const char* kServiceName = "org.kvnorvale.Kvfltrs";

// The factory object: CreateInstance and the registration of user-interface agents.
inline constexpr const char* kFactoryPath = "/org/kvnorvale/Kvfltrs";
inline constexpr const char* kFactoryInterface = "org.kvnorvale.Kvfltrs.Factory";

// Each filter object lives at kFilterPathPrefix + a number that is never reused in one process.
inline constexpr const char* kFilterPathPrefix = "/org/kvnorvale/Kvfltrs/Filter/";
inline constexpr const char* kFilterInterface = "org.kvnorvale.Kvfltrs.ImportFilter";

// Keys of CreateInstanceWithSettings: the store's code page (an iconv name), the Linux folder a
// drive letter's root stands for ("drive:C"), and the folder whose private kvfltrs-<uid> folder
// takes the object's temporary files.
inline constexpr const char* kSettingCodePage = "code-page";
inline constexpr const char* kSettingDrivePrefix = "drive:";
inline constexpr const char* kSettingTempBase = "temp-base";

// The interface a host exports on an object of its own so that filters' dialogs reach the person.
inline constexpr const char* kUiAgentInterface = "org.kvnorvale.Kvfltrs.UiAgent";

// D-Bus errors of the server and of a host's agent.
inline constexpr const char* kErrorUnknownClass = "org.kvnorvale.Kvfltrs.Error.UnknownClass";
inline constexpr const char* kErrorFailed = "org.kvnorvale.Kvfltrs.Error.Failed";
inline constexpr const char* kErrorInvalidSettings = "org.kvnorvale.Kvfltrs.Error.InvalidSettings";
inline constexpr const char* kErrorUnknownAgent = "org.kvnorvale.Kvfltrs.Error.UnknownAgent";
// A host's agent answers this when a call reaches it while it waits for no call of its own.
inline constexpr const char* kErrorNotListening = "org.kvnorvale.Kvfltrs.Error.NotListening";

// The message bus itself.
inline constexpr const char* kBusName = "org.freedesktop.DBus";
inline constexpr const char* kBusPath = "/org/freedesktop/DBus";
inline constexpr const char* kBusInterface = "org.freedesktop.DBus";

}  // namespace kv::bus
