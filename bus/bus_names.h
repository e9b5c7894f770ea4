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

// The interface a host exports on an object of its own so that filters' dialogs reach the person.
inline constexpr const char* kUiAgentInterface = "org.kvnorvale.Kvfltrs.UiAgent";

// D-Bus errors of the factory.
inline constexpr const char* kErrorUnknownClass = "org.kvnorvale.Kvfltrs.Error.UnknownClass";
inline constexpr const char* kErrorFailed = "org.kvnorvale.Kvfltrs.Error.Failed";

// The message bus itself.
inline constexpr const char* kBusName = "org.freedesktop.DBus";
inline constexpr const char* kBusPath = "/org/freedesktop/DBus";
inline constexpr const char* kBusInterface = "org.freedesktop.DBus";

}  // namespace kv::bus
