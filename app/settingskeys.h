#pragma once

#include <QLatin1String>

// Every key of the settings file, in one place.
namespace SettingsKey {

inline constexpr QLatin1String AutoLogin("login/autologin");
inline constexpr QLatin1String UserPhone("user/phone");
inline constexpr QLatin1String UserName("user/username");
inline constexpr QLatin1String UserToken("user/token");
inline constexpr QLatin1String UserWssToken("user/wss_token");

// The session keys that signing out removes.
inline constexpr QLatin1String SessionKeys[] = {UserPhone, UserName, UserToken, UserWssToken};

} // namespace SettingsKey
